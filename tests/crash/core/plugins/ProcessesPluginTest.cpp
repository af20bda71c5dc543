// The processes section from a prepared /proc tree: what the kernel shows, byte for byte, for a
// handful of processes, including the awkward ones (kernel threads, other users' processes,
// Wine programs, names with parentheses, a process that ends while the list is read).
#include "crash/core/plugins/ProcessesPlugin.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using crash::ProcessesPlugin;
using platform::ProcessTable;

namespace {

struct FakeProcess
{
    qint64 pid;
    QByteArray comm;
    qint64 session = 0;
    int nice = 0;
    int policy = 0;     // 1 = FIFO, 5 = idle
    QByteArray exe;     // link target; none when empty (unreadable)
    QByteArray cmdline; // words separated by '\0'
};

void Write(const testsupport::TempDir& proc, const FakeProcess& p)
{
    QByteArrayList fields(50, "0");
    fields[0] = "S";
    fields[3] = QByteArray::number(p.session);
    fields[16] = QByteArray::number(p.nice);
    fields[38] = QByteArray::number(p.policy);
    const QString folder = QString::number(p.pid) + QLatin1Char('/');
    proc.write(folder + "stat", QByteArray::number(p.pid) + " (" + p.comm + ") " + fields.join(' ') + "\n");
    proc.write(folder + "cmdline", p.cmdline);
    if (!p.exe.isEmpty())
        QFile::link(QFile::decodeName(p.exe), proc.file(folder + "exe"));
}

void WriteAll(const testsupport::TempDir& proc, const std::vector<FakeProcess>& processes)
{
    for (const FakeProcess& p : processes)
        Write(proc, p);
    // What else lives in /proc is not a process.
    proc.write("self/stat", "1 (init) S 0 0 0\n");
    proc.write("sys/kernel/osrelease", "6.1.0\n");
    proc.write("uptime", "1.0 1.0\n");
}

} // namespace

TEST(ProcessesPlugin, WithoutSessionsTheColumnIsLeftOutAndUnreadableImagesKeepTheirShortName)
{
    testsupport::TempDir proc;
    WriteAll(proc, {
                       {300, "bash", 0, 5, 0, "/usr/bin/bash", QByteArray("-bash\0", 6)},
                       {1, "systemd", 0, 0, 0, "/usr/lib/systemd/systemd", QByteArray("/sbin/init\0", 11)},
                       {26, "kworker/0:0H", 0, -20, 0, {}, {}},
                   });
    EXPECT_EQ(ProcessesPlugin::text(ProcessTable(proc.path()).snapshot()),
              QStringLiteral("001 systemd      normal       /usr/lib/systemd/\r\n"
                             "01a kworker/0:0H realtime     \r\n"
                             "12c bash         below normal /usr/bin/"));
}

TEST(ProcessesPlugin, SessionsPrioritiesAndWineProgramsInIdOrder)
{
    testsupport::TempDir proc;
    WriteAll(proc,
             {
                 {7, "init", 1, 0, 0, "/sbin/init", {}},
                 {32, "batch", 1, 19, 0, "/opt/x/batch", {}},
                 {33, "hi", 1, -5, 0, "/usr/bin/hi", {}},
                 {34, "rt", 1, 0, 1, "/usr/bin/rt", {}},
                 {35, "Kry.exe", 1234, 0, 0, "/usr/lib/wine/wine64-preloader",
                  QByteArray("C:\\Program Files (x86)\\Mirelune\\Kry.exe\0-x\0", 43)},
                 {36, "notepad.exe", 1234, 3, 5, "/usr/bin/wine64", QByteArray("wine64\0notepad.exe\0", 19)},
                 {37, "sshd", 0, 0, 0, {}, QByteArray("sshd: alice\0", 12)},
             });
    EXPECT_EQ(ProcessesPlugin::text(ProcessTable(proc.path()).snapshot()),
              QStringLiteral("07 init        1    normal   /sbin/\r\n"
                             "20 batch       1    idle     /opt/x/\r\n"
                             "21 hi          1    high     /usr/bin/\r\n"
                             "22 rt          1    realtime /usr/bin/\r\n"
                             "23 Kry.exe     1234 normal   C:\\Program Files (x86)\\Mirelune\\\r\n"
                             "24 notepad.exe 1234 idle     \r\n"
                             "25 sshd        0    normal   "));
}

TEST(ProcessesPlugin, ANameWithParenthesesAndBlanksDoesNotShiftTheFields)
{
    testsupport::TempDir proc;
    WriteAll(proc, {{4711, "odd) (name 1", 42, -3, 0, {}, {}}});
    const auto processes = ProcessTable(proc.path()).snapshot();
    ASSERT_EQ(processes.size(), 1u);
    EXPECT_EQ(processes[0].comm, QStringLiteral("odd) (name 1"));
    EXPECT_EQ(processes[0].session, 42);
    EXPECT_EQ(processes[0].nice, -3);
    EXPECT_EQ(ProcessesPlugin::text(processes), QStringLiteral("1267 odd) (name 1 42 high "));
}

TEST(ProcessesPlugin, AProcessThatEndsWhileListedIsLeftOut)
{
    testsupport::TempDir proc;
    WriteAll(proc, {{10, "alpha", 0, 0, 0, "/bin/alpha", {}},
                    {11, "beta", 0, 0, 0, "/bin/beta", {}},
                    {12, "gamma", 0, 0, 0, "/bin/gamma", {}}});
    const ProcessTable table(proc.path());
    const std::vector<qint64> pids = table.pids();
    EXPECT_EQ(pids, (std::vector<qint64>{10, 11, 12}));

    // 11 ends after the folder was listed: its files are gone before they are read.
    ASSERT_TRUE(QDir(proc.file("11")).removeRecursively());
    EXPECT_FALSE(table.read(11).has_value());
    ASSERT_TRUE(table.read(12).has_value());

    // A folder whose status is already gone (a process being reaped) is not listed either.
    QDir().mkpath(proc.file("13"));
    EXPECT_EQ(ProcessesPlugin::text(table.snapshot()), QStringLiteral("a alpha normal /bin/\r\n"
                                                                      "c gamma normal /bin/"));
}

TEST(ProcessesPlugin, AMissingProcFolderGivesAnEmptyList)
{
    EXPECT_TRUE(ProcessTable(QStringLiteral("/nonexistent/proc")).snapshot().empty());
    EXPECT_EQ(ProcessesPlugin::text({}), QString());
}
