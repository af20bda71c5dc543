#include "platform/LeftoverNamedObjects.h"
#include "platform/NamedObjectOwner.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedMemory.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using platform::NamedSemaphore;
using platform::SharedMemory;

namespace {

const QString Prefix = QStringLiteral("SkinToolTestLeftover");

QString NameFor(qint64 pid, const QString& prefix = Prefix)
{
    return prefix + QLatin1Char('$') + QString::number(pid, 16);
}

qint64 EndedProcessId()
{
    QProcess process;
    process.start(QStringLiteral("true"), {});
    EXPECT_TRUE(process.waitForStarted(10000));
    const qint64 pid = process.processId();
    EXPECT_TRUE(process.waitForFinished(10000));
    return pid;
}

// Rewrites the owner stamp at the end of the object file `name` in /dev/shm.
template <typename Change> bool Restamp(const QString& name, Change change)
{
    QFile file(QStringLiteral("/dev/shm/") + name);
    platform::NamedObjectOwner owner = platform::CurrentObjectOwner();
    change(owner);
    return file.open(QIODevice::ReadWrite) && file.seek(file.size() - qint64(sizeof owner)) &&
           file.write(reinterpret_cast<const char*>(&owner), sizeof owner) == qint64(sizeof owner);
}

bool Exists(const QString& name)
{
    return SharedMemory::exists(name) || NamedSemaphore::exists(name);
}

} // namespace

TEST(LeftoverNamedObjects, OnlyObjectsOfEndedProcessesAndStaleOnesOfThisIdGo)
{
    QProcess running;
    running.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(running.waitForStarted(10000));
    const qint64 self = platform::CurrentProcessId();
    const qint64 ended = EndedProcessId();

    const QString endedSection = NameFor(ended);
    const QString endedSemaphore = NameFor(ended, Prefix + QStringLiteral("Mtx"));
    const QString runningSection = NameFor(running.processId());
    const QString staleOwn = NameFor(self);
    const QString freshOwn = NameFor(self, Prefix + QStringLiteral("Fresh"));
    const QString otherPrefix = NameFor(ended, QStringLiteral("SkinToolTestKept"));
    const QString notAnId = Prefix + QStringLiteral("$zz");

    std::vector<std::unique_ptr<SharedMemory>> sections;
    for (const QString& name : {endedSection, runningSection, staleOwn, freshOwn, otherPrefix, notAnId}) {
        sections.push_back(SharedMemory::create(name, 16));
        ASSERT_TRUE(sections.back()) << name.toStdString();
    }
    auto semaphore = NamedSemaphore::open(endedSemaphore);
    ASSERT_TRUE(semaphore);
    ASSERT_TRUE(semaphore->lockFor(10000)); // held by its "dead owner", as after a kill
    {
        // Made by an earlier process that had this process's id: its stamp names another start.
        QFile file(QStringLiteral("/dev/shm/") + staleOwn);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        platform::NamedObjectOwner earlier = platform::CurrentObjectOwner();
        earlier.startStamp -= 1;
        ASSERT_TRUE(file.seek(file.size() - qint64(sizeof earlier)));
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(&earlier), sizeof earlier),
                  qint64(sizeof earlier));
    }

    const int removed = platform::RemoveLeftoverNamedObjects(
        {Prefix, Prefix + QStringLiteral("Fresh"), Prefix + QStringLiteral("Mtx")});

    EXPECT_EQ(removed, 3);
    EXPECT_FALSE(Exists(endedSection));
    EXPECT_FALSE(Exists(endedSemaphore));
    EXPECT_FALSE(Exists(staleOwn));
    for (const QString& kept : {runningSection, freshOwn, otherPrefix, notAnId}) {
        EXPECT_TRUE(Exists(kept)) << kept.toStdString();
        SharedMemory::remove(kept);
    }
    running.kill();
    running.waitForFinished(10000);
}

TEST(LeftoverNamedObjects, OnlyAnOwnerThatProvablyEndedMakesALeftover)
{
    QProcess running;
    running.start(QStringLiteral("sleep"), {QStringLiteral("30")});
    ASSERT_TRUE(running.waitForStarted(10000));
    const qint64 ended = EndedProcessId();
    // Made by a process of another PID namespace whose id is free here: it may well still run.
    const QString otherNamespace = NameFor(ended);
    // Made before the machine last started, by a process whose id a running process has now.
    const QString earlierBoot = NameFor(running.processId());
    // Without a stamp nothing tells who made it.
    const QString unstamped = NameFor(ended, Prefix + QStringLiteral("Plain"));

    std::vector<std::unique_ptr<SharedMemory>> sections;
    for (const QString& name : {otherNamespace, earlierBoot}) {
        sections.push_back(SharedMemory::create(name, 16));
        ASSERT_TRUE(sections.back()) << name.toStdString();
    }
    ASSERT_TRUE(Restamp(otherNamespace, [&](platform::NamedObjectOwner& owner) {
        owner.pidNamespace += 1;
        owner.processId = std::uint32_t(ended);
    }));
    ASSERT_TRUE(Restamp(earlierBoot, [&](platform::NamedObjectOwner& owner) {
        owner.bootId[0] ^= 0xff;
        owner.processId = std::uint32_t(running.processId());
    }));
    {
        QFile file(QStringLiteral("/dev/shm/") + unstamped);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        file.write(QByteArray(16, '\0'));
    }

    EXPECT_EQ(platform::RemoveLeftoverNamedObjects({Prefix, Prefix + QStringLiteral("Plain")}), 1);
    EXPECT_TRUE(Exists(otherNamespace));
    EXPECT_FALSE(Exists(earlierBoot));
    EXPECT_TRUE(Exists(unstamped));
    for (const QString& name : {otherNamespace, earlierBoot, unstamped})
        SharedMemory::remove(name);
    running.kill();
    running.waitForFinished(10000);
}
