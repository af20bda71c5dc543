#include "platform/PrivateFolder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using platform::PrivateFolder;
using testsupport::ReadAll;

namespace {

mode_t ModeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : mode_t(-1);
}

void Link(const QString& target, const QString& link)
{
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0);
}

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_old(qgetenv(name)), m_had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnv() { m_had ? qputenv(m_name, m_old) : qunsetenv(m_name); }

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had;
};

} // namespace

TEST(PrivateFolder, OpenCreatesAnOwnerOnlyFolderAndRefusesLinksAndOpenFolders)
{
    testsupport::TempDir dir;
    auto created = PrivateFolder::open(dir.file("own"));
    ASSERT_TRUE(created);
    EXPECT_EQ(ModeOf(dir.file("own")), mode_t(S_IFDIR | 0700));
    EXPECT_TRUE(PrivateFolder::open(dir.file("own"))) << "this user's private folder is reused";

    QDir().mkpath(dir.file("elsewhere"));
    Link(dir.file("elsewhere"), dir.file("link"));
    EXPECT_FALSE(PrivateFolder::open(dir.file("link")));

    QDir().mkpath(dir.file("open"));
    ::chmod(QFile::encodeName(dir.file("open")).constData(), 0755);
    EXPECT_FALSE(PrivateFolder::open(dir.file("open")));
    dir.write("plain", "x");
    EXPECT_FALSE(PrivateFolder::open(dir.file("plain")));
}

TEST(PrivateFolder, FilesAreCreatedExclusivelyOwnerOnlyAndNeverThroughALink)
{
    testsupport::TempDir dir;
    auto folder = PrivateFolder::open(dir.file("own"));
    ASSERT_TRUE(folder);
    const mode_t oldMask = ::umask(0);
    const QString written = folder->writeFile("report.txt", "text");
    ::umask(oldMask);
    ASSERT_EQ(written, dir.file("own/report.txt"));
    EXPECT_EQ(ModeOf(written), mode_t(S_IFREG | 0600));
    EXPECT_EQ(ReadAll(written), "text");

    EXPECT_TRUE(folder->writeFile("report.txt", "again").isEmpty()) << "an existing name is not written over";
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(folder->writeFreeName("report.txt", "again"), dir.file("own/2-report.txt"));

    const QString victim = dir.write("victim.txt", "keep");
    Link(victim, dir.file("own/shot.png"));
    EXPECT_LT(folder->createFile("shot.png"), 0);
    EXPECT_EQ(ReadAll(victim), "keep");

    EXPECT_LT(folder->createFile("../escape"), 0);
    EXPECT_LT(folder->createFile(".."), 0);
    EXPECT_TRUE(folder->filePath("a/b").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir.file("escape")));
}

TEST(PrivateFolder, RemovalTakesLinksThemselvesNeverWhatTheyPointAt)
{
    testsupport::TempDir dir;
    const QString victimFile = dir.write("victim/data.txt", "keep");
    auto folder = PrivateFolder::open(dir.file("own"));
    ASSERT_TRUE(folder);
    dir.write("own/tree/a/b/file.txt", "x");
    Link(dir.file("victim"), dir.file("own/tree/a/folderLink"));
    Link(victimFile, dir.file("own/tree/fileLink"));
    Link(dir.file("victim"), dir.file("own/topLink"));

    EXPECT_TRUE(folder->remove("tree"));
    EXPECT_TRUE(folder->remove("topLink"));
    EXPECT_TRUE(folder->remove("absent"));
    EXPECT_TRUE(QDir(dir.file("own")).isEmpty());
    EXPECT_EQ(ReadAll(victimFile), "keep");
}

TEST(PrivateFolder, TaskFoldersGoWhenDoneAndStayWhileHeldOrKept)
{
    testsupport::TempDir dir;
    auto work = PrivateFolder::open(dir.file("work"));
    ASSERT_TRUE(work);
    QString donePath;
    {
        auto task = work->createTaskFolder("send-");
        ASSERT_TRUE(task);
        donePath = task->path();
        EXPECT_EQ(ModeOf(donePath), mode_t(S_IFDIR | 0700));
        EXPECT_TRUE(QFileInfo(donePath).fileName().startsWith("send-"));
        task->writeFile("a.txt", "a");
        dir.write("work/" + QFileInfo(donePath).fileName() + "/sub/b.txt", "b");
    }
    EXPECT_FALSE(QFileInfo::exists(donePath));

    auto live = work->createTaskFolder("send-");
    auto kept = work->createTaskFolder("send-");
    ASSERT_TRUE(live && kept);
    live->writeFile("a.txt", "a");
    kept->writeFile("b.txt", "b");
    const QString keptPath = kept->path();
    kept->keep();
    kept.reset();
    EXPECT_TRUE(QFileInfo::exists(keptPath + "/b.txt")) << "kept for a program still reading it";
    dir.write("work/stray.txt", "x");
    const QString victimFile = dir.write("victim/data.txt", "keep");
    Link(dir.file("victim"), dir.file("work/send-linked"));

    work->removeLeftovers();
    EXPECT_FALSE(QFileInfo::exists(dir.file("work/send-linked")) ||
                 QFileInfo(dir.file("work/send-linked")).isSymLink());
    EXPECT_EQ(ReadAll(victimFile), "keep");
    EXPECT_FALSE(QFileInfo::exists(keptPath));
    EXPECT_FALSE(QFileInfo::exists(dir.file("work/stray.txt")));
    EXPECT_TRUE(QFileInfo::exists(live->path() + "/a.txt")) << "a live task's folder is not taken";
}

TEST(PrivateFolder, WorkFolderPrefersTheSessionFolderElseTheTemporaryOne)
{
    testsupport::TempDir dir;
    QDir().mkpath(dir.file("runtime"));
    ::chmod(QFile::encodeName(dir.file("runtime")).constData(), 0700);
    QDir().mkpath(dir.file("tmp"));
    ::chmod(QFile::encodeName(dir.file("tmp")).constData(), 01777);
    ScopedEnv tmpdir("TMPDIR", QFile::encodeName(dir.file("tmp")));
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.file("runtime")));
        auto work = PrivateFolder::openWorkFolder("tool.Halvorn");
        ASSERT_TRUE(work);
        EXPECT_EQ(work->path(), dir.file("runtime/tool.Halvorn"));
    }
    const QString named = dir.file("tmp/tool.Halvorn-" + QString::number(::geteuid()));
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.file("tmp"))); // shared: not used
        auto work = PrivateFolder::openWorkFolder("tool.Halvorn");
        ASSERT_TRUE(work);
        EXPECT_EQ(work->path(), named);
        EXPECT_EQ(ModeOf(named), mode_t(S_IFDIR | 0700));
    }
    // Something else at the name: a fresh folder, gone again when done.
    QDir().rmdir(named);
    QDir().mkpath(dir.file("victim"));
    Link(dir.file("victim"), named);
    ScopedEnv noRuntime("XDG_RUNTIME_DIR", QByteArray());
    QString freshPath;
    {
        auto work = PrivateFolder::openWorkFolder("tool.Halvorn");
        ASSERT_TRUE(work);
        freshPath = work->path();
        EXPECT_TRUE(freshPath.startsWith(dir.file("tmp/tool.Halvorn-"))) << freshPath.toStdString();
        EXPECT_NE(freshPath, named);
        EXPECT_EQ(ModeOf(freshPath), mode_t(S_IFDIR | 0700));
    }
    EXPECT_FALSE(QFileInfo::exists(freshPath));
    EXPECT_TRUE(QFileInfo(named).isSymLink());
    EXPECT_FALSE(PrivateFolder::openWorkFolder("a/b"));

    // A temporary folder of this user's that others may read but not write will do too.
    QDir().mkpath(dir.file("own-tmp"));
    ::chmod(QFile::encodeName(dir.file("own-tmp")).constData(), 0755);
    ScopedEnv ownTmp("TMPDIR", QFile::encodeName(dir.file("own-tmp")));
    const auto work = PrivateFolder::openWorkFolder("tool.Halvorn");
    ASSERT_TRUE(work);
    EXPECT_EQ(work->path(), dir.file("own-tmp/tool.Halvorn-" + QString::number(::geteuid())));
}

TEST(PrivateFolder, RemovalNeverFollowsAFolderSwappedForALinkMidWalk)
{
    testsupport::TempDir dir;
    const QString victimFile = dir.write("victim/data.txt", "keep");
    auto folder = PrivateFolder::open(dir.file("own"));
    ASSERT_TRUE(folder);
    const QByteArray sub = QFile::encodeName(dir.file("own/tree/sub"));
    const QByteArray moved = QFile::encodeName(dir.file("own/tree/moved"));
    const QByteArray victim = QFile::encodeName(dir.file("victim"));
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 50; ++i)
            dir.write(QStringLiteral("own/tree/sub/%1.txt").arg(i), "x");
        std::atomic<bool> done{false};
        // Swaps the folder for a link to the victim's folder and back, as long as the walk runs.
        std::thread swapper([&] {
            for (int swaps = 0; swaps < 100000 && !done; ++swaps) {
                if (::rename(sub.constData(), moved.constData()) != 0)
                    continue;
                ::symlink(victim.constData(), sub.constData());
                ::unlink(sub.constData());
                ::rename(moved.constData(), sub.constData());
            }
        });
        folder->remove("tree");
        done = true;
        swapper.join();
        folder->remove("tree"); // what the swaps kept from the first walk
        ASSERT_EQ(ReadAll(victimFile), "keep") << "round " << round;
    }
}
