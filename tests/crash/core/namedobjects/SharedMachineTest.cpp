// Named objects on a machine other users share. Another user plants objects under the names a
// process will use (its id is known: a child in a new PID namespace gets id 1), and processes of
// two PID namespaces that share /dev/shm both have id 1. Played as root with setpriv (a second and
// third uid) and unshare; skipped where that cannot be done.
#include "crash/core/settings/SettingsStore.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedMemory.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kOtherUser = 61001;
constexpr uid_t kVictim = 61002;

// The names of the reporter's objects for process id 1 (semaphore files carry "sem.").
const QStringList kSemaphoresOfProcessOne{"sem.HalvornSettingsMtx$00000001", "sem.HalvornThreadNameBuf$1"};
const QStringList kSectionsOfProcessOne{"HalvornSettingsBuf2$00000001", "HalvornThreadNameBuf$1",
                                        "HalvornRestart$00000001"};

QString ShmPath(const QString& name)
{
    return QStringLiteral("/dev/shm/") + name;
}

struct Ran
{
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
};

Ran RunCommand(const QStringList& command,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               int boundMs = 120000)
{
    Ran ran;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(command.first(), command.mid(1));
    if (!process.waitForStarted(10000))
        return ran;
    ran.finished = process.waitForFinished(boundMs);
    if (!ran.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    ran.exitCode = process.exitCode();
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

QStringList AsUser(uid_t uid, const QStringList& command)
{
    return QStringList{"setpriv", QStringLiteral("--reuid=%1").arg(uid),
                       QStringLiteral("--regid=%1").arg(uid), "--clear-groups"} +
           command;
}

// The command as process id 1 of a new PID namespace (ended when its starter is killed).
QStringList InNewPidNamespace(const QStringList& command)
{
    return QStringList{"unshare", "--pid", "--fork", "--kill-child"} + command;
}

QString WhyNotShared()
{
    if (geteuid() != 0)
        return "needs root to play other users and to make PID namespaces (CI runs as root)";
    for (const char* tool : {"setpriv", "unshare"})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            return QStringLiteral("%1 is missing").arg(tool);
    if (RunCommand(InNewPidNamespace({"true"}), QProcessEnvironment::systemEnvironment(), 20000).exitCode !=
        0)
        return "this machine does not allow new PID namespaces";
    return QString();
}

#define SKIP_UNLESS_ON_A_SHARED_MACHINE()                                                                    \
    if (const QString why = WhyNotShared(); !why.isEmpty())                                                  \
    GTEST_SKIP() << why.toStdString()

// Files another user makes in /dev/shm (open to everyone, as bait); removed when the test ends.
class PlantedObjects
{
public:
    // Each semaphore is a held one (count 0); each section 4096 zero bytes.
    bool plant(const QStringList& semaphores, const QStringList& sections)
    {
        for (const QString& name : semaphores + sections)
            QFile::remove(ShmPath(name)); // what a killed earlier run left
        QString script = "umask 0\n";
        for (const QString& name : semaphores)
            script += QStringLiteral("head -c 32 /dev/zero > '%1' || exit 1\n").arg(ShmPath(name));
        for (const QString& name : sections)
            script += QStringLiteral("head -c 4096 /dev/zero > '%1' || exit 1\n").arg(ShmPath(name));
        m_names = semaphores + sections;
        return RunCommand(AsUser(kOtherUser, {"sh", "-c", script})).exitCode == 0;
    }
    ~PlantedObjects()
    {
        for (const QString& name : m_names)
            QFile::remove(ShmPath(name));
    }
    // Whether every planted file is still there, the other user's, unchanged.
    bool untouched() const
    {
        for (const QString& name : m_names) {
            struct stat st
            {
            };
            if (lstat(QFile::encodeName(ShmPath(name)).constData(), &st) != 0 || st.st_uid != kOtherUser ||
                testsupport::ReadAll(ShmPath(name)) != QByteArray(qsizetype(st.st_size), '\0'))
                return false;
        }
        return true;
    }

private:
    QStringList m_names;
};

// A home for the victim user: its own folders (0700), runtime folder, settings and report.
class VictimHome
{
public:
    VictimHome()
    {
        chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        m_ok = makeOwn("home") && makeOwn("home/runtime");
    }
    bool ok() const { return m_ok; }
    QString file(const QString& name) const { return m_dir.file("home/" + name); }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", file(""));
        env.insert("XDG_RUNTIME_DIR", file("runtime"));
        env.insert("TMPDIR", file(""));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SKINTOOL_MESSAGEBOX_LOG", file("boxes.log"));
        return env;
    }
    // The program's settings with the report file here and nothing shown.
    QString writeSettings()
    {
        const QString program = QString::fromUtf8(
            testsupport::ReadAll(testsupport::SourceDir() + "/src/crash/core/settings/Halvorn.settings"));
        QString out;
        for (const QString& line : program.split('\n')) {
            out += line + '\n';
            if (line.startsWith("object Halvorn"))
                out += QStringLiteral("  BugRepFile = '%1'\n  GnShowCfg = 4\n  AutoSave = True\n")
                           .arg(file("bugreport.txt"));
        }
        const QString path = m_dir.write("home/test.settings", out.toUtf8());
        chown(QFile::encodeName(path).constData(), kVictim, kVictim);
        return path;
    }
    // Names of the reporter's objects left in the runtime folder (the private fallback).
    QStringList objectsInRuntimeFolder() const
    {
        QStringList found;
        QDirIterator it(file("runtime"), QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            if (const QString name = QFileInfo(it.next()).fileName(); name.contains("Halvorn"))
                found << name;
        return found;
    }

private:
    bool makeOwn(const QString& relative)
    {
        const QByteArray path = QFile::encodeName(m_dir.file(relative));
        return mkdir(path.constData(), 0700) == 0 && chown(path.constData(), kVictim, kVictim) == 0;
    }
    testsupport::TempDir m_dir;
    bool m_ok = false;
};

// The holder program as the victim, process id 1 of a new PID namespace, until told to end.
class Holder
{
public:
    explicit Holder(const VictimHome& home)
    {
        m_process.setProcessEnvironment(home.environment());
        const QStringList command = InNewPidNamespace(AsUser(kVictim, {NAMED_OBJECTS_HOLDER}));
        m_process.start(command.first(), command.mid(1));
    }
    ~Holder()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // The holder's "ready" line, empty when none came within a minute.
    QString waitUntilReady()
    {
        for (int i = 0; i < 600 && !m_process.canReadLine(); ++i)
            m_process.waitForReadyRead(100);
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }
    // Lets it end normally; its exit code, -1 when it did not end.
    int end()
    {
        m_process.write("\n");
        m_process.closeWriteChannel();
        return m_process.waitForFinished(60000) ? m_process.exitCode() : -1;
    }

private:
    QProcess m_process;
};

ino_t InodeOf(const QString& name)
{
    struct stat st
    {
    };
    return lstat(QFile::encodeName(ShmPath(name)).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

TEST(SharedMachine, ObjectsAnotherUserPlantedForTheProcessIdDoNotSwitchTheReporterOff)
{
    SKIP_UNLESS_ON_A_SHARED_MACHINE();
    PlantedObjects planted;
    ASSERT_TRUE(planted.plant(kSemaphoresOfProcessOne, kSectionsOfProcessOne));
    VictimHome home;
    ASSERT_TRUE(home.ok());
    const QString settings = home.writeSettings();

    // A fault in the victim's program, which runs as process id 1 of its namespace.
    const Ran ran = RunCommand(InNewPidNamespace(AsUser(kVictim, {testsupport::BinDir() + "/crash-test",
                                                                  "--settings", settings, "null-write"})),
                               home.environment());
    ASSERT_TRUE(ran.finished) << "hung at start-up or in the report";
    const QString boxes = QString::fromUtf8(testsupport::ReadAll(home.file("boxes.log")));
    EXPECT_FALSE(boxes.contains("internal error")) << boxes.toStdString();
    const QString report = QString::fromUtf8(testsupport::ReadAll(home.file("bugreport.txt")));
    EXPECT_TRUE(report.contains("EAccessViolation"))
        << "no report of the fault; stderr: " << ran.err.toStdString();
    EXPECT_TRUE(planted.untouched()) << "the other user's objects were used or changed";
    EXPECT_EQ(home.objectsInRuntimeFolder(), QStringList())
        << "the program's own objects stayed after its end";
}

TEST(SharedMachine, ASemaphoreAndASectionAnotherUserPlantedAreNeverUsed)
{
    SKIP_UNLESS_ON_A_SHARED_MACHINE();
    // Under this process's own id: the held semaphore would stall it, the section feed it data.
    const QString name =
        QStringLiteral("SkinToolTestPlanted$") + QString::number(platform::CurrentProcessId(), 16);
    PlantedObjects planted;
    ASSERT_TRUE(planted.plant({"sem." + name}, {name}));

    auto semaphore = platform::NamedSemaphore::open(name);
    ASSERT_TRUE(semaphore) << "no semaphore when another user holds the name";
    EXPECT_TRUE(semaphore->lockFor(10000)) << "waited on the planted, held semaphore";
    semaphore->unlock();

    platform::SharedMemory::Result result{};
    EXPECT_FALSE(platform::SharedMemory::openOwn(name, &result));
    auto section = platform::SharedMemory::createOwn(name, 64, &result);
    ASSERT_TRUE(section) << "no section when another user holds the name";
    std::memcpy(section->data(), "own data", 9);
    auto again = platform::SharedMemory::openOwn(name);
    ASSERT_TRUE(again);
    EXPECT_STREQ(static_cast<const char*>(again->data()), "own data");

    EXPECT_TRUE(planted.untouched());
    EXPECT_TRUE(platform::NamedSemaphore::remove(name));
    EXPECT_TRUE(platform::SharedMemory::removeOwn(name));
    EXPECT_FALSE(platform::SharedMemory::openOwn(name));
    EXPECT_TRUE(planted.untouched()) << "removing this process's objects took the other user's";
}

TEST(SharedMachine, ALiveProcessOfAnotherPidNamespaceKeepsItsObjects)
{
    SKIP_UNLESS_ON_A_SHARED_MACHINE();
    // Two processes of one user, each process id 1 of its own namespace, one /dev/shm.
    VictimHome home;
    ASSERT_TRUE(home.ok());
    const QStringList names = kSemaphoresOfProcessOne + kSectionsOfProcessOne.mid(0, 2);
    for (const QString& name : names)
        ASSERT_EQ(InodeOf(name), 0u) << name.toStdString() << " is in use on this machine";

    Holder first(home);
    ASSERT_EQ(first.waitUntilReady(), "ready with-settings");
    QList<ino_t> inodes;
    for (const QString& name : names) {
        inodes << InodeOf(name);
        EXPECT_NE(inodes.back(), 0u) << name.toStdString();
    }
    QThread::msleep(500); // the first one's objects are clearly older than the second process

    Holder second(home);
    EXPECT_EQ(second.waitUntilReady(), "ready with-settings");
    EXPECT_EQ(second.end(), 0);
    for (int i = 0; i < names.size(); ++i)
        EXPECT_EQ(InodeOf(names[i]), inodes[i]) << names[i].toStdString() << " of the live process was taken";
    EXPECT_EQ(home.objectsInRuntimeFolder(), QStringList()) << "the second process's objects stayed";

    // A normal end removes the process's own objects.
    EXPECT_EQ(first.end(), 0);
    for (const QString& name : names)
        EXPECT_EQ(InodeOf(name), 0u) << name.toStdString() << " stayed after its process ended";
}
