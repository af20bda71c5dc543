#pragma once
// The handling sequence for one request: build the ExceptionReport, let the handlers see it,
// build the bug report, present it, run the automatic actions and decide: continue, close or
// restart. Runs on the handler thread (or, for a blocked process, in the faulting thread).
// Exceptions inside the flow are swallowed: the caller continues as if it had been handled.

#include "crash/core/handler/HandleExceptionRequest.h"
#include "crash/core/handler/HandlerRegistry.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace crash {

class AutomaticSend;

class HandlingFlow
{
public:
    // `inPlace`: runs in the faulting thread; the main thread cannot be asked for anything.
    explicit HandlingFlow(const HandleExceptionRequest& request, bool inPlace = false);
    void run() noexcept;

    // Whether this program presents on a console (no Qt GUI application object).
    static bool isConsoleProgram();

    // Progress of the handler thread, watched by waiting callers: bumped at every step.
    static std::atomic<long long>& progressStamp();
    // True while the presenter waits for the user (no time limit applies then).
    static std::atomic<bool>& presenting();

private:
    void runSteps();
    std::shared_ptr<ExceptionReport> createReport();
    void callExceptionHandlers(int phase, bool& handled);
    bool callActionHandlers(ExceptionAction action);
    UserChoice present();
    void registerAutomaticActions();
    void automaticSave(bool waitForSend);
    // Waits (bounded) until `done`, marking progress meanwhile.
    void waitUntil(const std::function<bool()>& done);
    void completeIfRequired();
    [[noreturn]] void close();
    void restart();
    void step();
    bool pauseThreadsWanted() const;

    const HandleExceptionRequest& m_request;
    bool m_inPlace;
    std::shared_ptr<ExceptionReport> m_report;
    bool m_savedAutomatically = false;
    std::shared_ptr<AutomaticSend> m_automaticSend; // set when the automatic actions are registered
};

} // namespace crash
