#include "crash/ui/CrashWindows.h"

#include "crash/ui/DialogProcess.h"
#include "crash/ui/TExceptionBox.h"
#include "crash/ui/TNVAssistant.h"

#include <QApplication>
#include <QThread>

namespace crash::ui {

UserChoice PresentHere(const PresentRequest& request, const DialogActions& actions)
{
    if (request.presentation == 1) {
        // The assistant alone; completing it sends the report.
        const auto& report = request.report;
        if (RunAssistant(report->filterResult().assistant, report, nullptr) && actions.send) {
            report->setSendAssis(QString());
            actions.send(report, nullptr);
        }
        return report->canContinue() ? UserChoice::Continue : UserChoice::Close;
    }
    switch (request.presentation) {
    case TExceptionBox::FullDialog:
    case TExceptionBox::SmallWithDetails:
    case TExceptionBox::SmallBox:
        return TExceptionBox::present(request.report, request.presentation, request.beep, actions);
    default:
        return UserChoice::None;
    }
}

UserChoice Present(const PresentRequest& request, const DialogActions& actions)
{
    if (!request.mainThreadAvailable)
        return PresentInDialogProcess(request);
    auto* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app))
        return UserChoice::None;
    if (QThread::currentThread() == app->thread())
        return PresentHere(request, actions);
    UserChoice choice = UserChoice::None;
    QMetaObject::invokeMethod(
        app, [&] { choice = PresentHere(request, actions); }, Qt::BlockingQueuedConnection);
    return choice;
}

} // namespace crash::ui
