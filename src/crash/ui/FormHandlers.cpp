#include "crash/ui/FormHandlers.h"

#include "crash/ui/ScreenshotEditor.h"
#include "crash/ui/TNVCheckBox.h"
#include "crash/ui/TNVEdit.h"
#include "crash/ui/TNVImage.h"

#include <QSettings>
#include <QStandardPaths>
#include <mutex>

namespace crash::ui {

namespace {

std::mutex settingsLock;
QString& ContactFile()
{
    static QString file;
    return file;
}

void HandleContactForm(TNVForm& form, FormAction action, TNVItem*, const std::shared_ptr<ExceptionReport>&)
{
    TNVEdit* name = form.nvEdit(QStringLiteral("NameEdit"));
    TNVEdit* email = form.nvEdit(QStringLiteral("EmailEdit"));
    TNVCheckBox* remember = form.nvCheckBox(QStringLiteral("MemCheck"));
    QSettings settings(ContactSettingsFile(), QSettings::IniFormat);
    if (action == FormAction::Created) {
        if (!settings.value(QStringLiteral("contact/remember")).toBool())
            return;
        if (name && name->text().isEmpty())
            name->setText(settings.value(QStringLiteral("contact/name")).toString());
        if (email && email->text().isEmpty())
            email->setText(settings.value(QStringLiteral("contact/email")).toString());
        if (remember)
            remember->setChecked(true);
    } else if (action == FormAction::Closing && form.result() == TNVForm::Continued && remember) {
        if (remember->isChecked()) {
            settings.setValue(QStringLiteral("contact/remember"), true);
            settings.setValue(QStringLiteral("contact/name"), name ? name->text() : QString());
            settings.setValue(QStringLiteral("contact/email"), email ? email->text() : QString());
        } else {
            settings.remove(QStringLiteral("contact"));
        }
        settings.sync();
    }
}

void HandleScreenshotForm(TNVForm& form, FormAction action, TNVItem* item,
                          const std::shared_ptr<ExceptionReport>& report)
{
    TNVImage* image = form.nvImage(QStringLiteral("ScrShotImg"));
    TNVCheckBox* attach = form.nvCheckBox(QStringLiteral("AttachCheck"));
    if (!image || !report)
        return;
    switch (action) {
    case FormAction::Created:
    case FormAction::AboutToShow:
        image->setImage(report->screenshot());
        break;
    case FormAction::ItemEvent:
        if (item == image && image->isClickable()) {
            ScreenshotEditor editor(report->screenshot(), &form);
            if (editor.exec() == QDialog::Accepted)
                report->setScreenshot(editor.image());
        }
        if (report->screenshot().cacheKey() != image->image().cacheKey())
            image->setImage(report->screenshot());
        break;
    case FormAction::Closing:
        if (form.result() == TNVForm::Continued && attach && !attach->isChecked())
            report->setScreenshot(QImage());
        break;
    }
}

} // namespace

QString ContactSettingsFile()
{
    std::lock_guard lock(settingsLock);
    if (ContactFile().isEmpty())
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/MireluneSkinTool/crash-contact.ini");
    return ContactFile();
}

void SetContactSettingsFile(const QString& path)
{
    std::lock_guard lock(settingsLock);
    ContactFile() = path;
}

FormHandler BuiltInFormHandler(const QString& name)
{
    if (name == QLatin1String("Halvorn.HandleContactForm"))
        return HandleContactForm;
    if (name == QLatin1String("Halvorn.HandleScreenshotForm"))
        return HandleScreenshotForm;
    return {};
}

} // namespace crash::ui
