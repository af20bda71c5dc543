// The interception points. The fault path is the only one that runs in a signal handler: it either
// turns a fault of the program's own code inside a catching frame into a C++ exception (which then
// reaches the event-handler or thread point and can continue), or hands a record of the fault to
// the handler thread and waits; the process then ends. It allocates nothing on the second path. A
// fault in the allocator's own code writes the report without the allocator at once.
#include "crash/core/intercept/InterceptPoints.h"

#include "crash/core/handler/EmergencyReport.h"
#include "crash/core/handler/FaultExceptions.h"
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/ProcessRestart.h"
#include "platform/AltSignalStack.h"
#include "platform/FaultSignals.h"
#include "platform/ModuleHandle.h"
#include "platform/RuntimeRedirections.h"
#include "platform/UnhandledException.h"

#include <QFileInfo>
#include <atomic>
#include <exception>

namespace crash {

void InstallThrowRecording();
extern thread_local bool t_inWrappedThread;

namespace {

platform::CodeRanges g_ranges;
QString g_executableName;
std::atomic<bool> g_terminating{false};
std::terminate_handler g_previousTerminate = nullptr;

ExceptionSource SourceOf(const platform::ExceptionOrigin& origin)
{
    switch (origin.kind) {
    case platform::ExceptionOrigin::Kind::MarshalledCall:
        return ExceptionSource::MarshalledCall;
    case platform::ExceptionOrigin::Kind::ApplicationShow:
        return ExceptionSource::ApplicationShowException;
    case platform::ExceptionOrigin::Kind::RuntimeShow:
        return ExceptionSource::RuntimeShowException;
    default:
        return ExceptionSource::ApplicationHandleException;
    }
}

void OnApplicationException(std::exception_ptr error, const platform::ExceptionOrigin& origin)
{
    HandleExceptionRequest request;
    request.source = SourceOf(origin);
    request.object = &error;
    request.relatedObject = origin.receiver;
    request.raiseStack = RaiseStackOf(error, request.raiseDepth);
    const InnerRaiseStacks inner = InnerRaiseStacksOf(error);
    request.innerRaiseStacks = &inner;
    HandleException(request);
}

void OnFault(const platform::FaultRecord& fault)
{
    const std::uintptr_t rip = static_cast<std::uintptr_t>(fault.registers[6]);
    if (fault.kind == platform::FaultKind::Abort && g_terminating.load())
        return; // the terminate handler reports this one; let the abort run its course
    if (fault.kind != platform::FaultKind::Abort && !fault.sentByProcess && g_ranges.inExecutable(rip) &&
        platform::ExceptionFrame::active() && !IsHandlerThread()) {
        // Leaving the handler by an exception skips the signal mask's restore: unblock first so a
        // second fault is caught too.
        platform::UnblockSignal(fault.signal);
        ThrowFaultException(fault, g_executableName);
    }
    HandleExceptionRequest request;
    request.threadId = fault.threadId;
    request.fault = &fault;
    request.canContinue = false;
    request.inSignalHandler = true;
    request.processBlocked =
        g_ranges.inLoader(rip) || platform::AllocatorWasActive(g_ranges, rip, fault.registers[7]);
    request.exceptionAddress = rip;
    request.stackPointer = fault.registers[7];
    request.framePointer = fault.registers[8];
    request.source = fault.kind == platform::FaultKind::Abort ? ExceptionSource::AbnormalTermination
                                                              : ExceptionSource::ThreadLastChance;
    // The allocator's own code faulted: its heap is broken, and a report that allocates would wait
    // for its lock or fault again.
    if (g_ranges.inAllocator(rip))
        EmergencyReport::saveAndClose(request);
    HandleException(request);
    CloseProcess();
}

[[noreturn]] void OnTerminate()
{
    if (g_terminating.exchange(true))
        CloseProcess(); // terminate again while reporting: nothing more to try
    std::exception_ptr error = std::current_exception();
    HandleExceptionRequest request;
    // An exception that left a thread function whose caller catches everything and terminates
    // (QThread's start routine) is that thread's last-chance exception; it cannot continue,
    // because nothing can unwind past the runtime's terminate.
    request.source =
        error && t_inWrappedThread ? ExceptionSource::ThreadLastChance : ExceptionSource::AbnormalTermination;
    request.canContinue = false;
    request.className = "EAbnormalTermination";
    request.message = "Abnormal program termination";
    const InnerRaiseStacks inner = InnerRaiseStacksOf(error);
    if (error) {
        request.object = &error;
        request.raiseStack = RaiseStackOf(error, request.raiseDepth);
        request.innerRaiseStacks = &inner;
    }
    HandleException(request);
    CloseProcess();
}

void OnRuntimeError(platform::RuntimeError error, std::uintptr_t caller)
{
    HandleExceptionRequest request;
    request.source = ExceptionSource::RuntimeFatalError;
    request.canContinue = false;
    request.exceptionAddress = caller;
    request.className = "ERuntimeError";
    request.message = error == platform::RuntimeError::PureVirtualCall ? "Pure virtual function called"
                                                                       : "Stack buffer overrun detected";
    HandleException(request);
    CloseProcess();
}

} // namespace

void InstallApplicationInterception()
{
    platform::SetApplicationExceptionHandler(&OnApplicationException);
}

void InstallFaultInterception()
{
    g_ranges = platform::ComputeCodeRanges();
    EmergencyReport::prepare(g_ranges);
    g_executableName = QFileInfo(platform::ModuleFileName(0)).fileName();
    platform::EnsureAltSignalStack();
    platform::InstallFaultHandlers(&OnFault);
}

void InstallTerminateInterception()
{
    g_previousTerminate = std::set_terminate(&OnTerminate);
}

void InstallRuntimeRedirections()
{
    platform::RedirectRuntimeErrors(&OnRuntimeError);
    InstallThrowRecording();
}

void RemoveInterception()
{
    platform::SetApplicationExceptionHandler({});
    platform::RemoveFaultHandlers();
    std::set_terminate(g_previousTerminate);
    platform::RestoreRuntimeRedirections();
}

} // namespace crash
