#include "platform/Shell.h"
#include "platform/FileCopy.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

using platform::SplitWindowsCommandLine;

TEST(Shell, CommandLinesSplitByWindowsRules)
{
    EXPECT_EQ(SplitWindowsCommandLine("-o \"C:\\a b\\x.qrc\" -project"),
              QStringList({"-o", "C:\\a b\\x.qrc", "-project"}));
    EXPECT_EQ(SplitWindowsCommandLine("  a\t\tb  "), QStringList({"a", "b"}));
    EXPECT_EQ(SplitWindowsCommandLine("-root /my skin"), QStringList({"-root", "/my", "skin"}));
    EXPECT_EQ(SplitWindowsCommandLine("a\\\\b c\\d"), QStringList({"a\\\\b", "c\\d"}))
        << "lone backslashes stay";
    EXPECT_EQ(SplitWindowsCommandLine("\"a\\\\\" b"), QStringList({"a\\", "b"}))
        << "2n backslashes, then a quote";
    EXPECT_EQ(SplitWindowsCommandLine("a\\\"b"), QStringList({"a\"b"}))
        << "2n+1 backslashes make a literal quote";
    EXPECT_EQ(SplitWindowsCommandLine("\"say \"\"hi\"\"\""), QStringList({"say \"hi\""}));
    EXPECT_EQ(SplitWindowsCommandLine("x\"y z\"w"), QStringList({"xy zw"})) << "quotes group inside a word";
    EXPECT_EQ(SplitWindowsCommandLine("\"\""), QStringList({""})) << "an empty quoted argument counts";
    EXPECT_EQ(SplitWindowsCommandLine(""), QStringList());
    EXPECT_EQ(SplitWindowsCommandLine("end\\"), QStringList({"end\\"}));
}

TEST(Shell, RunAndWaitWaitsAndReportsStartFailure)
{
    testsupport::TempDir dir;
    const QString script =
        dir.write("tool.sh", "#!/bin/sh\nsleep 0.3\npwd > out.txt\nprintf '%s|' \"$@\" >> out.txt\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    ASSERT_TRUE(platform::RunAndWait(script, "one \"two three\"", dir.path()));
    EXPECT_EQ(testsupport::ReadAll(dir.file("out.txt")),
              (QDir(dir.path()).canonicalPath() + "\none|two three|").toUtf8())
        << "finished, in the working folder, with the split arguments";
    EXPECT_FALSE(platform::RunAndWait(dir.file("missing.exe"), "", dir.path()));
}

TEST(Shell, RunAndWaitEndsAProgramThatRunsTooLong)
{
    testsupport::TempDir dir;
    const QString script = dir.write("hang.sh", "#!/bin/sh\necho $$ > pid\nexec sleep 1000\n");
    QFile::setPermissions(script, QFile::permissions(script) | QFileDevice::ExeOwner);
    EXPECT_TRUE(platform::RunAndWait(script, "", dir.path(), 3000));
    const QByteArray pid = testsupport::ReadAll(dir.file("pid")).trimmed();
    ASSERT_FALSE(pid.isEmpty());
    QProcess probe;
    probe.start("kill", {"-0", QString::fromLatin1(pid)});
    ASSERT_TRUE(probe.waitForFinished(5000));
    EXPECT_NE(probe.exitCode(), 0) << "the program is gone";
}

TEST(FileCopy, ReplacesInOneStepAndLeavesNothingBehind)
{
    testsupport::TempDir dir;
    const QString from = dir.write("new.rcc", QByteArray(200000, 'n'));
    const QString to = dir.write("Skin/ocean.rcc", "old");
    ASSERT_TRUE(platform::CopyFileReplacing(from, to));
    EXPECT_EQ(testsupport::ReadAll(to), QByteArray(200000, 'n'));
    EXPECT_EQ(QDir(dir.file("Skin")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({"ocean.rcc"}));
    EXPECT_EQ(testsupport::ReadAll(from), QByteArray(200000, 'n')) << "copied, not moved";

    EXPECT_FALSE(platform::CopyFileReplacing(dir.file("missing.rcc"), to));
    EXPECT_FALSE(platform::CopyFileReplacing(from, dir.file("no/such/folder/x.rcc")));
    EXPECT_EQ(testsupport::ReadAll(to), QByteArray(200000, 'n'))
        << "a failed copy leaves the target as it was";
}

TEST(EscapeInsideQuotes, TheWindowsSplitGivesEveryTextBackWhole)
{
    for (const QString& text : {QString("/tmp/my\"tool/NewSkin/a.qrc"), QString("/tmp/my tool/x"),
                                QString("/tmp/100%/x"), QString("C:\\dir\\"), QString("a\\\"b"),
                                QString("\\\\server\\share\\"), QString("\"\""), QString()}) {
        const QString line = "-o \"" + platform::EscapeInsideQuotes(text) + "\" -project";
        EXPECT_EQ(platform::SplitWindowsCommandLine(line), QStringList({"-o", text, "-project"}))
            << text.toStdString();
    }
    EXPECT_EQ(platform::EscapeInsideQuotes("C:\\Program Files\\x"), "C:\\Program Files\\x")
        << "backslashes not before a quote mark stay single";
}

TEST(Shell, WebAddressesGoOnlyToTheUrlOpenerAndNeverToTheLoader)
{
    // Stand-ins for the URL opener and the Wine loader that record their arguments.
    testsupport::TempDir dir;
    for (const char* name : {"xdg-open", "wine"}) {
        const QString script = dir.write(
            name, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp' && /bin/mv '%1.tmp' '%1'\n")
                      .arg(dir.file(QLatin1String(name) + ".args"))
                      .toUtf8());
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QByteArray savedPath = qgetenv("PATH"), savedWine = qgetenv("WINE");
    qputenv("PATH", dir.path().toUtf8());
    qputenv("WINE", dir.file("wine").toUtf8());

    EXPECT_TRUE(platform::ShellOpen("http://a/../../x/evil.exe"));
    for (int i = 0; i < 100 && !QFile::exists(dir.file("xdg-open.args")); ++i)
        QThread::msleep(50);
    EXPECT_EQ(testsupport::ReadAll(dir.file("xdg-open.args")), "http://a/../../x/evil.exe\n");

    for (const char* refused : {"/tmp/evil.exe", "evil.exe", "file:///tmp/evil.exe", "C:\\evil.exe",
                                "//a/evil.exe", "http:/evil.exe", "ftp://a/evil.exe", "http://a b/"})
        EXPECT_EQ(platform::WebAddressToOpen(refused), QString()) << refused;
    EXPECT_FALSE(platform::OpenWebAddress("/tmp/evil.exe"));
    EXPECT_EQ(platform::WebAddressToOpen("HTTPS://Example.test/a b?q=ü"),
              "https://example.test/a%20b?q=%C3%BC");
    qputenv("PATH", savedPath);
    savedWine.isNull() ? qunsetenv("WINE") : qputenv("WINE", savedWine);
    EXPECT_FALSE(QFile::exists(dir.file("wine.args")));
}
