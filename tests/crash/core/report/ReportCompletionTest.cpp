// Completion: in a thread of its own while readers wait, inline with the please-wait box,
// cancelled between items, phase 4, and a report dropped while its completion runs.
#include "FakeReportSources.h"
#include "crash/core/report/ReportAssembler.h"
#include "crash/core/report/ReportServices.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace crash;
using reporttest::FakeReportSources;
using reporttest::MakeReport;

namespace {

ReportRequest OwnThread()
{
    ReportRequest request;
    request.crashed.threadId = 0x100;
    request.completeInOwnThread = true;
    return request;
}

class RecordingBox : public ProgressAlert
{
public:
    struct Log
    {
        std::mutex lock;
        QStringList steps;
        bool shown = false, closed = false;
        int done = 0;
    };
    explicit RecordingBox(std::shared_ptr<Log> log) : m_log(std::move(log)) {}
    void addStep(const QString& text, qint64) override
    {
        std::lock_guard guard(m_log->lock);
        m_log->steps.append(text);
    }
    void clearSteps() override {}
    void show(bool) override { m_log->shown = true; }
    void close() override { m_log->closed = true; }
    void setCurrentStep(int) override {}
    void stepDone() override { ++m_log->done; }
    void setStepPosition(int) override {}
    int currentStep() const override { return 0; }
    int stepPosition() const override { return 0; }

private:
    std::shared_ptr<Log> m_log;
};

} // namespace

TEST(ReportCompletion, RunsInItsOwnThreadWhileReadersWait)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102};
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> tracedElsewhere{true};
    sources.onTrace = [&](std::int64_t) {
        if (std::this_thread::get_id() == caller)
            tracedElsewhere = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    auto report = MakeReport();
    std::mutex lock;
    std::vector<bool> completeFlags;
    report->addCallback([&](bool complete, const QString&) {
        std::lock_guard guard(lock);
        completeFlags.push_back(complete);
    });
    ReportAssembler(sources).build(*report, OwnThread());

    const QString text = report->reportText(true);
    EXPECT_TRUE(report->isComplete());
    EXPECT_TRUE(tracedElsewhere);
    EXPECT_FALSE(text.contains(QStringLiteral("will be calculated soon")));
    report.reset(); // joins the completion thread: its last callback has run
    std::lock_guard guard(lock);
    ASSERT_FALSE(completeFlags.empty());
    EXPECT_TRUE(completeFlags.back());
    EXPECT_FALSE(completeFlags.front()); // each finished section was announced before the end
}

TEST(ReportCompletion, CancellationStopsBetweenItemsAndReadersStillReturn)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102, 0x103};
    auto report = MakeReport();
    sources.onTrace = [&](std::int64_t) { report->cancelCompletion(); };
    ReportAssembler(sources).build(*report, OwnThread());
    report->waitForCompletion();
    EXPECT_FALSE(report->isComplete());
    EXPECT_EQ(sources.traceOrder.size(), 1u);
    EXPECT_EQ(report->header().field(QStringLiteral("callstack crc")),
              QStringLiteral("will be calculated soon"));
    EXPECT_TRUE(report->sections()
                    .field(QStringLiteral("thread $103:"))
                    .contains(QStringLiteral("will be calculated soon")));
}

TEST(ReportCompletion, ACallbackAskingForTheCompleteTextDoesNotWaitForItself)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101};
    auto report = MakeReport();
    std::atomic<int> calls{0};
    ExceptionReport* raw = report.get(); // valid until the destructor has joined the completion
    report->addCallback([&calls, raw](bool, const QString&) {
        raw->reportText(true); // runs in the completing thread
        ++calls;
    });
    const auto started = std::chrono::steady_clock::now();
    ReportAssembler(sources).build(*report, OwnThread());
    report->waitForCompletion();
    EXPECT_TRUE(report->isComplete());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60)); // not the reader's bound
    report.reset();
    EXPECT_GT(calls, 0);
}

TEST(ReportCompletion, TheCallersCancelFlagStopsItToo)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102};
    std::atomic<bool> stop{false};
    sources.onTrace = [&](std::int64_t) { stop = true; };
    ReportRequest request = OwnThread();
    request.cancel = &stop;
    auto report = MakeReport();
    ReportAssembler(sources).build(*report, request);
    report->waitForCompletion();
    EXPECT_FALSE(report->isComplete());
    EXPECT_EQ(sources.traceOrder.size(), 1u);
}

TEST(ReportCompletion, PhaseFourOnceWhenTheReportWasReadyToPresent)
{
    FakeReportSources sources;
    std::atomic<int> calls{0};
    auto ready = MakeReport();
    ready->setPhase(3);
    ready->setPhaseFourHandler([&](ExceptionReport& r) {
        EXPECT_TRUE(r.isComplete());
        ++calls;
    });
    ReportAssembler(sources).build(*ready, OwnThread());
    ready->waitForCompletion();
    EXPECT_EQ(ready->phase(), 4);
    ready->markComplete();
    ready.reset(); // joins the completion thread, which calls the handler
    EXPECT_EQ(calls, 1);

    auto early = MakeReport();
    early->setPhase(2);
    early->setPhaseFourHandler([&](ExceptionReport&) { ++calls; });
    ReportAssembler(sources).build(*early, OwnThread());
    early->waitForCompletion();
    EXPECT_EQ(early->phase(), 2);
    early.reset();
    EXPECT_EQ(calls, 1);
}

TEST(ReportCompletion, DroppingTheReportStopsItsCompletion)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102, 0x103, 0x104, 0x105};
    std::atomic<int> traced{0};
    sources.onTrace = [&](std::int64_t) {
        ++traced;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    auto report = MakeReport();
    ReportAssembler(sources).build(*report, OwnThread());
    while (traced == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    report.reset(); // cancels and joins; the thread must not touch the freed report
    EXPECT_LT(traced, 6);
}

TEST(ReportCompletion, InlineCompletionShowsThePleaseWaitBox)
{
    auto log = std::make_shared<RecordingBox::Log>();
    const auto saved = Services().progress;
    Services().progress = [log](const QString&, const QString&) {
        return std::make_unique<RecordingBox>(log);
    };
    FakeReportSources sources;
    sources.ids = {0x100, 0x101};
    auto report = MakeReport();
    ReportRequest request;
    request.crashed.threadId = 0x100;
    ReportAssembler(sources).build(*report, request); // not deferred, not in its own thread
    Services().progress = saved;

    EXPECT_TRUE(report->isComplete());
    EXPECT_TRUE(log->shown);
    EXPECT_TRUE(log->closed);
    EXPECT_EQ(log->steps, (QStringList{QStringLiteral("thread $100:"), QStringLiteral("thread $101:")}));
    EXPECT_EQ(log->done, 2);
}
