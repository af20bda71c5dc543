// The report written without the allocator, read back as the report file's readers read a report;
// and when a handling counts as stuck inside the allocator.
#include "crash/core/handler/EmergencyReport.h"
#include "crash/core/handler/AllocatorStall.h"
#include "crash/core/handler/FaultExceptions.h"
#include "crash/core/report/ReportFileMerge.h"
#include "crash/core/report/ReportFormat.h"
#include "platform/ModuleHandle.h"
#include "platform/ProcessInfo.h"

#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace crash;

namespace {

[[gnu::noinline]] std::uintptr_t ReturnAddressHere()
{
    return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

QString Compose(const HandleExceptionRequest& request)
{
    EmergencyReport::prepare(platform::ComputeCodeRanges());
    static char buffer[64 * 1024];
    const std::size_t length = EmergencyReport::compose(request, buffer, sizeof buffer);
    return QString::fromUtf8(buffer, static_cast<qsizetype>(length));
}

QString Header(const QString& report, const char* name)
{
    return ReportHeaderValue(report.toUtf8(), QString::fromLatin1(name));
}

} // namespace

TEST(EmergencyReport, AFaultIsReportedWithTheUsualHeaderLinesAndTheReturnAddressesOnTheStack)
{
    const std::uintptr_t returnAddress = ReturnAddressHere();
    // A stack of 64 words that ends where readable memory ends, so that the scan stops there.
    const long page = sysconf(_SC_PAGESIZE);
    auto* pages = static_cast<char*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(pages, MAP_FAILED);
    mprotect(pages + page, page, PROT_NONE);
    auto* stack = reinterpret_cast<std::uintptr_t*>(pages + page) - 64;
    stack[5] = returnAddress;
    stack[9] = 0x1234; // not code
    platform::FaultRecord fault;
    fault.kind = platform::FaultKind::Access;
    fault.accessAddress = 0x20;
    fault.registers[6] = reinterpret_cast<std::uintptr_t>(&ReturnAddressHere);
    fault.registers[7] = reinterpret_cast<std::uintptr_t>(stack);
    HandleExceptionRequest request;
    request.fault = &fault;
    request.threadId = 0x4d2;

    const QString report = Compose(request);
    const QString executable = QFileInfo(platform::ModuleFileName(0)).fileName();
    EXPECT_TRUE(report.startsWith("date/time          : ")) << report.toStdString();
    EXPECT_EQ(Header(report, "exception class"), "EAccessViolation");
    EXPECT_EQ(Header(report, "exception message"), FaultMessage(fault, executable));
    EXPECT_EQ(Header(report, "process id"), HexId(platform::CurrentProcessId()));
    EXPECT_EQ(Header(report, "executable"), executable);
    EXPECT_TRUE(report.endsWith("\r\n\r\n")) << "ends with the empty line that separates reports";

    const QStringList lines = report.section("\r\n\r\n", 1, 1).split("\r\n");
    ASSERT_EQ(lines.size(), 3) << report.toStdString();
    EXPECT_EQ(lines[0], "thread $4d2:");
    EXPECT_TRUE(lines[1].startsWith(QString::number(fault.registers[6], 16).rightJustified(16, '0') + ' ' +
                                    executable + " +"));
    EXPECT_TRUE(lines[2].startsWith(QString::number(returnAddress, 16).rightJustified(16, '0')))
        << "0x1234 skipped";
    munmap(pages, 2 * page);
}

TEST(EmergencyReport, AnExceptionWithoutAFaultKeepsItsNamesAndRaiseStack)
{
    const std::uintptr_t raised[] = {ReturnAddressHere(), ReturnAddressHere()};
    HandleExceptionRequest request;
    request.className = "EAbnormalTermination";
    request.message = "Abnormal program termination";
    request.raiseStack = raised;
    request.raiseDepth = 2;
    const QString report = Compose(request);
    EXPECT_EQ(Header(report, "exception class"), "EAbnormalTermination");
    EXPECT_EQ(Header(report, "exception message"), "Abnormal program termination");
    EXPECT_EQ(report.section("\r\n\r\n", 1, 1).split("\r\n").size(), 3) << report.toStdString();
}

TEST(AllocatorStall, OnlyAWaitInsideTheAllocatorWithoutProgressForTheWholeBoundIsStuck)
{
    AllocatorStall stall(1500);
    EXPECT_FALSE(stall.stuck(true, 7, 0));
    EXPECT_FALSE(stall.stuck(true, 7, 1000));
    EXPECT_TRUE(stall.stuck(true, 7, 1500));

    AllocatorStall moving(1500);
    EXPECT_FALSE(moving.stuck(true, 7, 0));
    EXPECT_FALSE(moving.stuck(true, 8, 1000)) << "progress starts the count again";
    EXPECT_FALSE(moving.stuck(true, 8, 2000));
    EXPECT_TRUE(moving.stuck(true, 8, 2500));

    AllocatorStall leaving(1500);
    EXPECT_FALSE(leaving.stuck(true, 7, 0));
    EXPECT_FALSE(leaving.stuck(false, 7, 1000)) << "out of the allocator for a moment";
    EXPECT_FALSE(leaving.stuck(true, 7, 2000));
    EXPECT_FALSE(leaving.stuck(true, 7, 3000));
    EXPECT_TRUE(leaving.stuck(true, 7, 3500));
}
