#include "platform/Shell.h"
#include "platform/FileCopy.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
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
