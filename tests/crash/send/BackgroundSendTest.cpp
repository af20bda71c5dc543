// The background send: the caller returns at once, the send runs on its own thread with its own
// references, and the registry waits for it.
#include "SendTestSupport.h"
#include "crash/core/report/ReportServices.h"
#include "crash/core/report/SendsInProgress.h"
#include "crash/send/SendProcedure.h"
#include "support/MessageBoxRecorder.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace crash::send;

namespace {

TEST(BackgroundSend, RunsOnItsOwnThreadWithItsOwnReferences)
{
    sendtest::MailHandlerSandbox sandbox{QString{}};
    testsupport::MessageBoxRecorder boxes;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> otherThread{false};
    const auto caller = std::this_thread::get_id();

    DeliveryTransports transports;
    transports.mailClient = [&](const MailClientRequest& r) {
        released.wait();
        otherThread = std::this_thread::get_id() != caller;
        return r.subject.isEmpty() ? 0 : 1;
    };

    std::weak_ptr<crash::ExceptionReport> watch;
    {
        SendJob job;
        job.report = sendtest::MakeReport();
        job.reportText = sendtest::SampleReportText();
        job.inBackground = true;
        watch = job.report;
        EXPECT_TRUE(SendBugReport(job, transports));
    }
    // The caller's references are gone; the thread keeps the report alive.
    EXPECT_FALSE(watch.expired());
    EXPECT_FALSE(WaitForBackgroundSends(50));
    release.set_value();
    ASSERT_TRUE(WaitForBackgroundSends(10000));
    EXPECT_TRUE(otherThread);
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(BackgroundSend, CountsAsInProgressUntilItHasReportedItsEnd)
{
    sendtest::MailHandlerSandbox sandbox{QString{}};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    DeliveryTransports transports;
    transports.mailClient = [&](const MailClientRequest&) {
        released.wait();
        return 0;
    };
    std::atomic<bool> ended{false};
    SendJob job;
    job.report = sendtest::MakeReport();
    job.reportText = sendtest::SampleReportText();
    job.inBackground = true;
    job.silent = true;
    job.finished = [&](bool delivered) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a save left waiting takes a moment
        ended = !delivered;
    };
    ASSERT_TRUE(SendBugReport(job, transports));
    EXPECT_EQ(crash::SendsInProgress::count(), 1);
    EXPECT_FALSE(crash::SendsInProgress::waitForAll(std::chrono::milliseconds(50)));
    release.set_value();
    ASSERT_TRUE(crash::SendsInProgress::waitForAll(std::chrono::seconds(20)));
    EXPECT_TRUE(ended) << "the end was reported before the send stopped counting";
    ASSERT_TRUE(WaitForBackgroundSends(10000));
}

TEST(BackgroundSend, RegisteredServiceSendsSeveralReportsAtOnce)
{
    sendtest::MailHandlerSandbox sandbox{QString{}};
    testsupport::MessageBoxRecorder boxes;
    RegisterReportDelivery();
    ASSERT_TRUE(crash::Services().send);
    std::vector<std::shared_ptr<crash::ExceptionReport>> reports;
    for (int i = 0; i < 4; ++i) {
        crash::SendRequest request;
        request.report = sendtest::MakeReport();
        request.reportText = sendtest::SampleReportText();
        request.inBackground = true;
        reports.push_back(request.report);
        EXPECT_TRUE(crash::Services().send(request));
    }
    ASSERT_TRUE(WaitForBackgroundSends(60000));
    // No composer and no mailto handler: each send failed and said so.
    EXPECT_EQ(boxes.texts().size(), 4);
    for (const auto& report : reports)
        EXPECT_FALSE(report->wasSent());
    crash::Services().send = {};
}

} // namespace
