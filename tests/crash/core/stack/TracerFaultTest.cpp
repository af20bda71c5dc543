// A processor fault inside a trace, turned into an exception by the fault handlers as the crash
// reporter installs them, ends that trace with the internal-error line; the tracer stays usable.

#include "crash/core/stack/StackTrace.h"
#include "platform/Exception.h"
#include "platform/FaultSignals.h"
#include "platform/ThreadSnapshot.h"

#include <csignal>
#include <gtest/gtest.h>

namespace crash::stack {
namespace {

volatile std::uintptr_t unmapped = 16; // nothing is mapped there

void ThrowAccessViolation(const platform::FaultRecord& fault)
{
    throw platform::Exception(
        QStringLiteral("Access violation at address %1").arg(fault.registers[6], 16, 16, QLatin1Char('0')));
}

TEST(TracerFault, FaultInsideTheTraceEndsItWithTheInternalErrorLine)
{
    const auto captures = CaptureThreads({platform::CurrentThreadId()});
    ASSERT_TRUE(captures[0].accessible);
    ASSERT_TRUE(platform::InstallFaultHandlers(&ThrowAccessViolation));
    TraceOptions options;
    options.progress = [](int p) {
        if (p > 650 && p < 1000)
            *reinterpret_cast<volatile int*>(unmapped) = p;
    };
    const TraceResult faulted = TraceStack(captures[0], options);
    platform::RemoveFaultHandlers();
    platform::UnblockSignal(SIGSEGV); // left blocked by leaving the handler through an exception

    const QString last = faulted.listing.split(QStringLiteral("\r\n")).back();
    EXPECT_TRUE(
        last.startsWith(QLatin1String(">> internal error in FillFinalOutput: Access violation at address ")))
        << faulted.listing.toStdString();
    EXPECT_FALSE(faulted.entries.empty());

    const TraceResult again = TraceStack(captures[0], {}); // the lock was given back
    EXPECT_FALSE(again.listing.contains(QLatin1String("internal error")));
    EXPECT_GT(again.entries.size(), faulted.entries.size());
}

} // namespace
} // namespace crash::stack
