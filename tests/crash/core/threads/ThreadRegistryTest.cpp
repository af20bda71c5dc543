// The thread registry: names, creators and classes as report titles show them, sharing between the
// modules of one process, the bounded lock, and what it leaves behind.
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessThreads.h"
#include "platform/SharedMemory.h"

#include <QFileInfo>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

using crash::ThreadInfo;
using crash::ThreadRegistry;

namespace {

QString UniqueName(const char* what)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("HalvornThreadTest.%1.%2.%3")
        .arg(QLatin1String(what))
        .arg(platform::MainThreadId())
        .arg(++counter);
}

QString Hex(std::int64_t id)
{
    return QLatin1Char('$') + QString::number(id, 16);
}

} // namespace

TEST(ThreadRegistry, MainThreadIsNamedByTheFirstModule)
{
    const auto registry = ThreadRegistry::open(UniqueName("main"));
    ASSERT_TRUE(registry);
    const std::int64_t main = platform::MainThreadId();
    EXPECT_EQ(registry->describe(main), QStringLiteral("main thread (") + Hex(main) + QLatin1Char(')'));
    EXPECT_EQ(registry->describe(main + 1000000), QStringLiteral("thread ") + Hex(main + 1000000));
}

TEST(ThreadRegistry, DescriptionsFromNameClassAndCreator)
{
    const auto registry = ThreadRegistry::open(UniqueName("describe"));
    ASSERT_TRUE(registry);
    ThreadInfo worker;
    worker.threadId = 4242;
    worker.className = QStringLiteral("TWorkerThread");
    worker.creatorThread = platform::MainThreadId();
    worker.creationAddress = 0x401234;
    ASSERT_TRUE(registry->addThread(worker));
    EXPECT_EQ(registry->describe(4242), QStringLiteral("thread $1092 (TWorkerThread)"));

    ASSERT_TRUE(registry->setName(4242, QStringLiteral("crash-test worker")));
    EXPECT_EQ(registry->describe(4242), QStringLiteral("crash-test worker ($1092)"));
    ThreadInfo found;
    ASSERT_EQ(registry->find(4242, found), ThreadRegistry::Lookup::Found);
    EXPECT_EQ(found.creatorThread, platform::MainThreadId());
    EXPECT_EQ(found.creationAddress, 0x401234u);
    EXPECT_EQ(found.className, QStringLiteral("TWorkerThread"));

    // A name the thread gave itself before its creator registered it is kept.
    ASSERT_TRUE(registry->setName(77, QStringLiteral("early")));
    ThreadInfo late;
    late.threadId = 77;
    late.creatorThread = 1;
    ASSERT_TRUE(registry->addThread(late));
    EXPECT_EQ(registry->describe(77), QStringLiteral("early ($4d)"));

    // An ended thread's id may come back for another thread; it must not inherit the name.
    ASSERT_TRUE(registry->removeThread(4242));
    EXPECT_EQ(registry->find(4242, found), ThreadRegistry::Lookup::NotFound);
    EXPECT_EQ(registry->describe(77), QStringLiteral("early ($4d)"));
}

TEST(ThreadRegistry, LongNamesAreCutNotOverflowed)
{
    const auto registry = ThreadRegistry::open(UniqueName("long"));
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->setName(5, QString(500, QLatin1Char('x'))));
    ThreadInfo found;
    ASSERT_EQ(registry->find(5, found), ThreadRegistry::Lookup::Found);
    EXPECT_GT(found.name.size(), 0);
    EXPECT_LT(found.name.size(), 500);
}

TEST(ThreadRegistry, ModulesShareOneRegistryAndTheLastOneRemovesIt)
{
    const QString name = UniqueName("shared");
    auto first = ThreadRegistry::open(name);
    auto second = ThreadRegistry::open(name);
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->setName(99, QStringLiteral("from the first module")));
    EXPECT_EQ(second->describe(99), QStringLiteral("from the first module ($63)"));

    struct stat st
    {
    };
    ASSERT_EQ(stat(("/dev/shm/" + name.toUtf8()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // others may read, only the owner writes

    first.reset();
    EXPECT_TRUE(platform::SharedMemory::exists(name));
    second.reset();
    EXPECT_FALSE(platform::SharedMemory::exists(name));
    EXPECT_FALSE(platform::NamedSemaphore::exists(name));
}

TEST(ThreadRegistry, SectionLeftByAnEarlierProcessIsReplaced)
{
    const QString name = UniqueName("stale");
    {
        auto leftover = platform::SharedMemory::create(name, 4096, nullptr, true);
        ASSERT_TRUE(leftover);
        std::memset(leftover->data(), 0xab, 4096);
    }
    const auto registry = ThreadRegistry::open(name);
    ASSERT_TRUE(registry);
    const std::int64_t main = platform::MainThreadId();
    EXPECT_EQ(registry->describe(main), QStringLiteral("main thread (") + Hex(main) + QLatin1Char(')'));
}

TEST(ThreadRegistry, BusyRegistryGivesThePlainDescriptionInsteadOfWaiting)
{
    const QString name = UniqueName("busy");
    const auto registry = ThreadRegistry::open(name);
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->setName(12, QStringLiteral("named")));
    auto holder = platform::NamedSemaphore::open(name);
    ASSERT_TRUE(holder);
    ASSERT_TRUE(holder->lockFor(10000));
    ThreadInfo found;
    EXPECT_EQ(registry->find(12, found), ThreadRegistry::Lookup::Busy);
    EXPECT_EQ(registry->describe(12), QStringLiteral("thread $c"));
    EXPECT_FALSE(registry->setName(12, QStringLiteral("other")));
    holder->unlock();
    EXPECT_EQ(registry->describe(12), QStringLiteral("named ($c)"));
}

TEST(ThreadRegistry, ReporterThreadsAndDashAreHidden)
{
    EXPECT_TRUE(ThreadRegistry::isHiddenName(QStringLiteral("-")));
    EXPECT_TRUE(ThreadRegistry::isHiddenName(QLatin1String(crash::AntiFreezeThreadName)));
    EXPECT_TRUE(ThreadRegistry::isHiddenName(QLatin1String(crash::HandleExceptionThreadName)));
    EXPECT_TRUE(ThreadRegistry::isHiddenName(QLatin1String(crash::TraceProcessThreadName)));
    EXPECT_FALSE(ThreadRegistry::isHiddenName(QStringLiteral("main thread")));
    EXPECT_FALSE(ThreadRegistry::isHiddenName(QString()));
}

TEST(ThreadRegistry, ThreadsRegisterAndLeaveConcurrently)
{
    const auto registry = ThreadRegistry::open(UniqueName("concurrent"));
    ASSERT_TRUE(registry);
    constexpr int Threads = 8, PerThread = 50;
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PerThread; ++i) {
                const std::int64_t id = 100000 + t * 1000 + i;
                ThreadInfo info;
                info.threadId = id;
                info.name = QStringLiteral("w%1").arg(id);
                registry->addThread(info, 5000);
                if (i % 2)
                    registry->removeThread(id, 5000);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < Threads; ++t) {
        for (int i = 0; i < PerThread; ++i) {
            const std::int64_t id = 100000 + t * 1000 + i;
            ThreadInfo found;
            const auto result = registry->find(id, found, 5000);
            if (i % 2) {
                EXPECT_EQ(result, ThreadRegistry::Lookup::NotFound) << id;
            } else {
                ASSERT_EQ(result, ThreadRegistry::Lookup::Found) << id;
                EXPECT_EQ(found.name, QStringLiteral("w%1").arg(id));
            }
        }
    }
}

TEST(ThreadRegistry, ProcessRegistryListsThisProcess)
{
    ThreadRegistry* registry = ThreadRegistry::instance();
    ASSERT_TRUE(registry);
    EXPECT_EQ(ThreadRegistry::sectionName(0x1a2b), QStringLiteral("HalvornThreadNameBuf$1a2b"));
    const std::int64_t main = platform::MainThreadId();
    EXPECT_EQ(registry->describe(main), QStringLiteral("main thread (") + Hex(main) + QLatin1Char(')'));
    const std::vector<std::int64_t> ids = platform::ThreadIdsOfProcess();
    EXPECT_NE(std::find(ids.begin(), ids.end(), main), ids.end());
    // A thread started now shows up as an id that was not there before.
    std::atomic<bool> started{false};
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        started = true;
        while (!stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!started)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<std::int64_t> withWorker = platform::ThreadIdsOfProcess();
    EXPECT_TRUE(std::any_of(withWorker.begin(), withWorker.end(), [&](std::int64_t id) {
        return std::find(ids.begin(), ids.end(), id) == ids.end();
    }));
    EXPECT_TRUE(std::is_sorted(withWorker.begin(), withWorker.end()));
    stop = true;
    worker.join();
}
