// The dialog's text, tab and column rules, without a window.
#include "crash/ui/DialogTexts.h"
#include "crash/ui/ReportTabs.h"
#include "crash/ui/SectionTable.h"

#include <gtest/gtest.h>

using namespace crash::ui;

TEST(BreakSentences, BreaksOnlyBetweenPosition20AndTheLengthLess10)
{
    EXPECT_EQ(BreakSentences("Short. Message here."), "Short. Message here."); // under 30 characters
    const QString message = "An error occurred in the application. Please send the bug report. Thanks.";
    // The first full stop breaks; the last two lie within the final ten characters.
    const QString broken = BreakSentences(message);
    EXPECT_TRUE(broken.startsWith("An error occurred in the application.\r\nPlease"));
    EXPECT_TRUE(broken.endsWith("bug report. Thanks."));
    EXPECT_EQ(BreakSentences("First one is short. x"), "First one is short. x"); // position 19: too early
    EXPECT_EQ(BreakSentences("Ends with a stop and a blank. "), "Ends with a stop and a blank. ");
}

TEST(VisibleCaption, AmpersandMarksTheShortcut)
{
    EXPECT_EQ(VisibleCaption("&OK"), "OK");
    EXPECT_EQ(VisibleCaption("save && send"), "save & send");
}

TEST(ReportTabs, GeneralCallStacksThenOneTabPerSection)
{
    const NamedTexts header{{"date/time", "now"}};
    const NamedTexts sections{{"main thread ($1):", "a"}, {"thread $2:", "b"}, {"modules", "c"},
                              {"cpu registers", "d"},     {"stack dump", "e"}, {"disassembling", "f"},
                              {"thread $3 later", "g"}};
    const QList<ReportTab> tabs = BuildReportTabs(header, sections);
    QStringList titles;
    for (const ReportTab& t : tabs)
        titles << t.title;
    EXPECT_EQ(titles, QStringList({"general", "call stacks", "modules", "cpu regs", "stack dump", "disasm",
                                   "thread $3 later"}));
    EXPECT_TRUE(tabs[0].isHeader);
    EXPECT_EQ(tabs[1].sections, QStringList({"main thread ($1):", "thread $2:"}));

    const QList<ReportTab> single = BuildReportTabs(header, {{"main thread", "a"}, {"modules", "c"}});
    EXPECT_EQ(single[1].title, "call stack");

    const QList<ReportTab> leak =
        BuildReportTabs({{"allocation number", "12"}}, {{"memory dump", "x"}, {"call stack $", "y"}});
    ASSERT_EQ(leak.size(), 1);
    EXPECT_EQ(leak[0].title, "memory dump");
    EXPECT_TRUE(BuildReportTabs({}, {}).size() == 1);
}

TEST(SectionTable, KnownSectionsGetTheirColumns)
{
    const SectionTable stack = SectionTable::fromSections(
        {{"main thread ($1)",
          "0046c2a8 +008 tool.exe uMain 27 +2 TfrmMain::Button_MakeClick(int a, int b)"}});
    ASSERT_TRUE(stack.hasColumns());
    EXPECT_EQ(stack.columnLayout(), "^address|^ rel.|module|unit| line| rel.|function");
    EXPECT_EQ(stack.cells(0), QStringList({"0046c2a8", "+008", "tool.exe", "uMain", "27", "+2",
                                           "TfrmMain::Button_MakeClick(int a, int b)"}));
    EXPECT_TRUE(stack.rightAligned(0));
    EXPECT_TRUE(stack.rightAligned(4));
    EXPECT_FALSE(stack.rightAligned(2));
    EXPECT_EQ(stack.columnTitle(1), "rel.");

    const SectionTable dump =
        SectionTable::fromSections({{"stack dump", "7ffd1234a000  a0 f9 12 00 e4 f9  ..x.. ."}});
    EXPECT_EQ(dump.cells(0), QStringList({"7ffd1234a000", "a0 f9 12 00 e4 f9", "..x.. ."}));

    const SectionTable modules =
        SectionTable::fromSections({{"modules", "00400000 tool 1.0.0.0 /opt/my tools/tool"}});
    EXPECT_EQ(modules.cells(0).last(), "/opt/my tools/tool");

    EXPECT_EQ(
        SectionTable::fromSections({{"processes", "0001 init 0 12 34 normal /sbin/init"}}).columnCount(), 7);
    EXPECT_EQ(SectionTable::fromSections({{"processes", "0001 init normal /sbin/init"}}).columnCount(), 4);
    EXPECT_EQ(SectionTable::fromSections({{"disassembling", "12  mov eax, 1  ; x"}}).columnTitle(0), "line");
    EXPECT_EQ(SectionTable::fromSections({{"cpu registers", "rax = 0"}}).columnCount(), 2);
}

// A listing as the report writes it: the exception location on its own, then the frames padded
// into columns; an inlined frame has no offset, a library frame no unit and line.
TEST(SectionTable, StackLinesAreCutAtTheirAlignedColumns)
{
    const SectionTable table = SectionTable::fromSections(
        {{"main thread ($3574)",
          "0000557844b7a1c0 +0 MireluneSkinTool ResourceCompiler 37 +21 app::RunResourceCompiler\r\n"
          "0000557844b7a1c0      MireluneSkinTool       ResourceCompiler  37 +21 app::RunResourceCompiler\r\n"
          "0000557844b7a1c0 +1c0 MireluneSkinTool       ResourceCompiler 112 +4  app::Make(QString const&, "
          "int)\r\n"
          ">> 2 frames left out\r\n"
          "00007f0c1f382a50 +090 libQt6Widgets.so.6.4.2                          "
          "QApplicationPrivate::notify_helper\r\n"
          "00005572039a7a95 +b75 MireluneSkinTool       main             166 +78 main"},
         {"thread $3575",
          "00007f0c1e09bd46 +0a6 libc.so.6           pthread_cond_wait@@GLIBC_2.3.2\r\n"
          "00007f0c1e4f1a2b +15b libQt6Core.so.6.4.2 QWaitCondition::wait(QMutex*, QDeadlineTimer)"}});
    ASSERT_EQ(table.rowCount(), 10);
    EXPECT_EQ(table.cells(1), QStringList({"0000557844b7a1c0", "+0", "MireluneSkinTool", "ResourceCompiler",
                                           "37", "+21", "app::RunResourceCompiler"}));
    EXPECT_EQ(table.cells(2), QStringList({"0000557844b7a1c0", "", "MireluneSkinTool", "ResourceCompiler",
                                           "37", "+21", "app::RunResourceCompiler"}));
    EXPECT_EQ(table.cells(3), QStringList({"0000557844b7a1c0", "+1c0", "MireluneSkinTool", "ResourceCompiler",
                                           "112", "+4", "app::Make(QString const&, int)"}));
    EXPECT_EQ(table.cells(4), QStringList({"", "", "", "", "", "", ">> 2 frames left out"}));
    EXPECT_EQ(table.cells(5), QStringList({"00007f0c1f382a50", "+090", "libQt6Widgets.so.6.4.2", "", "", "",
                                           "QApplicationPrivate::notify_helper"}));
    EXPECT_EQ(table.cells(6),
              QStringList({"00005572039a7a95", "+b75", "MireluneSkinTool", "main", "166", "+78", "main"}));
    EXPECT_EQ(table.cells(7).first(), "thread $3575");
    EXPECT_EQ(table.cells(8), QStringList({"00007f0c1e09bd46", "+0a6", "libc.so.6", "", "", "",
                                           "pthread_cond_wait@@GLIBC_2.3.2"}));
    EXPECT_EQ(table.cells(9), QStringList({"00007f0c1e4f1a2b", "+15b", "libQt6Core.so.6.4.2", "", "", "",
                                           "QWaitCondition::wait(QMutex*, QDeadlineTimer)"}));

    // A location of an unknown address, and a listing whose first line is aligned with the rest.
    const SectionTable unknown =
        SectionTable::fromSections({{"main thread ($1)", "00007f0c1e09bd46 +0 ???\n"
                                                         "00007f0c1e09bd46      libc.so.6 raise\n"
                                                         "00007f0c1e09bd90 +0f0 libc.so.6 abort"}});
    EXPECT_EQ(unknown.cells(0), QStringList({"00007f0c1e09bd46", "+0", "???", "", "", "", ""}));
    EXPECT_EQ(unknown.cells(1), QStringList({"00007f0c1e09bd46", "", "libc.so.6", "", "", "", "raise"}));
    EXPECT_EQ(unknown.cells(2), QStringList({"00007f0c1e09bd90", "+0f0", "libc.so.6", "", "", "", "abort"}));
}

// The producer writes id, name, session (only when one is not 0), priority and folder; names,
// folders and the priority "below normal" may hold blanks.
TEST(SectionTable, ProcessesAreCutByWhatEachColumnHolds)
{
    const SectionTable table = SectionTable::fromSections(
        {{"processes", "0001 systemd            0 normal       /usr/lib/systemd/\r\n"
                       "0002 kthreadd           0 normal       \r\n"
                       "04d2 Mirelune Skin Tool 2 below normal /opt/my tools/\r\n"
                       "0a10 bash               2 high         /usr/bin/"}});
    EXPECT_EQ(table.columnLayout(), "^id|file name|session|priority|path");
    ASSERT_EQ(table.rowCount(), 4);
    // Processes with a program file first, kernel threads after them.
    EXPECT_EQ(table.cells(0), QStringList({"0001", "systemd", "0", "normal", "/usr/lib/systemd/"}));
    EXPECT_EQ(table.cells(1),
              QStringList({"04d2", "Mirelune Skin Tool", "2", "below normal", "/opt/my tools/"}));
    EXPECT_EQ(table.cells(2), QStringList({"0a10", "bash", "2", "high", "/usr/bin/"}));
    EXPECT_EQ(table.cells(3), QStringList({"0002", "kthreadd", "0", "normal", ""}));

    const SectionTable noSession =
        SectionTable::fromSections({{"processes", "0001 init 2        below normal /sbin/\n"
                                                  "04d2 Mirelune Tool high         /opt/my tools/"}});
    EXPECT_EQ(noSession.columnLayout(), "^id|file name|priority|path");
    EXPECT_EQ(noSession.cells(0), QStringList({"0001", "init 2", "below normal", "/sbin/"}));
    EXPECT_EQ(noSession.cells(1), QStringList({"04d2", "Mirelune Tool", "high", "/opt/my tools/"}));
}

TEST(SectionTable, OtherSectionsTakeColumnsFromTheirAlignment)
{
    const SectionTable aligned = SectionTable::fromSections(
        {{"hardware", "device      driver   state\nxvfb        none     ok\nkeyboard    evdev    busy"}});
    ASSERT_TRUE(aligned.hasColumns());
    EXPECT_EQ(aligned.columnLayout(), "device|driver|state");
    EXPECT_EQ(aligned.rowCount(), 2);
    EXPECT_EQ(aligned.cells(1), QStringList({"keyboard", "evdev", "busy"}));

    const SectionTable free = SectionTable::fromSections({{"hardware", "+ Display adapters"}});
    EXPECT_FALSE(free.hasColumns());
    EXPECT_EQ(free.rawText(), "+ Display adapters");

    const SectionTable placeholder = SectionTable::fromSections({{"modules", ">> will be calculated soon"}});
    EXPECT_FALSE(placeholder.hasColumns());
}

TEST(SectionTable, SeveralThreadsShareOneTableWithTitleRows)
{
    const SectionTable table = SectionTable::fromSections(
        {{"main thread ($1)", "00000001 +0 a u 1 +0 f"}, {"thread $2", "00000002 +0 b u 2 +0 g"}});
    ASSERT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.cells(0).first(), "main thread ($1)");
    EXPECT_EQ(table.cells(2).first(), "thread $2");
    EXPECT_EQ(table.cells(3).first(), "00000002");

    const SectionTable header = SectionTable::fromHeader({{"date/time", "now"}, {"user name", "tester"}});
    EXPECT_FALSE(header.fixedWidth());
    EXPECT_EQ(header.cells(1), QStringList({"user name", "tester"}));
}
