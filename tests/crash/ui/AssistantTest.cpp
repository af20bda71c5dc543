// The assistants under a real X server, with the forms the executable carries: their look, the
// rules of their buttons and keys, and what they leave in the report and the form cache.
#include "ReportFixture.h"
#include "WindowShots.h"
#include "crash/ui/FormHandlers.h"
#include "crash/ui/ScreenshotEditor.h"
#include "crash/ui/TNVAssistant.h"
#include "crash/ui/TNVButton.h"
#include "crash/ui/TNVCheckBox.h"
#include "crash/ui/TNVEdit.h"
#include "crash/ui/TNVImage.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

using crash::ui::TNVAssistant;
using crash::ui::TNVForm;

namespace {

// Runs `step` on each form as it shows (bounded: a form still open after 10 s is cancelled).
class FormDriver
{
public:
    explicit FormDriver(std::function<void(TNVForm&)> step) : m_step(std::move(step))
    {
        QObject::connect(&m_poll, &QTimer::timeout, [this] { poll(); });
        m_poll.start(50);
        m_deadline.start();
    }
    int formsSeen() const { return int(m_seen.size()); }

private:
    void poll()
    {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* form = qobject_cast<TNVForm*>(w);
            if (!form || !form->isVisible() || m_seen.contains(form))
                continue;
            if (!QTest::qWaitForWindowActive(form, 3000))
                qWarning("form not active");
            m_seen.insert(form);
            m_step(*form);
            return;
        }
        if (m_deadline.elapsed() > 10000)
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* form = qobject_cast<TNVForm*>(w); form && form->isVisible())
                    form->finish(TNVForm::Cancelled);
    }
    std::function<void(TNVForm&)> m_step;
    QTimer m_poll;
    QElapsedTimer m_deadline;
    QSet<TNVForm*> m_seen;
};

QWidget* WidgetOf(TNVForm& form, const QString& name)
{
    return form.item(name) ? form.item(name)->widget() : nullptr;
}

void ClickItem(TNVForm& form, const QString& name)
{
    QWidget* w = WidgetOf(form, name);
    ASSERT_NE(w, nullptr) << name.toStdString();
    // Near the left edge: a check box reacts on its box and caption, not across its whole width.
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(std::min(8, w->width() / 2), w->height() / 2));
}

class AssistantTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        crash::ui::SetContactSettingsFile(dir.file("contact.ini"));
        report = crashtest::MakeReport();
        crashtest::FillReport(*report);
        report->header().setAddIndex(3);
        QImage shot(320, 200, QImage::Format_RGB32);
        shot.fill(Qt::darkCyan);
        report->setScreenshot(shot);
    }
    testsupport::TempDir dir;
    std::shared_ptr<crash::ExceptionReport> report;
};

} // namespace

TEST_F(AssistantTest, SendAssistantFillsTheReportAndTheFormCache)
{
    auto assistant = TNVAssistant::fromSettings("SendAssistant", report);
    ASSERT_NE(assistant, nullptr);
    EXPECT_EQ(assistant->title(), "Send Assistant");
    ASSERT_EQ(assistant->formCount(), 3);
    FormDriver driver([&](TNVForm& form) {
        if (form.formName() == "ContactForm") {
            EXPECT_EQ(form.message(), "Contact Information");
            EXPECT_FALSE(form.skipButton()->isEnabled());
            EXPECT_EQ(form.continueButton()->caption(), "Continue");
            EXPECT_FALSE(WidgetOf(form, "ContinueBtn")->isEnabled()) << "the email is required";
            EXPECT_EQ(QApplication::focusWidget(), WidgetOf(form, "NameEdit")) << "the item after Cancel";
            QTest::keyClicks(WidgetOf(form, "NameEdit"), "Ada Tester");
            QTest::keyClick(WidgetOf(form, "NameEdit"), Qt::Key_Return);
            EXPECT_EQ(QApplication::focusWidget(), WidgetOf(form, "EmailEdit")) << "Enter moves on";
            QTest::keyClicks(WidgetOf(form, "EmailEdit"), "ada@example.org");
            EXPECT_TRUE(WidgetOf(form, "ContinueBtn")->isEnabled());
            ClickItem(form, "MemCheck");
            crashtest::ShootWindow(&form, "assistant-contact-form");
            ClickItem(form, "ContinueBtn");
        } else if (form.formName() == "DetailsForm") {
            EXPECT_EQ(form.message(), "Error Details");
            EXPECT_TRUE(form.skipButton()->isEnabled());
            // All three buttons: Skip at the left, Continue beside Cancel at the right.
            EXPECT_EQ(WidgetOf(form, "SkipBtn")->x(), 8);
            EXPECT_EQ(WidgetOf(form, "CancelBtn")->geometry().right() + 1, form.width() - 8);
            EXPECT_EQ(WidgetOf(form, "ContinueBtn")->geometry().right() + 1 + 8,
                      WidgetOf(form, "CancelBtn")->x());
            QWidget* memo = WidgetOf(form, "DetailsMemo");
            memo->setFocus();
            QTest::keyClicks(memo, "Pressed Make");
            QTest::keyClick(memo, Qt::Key_Return);
            QTest::keyClicks(memo, "without rcc.exe");
            EXPECT_EQ(qobject_cast<QPlainTextEdit*>(memo)->toPlainText(), "Pressed Make\nwithout rcc.exe")
                << "Enter in the memo is a line break";
            EXPECT_EQ(QApplication::focusWidget(), memo);
            crashtest::ShootWindow(&form, "assistant-details-form");
            QTest::keyClick(memo, Qt::Key_Tab);
            EXPECT_NE(QApplication::focusWidget(), memo) << "Tab leaves the memo";
            ClickItem(form, "ContinueBtn");
        } else {
            EXPECT_EQ(form.formName(), "ScrShotForm");
            EXPECT_EQ(QApplication::focusWidget(), WidgetOf(form, "ContinueBtn")) << "ActiveControl";
            EXPECT_EQ(form.nvImage("ScrShotImg")->image().size(), QSize(320, 200));
            crashtest::ShootWindow(&form, "assistant-screenshot-form");
            QTest::keyClick(WidgetOf(form, "ContinueBtn"), Qt::Key_Return);
        }
    });
    EXPECT_EQ(assistant->showModal(nullptr), TNVAssistant::Completed);
    EXPECT_EQ(driver.formsSeen(), 3);
    EXPECT_EQ(report->header().field("contact name"), "Ada Tester");
    EXPECT_EQ(report->header().field("contact email"), "ada@example.org");
    EXPECT_EQ(report->sections().field("error details"), "Pressed Make\nwithout rcc.exe");
    EXPECT_FALSE(report->screenshot().isNull()) << "attach stayed ticked";

    // The next assistant starts with the cached fields; "remember me" kept them on disk too.
    auto next = TNVAssistant::fromSettings("SaveAssistant", report);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->form("ContactForm")->nvEdit("EmailEdit")->text(), "ada@example.org");
    EXPECT_EQ(next->form("DetailsForm")->nvEdit("DetailsMemo")->text(), "Pressed Make\nwithout rcc.exe");
    auto fresh = crashtest::MakeReport();
    auto remembered = TNVAssistant::fromSettings("SaveAssistant", fresh);
    EXPECT_EQ(remembered->form("ContactForm")->nvEdit("NameEdit")->text(), "Ada Tester");
}

TEST_F(AssistantTest, EmptyEmailKeepsContinueDisabledEscapeNeedsCancelAndCancelEnds)
{
    auto assistant = TNVAssistant::fromSettings("SaveAssistant", report);
    ASSERT_NE(assistant, nullptr);
    FormDriver driver([&](TNVForm& form) {
        EXPECT_FALSE(WidgetOf(form, "ContinueBtn")->isEnabled());
        ClickItem(form, "ContinueBtn"); // disabled: nothing happens
        EXPECT_TRUE(form.isVisible());
        // With Cancel disabled, Escape does nothing.
        form.cancelButton()->setEnabled(false);
        QTest::keyClick(WidgetOf(form, "NameEdit"), Qt::Key_Escape);
        EXPECT_TRUE(form.isVisible());
        form.cancelButton()->setEnabled(true);
        QTest::keyClick(WidgetOf(form, "NameEdit"), Qt::Key_Escape);
        EXPECT_FALSE(form.isVisible());
    });
    EXPECT_EQ(assistant->showModal(nullptr), TNVAssistant::Cancelled);
    EXPECT_EQ(driver.formsSeen(), 1) << "the assistant stops at the cancelled form";
    EXPECT_FALSE(report->header().contains("contact email"));
}

TEST_F(AssistantTest, SkipEndsTheFormWithTwoAndTheAssistantGoesOn)
{
    auto assistant = TNVAssistant::fromSettings("SendAssistant", report);
    ASSERT_NE(assistant, nullptr);
    QStringList order;
    FormDriver driver([&](TNVForm& form) {
        order << form.formName();
        if (form.formName() == "ContactForm") {
            QTest::keyClicks(WidgetOf(form, "EmailEdit"), "x@example.org");
            ClickItem(form, "ContinueBtn");
        } else if (form.formName() == "DetailsForm") {
            QTest::keyClicks(WidgetOf(form, "DetailsMemo"), "typed but skipped");
            ClickItem(form, "SkipBtn");
        } else {
            ClickItem(form, "AttachCheck");
            ClickItem(form, "ContinueBtn");
        }
    });
    EXPECT_EQ(assistant->showModal(nullptr), TNVAssistant::Completed);
    EXPECT_EQ(order, QStringList({"ContactForm", "DetailsForm", "ScrShotForm"}));
    EXPECT_EQ(assistant->form("DetailsForm")->result(), TNVForm::Skipped);
    EXPECT_FALSE(report->sections().contains("error details")) << "a skipped form gives no output";
    EXPECT_TRUE(report->screenshot().isNull()) << "attach was unticked";
}

TEST(ScreenshotEditor, DraggedBoxesAreBlackedOut)
{
    QImage shot(400, 300, QImage::Format_RGB32);
    shot.fill(Qt::white);
    crash::ui::ScreenshotEditor editor(shot);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    QWidget* canvas = editor.findChild<QWidget*>("canvas");
    ASSERT_NE(canvas, nullptr);
    QTest::mousePress(canvas, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(canvas, QPoint(60, 40));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, QPoint(60, 40));
    crashtest::ShootWindow(&editor, "screenshot-editor");
    ASSERT_EQ(editor.boxes().size(), 1);
    const QImage edited = editor.image();
    EXPECT_EQ(edited.pixelColor(30, 25), QColor(Qt::black));
    EXPECT_EQ(edited.pixelColor(200, 200), QColor(Qt::white));
    editor.undo();
    EXPECT_EQ(editor.image().pixelColor(30, 25), QColor(Qt::white));
}
