// Capturing threads of this process and tracing the captures: live threads, the calling thread,
// threads that cannot be captured, and the options of a trace.

#include "crash/core/stack/StackTrace.h"
#include "crash/core/stack/FramePointerChain.h"
#include "crash/core/stack/ModuleCodeView.h"
#include "crash/core/stack/StackScanner.h"
#include "fp/FramePointerCode.h"
#include "platform/ThreadSnapshot.h"

#include <QRegularExpression>
#include <chrono>
#include <condition_variable>
#include <cxxabi.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

extern "C" void* ExportLibExported();

namespace crash::stack {
namespace {

struct Parking
{
    std::mutex mutex;
    std::condition_variable changed;
    std::int64_t parkedId = 0;
    bool release = false;
};

[[gnu::noinline]] void ParkedInStackTraceTest(Parking& p)
{
    std::unique_lock lock(p.mutex);
    p.parkedId = platform::CurrentThreadId();
    p.changed.notify_all();
    p.changed.wait_for(lock, std::chrono::seconds(30), [&] { return p.release; });
}

// A thread parked in ParkedInStackTraceTest for the length of a test; `park` leads there.
class ParkedThread
{
public:
    explicit ParkedThread(void (*park)(Parking&) = ParkedInStackTraceTest)
        : thread_([this, park] {
              park(parking_);
              asm volatile("" ::: "memory"); // not a tail call
          })
    {
        std::unique_lock lock(parking_.mutex);
        parking_.changed.wait_for(lock, std::chrono::seconds(10), [&] { return parking_.parkedId != 0; });
    }
    ~ParkedThread()
    {
        {
            std::lock_guard lock(parking_.mutex);
            parking_.release = true;
        }
        parking_.changed.notify_all();
        thread_.join();
    }
    std::int64_t id() const { return parking_.parkedId; }

private:
    Parking parking_;
    std::thread thread_;
};

bool Lists(const TraceResult& trace, const char* function)
{
    for (const auto& e : trace.entries)
        if (e.function == QLatin1String(function))
            return true;
    return false;
}

TEST(StackTrace, ParkedThreadIsTracedToItsFunctionAndUnit)
{
    ParkedThread parked;
    ASSERT_NE(parked.id(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into its wait
    const auto captures = CaptureThreads({parked.id()});
    ASSERT_EQ(captures.size(), 1u);
    ASSERT_TRUE(captures[0].accessible);
    EXPECT_FALSE(captures[0].stack.empty());
    EXPECT_GT(captures[0].stackTop, captures[0].context.rsp);
    const TraceResult trace = TraceStack(captures[0], {});
    ASSERT_TRUE(Lists(trace, "crash::stack::(anonymous namespace)::ParkedInStackTraceTest"))
        << trace.listing.toStdString();
    for (const auto& e : trace.entries) {
        if (e.function.endsWith(QLatin1String("ParkedInStackTraceTest"))) {
            EXPECT_EQ(e.unit, QStringLiteral("StackTraceTest"));
        }
    }
    EXPECT_TRUE(trace.hasLineInfo);
    EXPECT_EQ(trace.listing.count(QStringLiteral("\r\n")) + 1, int(trace.entries.size()));
}

TEST(StackTrace, CallingThreadCanCaptureItself)
{
    const auto captures = CaptureThreads({platform::CurrentThreadId()});
    ASSERT_TRUE(captures[0].accessible);
    const TraceResult trace = TraceStack(captures[0], {});
    EXPECT_TRUE(trace.listing.contains(QLatin1String("CallingThreadCanCaptureItself")))
        << trace.listing.toStdString();
}

TEST(StackTrace, ThreadThatCannotAnswerIsNotAccessibleAndListsNothing)
{
    const auto start = std::chrono::steady_clock::now();
    const auto captures = CaptureThreads({0x7ffffff0, -1});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    ASSERT_EQ(captures.size(), 2u);
    EXPECT_FALSE(captures[0].accessible);
    EXPECT_FALSE(captures[1].accessible);
    const TraceResult trace = TraceStack(captures[0], {});
    EXPECT_TRUE(trace.listing.isEmpty());
    EXPECT_TRUE(trace.entries.empty());
}

TEST(StackTrace, UnreadableStackGivesAnEmptyListing)
{
    ThreadCapture capture;
    capture.threadId = 1;
    capture.accessible = true;
    capture.context.rsp = 0x10; // nothing mapped there, nothing copied
    EXPECT_TRUE(TraceStack(capture, {}).listing.isEmpty());
}

[[gnu::noinline]] std::uint64_t ReturnAddressInThisTest()
{
    return reinterpret_cast<std::uint64_t>(__builtin_return_address(0));
}

TEST(StackTrace, HideUglyItemsDropsEntriesWithoutLines)
{
    TraceOptions options;
    const std::uint64_t here = ReturnAddressInThisTest();
    options.raiseTimeStack = {here, reinterpret_cast<std::uint64_t>(ExportLibExported()) + 2};
    ThreadCapture none;
    const TraceResult all = TraceStack(none, options);
    ASSERT_EQ(all.entries.size(), 2u) << all.listing.toStdString();
    EXPECT_GT(all.entries[0].line, 0);
    EXPECT_EQ(all.entries[1].function, QStringLiteral("ExportLibExported"));
    EXPECT_EQ(all.entries[1].line, 0);
    // The shown address is the call instruction's, not the return address.
    EXPECT_LT(all.entries[0].address, here);
    EXPECT_GE(all.entries[0].address, here - 7);

    options.hideUglyItems = true;
    const TraceResult pretty = TraceStack(none, options);
    ASSERT_EQ(pretty.entries.size(), 1u);
    EXPECT_EQ(pretty.entries[0].function, all.entries[0].function);
}

TEST(StackTrace, RelativeColumnsFollowTheOptions)
{
    TraceOptions options;
    options.raiseTimeStack = {ReturnAddressInThisTest()};
    ThreadCapture none;
    const QString plain = TraceStack(none, options).listing;
    options.showRelAddrs = options.showRelLines = true;
    const TraceResult relative = TraceStack(none, options);
    ASSERT_EQ(relative.entries.size(), 1u);
    const StackEntry& e = relative.entries[0];
    EXPECT_EQ(e.relativeLine >= 0, true);
    EXPECT_TRUE(relative.listing.contains(QStringLiteral(" +%1 ").arg(e.address - e.functionStart, 0, 16)))
        << relative.listing.toStdString();
    EXPECT_TRUE(relative.listing.contains(QStringLiteral(" +%1 ").arg(e.relativeLine)));
    EXPECT_FALSE(plain.contains(QLatin1Char('+')));
}

TEST(StackTrace, CancelledTraceStopsBeforeTheScanAndReportsProgress)
{
    const auto captures = CaptureThreads({platform::CurrentThreadId()});
    ASSERT_TRUE(captures[0].accessible);
    TraceOptions options;
    options.useCallFrameInfo = false;
    std::vector<int> progress;
    options.progress = [&](int p) { progress.push_back(p); };
    const TraceResult full = TraceStack(captures[0], options);
    EXPECT_GT(full.entries.size(), 1u);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 1000);

    std::atomic<bool> cancel{true};
    options.cancel = &cancel;
    const TraceResult cancelled = TraceStack(captures[0], options);
    EXPECT_LE(cancelled.entries.size(), 1u); // only the interrupted instruction
}

// An exception inside a phase (here from the progress box the trace drives) ends the trace with
// the internal-error line: the phase and what the error said, after the frames listed so far.
TEST(StackTrace, FailureInsideAPhaseEndsWithTheInternalErrorLine)
{
    const auto captures = CaptureThreads({platform::CurrentThreadId()});
    ASSERT_TRUE(captures[0].accessible);
    TraceOptions options;
    options.useCallFrameInfo = false; // through the scan and its deep checks
    options.progress = [](int p) {
        if (p > 25 && p < 650)
            throw std::runtime_error("progress box gone");
    };
    const TraceResult deep = TraceStack(captures[0], options);
    EXPECT_EQ(deep.listing, QStringLiteral(">> internal error in InDeepChecks: progress box gone"));
    EXPECT_TRUE(deep.entries.empty());

    options.progress = [](int p) {
        if (p > 650 && p < 1000)
            throw 42; // tells nothing about where
    };
    const TraceResult late = TraceStack(captures[0], options);
    ASSERT_FALSE(late.entries.empty());
    const QStringList lines = late.listing.split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines.size(), qsizetype(late.entries.size() + 1));
    EXPECT_EQ(lines.back(), QStringLiteral(">> internal error in FillFinalOutput:"));
}

int IndexEndingWith(const TraceResult& trace, const char* name)
{
    for (std::size_t i = 0; i < trace.entries.size(); ++i)
        if (trace.entries[i].function.endsWith(QLatin1String(name)))
            return int(i);
    return -1;
}

// Code built with frame pointers: the chain from the captured rbp holds up through real code and
// names the callers, and a trace without call-frame information lists them in order.
TEST(StackTrace, FramePointerChainOfRealCodeNamesTheCallers)
{
    ThreadCapture capture;
    fpcode::FpOuter(capture);
    ASSERT_FALSE(capture.stack.empty());
    {
        ModuleCodeView code(Modules());
        FunctionCache functions(code);
        const auto frames = WalkFramePointers(functions, capture, capture.context.rbp, capture.context.rsp);
        ASSERT_GE(frames.size(), 2u);
        ASSERT_TRUE(frames[0].call && frames[1].call);
        EXPECT_TRUE(
            FormatAddress(frames[0].call->address, false, false).endsWith(QLatin1String("::FpMiddle")));
        EXPECT_TRUE(
            FormatAddress(frames[1].call->address, false, false).endsWith(QLatin1String(" fpcode::FpOuter")));
    }
    TraceOptions options;
    options.useCallFrameInfo = false;
    const TraceResult trace = TraceStack(capture, options);
    const int inner = IndexEndingWith(trace, "::FpInner");
    ASSERT_GE(inner, 0) << trace.listing.toStdString();
    EXPECT_EQ(IndexEndingWith(trace, "::FpMiddle"), inner + 1) << trace.listing.toStdString();
    EXPECT_EQ(IndexEndingWith(trace, "fpcode::FpOuter"), inner + 2);
}

TEST(StackTrace, ThrowHelpersAreLeftOutOnRequest)
{
    // A stack as seen from inside a throw: __cxa_throw's frame comes first.
    ThreadCapture none;
    TraceOptions options;
    // A return address inside __cxa_throw (its first bytes are enough for the lookup) above this test.
    options.raiseTimeStack = {reinterpret_cast<std::uint64_t>(&__cxa_throw) + 8, ReturnAddressInThisTest()};
    const TraceResult all = TraceStack(none, options);
    ASSERT_EQ(all.entries.size(), 2u) << all.listing.toStdString();
    EXPECT_TRUE(
        all.entries[0].function.endsWith(QLatin1String("__cxa_throw"))); // maybe a sanitizer's wrapper
    options.hideThrowHelpers = true;
    const TraceResult hidden = TraceStack(none, options);
    ASSERT_EQ(hidden.entries.size(), 1u);
    EXPECT_EQ(hidden.entries[0].function, all.entries[1].function);
}

TEST(StackTrace, LongRecursionIsListedInReducedForm)
{
    std::vector<StackItem> items;
    items.push_back({0x1000, 8, false, true, std::nullopt});
    for (int i = 0; i < 30; ++i) {
        items.push_back({0x2000, 16, false, true, std::nullopt});
        items.push_back({0x3000, 24, false, true, std::nullopt});
    }
    items.push_back({0x4000, 32, false, true, std::nullopt});
    RemoveRecursiveAreas(items);
    ASSERT_EQ(items.size(), 6u); // 0x1000, two copies of the run, 0x4000
    EXPECT_EQ(items[1].address, 0x2000u);
    EXPECT_EQ(items[4].address, 0x3000u);
    EXPECT_EQ(items.back().address, 0x4000u);

    std::vector<StackItem> shallow(4, StackItem{0x2000, 8, false, true, std::nullopt});
    RemoveRecursiveAreas(shallow);
    EXPECT_EQ(shallow.size(), 4u); // a few levels stay as they are, as debuggers show them
}

// Calls itself `depth` times, then parks; each level is one frame with one return address.
[[gnu::noinline]] int RecurseThenPark(int depth, Parking& parking)
{
    if (depth == 0)
        ParkedInStackTraceTest(parking);
    else
        RecurseThenPark(depth - 1, parking);
    asm volatile("" ::: "memory"); // not a tail call
    return depth;
}

constexpr int kRecursionDepth = 5000;

[[gnu::noinline]] void ParkDeepInRecursion(Parking& parking)
{
    RecurseThenPark(kRecursionDepth, parking);
    asm volatile("" ::: "memory");
}

// A deep recursion is listed by its first and last levels and a line with the number left out,
// and the listing goes on to the thread's start; with call-frame information (which stops after a
// few hundred frames, the scan does the rest) and from the stack scan alone, where each level
// used to be taken for a stale copy of the one before and merged with it.
TEST(StackTrace, DeepRecursionIsListedByItsEndsAndReachesTheThreadStart)
{
    ParkedThread parked(ParkDeepInRecursion);
    ASSERT_NE(parked.id(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into its wait
    const auto captures = CaptureThreads({parked.id()});
    ASSERT_TRUE(captures[0].accessible);
    for (const bool callFrames : {true, false}) {
        TraceOptions options;
        options.useCallFrameInfo = callFrames;
        const TraceResult trace = TraceStack(captures[0], options);
        const std::string listing = trace.listing.toStdString();
        int levels = 0;
        for (const auto& e : trace.entries)
            levels += e.function.endsWith(QLatin1String("RecurseThenPark")) ? 1 : 0;
        EXPECT_EQ(levels, 5) << listing; // the level that parks, two more and the last two
        const QRegularExpression leftOut(QStringLiteral("\\r\\n>> (\\d+) frames left out\\r\\n"));
        const auto match = leftOut.match(trace.listing);
        ASSERT_TRUE(match.hasMatch()) << listing;
        EXPECT_EQ(levels + match.captured(1).toInt(), kRecursionDepth + 1) << listing;
        // Up to the thread's start (under ThreadSanitizer the scan goes on past it into stale
        // return addresses of the sanitizer's own signal delivery, which is no part of this).
        const QString toStart = trace.listing.left(trace.listing.indexOf(QLatin1String("start_thread")));
        EXPECT_EQ(toStart.count(QLatin1String(">>")), 1) << listing;
        EXPECT_LT(toStart.count(QLatin1String("\r\n")), 40) << listing;
        // Below the recursion: the thread's lambda and the C library's thread start.
        const int last = IndexEndingWith(trace, "RecurseThenPark");
        ASSERT_GE(last, 0);
        bool reachesStart = false;
        for (std::size_t i = std::size_t(last) + 1; i < trace.entries.size(); ++i)
            reachesStart = reachesStart || trace.entries[i].function == QLatin1String("start_thread");
        EXPECT_TRUE(reachesStart) << listing;
    }
}

// The listing's line before the creation call names the creator; a trace that fails before it
// gets there ends with the internal-error line alone.
TEST(StackTrace, CreatorLineStandsOnlyBeforeTheCreationCall)
{
    const auto captures = CaptureThreads({platform::CurrentThreadId()});
    ASSERT_TRUE(captures[0].accessible);
    TraceOptions options;
    options.creationAddress = ReturnAddressInThisTest();
    options.creator = QStringLiteral("main thread ($100)");
    const QStringList lines = TraceStack(captures[0], options).listing.split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ(lines[lines.size() - 2], QStringLiteral(">> created by main thread ($100) at:"));
    EXPECT_TRUE(lines.back().contains(QLatin1String("CreatorLineStandsOnlyBeforeTheCreationCall")));

    options.progress = [](int p) {
        if (p > 650 && p < 1000)
            throw std::runtime_error("progress box gone");
    };
    const QString failed = TraceStack(captures[0], options).listing;
    EXPECT_TRUE(failed.endsWith(QLatin1String("\r\n>> internal error in FillFinalOutput: progress box gone")))
        << failed.toStdString();
    EXPECT_FALSE(failed.contains(QLatin1String("created by"))) << failed.toStdString();
}

TEST(StackTrace, FormatAddressNamesTheFunctionAndUnit)
{
    const std::uint64_t here = ReturnAddressInThisTest();
    const QString text = FormatAddress(here, false, false);
    EXPECT_TRUE(text.contains(QLatin1String(" StackTraceTest "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("FormatAddressNamesTheFunctionAndUnit"))) << text.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("%1 ").arg(here, 16, 16, QLatin1Char('0'))));
}

} // namespace
} // namespace crash::stack
