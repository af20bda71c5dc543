#include "crash/ui/TNVAssistant.h"

#include "crash/ui/TNVCheckBox.h"
#include "crash/ui/TNVEdit.h"

#include <QWidget>
#include <mutex>

namespace crash::ui {

namespace {

std::mutex hookLock;
std::function<void(TNVAssistant&)>& CreationHook()
{
    static std::function<void(TNVAssistant&)> hook;
    return hook;
}

} // namespace

void TNVAssistant::setCreationHook(std::function<void(TNVAssistant&)> hook)
{
    std::lock_guard lock(hookLock);
    CreationHook() = std::move(hook);
}

TNVAssistant::TNVAssistant(const QString& title, const std::vector<std::span<const std::byte>>& streams,
                           std::shared_ptr<ExceptionReport> report)
    : m_title(title), m_report(std::move(report))
{
    int number = 1;
    for (const auto& stream : streams)
        m_forms.push_back(
            std::make_unique<TNVForm>(this, title, stream, number++, int(streams.size()), m_report));
    restoreFromCache();
    std::function<void(TNVAssistant&)> hook;
    {
        std::lock_guard lock(hookLock);
        hook = CreationHook();
    }
    if (hook)
        hook(*this);
}

TNVAssistant::~TNVAssistant() = default;

std::unique_ptr<TNVAssistant> TNVAssistant::fromSettings(const QString& assistantName,
                                                         const std::shared_ptr<ExceptionReport>& report)
{
    if (assistantName.isEmpty())
        return nullptr;
    const auto definition = report->findAssistant(assistantName, !report->screenshot().isNull());
    if (!definition)
        return nullptr;
    std::vector<std::span<const std::byte>> streams;
    for (const QString& page : definition->pages)
        streams.push_back(FormResource(page));
    return std::make_unique<TNVAssistant>(definition->title, streams, report);
}

TNVForm* TNVAssistant::form(const QString& name) const
{
    for (const auto& f : m_forms)
        if (f->formName() == name)
            return f.get();
    return nullptr;
}

void TNVAssistant::fireHandler(TNVForm& form, FormAction action, TNVItem* item)
{
    if (handler)
        handler(form, action, item, m_report);
}

void TNVAssistant::restoreFromCache()
{
    QList<FormFieldValue> fields;
    for (const auto& f : m_forms)
        for (const auto& item : f->items()) {
            if (item->kind() == TNVItem::Kind::Edit)
                fields.append({item->name(), false, static_cast<TNVEdit*>(item.get())->text(), false});
            else if (item->kind() == TNVItem::Kind::CheckBox)
                fields.append({item->name(), true, {}, static_cast<TNVCheckBox*>(item.get())->isChecked()});
        }
    m_report->readFormCache(fields);
    for (const FormFieldValue& field : std::as_const(fields))
        for (const auto& f : m_forms) {
            if (field.isCheckBox) {
                if (TNVCheckBox* box = f->nvCheckBox(field.name))
                    box->setChecked(field.checked);
            } else if (TNVEdit* edit = f->nvEdit(field.name)) {
                edit->setText(field.text);
            }
        }
}

void TNVAssistant::writeOutputs()
{
    m_report->beginUpdate();
    for (const auto& f : m_forms) {
        if (f->result() != TNVForm::Continued)
            continue;
        for (const auto& item : f->items()) {
            if (item->kind() != TNVItem::Kind::Edit)
                continue;
            const auto* edit = static_cast<const TNVEdit*>(item.get());
            if (edit->outputName().isEmpty())
                continue;
            if (edit->output() == TNVEdit::Output::Header)
                m_report->header().setField(edit->outputName(), edit->text());
            else if (edit->output() == TNVEdit::Output::OwnSection)
                m_report->sections().setField(edit->outputName(), edit->text());
        }
    }
    m_report->endUpdate();
}

void TNVAssistant::fillCache()
{
    QList<FormFieldValue> fields;
    for (const auto& f : m_forms) {
        if (f->result() != TNVForm::Continued)
            continue;
        for (const auto& item : f->items()) {
            if (item->kind() == TNVItem::Kind::Edit)
                fields.append({item->name(), false, static_cast<TNVEdit*>(item.get())->text(), false});
            else if (item->kind() == TNVItem::Kind::CheckBox)
                fields.append({item->name(), true, {}, static_cast<TNVCheckBox*>(item.get())->isChecked()});
        }
    }
    m_report->fillFormCache(fields);
}

int TNVAssistant::showModal(QWidget* parent)
{
    const bool parentWasEnabled = parent && parent->isEnabled();
    if (parentWasEnabled)
        parent->setEnabled(false);
    m_result = Completed;
    for (const auto& f : m_forms)
        if (f->showModal(parent) == TNVForm::Cancelled) {
            m_result = Cancelled;
            break;
        }
    if (parentWasEnabled)
        parent->setEnabled(true);
    if (m_result == Completed)
        writeOutputs();
    fillCache();
    return m_result;
}

bool RunAssistant(const QString& name, const std::shared_ptr<ExceptionReport>& report, QWidget* parent)
{
    const auto assistant = TNVAssistant::fromSettings(name, report);
    if (!assistant)
        return true;
    // A topmost dialog would stand over the assistant's pages.
    const bool topmost = parent && (parent->windowFlags() & Qt::WindowStaysOnTopHint);
    if (topmost) {
        parent->setWindowFlag(Qt::WindowStaysOnTopHint, false);
        parent->show();
    }
    const int result = assistant->showModal(parent);
    if (topmost) {
        parent->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        parent->show();
    }
    return result == TNVAssistant::Completed;
}

} // namespace crash::ui
