// A report of this very process, with the real tracer, thread registry and plugins: every thread is
// listed under its registered name, every stack is traced, and the same crash saved twice is folded.
#include "FakeReportSources.h"
#include "crash/core/report/ReportBuilder.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/ProcessThreads.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace crash;
using reporttest::MakeReport;

namespace {

class Workers
{
public:
    explicit Workers(int count)
    {
        const std::vector<std::int64_t> before = platform::ThreadIdsOfProcess();
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this] {
                std::unique_lock lock(m_lock);
                m_wake.wait_for(lock, std::chrono::seconds(60), [this] { return m_stop; });
            });
        // Every worker must exist before the report lists the threads.
        for (int spin = 0; spin < 5000 && int(m_ids.size()) < count; ++spin) {
            m_ids.clear();
            for (std::int64_t id : platform::ThreadIdsOfProcess()) {
                if (std::find(before.begin(), before.end(), id) == before.end())
                    m_ids.push_back(id);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~Workers()
    {
        {
            std::lock_guard lock(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        for (auto& thread : m_threads)
            thread.join();
    }
    const std::vector<std::int64_t>& ids() const { return m_ids; }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::vector<std::thread> m_threads;
    std::vector<std::int64_t> m_ids;
};

std::shared_ptr<ExceptionReport> ReportOfThisProcess(const QString& file)
{
    auto report = MakeReport();
    report->setBugRepFile(file);
    report->setPlugins(QString()); // the process and hardware lists are tested with the plugins
    ReportRequest request;
    request.crashed.threadId = platform::MainThreadId();
    BuildReport(*report, request);
    CompleteReport(*report);
    return report;
}

} // namespace

TEST(LiveReport, EveryThreadListedByNameAndTraced)
{
    Workers workers(3);
    ASSERT_EQ(workers.ids().size(), 3u);
    ThreadRegistry* registry = ThreadRegistry::instance();
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->setName(workers.ids()[0], QStringLiteral("report worker")));
    ASSERT_TRUE(registry->setName(workers.ids()[1], QLatin1String(HandleExceptionThreadName)));

    testsupport::TempDir dir;
    const QString file = dir.file(QStringLiteral("bugreport.txt"));
    std::shared_ptr<ExceptionReport> reports[2];
    for (auto& report : reports) {
        report = ReportOfThisProcess(file); // one call site: the same crash twice
        ASSERT_TRUE(SaveReportFile(*report, {}, true));
    }
    registry->removeThread(workers.ids()[0]);
    registry->removeThread(workers.ids()[1]);

    const ExceptionReport& report = *reports[0];
    EXPECT_TRUE(report.isComplete());
    // A sample for a person to read.
    QDir().mkpath(testsupport::ArtifactDir());
    QFile sample(testsupport::ArtifactDir() + QStringLiteral("/live-report.txt"));
    if (sample.open(QIODevice::WriteOnly))
        sample.write(report.reportText().toUtf8());
    const QString main = QStringLiteral("main thread ($%1):").arg(platform::MainThreadId(), 0, 16);
    const auto sections = report.sections().items();
    ASSERT_FALSE(sections.isEmpty());
    EXPECT_EQ(sections.first().first, main);
    EXPECT_TRUE(
        report.sections().contains(QStringLiteral("report worker ($%1):").arg(workers.ids()[0], 0, 16)));
    EXPECT_TRUE(report.sections().contains(QStringLiteral("thread $%1:").arg(workers.ids()[2], 0, 16)));
    EXPECT_FALSE(report.reportText().contains(QLatin1String(HandleExceptionThreadName)));
    EXPECT_FALSE(report.reportText().contains(QStringLiteral("will be calculated soon")));
    EXPECT_FALSE(report.sections().field(main).isEmpty());
    EXPECT_EQ(report.header().field(QStringLiteral("callstack crc")).size(), 31);
    EXPECT_EQ(report.header().field(QStringLiteral("callstack crc")).left(20),
              reports[1]->header().field(QStringLiteral("callstack crc")).left(20));

    const QByteArray saved = testsupport::ReadAll(file);
    EXPECT_EQ(saved.count("\r\ndate/time") + (saved.startsWith("date/time") ? 1 : 0), 1);
    EXPECT_TRUE(saved.contains("\r\ncount "));
}
