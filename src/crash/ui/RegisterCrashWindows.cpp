// The windows registered in the crash reporter's services, and the actions they perform: the
// report file (with the save dialog), delivery and printing, each after its assistant and between
// the registered action handlers (one that takes the action cancels it; a done action is followed
// by its follow-up code).
#include "crash/ui/CrashWindows.h"

#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/HandlerRegistry.h"
#include "crash/core/handler/ReportDelivery.h"
#include "crash/core/report/ReportBuilder.h"
#include "crash/ui/ReportPrinter.h"
#include "crash/ui/ScreenCapture.h"
#include "crash/ui/TIProgressAlert.h"
#include "crash/ui/TNVAssistant.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QStandardPaths>
#include <QThread>

namespace crash::ui {

namespace {

bool SaveWithDialog(const std::shared_ptr<ExceptionReport>& report, QWidget* parent)
{
    if (!RunAssistant(report->SaveAssis(), report, parent))
        return false;
    const QString configured = report->BugRepFile();
    const qsizetype slash =
        std::max(configured.lastIndexOf(QLatin1Char('\\')), configured.lastIndexOf(QLatin1Char('/')));
    const QString folder = slash >= 0 ? configured.left(slash)
                                      : QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString name = configured.mid(slash + 1);
    QString file = QFileDialog::getSaveFileName(parent, QString(), folder + QLatin1Char('/') + name,
                                                QStringLiteral("*.txt (*.txt)"));
    if (file.isEmpty())
        return false;
    if (!file.contains(QLatin1Char('.')))
        file += QLatin1String(".txt");
    return SaveReportFile(*report, file, false);
}

// The dialog's actions run on the GUI thread, so the main thread's handlers run right here.
bool ActionHandled(const std::shared_ptr<ExceptionReport>& report, ExceptionAction action)
{
    HandlerCall call;
    call.report = report;
    call.event = HandlerEvent::Action;
    call.action = action;
    HandlerRegistry::instance().call(call, {});
    return call.handled;
}

DialogActions::ReportAction WithActionHandlers(ExceptionAction action, ExceptionAction followUp,
                                               DialogActions::ReportAction perform)
{
    return [=](const std::shared_ptr<ExceptionReport>& report, QWidget* parent) {
        if (ActionHandled(report, action) || !perform(report, parent))
            return false;
        ActionHandled(report, followUp);
        return true;
    };
}

bool Send(const std::shared_ptr<ExceptionReport>& report, QWidget* parent)
{
    if (!RunAssistant(report->SendAssis(), report, parent))
        return false;
    SendRequest request;
    request.report = report;
    request.reportText = report->reportText(true);
    request.screenshot = report->screenshot();
    request.inBackground = report->SendInBackgr();
    const ScopedProgressOwner owner(parent); // a send in the foreground keeps the dialog disabled
    return DeliverReport(request);
}

} // namespace

DialogActions DefaultDialogActions()
{
    DialogActions actions;
    actions.send = WithActionHandlers(ExceptionAction::Send, ExceptionAction::SendDone, Send);
    actions.save = WithActionHandlers(ExceptionAction::Save, ExceptionAction::SaveDone, SaveWithDialog);
    actions.print = WithActionHandlers(ExceptionAction::Print, ExceptionAction::PrintDone,
                                       ReportPrinter::printWithDialog);
    return actions;
}

DialogActions HandlingFlowDialogActions(const std::shared_ptr<ExceptionReport>& report)
{
    DialogActions actions = DefaultDialogActions();
    // Show (9) and help (10) are the dialog's own codes, passed on as numbers.
    actions.fireHandlers = [report](ActionCode code) {
        return ActionHandled(report, ExceptionAction(int(code)));
    };
    actions.autoRuleApplies = [](int value) {
        return History().autoButtonRule(value, std::uint64_t(QDateTime::currentSecsSinceEpoch()));
    };
    return actions;
}

void RegisterCrashWindows()
{
    Services().present = [](const PresentRequest& request) {
        DialogActions actions = HandlingFlowDialogActions(request.report);
        actions.processBlocked = request.processBlocked;
        return Present(request, actions);
    };
    Services().progress = [](const QString& title, const QString& text) -> std::unique_ptr<ProgressAlert> {
        auto alert = std::make_unique<TIProgressAlert>(title);
        if (!text.isEmpty())
            alert->addStep(text, ProgressSteps::Full);
        return alert;
    };
    Services().print = [](const std::shared_ptr<ExceptionReport>& report) {
        return ReportPrinter::printFromAnyThread(report);
    };
    Services().screenshot = [](bool ownWindowsOnly) {
        auto* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() == app->thread())
            return ScreenCapture::capture(ownWindowsOnly);
        // Never waits for the GUI thread: in a freeze it would not answer.
        return ScreenCapture::captureOffGuiThread(ownWindowsOnly);
    };
}

} // namespace crash::ui
