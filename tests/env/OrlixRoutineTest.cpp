#include "env/Orlix_Routine_New.h"
#include "platform/MessageBox.h"
#include "platform/Processes.h"
#include "support/FakeProcessTable.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// A PATH of fake programs that each record their arguments in "<name>.args".
class FakePrograms
{
public:
    explicit FakePrograms(const QStringList& names) : m_savedPath(qgetenv("PATH"))
    {
        for (const QString& name : names) {
            const QString script = m_dir.write(
                name, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp' && /bin/mv '%1.tmp' '%1'\n")
                          .arg(record(name))
                          .toUtf8());
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        qputenv("PATH", m_dir.path().toUtf8());
    }
    ~FakePrograms() { qputenv("PATH", m_savedPath); }
    QString record(const QString& name) const { return m_dir.file(name + QStringLiteral(".args")); }
    // The arguments the program was started with, once it has run (empty if it never did).
    QStringList waitForArguments(const QString& name, int ms = 5000) const
    {
        WaitUntil([&] { return QFile::exists(record(name)); }, ms);
        return QString::fromUtf8(ReadAll(record(name))).split('\n', Qt::SkipEmptyParts);
    }

private:
    TempDir m_dir;
    QByteArray m_savedPath;
};

class NoMessageBoxes
{
public:
    NoMessageBoxes()
    {
        m_previous = platform::SetMessageBoxHandler([this](const platform::MessageBoxRequest& r) {
            shown.append(r.text);
            return platform::MsgResult::Ok;
        });
    }
    ~NoMessageBoxes() { platform::SetMessageBoxHandler(m_previous); }
    QStringList shown;

private:
    platform::MessageBoxHandler m_previous;
};

QString uri(const QString& path)
{
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

TEST(OpenFolderAndSelect, AsksTheFileManagerServiceToShowTheItem)
{
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon is needed";
    FileManagerStandIn fileManager(bus.address());
    ASSERT_TRUE(fileManager.registered());
    FakePrograms openers({"xdg-open", "nautilus"});
    NoMessageBoxes boxes;
    TempDir tool;
    QDir().mkpath(tool.file("classic/images"));

    env::OpenFolderAndSelect(tool.file("classic/images"));
    auto calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0], QStringList{uri(tool.file("classic/images"))});

    env::OpenFolderAndSelect(tool.path() + "/Skin/My Skin.rcc");
    calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls[1], QStringList{uri(tool.path() + "/Skin/My Skin.rcc")})
        << "a missing file is still shown";
    EXPECT_TRUE(calls[1][0].contains("My%20Skin.rcc"));

    const QString saved = QDir::currentPath();
    QDir::setCurrent(tool.path());
    env::OpenFolderAndSelect("Skin\\classic.rcc");
    QDir::setCurrent(saved);
    calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[2], QStringList{uri(QDir(tool.path()).canonicalPath() + "/Skin/classic.rcc")})
        << "a relative path built with backslashes";

    EXPECT_FALSE(QFile::exists(openers.record("xdg-open")));
    EXPECT_FALSE(QFile::exists(openers.record("nautilus")));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST(OpenFolderAndSelect, WithoutTheServiceOpensTheFolderWithTheDefaultOpener)
{
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.running());
    FakePrograms openers({"xdg-open", "nautilus"});
    NoMessageBoxes boxes;
    TempDir tool;
    QDir().mkpath(tool.file("classic/images"));
    const QString file = tool.write("classic/color_setting.ini", "[validate]\n");

    env::OpenFolderAndSelect(tool.file("classic/images"));
    EXPECT_EQ(openers.waitForArguments("xdg-open"), QStringList{tool.file("classic/images")})
        << "an existing folder is opened itself";
    QFile::remove(openers.record("xdg-open"));

    env::OpenFolderAndSelect(file);
    EXPECT_EQ(openers.waitForArguments("xdg-open"), QStringList{tool.file("classic") + "/"})
        << "a file: the folder it lies in";
    EXPECT_FALSE(QFile::exists(openers.record("nautilus")));
    EXPECT_TRUE(boxes.shown.isEmpty());
}

TEST(OpenFolderAndSelect, WithoutServiceOrOpenerStartsAFileManagerOnThePath)
{
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.running());
    FakePrograms programs({"nautilus"});
    TempDir tool;
    const QString file = tool.write("Skin/classic.rcc", "x");
    env::OpenFolderAndSelect(file);
    EXPECT_EQ(programs.waitForArguments("nautilus"), QStringList({"--select", file}));
}

TEST(OpenFolderAndSelect, WithNoSessionBusAtAllStillReachesAFileManager)
{
    const QByteArray savedAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const bool hadAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/skintool-test-bus");
    FakePrograms programs({"nautilus"});
    TempDir tool;
    const QString folder = tool.file("classic/images");
    QDir().mkpath(folder);
    env::OpenFolderAndSelect(folder);
    EXPECT_EQ(programs.waitForArguments("nautilus"), QStringList({"--select", folder}));
    hadAddress ? qputenv("DBUS_SESSION_BUS_ADDRESS", savedAddress) : qunsetenv("DBUS_SESSION_BUS_ADDRESS");
}

TEST(KillProcessesByName, StopsEveryCopyWhateverTheCaseOfItsName)
{
    testsupport::FakeProcessTable table(
        {{7, "C:\\Program Files (x86)\\Orlix\\Mirelune\\KRY.exe"}, {8, "bash"}, {9, "/tmp/x/kry.exe"}});
    EXPECT_TRUE(env::KillProcessesByName("kry.EXE"));
    EXPECT_EQ(table.terminated(), QList<qint64>({7, 9}));
    EXPECT_EQ(table.entries().size(), 1);

    EXPECT_FALSE(env::KillProcessesByName("skintool-no-such-program.exe")) << "no match";
    EXPECT_EQ(table.terminated(), QList<qint64>({7, 9})) << "nothing else was touched";
}

TEST(KillProcessesByName, TheLastAttemptDecidesAndEveryMatchIsTried)
{
    const QList<platform::ProcessEntry> entries = {{10, "C:\\Program Files (x86)\\Orlix\\Mirelune\\KRY.exe"},
                                                   {11, "bash"},
                                                   {12, "/usr/bin/kry.exe"},
                                                   {13, "KRY.exe.bak"}};
    QList<qint64> tried;
    const auto failing = [&](qint64 failPid) {
        return [&tried, failPid](qint64 pid) {
            tried.append(pid);
            return pid != failPid;
        };
    };
    EXPECT_TRUE(env::KillMatchingProcesses(entries, "KRY.exe", failing(10)));
    EXPECT_EQ(tried, QList<qint64>({10, 12}));
    tried.clear();
    EXPECT_FALSE(env::KillMatchingProcesses(entries, "KRY.exe", failing(12))) << "a later failure wins";
    EXPECT_EQ(tried, QList<qint64>({10, 12}));
}

TEST(KillProcessesByName, NamesCompareByFileNameFoldingOnlyAtoZ)
{
    EXPECT_TRUE(env::ExeNameMatches("C:\\Apps\\Mirelune\\Kry.exe", "KRY.exe"));
    EXPECT_TRUE(env::ExeNameMatches("/opt/wine/KRY.EXE", "kry.exe"));
    EXPECT_TRUE(env::ExeNameMatches("apps/KRY.exe", "APPS/kry.exe"))
        << "the whole name, failing the file part";
    EXPECT_FALSE(env::ExeNameMatches("KRY.exe ", "KRY.exe"));
    EXPECT_FALSE(env::ExeNameMatches(QString::fromUtf8("KRÉ.exe"), QString::fromUtf8("kré.exe")))
        << "accented letters are not folded";
    EXPECT_TRUE(env::ExeNameMatches(QString::fromUtf8("KRé.exe"), QString::fromUtf8("kré.exe")));
}
