#include "crash/core/handler/HandlingFlow.h"

#include "crash/core/handler/AutomaticSend.h"
#include "crash/core/handler/FaultExceptions.h"
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/handler/ProcessRestart.h"
#include "crash/core/handler/ReportDelivery.h"
#include "crash/core/handler/ThreadPause.h"
#include "crash/core/report/ReportBuilder.h"
#include "crash/core/report/ReportServices.h"
#include "crash/core/report/ReporterWorkFolder.h"
#include "crash/core/report/SendsInProgress.h"
#include "crash/core/settings/CrashSettings.h"
#include "platform/Exception.h"
#include "platform/FaultSignals.h"
#include "platform/ModuleHandle.h"

#include <QClipboard>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cxxabi.h>
#include <thread>

namespace crash {
namespace {

struct Identity
{
    QStringList chain;
    QString className;
    QString message;
    std::optional<stack::CpuContext> context;
    std::uintptr_t address = 0;
    bool external = false;
};

QString Demangle(const std::type_info* type)
{
    if (!type)
        return QStringLiteral("unknown exception");
    int status = 0;
    char* name = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    const QString result =
        status == 0 && name ? QString::fromLatin1(name) : QString::fromLatin1(type->name());
    std::free(name);
    return result;
}

QString ModuleName(std::uintptr_t address, bool mayAskLoader)
{
    if (!mayAskLoader)
        return {};
    const platform::ModuleHandle module = platform::ModuleOfAddress(reinterpret_cast<const void*>(address));
    return module ? QFileInfo(platform::ModuleFileName(module)).fileName() : QString();
}

Identity Identify(const HandleExceptionRequest& request, bool mayAskLoader)
{
    Identity id;
    id.address = request.exceptionAddress;
    if (request.type == ExceptionType::Freeze)
        return id; // the settings name it EFrozen with FrozenMsg
    if (request.object && *request.object) {
        try {
            std::rethrow_exception(*request.object);
        } catch (const EExternal& e) {
            id.chain = ExceptionClassChain(typeid(e));
            id.className = e.className();
            id.message = e.message();
            id.context = e.context();
            id.external = true;
            if (!id.address)
                id.address = e.address();
        } catch (const platform::Exception& e) {
            id.chain = ExceptionClassChain(typeid(e));
            id.className = e.className();
            id.message = e.message();
        } catch (const std::exception& e) {
            id.chain = ExceptionClassChain(typeid(e));
            id.className = Demangle(&typeid(e));
            id.message = QString::fromUtf8(e.what());
        } catch (...) {
            const std::type_info* type = abi::__cxa_current_exception_type();
            if (type)
                id.chain = ExceptionClassChain(*type);
            id.className = Demangle(type);
        }
    } else if (request.fault) {
        id.className = FaultClassName(*request.fault);
        id.chain = QStringList{id.className};
        id.message = FaultMessage(*request.fault, ModuleName(request.fault->registers[6], mayAskLoader));
        id.context = ContextOf(*request.fault);
        id.external = request.fault->kind != platform::FaultKind::Abort;
        if (!id.address)
            id.address = request.fault->registers[6];
    } else {
        id.className = QString::fromUtf8(request.className ? request.className : "Exception");
        id.message = QString::fromUtf8(request.message ? request.message : "");
        id.chain = QStringList{id.className};
    }
    if (!id.context && request.context)
        id.context = *request.context;
    if (!id.address && request.raiseDepth > 0)
        id.address = request.raiseStack[0];
    return id;
}

// The exceptions nested in the reported one, outermost first, each with its raise-time stack when
// the raising thread had it.
std::vector<InnerException> InnerExceptions(const HandleExceptionRequest& request, bool mayAskLoader)
{
    std::vector<InnerException> inner;
    std::exception_ptr current = request.object ? *request.object : nullptr;
    for (int level = 0; level < InnerRaiseStacks::kLevels; ++level) {
        current = NestedExceptionOf(current);
        if (!current)
            break;
        HandleExceptionRequest nested;
        nested.object = &current;
        if (request.innerRaiseStacks) {
            nested.raiseStack = request.innerRaiseStacks->stack[level];
            nested.raiseDepth = nested.raiseStack ? request.innerRaiseStacks->depth[level] : 0;
        }
        const Identity id = Identify(nested, mayAskLoader);
        InnerException exception;
        exception.className = id.className;
        exception.message = id.message;
        exception.context = id.context;
        exception.raiseTimeStack.assign(nested.raiseStack, nested.raiseStack + nested.raiseDepth);
        inner.push_back(std::move(exception));
    }
    return inner;
}

std::uint64_t NowSeconds()
{
    return static_cast<std::uint64_t>(QDateTime::currentSecsSinceEpoch());
}

// Synchronous handlers need the main thread: a paused one is let go for them.
bool RunReleasingMainThread(const std::function<void()>& work)
{
    ThreadPause::releaseMainThread();
    const bool ran = MainThreadBridge::run(work);
    ThreadPause::holdMainThread();
    return ran;
}

bool ActionHandled(const std::shared_ptr<ExceptionReport>& report, ExceptionAction action,
                   const HandlerRegistry::MainThreadRunner& runner)
{
    HandlerCall call;
    call.report = report;
    call.event = HandlerEvent::Action;
    call.action = action;
    HandlerRegistry::instance().call(call, runner);
    return call.handled;
}

// The automatic save itself, between the save handlers; also run by a send that ends after the
// handling (its thread cannot reach the main thread's handlers then).
void SaveAutomatically(const std::shared_ptr<ExceptionReport>& report,
                       const HandlerRegistry::MainThreadRunner& runner)
{
    if (report->reportText().isEmpty())
        return;
    if (ActionHandled(report, ExceptionAction::Save, runner))
        return;
    // Nobody may be there to see a failed save: it is said on standard error.
    if (!SaveReportFile(*report, QString(), true))
        std::fprintf(stderr, "crash reporter: the bug report could not be saved to %s\n",
                     qPrintable(report->BugRepFile()));
    ActionHandled(report, ExceptionAction::SaveDone, runner);
}

// The callback's send step counts as taken however it ends.
struct MarkAttemptedAtExit
{
    std::shared_ptr<AutomaticSend> send;
    ~MarkAttemptedAtExit() { send->markAttempted(); }
};

void SendAutomatically(const std::shared_ptr<ExceptionReport>& report, const QString& text,
                       const std::shared_ptr<AutomaticSend>& automaticSend)
{
    if (ActionHandled(report, ExceptionAction::Send, {}))
        return;
    std::weak_ptr<ExceptionReport> weak = report;
    SendRequest send;
    send.report = report;
    send.reportText = text;
    send.screenshot = report->screenshot();
    send.silent = true;
    send.inBackground = report->SendInBackgr();
    // Sent only once a transport delivered, which a background send knows at its end.
    const auto ended = [weak, automaticSend](bool delivered) {
        automaticSend->markEnded(delivered, [&weak] {
            if (auto sending = weak.lock())
                sending->setSent(true);
        });
    };
    send.finished = ended;
    automaticSend->markStarted();
    bool accepted = false;
    try {
        accepted = DeliverReport(send);
    } catch (...) {
    }
    if (!accepted || !send.inBackground)
        ended(accepted); // a delivery that does not report its end: its answer counts
    ActionHandled(report, ExceptionAction::SendDone, {});
}

long long NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

HandlingFlow::HandlingFlow(const HandleExceptionRequest& request, bool inPlace)
    : m_request(request), m_inPlace(inPlace)
{
}

std::atomic<long long>& HandlingFlow::progressStamp()
{
    static std::atomic<long long> stamp{0};
    return stamp;
}

std::atomic<bool>& HandlingFlow::presenting()
{
    static std::atomic<bool> flag{false};
    return flag;
}

bool HandlingFlow::isConsoleProgram()
{
    return !qobject_cast<QGuiApplication*>(QCoreApplication::instance());
}

void HandlingFlow::step()
{
    progressStamp() = NowMs();
}

void HandlingFlow::run() noexcept
{
    try {
        runSteps();
    } catch (...) {
        // Swallowed: the caller goes on as if the exception had been handled without a dialog.
    }
    presenting() = false;
    step();
}

std::shared_ptr<ExceptionReport> HandlingFlow::createReport()
{
    // In place the loader may be locked: no module lookups then.
    const Identity id = Identify(m_request, !m_request.processBlocked);
    platform::ModuleHandle governing = 0;
    if (!m_request.processBlocked && id.address)
        governing = SettingsForAddress(reinterpret_cast<const void*>(id.address))->module();
    auto report = std::make_shared<ExceptionReport>(governing, m_request.type, id.chain, id.className,
                                                    id.message, m_request.source, m_request.canContinue);
    report->crashedThread = m_request.threadId;
    report->exceptionAddress = id.address;
    return report;
}

void HandlingFlow::callExceptionHandlers(int phase, bool& handled)
{
    HandlerCall call;
    call.report = m_report;
    call.event =
        m_request.type == ExceptionType::ReportOnly ? HandlerEvent::ReportOnly : HandlerEvent::Exception;
    call.phase = phase;
    call.handled = handled;
    HandlerRegistry::MainThreadRunner runner;
    if (!m_inPlace)
        runner = RunReleasingMainThread;
    HandlerRegistry::instance().call(call, runner);
    handled = call.handled;
    step();
}

bool HandlingFlow::callActionHandlers(ExceptionAction action)
{
    HandlerRegistry::MainThreadRunner runner;
    if (!m_inPlace)
        runner = RunReleasingMainThread;
    const bool handled = ActionHandled(m_report, action, runner);
    step();
    return handled;
}

void HandlingFlow::completeIfRequired()
{
    if (!m_report->filterResult().buildReport)
        return;
    if (!m_report->isComplete())
        CompleteReport(*m_report);
    step();
}

void HandlingFlow::waitUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + SendsAtEndLimit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        step(); // a send in progress is progress: its own time-outs bound it
    }
}

void HandlingFlow::automaticSave(bool waitForSend)
{
    // The save is decided after the automatic send, which starts once the report is complete.
    if (m_automaticSend)
        waitUntil([this] { return !m_report->isComplete() || m_automaticSend->attempted(); });
    if (waitForSend) // the process is about to end: no send is cut off
        SendsInProgress::waitForAll(SendsAtEndLimit, [this] { step(); });
    if (!m_report->AutoSave() || m_savedAutomatically)
        return;
    m_savedAutomatically = true;
    if (m_report->AutoSaveIfNotSent()) {
        // A send still running decides when it ends (a failed one leaves the report saved), unless
        // the process ends now: then one that outlasted the wait counts as failed.
        const std::shared_ptr<ExceptionReport> report = m_report;
        if (!waitForSend && m_automaticSend && m_automaticSend->saveWhenEnded([report] {
                if (!report->wasSent())
                    SaveAutomatically(report, {});
            }))
            return;
        if (m_report->wasSent())
            return;
    }
    HandlerRegistry::MainThreadRunner runner;
    if (!m_inPlace)
        runner = RunReleasingMainThread;
    SaveAutomatically(m_report, runner);
    step();
}

void HandlingFlow::registerAutomaticActions()
{
    if (!m_report->AutoSend() && !m_report->AutoClip())
        return;
    auto automaticSend = std::make_shared<AutomaticSend>();
    m_automaticSend = automaticSend;
    std::weak_ptr<ExceptionReport> weak = m_report;
    auto done = std::make_shared<std::atomic<bool>>(false);
    const bool inPlace = m_inPlace;
    const ExceptionReport::ReportCallback act = [weak, done, inPlace, automaticSend](bool complete,
                                                                                     const QString& text) {
        auto report = weak.lock();
        if (!report || !complete || done->exchange(true))
            return;
        {
            const MarkAttemptedAtExit attempted{automaticSend};
            if (report->AutoSend() && !text.isEmpty())
                SendAutomatically(report, text, automaticSend);
        }
        if (report->AutoClip() && !inPlace)
            MainThreadBridge::post([text] {
                if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
                    gui->clipboard()->setText(text);
            });
    };
    m_report->addCallback(act, true);
    // Completed before the callback was there: it would never hear of it.
    if (m_report->isComplete())
        act(true, m_report->reportText());
}

UserChoice HandlingFlow::present()
{
    const int presentation = m_report->filterResult().presentation;
    if (presentation == 4)
        return UserChoice::None;
    if (isConsoleProgram()) {
        const QString message =
            m_report->isFreeze() ? m_report->getRawText("FrozenMsg") : m_report->ExceptMsg();
        QByteArray out = message.toUtf8() + '\n';
        if (m_report->AutoShowBugRep() || m_report->ShowBtnVis()) {
            completeIfRequired();
            out += '\n' + m_report->reportText(m_report->filterResult().buildReport).toUtf8() + '\n';
        }
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
        std::fflush(stdout);
        return UserChoice::None;
    }
    if (!Services().present)
        return UserChoice::None;
    PresentRequest request;
    request.report = m_report;
    request.presentation = presentation;
    request.mainThreadAvailable = !m_inPlace && !m_report->isFreeze() &&
                                  !(m_request.threadId == MainThreadId() && !m_request.canContinue);
    request.processBlocked = m_request.processBlocked;
    presenting() = true;
    const UserChoice choice = Services().present(request);
    presenting() = false;
    step();
    return choice;
}

void HandlingFlow::close()
{
    CloseProcess();
}

void HandlingFlow::restart()
{
    RestartProcess(History());
}

void HandlingFlow::runSteps()
{
    step();
    // 1. Temporary files left over from an earlier handling (never what a live send holds).
    if (!m_inPlace)
        ReporterWorkFolder::removeLeftovers();
    // 2. The report object, filters applied.
    m_report = createReport();
    step();
    // 3. Handlers, phase 1; the history counts every exception that is not report-only.
    bool handled = false;
    if (m_request.type == ExceptionType::ReportOnly) {
        handled = true;
        callExceptionHandlers(1, handled);
        return;
    }
    History().record(NowSeconds());
    callExceptionHandlers(1, handled);
    // 4. Phase 2: pause the other threads, screenshot, report, handlers again.
    m_report->setPhase(2);
    bool paused = false;
    if (!handled) {
        if (!m_report->isFreeze() && !m_inPlace && pauseThreadsWanted()) {
            ThreadPause::pause(platform::CurrentKernelThreadId(), m_request.threadId);
            paused = true;
        }
        const ExceptionFilterResult& filter = m_report->filterResult();
        if (filter.takeScreenshot && Services().screenshot && !m_inPlace)
            m_report->setScreenshot(Services().screenshot(m_report->ScrShotAppOnly()));
        if (filter.buildReport) {
            ReportRequest build;
            build.crashed.threadId = m_request.threadId;
            const Identity id = Identify(m_request, !m_request.processBlocked);
            build.crashed.context = id.context;
            build.crashed.external = id.external;
            build.crashed.abnormalTermination = m_request.source == ExceptionSource::AbnormalTermination;
            for (int i = 0; i < m_request.raiseDepth; ++i)
                build.crashed.raiseTimeStack.push_back(m_request.raiseStack[i]);
            build.crashed.innerExceptions = InnerExceptions(m_request, !m_request.processBlocked);
            build.listThreads = m_report->ListThreads();
            // Completion runs beside the presentation; in place there is no thread to spare.
            build.completeInOwnThread = !m_inPlace;
            std::weak_ptr<ExceptionReport> weak = m_report;
            m_report->setPhaseFourHandler([weak](ExceptionReport&) {
                HandlerCall call;
                call.report = weak.lock();
                if (!call.report)
                    return;
                call.phase = 4;
                HandlerRegistry::instance().call(call, {});
            });
            BuildReport(*m_report, build);
            step();
        }
        callExceptionHandlers(2, handled);
    }
    // 5. Phase 3.
    m_report->setPhase(3);
    if (!handled)
        callExceptionHandlers(3, handled);
    // 6. Handled and able to continue: nothing more to do.
    if (handled && m_report->canContinue()) {
        ClearFreezeCounter();
        if (paused)
            ThreadPause::resume();
        return;
    }
    // 7. Present.
    UserChoice choice = UserChoice::None;
    int presentation = m_report->filterResult().presentation;
    if (!handled) {
        if (m_report->AutoSave() || m_report->AutoSend() || m_report->AutoClip())
            registerAutomaticActions();
        choice = present();
        if (!Services().present && !isConsoleProgram())
            presentation = 4; // nothing could be shown: decide as if nothing was wanted
    }
    // 8. Decide.
    const std::uint64_t now = NowSeconds();
    // A shown dialog decides; where the exception cannot continue, its restart and close buttons
    // still act as pressed (only a continue falls to the automatic rules).
    const bool dialogShown = presentation != 4 && !isConsoleProgram();
    const bool dialogDecided = dialogShown && (m_report->canContinue() || choice == UserChoice::Restart ||
                                               choice == UserChoice::Close);
    auto closeNow = [&](bool wait) {
        if (paused)
            ThreadPause::resume(); // finishing the report may need the other threads
        if (callActionHandlers(ExceptionAction::Close))
            return;
        completeIfRequired();
        automaticSave(wait);
        close();
    };
    auto restartNow = [&] {
        if (callActionHandlers(ExceptionAction::Restart))
            return;
        completeIfRequired();
        automaticSave(true);
        restart();
    };
    if (dialogDecided) {
        if (choice == UserChoice::Close)
            closeNow(true);
        else if (choice == UserChoice::Restart)
            restartNow();
        else
            callActionHandlers(ExceptionAction::Continue);
    } else if (History().autoButtonRule(m_report->AutoClose(), now)) {
        closeNow(true);
    } else if (!m_report->canContinue() && !History().autoButtonRule(m_report->AutoRestart(), now)) {
        closeNow(true);
    } else if (History().autoButtonRule(m_report->AutoRestart(), now)) {
        restartNow();
        if (!m_report->canContinue())
            closeNow(true); // the new process could not be started
    } else {
        callActionHandlers(ExceptionAction::Continue);
    }
    // 9. Complete and save what was not saved on the way out.
    if (!handled) {
        if (m_report->hasCriticalCallback() || m_report->filterResult().buildReport)
            completeIfRequired();
        automaticSave(false);
    }
    // 10.
    ClearFreezeCounter();
    if (paused)
        ThreadPause::resume();
}

bool HandlingFlow::pauseThreadsWanted() const
{
    if (!m_report->PauseThreads())
        return false;
    static constexpr const char* kNoSuspend[] = {"GnNoSuspend", "F1NoSuspend", "F2NoSuspend"};
    const int group = m_report->filterResult().group;
    return !m_report->getFlag(kNoSuspend[group >= 0 && group <= 2 ? group : 0]);
}

} // namespace crash
