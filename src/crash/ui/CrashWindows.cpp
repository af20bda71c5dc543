#include "crash/ui/CrashWindows.h"

#include "crash/ui/DialogProcess.h"
#include "crash/ui/TExceptionBox.h"
#include "crash/ui/TNVAssistant.h"

#include "crash/core/handler/HandleException.h"

#include <QApplication>
#include <QThread>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

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

namespace {

// A presentation handed to the main thread. The program may end before the main thread takes it,
// and then it never will: the waiting side gives it up instead.
struct MainThreadCall
{
    enum class State
    {
        Waiting,
        Taken,
        Finished,
        GivenUp
    };
    std::mutex lock;
    std::condition_variable finished;
    State state = State::Waiting;
    UserChoice choice = UserChoice::None;
};

UserChoice PresentInMainThread(QCoreApplication* app, const PresentRequest& request, const DialogActions& actions)
{
    auto call = std::make_shared<MainThreadCall>();
    QMetaObject::invokeMethod(
        app,
        [call, request, actions] {
            {
                std::lock_guard guard(call->lock);
                if (call->state != MainThreadCall::State::Waiting)
                    return;
                call->state = MainThreadCall::State::Taken;
            }
            const UserChoice choice = PresentHere(request, actions);
            {
                std::lock_guard guard(call->lock);
                call->choice = choice;
                call->state = MainThreadCall::State::Finished;
            }
            call->finished.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock guard(call->lock);
    // Once taken, the dialog waits for the user, however long that is.
    while (!call->finished.wait_for(guard, std::chrono::milliseconds(100),
                                    [&] { return call->state == MainThreadCall::State::Finished; })) {
        if (call->state == MainThreadCall::State::Waiting && ProgramIsEnding()) {
            call->state = MainThreadCall::State::GivenUp;
            return UserChoice::None;
        }
    }
    return call->choice;
}

} // namespace

UserChoice Present(const PresentRequest& request, const DialogActions& actions)
{
    // The program is ending on its own: nobody is left to answer, and the report is saved as it is.
    if (ProgramIsEnding())
        return UserChoice::None;
    if (!request.mainThreadAvailable)
        return PresentInDialogProcess(request);
    auto* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app))
        return UserChoice::None;
    if (QThread::currentThread() == app->thread())
        return PresentHere(request, actions);
    return PresentInMainThread(app, request, actions);
}

} // namespace crash::ui
