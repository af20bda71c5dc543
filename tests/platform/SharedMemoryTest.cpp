#include "platform/SharedMemory.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessInfo.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using platform::NamedSemaphore;
using platform::SharedMemory;

namespace {

QString UniqueName(const char* what)
{
    return QStringLiteral("SkinToolTest%1$%2")
        .arg(QLatin1String(what))
        .arg(platform::CurrentProcessId(), 0, 16);
}

} // namespace

TEST(SharedMemory, CreatedSectionIsSharedUntilRemoved)
{
    const QString name = UniqueName("Section");
    SharedMemory::Result result{};
    auto created = SharedMemory::create(name, 64, &result);
    ASSERT_TRUE(created);
    EXPECT_EQ(result, SharedMemory::Result::Ok);
    std::memcpy(created->data(), "published", 10);

    EXPECT_FALSE(SharedMemory::create(name, 64, &result));
    EXPECT_EQ(result, SharedMemory::Result::AlreadyExists);

    auto opened = SharedMemory::open(name);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->size(), 64u);
    EXPECT_STREQ(static_cast<const char*>(opened->data()), "published");

    created.reset(); // unmapping does not remove the section
    EXPECT_TRUE(SharedMemory::exists(name));
    EXPECT_TRUE(SharedMemory::remove(name));
    EXPECT_FALSE(SharedMemory::exists(name));
    EXPECT_STREQ(static_cast<const char*>(opened->data()), "published"); // mapping still valid
    EXPECT_FALSE(SharedMemory::open(name, &result));
    EXPECT_EQ(result, SharedMemory::Result::NotFound);
}

TEST(SharedMemory, SectionOpenToOthersIsRefused)
{
    const QString name = UniqueName("Open");
    const QString file = QStringLiteral("/dev/shm/") + name;
    if (!QFileInfo(QStringLiteral("/dev/shm")).isDir())
        GTEST_SKIP() << "no /dev/shm";
    ASSERT_TRUE(SharedMemory::create(name, 16));
    ASSERT_TRUE(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    SharedMemory::Result result{};
    EXPECT_FALSE(SharedMemory::open(name, &result));
    EXPECT_EQ(result, SharedMemory::Result::Denied);
    SharedMemory::remove(name);
}

TEST(SharedMemory, NamesThatAreNotOneComponentAreRefused)
{
    EXPECT_FALSE(SharedMemory::create(QStringLiteral("a/b"), 8));
    EXPECT_FALSE(SharedMemory::create(QString(), 8));
    EXPECT_FALSE(SharedMemory::create(UniqueName("Empty"), 0));
}

TEST(NamedSemaphore, ExcludesThreadsAndNoticesRemoval)
{
    const QString name = UniqueName("Mutex");
    auto first = NamedSemaphore::open(name);
    ASSERT_TRUE(first);
    EXPECT_TRUE(NamedSemaphore::exists(name));
    EXPECT_TRUE(first->isCurrent());

    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            auto mine = NamedSemaphore::open(name);
            for (int i = 0; i < 500; ++i) {
                ASSERT_TRUE(mine->lockFor(10000));
                const int seen = counter;
                std::this_thread::yield();
                counter = seen + 1;
                mine->unlock();
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(counter, 2000);

    ASSERT_TRUE(first->lockFor(10000));
    EXPECT_TRUE(NamedSemaphore::remove(name));
    EXPECT_FALSE(first->isCurrent());
    first->unlock();
    auto second = NamedSemaphore::open(name); // a new semaphore under the old name
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isCurrent());
    EXPECT_FALSE(first->isCurrent());
    NamedSemaphore::remove(name);
    EXPECT_FALSE(NamedSemaphore::exists(name));
}

TEST(ProcessInfo, IdAndStartStampAreStable)
{
    EXPECT_NE(platform::CurrentProcessId(), 0u);
    EXPECT_NE(platform::ProcessStartStamp(), 0u);
    EXPECT_EQ(platform::ProcessStartStamp(), platform::ProcessStartStamp());
}
