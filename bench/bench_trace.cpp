// Capture, unwind and symbolise all threads of a process with 22 threads parked in call chains
// about 12 deep across 20 source files: the first trace of the fresh process (cold) and later
// traces (warm, median of five), each against `eu-stack -p PID -s -i -m` on the same process
// (file, line, inlined frames, modules; median of three). Also the peak extra memory of the cold
// trace (growth of the maximum resident size), and warm traces without call-frame information (the
// stack scan with its deep checks and chain choice).
//
//   build-bench/bin/bench_trace
#include "crash/core/stack/StackTrace.h"
#include "platform/ThreadSnapshot.h"
#include "trace/TraceChains.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace tracebench {

volatile int sink = 0;

namespace {
std::mutex mutex;
std::condition_variable changed;
std::vector<std::int64_t> parkedIds;
bool release = false;
} // namespace

[[gnu::noinline]] void ParkThread(int)
{
    std::unique_lock lock(mutex);
    parkedIds.push_back(platform::CurrentThreadId());
    changed.notify_all();
    changed.wait_for(lock, std::chrono::seconds(300), [] { return release; });
}

} // namespace tracebench

namespace {

constexpr int Threads = 22;
constexpr int Depth = 12;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long MaxResidentKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Traced
{
    double ms = 0;
    double captureMs = 0;
    std::size_t frames = 0;
    std::size_t withLines = 0;
};

Traced TraceAll(const std::vector<std::int64_t>& ids, const crash::stack::TraceOptions& options = {})
{
    QElapsedTimer timer;
    timer.start();
    Traced t;
    const auto captures = crash::stack::CaptureThreads(ids);
    t.captureMs = double(timer.nsecsElapsed()) / 1e6;
    for (const auto& capture : captures) {
        const auto trace = crash::stack::TraceStack(capture, options);
        t.frames += trace.entries.size();
        for (const auto& e : trace.entries)
            t.withLines += e.line > 0 ? 1 : 0;
    }
    t.ms = double(timer.nsecsElapsed()) / 1e6;
    return t;
}

double EuStackMs(std::size_t& lines)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("eu-stack"),
                  {QStringLiteral("-p"), QString::number(QCoreApplication::applicationPid()),
                   QStringLiteral("-s"), QStringLiteral("-i"), QStringLiteral("-m")});
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    lines = std::size_t(process.readAllStandardOutput().count('\n'));
    return ms;
}

} // namespace

namespace tracebench {
void Chain0(int, int);
void Chain1(int, int);
void Chain2(int, int);
void Chain3(int, int);
void Chain4(int, int);
void Chain5(int, int);
void Chain6(int, int);
void Chain7(int, int);
void Chain8(int, int);
void Chain9(int, int);
} // namespace tracebench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    using namespace tracebench;
    void (*const starts[])(int, int) = {Chain0, Chain1, Chain2, Chain3, Chain4,
                                        Chain5, Chain6, Chain7, Chain8, Chain9};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back([&starts, t] { starts[t % 10](Depth - 1, t); });
    std::vector<std::int64_t> ids;
    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(30), [] { return parkedIds.size() == Threads; })) {
            std::fprintf(stderr, "threads did not park\n");
            return 1;
        }
        ids = parkedIds;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::size_t euLines = 0;
    const bool haveEuStack = EuStackMs(euLines) >= 0; // warms the file cache for both sides
    const long before = MaxResidentKb();
    const Traced cold = TraceAll(ids);
    const long peakExtraKb = MaxResidentKb() - before;
    std::vector<double> warm, eu;
    Traced last;
    for (int i = 0; i < 5; ++i) {
        last = TraceAll(ids);
        warm.push_back(last.ms);
    }
    // Where call-frame information is missing the scan, its deep checks and the chain choice run
    // (symbol answers already warm, decoded functions not: they are kept per trace).
    crash::stack::TraceOptions scanOnly;
    scanOnly.useCallFrameInfo = false;
    std::vector<double> scanned;
    Traced scan;
    for (int i = 0; i < 5; ++i) {
        scan = TraceAll(ids, scanOnly);
        scanned.push_back(scan.ms);
    }
    for (int i = 0; haveEuStack && i < 3; ++i)
        eu.push_back(EuStackMs(euLines));

    std::printf("threads %d, frames %zu (%zu with lines)\n", Threads, cold.frames, cold.withLines);
    std::printf("cold trace:  %8.2f ms (capture %.2f ms)\n", cold.ms, cold.captureMs);
    std::printf("warm trace:  %8.2f ms (median of 5; %zu frames; last capture %.2f ms)\n", Median(warm),
                last.frames, last.captureMs);
    std::printf("scan-only:   %8.2f ms (median of 5; %zu frames)\n", Median(scanned), scan.frames);
    std::printf("peak extra memory of the cold trace: %.1f MB (target <= 64 MB)\n",
                double(peakExtraKb) / 1024);
    if (!eu.empty()) {
        const double e = Median(eu);
        std::printf("eu-stack -s -i -m: %8.2f ms (median of 3, %zu lines)\n", e, euLines);
        std::printf("cold / eu-stack = %.3f (target <= 0.5)\n", cold.ms / e);
        std::printf("warm / eu-stack = %.3f (target <= 0.05)\n", Median(warm) / e);
    } else {
        std::printf("eu-stack not found (package elfutils): no comparison\n");
    }
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    for (auto& t : threads)
        t.join();
    return 0;
}
