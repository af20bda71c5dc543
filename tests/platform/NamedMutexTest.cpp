#include "platform/NamedMutex.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <sys/file.h>
#include <unistd.h>

using platform::NamedMutex;

namespace {

// Another process holding a handle: the tool itself, which keeps its single-instance mutex.
struct PrefixScope
{
    testsupport::TempDir dir;
    testsupport::ScopedPrefix inPrefix{dir.path()};
};

} // namespace

TEST(NamedMutex, SecondCreateSeesItExistsUntilEveryHandleIsClosed)
{
    PrefixScope scope;
    auto first = NamedMutex::create("Mirelune 11 Skin Tool", true);
    ASSERT_TRUE(first->isValid());
    EXPECT_EQ(first->lastError(), platform::ERROR_SUCCESS);
    EXPECT_TRUE(first->owned());

    auto second = NamedMutex::create("Mirelune 11 Skin Tool", true);
    EXPECT_TRUE(second->isValid());
    EXPECT_EQ(second->lastError(), platform::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(second->owned()) << "initial ownership goes to the creator only";

    EXPECT_EQ(NamedMutex::create("Another name", false)->lastError(), platform::ERROR_SUCCESS);

    first.reset();
    EXPECT_EQ(NamedMutex::create("Mirelune 11 Skin Tool", false)->lastError(), platform::ERROR_ALREADY_EXISTS)
        << "the second handle still keeps it alive";
    second.reset();
    EXPECT_EQ(NamedMutex::create("Mirelune 11 Skin Tool", false)->lastError(), platform::ERROR_SUCCESS);
}

TEST(NamedMutex, NamesArePerPrefix)
{
    PrefixScope a;
    auto inA = NamedMutex::create("Same", true);
    PrefixScope b;
    EXPECT_EQ(NamedMutex::create("Same", true)->lastError(), platform::ERROR_SUCCESS);
    EXPECT_NE(NamedMutex::namespaceFolder(), QString());
}

namespace {

// A test's own temporary folder and no runtime folder, so the objects land in $TMPDIR.
struct SharedTmpScope
{
    SharedTmpScope()
        : oldTmp(qgetenv("TMPDIR")), oldRuntime(qgetenv("XDG_RUNTIME_DIR")),
          hadRuntime(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
    {
        qputenv("TMPDIR", tmp.path().toUtf8());
        qunsetenv("XDG_RUNTIME_DIR");
    }
    ~SharedTmpScope()
    {
        qputenv("TMPDIR", oldTmp);
        if (hadRuntime)
            qputenv("XDG_RUNTIME_DIR", oldRuntime);
    }
    testsupport::TempDir tmp;
    QByteArray oldTmp, oldRuntime;
    bool hadRuntime;
};

// Gives a path and everything below it to the account "nobody" (the tests run as root).
bool GiveToNobody(const QString& path)
{
    return QProcess::execute(QStringLiteral("chown"),
                             {QStringLiteral("-R"), QStringLiteral("nobody"), path}) == 0;
}

} // namespace

TEST(NamedMutex, FoldersAndFilesOfAnotherUserAreNeverUsed)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a folder to another account";
    PrefixScope prefix;
    SharedTmpScope tmp;
    const QString name = QStringLiteral("Mirelune 11 Skin Tool");

    // Another account made the folder first and holds a handle of the tool's mutex in it.
    const QString ours = NamedMutex::namespaceFolder();
    ASSERT_FALSE(ours.isEmpty());
    const QString root = QFileInfo(ours).path();
    ASSERT_TRUE(QFileInfo(root).fileName().startsWith(QStringLiteral("skintool-objects-")));
    {
        auto made = NamedMutex::create(name, true);
    }
    ASSERT_TRUE(GiveToNobody(root));
    QFile::setPermissions(root, QFile::Permissions(0x7777));
    QFile handles(ours + QStringLiteral("/Mirelune%2011%20Skin%20Tool.handles"));
    ASSERT_TRUE(handles.open(QIODevice::ReadWrite));
    ASSERT_EQ(::flock(handles.handle(), LOCK_SH), 0);

    auto first = NamedMutex::create(name, true);
    EXPECT_TRUE(first->isValid());
    EXPECT_EQ(first->lastError(), platform::ERROR_SUCCESS)
        << "a lock in another user's folder stopped the tool";
    EXPECT_TRUE(first->owned());
    const QString used = NamedMutex::namespaceFolder();
    EXPECT_FALSE(used.startsWith(root + QLatin1Char('/')));
    // Our own copies still meet in the folder chosen instead.
    EXPECT_EQ(NamedMutex::create(name, false)->lastError(), platform::ERROR_ALREADY_EXISTS);

    // A folder of ours that others may write to is passed over too.
    first.reset();
    const QString usedRoot = QFileInfo(used).path();
    QFile::setPermissions(usedRoot, QFile::Permissions(0x7777));
    EXPECT_NE(QFileInfo(NamedMutex::namespaceFolder()).path(), usedRoot);
}

TEST(NamedMutex, ALockFileOfAnotherUserIsRefusedWithAnError)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand a file to another account";
    PrefixScope prefix;
    SharedTmpScope tmp;
    {
        auto made = NamedMutex::create(QStringLiteral("Guarded"), true);
    }
    const QString file = NamedMutex::namespaceFolder() + QStringLiteral("/Guarded.handles");
    ASSERT_TRUE(QFileInfo::exists(file));
    ASSERT_TRUE(GiveToNobody(file));

    auto mutex = NamedMutex::create(QStringLiteral("Guarded"), true);
    EXPECT_FALSE(mutex->isValid());
    EXPECT_NE(mutex->lastError(), platform::ERROR_SUCCESS);
    EXPECT_NE(mutex->lastError(), platform::ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(mutex->owned());
}

TEST(NamedMutex, AGuardHeldByAHangingProcessEndsTheWaitWithAnError)
{
    PrefixScope scope;
    const QString guard = NamedMutex::namespaceFolder() + "/SkinToolTestGuard.guard";
    QFile held(guard);
    ASSERT_TRUE(held.open(QIODevice::ReadWrite));
    ASSERT_TRUE(held.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_EQ(::flock(held.handle(), LOCK_EX), 0); // a process stopped in the middle of a create

    auto creating =
        std::async(std::launch::async, [] { return NamedMutex::create("SkinToolTestGuard", true); });
    const bool returned = creating.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    ::flock(held.handle(), LOCK_UN); // lets a waiting create go on, so the test ends either way
    EXPECT_TRUE(returned) << "the create waited for the guard without a bound";
    const auto mutex = creating.get();
    EXPECT_FALSE(mutex->isValid());
    EXPECT_EQ(mutex->lastError(), uint32_t(ETIMEDOUT));
}
