// The report's text: the layout rules, the header fields in their order, the thread sections and
// their titles, the CPU and plugin sections, and what completion puts in place of the placeholders.
#include "FakeReportSources.h"
#include "crash/core/report/CallStackChecksums.h"
#include "crash/core/report/ContextSections.h"
#include "crash/core/report/ReportAssembler.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace crash;
using reporttest::FakeReportSources;
using reporttest::MakeReport;

namespace {

QStringList Names(const ReportFields& fields)
{
    QStringList names;
    for (const auto& item : fields.items())
        names.append(item.first);
    return names;
}

ReportRequest CrashIn(std::int64_t thread, bool listThreads = true)
{
    ReportRequest request;
    request.crashed.threadId = thread;
    request.listThreads = listThreads;
    return request;
}

// Builds with completion deferred, so the placeholders can be seen.
std::shared_ptr<ExceptionReport> Built(FakeReportSources& sources, const ReportRequest& request,
                                       std::shared_ptr<ExceptionReport> report = MakeReport())
{
    report->exceptionAddress = 0x401234;
    report->setDeferCompletion(true);
    ReportAssembler(sources).build(*report, request);
    return report;
}

} // namespace

TEST(ReportLayout, HeaderAlignedSectionsTitledEmptyLinesDotted)
{
    ReportFields header, sections;
    header.setAcceptingData(true);
    sections.setAcceptingData(true);
    header.setField(QStringLiteral("date/time"), QStringLiteral("2026-01-02, 03:04:05, 6ms"));
    header.setField(QStringLiteral("exception message"),
                    QStringLiteral("two\r\nlines  and\rmore\nspaces    here"));
    sections.setField(QStringLiteral("main thread ($10):"),
                      QStringLiteral("first   \r\n\r\nthird\rfourth\nfifth"));
    sections.setField(QStringLiteral("modules"), QStringLiteral("m1"));
    EXPECT_EQ(LayoutReportText(header, sections),
              QStringLiteral("date/time         : 2026-01-02, 03:04:05, 6ms\r\n"
                             "exception message : two lines and more spaces here\r\n"
                             "\r\n"
                             "main thread ($10):\r\n"
                             "first\r\n"
                             ".\r\n"
                             "third\r\n"
                             "fourth\r\n"
                             "fifth\r\n"
                             "\r\n"
                             "modules:\r\n"
                             "m1"));
}

TEST(ReportLayout, HeaderFieldsInTheirOrder)
{
    FakeReportSources sources;
    const auto report = Built(sources, CrashIn(0x100));
    const QStringList names = Names(report->header());
    const QStringList expectedOrder = {
        QStringLiteral("date/time"),          QStringLiteral("computer name"),
        QStringLiteral("user name"),          QStringLiteral("operating system"),
        QStringLiteral("system language"),    QStringLiteral("program up time"),
        QStringLiteral("process id"),         QStringLiteral("allocated memory"),
        QStringLiteral("largest free block"), QStringLiteral("executable"),
        QStringLiteral("exec. date/time"),    QStringLiteral("version"),
        QStringLiteral("compiled with"),      QStringLiteral("Halvorn version"),
        QStringLiteral("callstack crc"),      QStringLiteral("exception number"),
        QStringLiteral("exception class"),    QStringLiteral("exception message")};
    qsizetype previous = -1;
    for (const QString& name : expectedOrder) {
        const qsizetype at = names.indexOf(name);
        ASSERT_GE(at, 0) << name.toStdString() << " missing from "
                         << names.join(QLatin1Char('|')).toStdString();
        EXPECT_GT(at, previous) << name.toStdString() << " out of order";
        previous = at;
    }
    const ReportFields& h = report->header();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d, \\d\\d:\\d\\d:\\d\\d, \\d+ms$"))
                    .match(h.field(QStringLiteral("date/time")))
                    .hasMatch());
    EXPECT_EQ(h.field(QStringLiteral("process id")), QLatin1Char('$') + QString::number(getpid(), 16));
    EXPECT_EQ(h.field(QStringLiteral("Halvorn version")), QStringLiteral("4.0.14"));
    EXPECT_EQ(h.field(QStringLiteral("callstack crc")), QStringLiteral("will be calculated soon"));
    EXPECT_EQ(h.field(QStringLiteral("exception number")), QString::number(report->exceptionNumber()));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d+/\\d+ MB \\(free/total\\)$"))
                    .match(h.field(QStringLiteral("physical memory")))
                    .hasMatch());
    EXPECT_TRUE(h.field(QStringLiteral("free disk space")).startsWith(QStringLiteral("(/) ")));
    EXPECT_FALSE(h.contains(QStringLiteral("bde version")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$"))
                    .match(h.field(QStringLiteral("exec. date/time")))
                    .hasMatch());

    // Fields added later (assistants, AddFields) go in front of "Halvorn version".
    report->header().setField(QStringLiteral("what were you doing"), QStringLiteral("pressing Make"));
    const QStringList after = Names(report->header());
    EXPECT_EQ(after.indexOf(QStringLiteral("what were you doing")) + 1,
              after.indexOf(QStringLiteral("Halvorn version")));
}

TEST(ReportLayout, MessageEqualToTheClassIsLeftOutAndLineBreaksBecomeSpaces)
{
    FakeReportSources sources;
    auto same =
        Built(sources, CrashIn(0x100), MakeReport(QStringLiteral("EAbort"), QStringLiteral("EAbort")));
    EXPECT_FALSE(same->header().contains(QStringLiteral("exception message")));
    auto twoLines =
        Built(sources, CrashIn(0x100), MakeReport(QStringLiteral("E"), QStringLiteral("a\r\nb  c")));
    EXPECT_EQ(twoLines->header().field(QStringLiteral("exception message")), QStringLiteral("a b c"));
    EXPECT_GT(twoLines->exceptionNumber(), same->exceptionNumber());
}

TEST(ReportLayout, ThreadSectionsCrashedFirstThenMainThenOthersWithoutTheReportersOwn)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102, 0x103, 0x104};
    sources.descriptions[0x100].text = QStringLiteral("main thread ($100)");
    sources.descriptions[0x102].text = QStringLiteral("thread $102 (TWorker)");
    sources.descriptions[0x102].suspended = true;
    sources.descriptions[0x102].priority = -5;
    sources.descriptions[0x103].text = QStringLiteral("Halvorn - HandleExceptionThread ($103)");
    sources.descriptions[0x103].reporter = true;
    sources.inaccessible = {0x104};
    ReportRequest request = CrashIn(0x101);
    request.crashed.innerExceptions = {
        {QStringLiteral("EInner"), QStringLiteral("inner text"), std::nullopt, {0x401}}};
    const auto report = Built(sources, request);

    EXPECT_EQ(
        Names(report->sections()),
        (QStringList{QStringLiteral("thread $101:"), QStringLiteral("thread $101, inner exception level 1:"),
                     QStringLiteral("main thread ($100):"),
                     QStringLiteral("thread $102 (TWorker): <suspended> <priority:-5>"),
                     QStringLiteral("thread $104:"), QStringLiteral("disassembling")}));
    const ReportFields& s = report->sections();
    EXPECT_EQ(s.field(QStringLiteral("thread $101:")),
              sources.formatAddress(0x401234, true, true) +
                  QStringLiteral("\r\n>> stack will be calculated soon"));
    EXPECT_EQ(s.field(QStringLiteral("thread $101, inner exception level 1:")),
              QStringLiteral(">> EInner, inner text\r\n>> stack will be calculated soon"));
    EXPECT_EQ(s.field(QStringLiteral("main thread ($100):")),
              QStringLiteral(">> stack will be calculated soon"));
    EXPECT_EQ(s.field(QStringLiteral("thread $104:")), QStringLiteral(">> stack not accessible"));
    EXPECT_EQ(s.field(QStringLiteral("disassembling")), QStringLiteral(">> will be calculated soon"));

    // A whole-process trace lists the reporter's threads too; without ListThreads only the crash.
    request.wholeProcess = true;
    EXPECT_TRUE(Built(sources, request)
                    ->sections()
                    .contains(QStringLiteral("Halvorn - HandleExceptionThread ($103):")));
    const auto few = Built(sources, CrashIn(0x101, false));
    EXPECT_EQ(Names(few->sections()).filter(QStringLiteral("thread")).size(), 2);
}

TEST(ReportLayout, CrashedThreadThatCannotBeInspectedShowsTheLocation)
{
    FakeReportSources sources;
    sources.inaccessible = {0x100};
    const auto report = Built(sources, CrashIn(0x100));
    EXPECT_EQ(report->sections().field(QStringLiteral("thread $100:")),
              QStringLiteral(">> stack not accessible, exception location: \r\n") +
                  sources.formatAddress(0x401234, true, true));
    ReportAssembler(sources).complete(*report, std::nullopt, false);
    EXPECT_TRUE(report->sections()
                    .field(QStringLiteral("thread $100:"))
                    .startsWith(QStringLiteral(">> stack not accessible")));
}

TEST(ReportLayout, CompletionReplacesPlaceholdersAndWritesTheChecksums)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101, 0x102};
    sources.descriptions[0x102].text = QStringLiteral("thread $102");
    sources.descriptions[0x102].creator = 0x100;
    sources.descriptions[0x102].creationAddress = 0x402000;
    sources.descriptions[0x100].text = QStringLiteral("main thread ($100)");
    sources.traces[0x101].listing =
        sources.formatAddress(0x401234, true, true) + QStringLiteral("\r\nCaller");
    sources.traces[0x101].firstEntryValue = 0x11111111;
    sources.traces[0x101].runningCrc = 0x22222222;
    sources.traces[0x101].hasLineInfo = true;
    const auto report = Built(sources, CrashIn(0x101));
    ReportAssembler(sources).complete(*report, std::nullopt, false);

    EXPECT_TRUE(report->isComplete());
    const ReportFields& s = report->sections();
    // The location line is not repeated when the listing starts with it.
    EXPECT_EQ(s.field(QStringLiteral("thread $101:")), sources.traces[0x101].listing);
    const QString created = s.field(QStringLiteral("thread $102:"));
    EXPECT_TRUE(created.endsWith(QStringLiteral(">> created by main thread ($100) at:\r\n"
                                                "0000000000402000 +000 skintool  Creator.cpp  7 +0 Create")))
        << created.toStdString();
    EXPECT_EQ(sources.traceOptions.back().creationAddress, std::optional<std::uint64_t>(0x402000));
    EXPECT_EQ(sources.traceOrder, (std::vector<std::int64_t>{0x101, 0x100, 0x102}));
    EXPECT_EQ(sources.traceOptions.front().startAddress, 0x401234u);

    const QString crc = report->header().field(QStringLiteral("callstack crc"));
    EXPECT_EQ(crc.size(), 31);
    std::uint32_t third = CrcStepWord(0x22222222, 0x100 * 3);
    third = CrcStepWord(third, 0x102 * 3);
    EXPECT_EQ(crc, FormatCallStackChecksums({0x11111111, 0x22222222, third}));
    EXPECT_FALSE(report->reportText().contains(QStringLiteral("will be calculated soon")));
}

TEST(ReportLayout, FreezeListsTheMainThreadAndHasNoClass)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101};
    const auto report = Built(sources, ReportRequest{}, MakeReport({}, {}, ExceptionType::Freeze));
    EXPECT_EQ(Names(report->sections()).first(), QStringLiteral("thread $100:"));
    EXPECT_FALSE(report->header().contains(QStringLiteral("exception class")));
    EXPECT_EQ(report->header().field(QStringLiteral("exception message")), report->FrozenMsg());
    ReportAssembler(sources).complete(*report, std::nullopt, false);
    const auto checksums = report->callStackChecksums();
    ASSERT_TRUE(checksums);
    EXPECT_EQ((*checksums)[0], 0x100u);
}

TEST(ReportLayout, PluginSectionsFieldsAndFailures)
{
    FakeReportSources sources;
    sources.plugins = {
        {QStringLiteral("modules"), {}, [](const ExceptionReport*) { return QStringLiteral("a\r\n\r\nb"); }},
        {QStringLiteral("processes"),
         {},
         [](const ExceptionReport*) -> QString { throw std::runtime_error("no processes"); }},
        {QStringLiteral("hardware"), {}, [](const ExceptionReport*) { return QStringLiteral("+ disk"); }},
        {QStringLiteral("license"), {}, [](const ExceptionReport*) { return QStringLiteral("GPL"); }, false}};
    auto report = MakeReport();
    report->setPlugins(QStringLiteral("license|hardware|modules|processes|unknown"));
    report = Built(sources, CrashIn(0x100), report);
    EXPECT_EQ(report->header().field(QStringLiteral("license")), QStringLiteral("GPL"));
    const QStringList headerNames = Names(report->header());
    EXPECT_LT(headerNames.indexOf(QStringLiteral("license")),
              headerNames.indexOf(QStringLiteral("callstack crc")));
    EXPECT_EQ(
        Names(report->sections()).mid(1, 3),
        (QStringList{QStringLiteral("hardware"), QStringLiteral("modules"), QStringLiteral("processes")}));
    EXPECT_EQ(report->sections().field(QStringLiteral("modules")),
              QStringLiteral(">> will be calculated soon"));

    ReportAssembler(sources).complete(*report, std::nullopt, false);
    EXPECT_EQ(report->sections().field(QStringLiteral("processes")),
              QStringLiteral(">> internal error in plugin:"));
    EXPECT_TRUE(report->reportText().contains(QStringLiteral("\r\n\r\nmodules:\r\na\r\n.\r\nb")));
}

TEST(ReportLayout, TracerFailureBecomesAnInternalErrorLine)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x101};
    sources.failingTraces = {0x101};
    const auto report = Built(sources, CrashIn(0x100));
    ReportAssembler(sources).complete(*report, std::nullopt, false);
    EXPECT_EQ(report->sections().field(QStringLiteral("thread $101:")),
              QStringLiteral(">> internal error in GetThreadStack:"));
    EXPECT_TRUE(report->isComplete());
}

TEST(ReportLayout, CreatorLineNeverStandsBeforeAnInternalError)
{
    FakeReportSources sources;
    sources.ids = {0x100, 0x102};
    sources.descriptions[0x100].text = QStringLiteral("main thread ($100)");
    sources.descriptions[0x102].text = QStringLiteral("thread $102");
    sources.descriptions[0x102].creator = 0x100;
    sources.descriptions[0x102].creationAddress = 0x402000;
    // The tracer failed before it reached the creation call.
    sources.traces[0x102].listing = QStringLiteral("0000000000401000 +000 skintool  Unit.cpp  12 +0 Work\r\n"
                                                   ">> internal error in FillFinalOutput:");
    const auto report = Built(sources, CrashIn(0x100));
    ReportAssembler(sources).complete(*report, std::nullopt, false);
    EXPECT_EQ(report->sections().field(QStringLiteral("thread $102:")), sources.traces[0x102].listing);
    EXPECT_EQ(sources.traceOptions.back().creator, QStringLiteral("main thread ($100)"));
}

// A throw and the runtime's fatal-error routines give the address their call returns to: the
// location line, the first frame and the disassembly show the call; a fault keeps its address.
TEST(ReportLayout, ThrowAndRuntimeErrorLocationsAreTheirCall)
{
    const auto runtimeError = std::make_shared<ExceptionReport>(
        0, ExceptionType::Exception, QStringList{QStringLiteral("ERuntimeError")},
        QStringLiteral("ERuntimeError"), QStringLiteral("Pure virtual function called"),
        ExceptionSource::RuntimeFatalError, false);
    ReportRequest thrown = CrashIn(0x100);
    thrown.crashed.raiseTimeStack = {0x401234, 0x405000};
    ReportRequest fault = CrashIn(0x100);
    fault.crashed.external = true;
    fault.crashed.raiseTimeStack = {0x401234};
    struct Case
    {
        std::shared_ptr<ExceptionReport> report;
        ReportRequest request;
        std::uint64_t location;
        bool atCall;
    };
    for (const Case& c :
         {Case{MakeReport(), thrown, 0x40122f, true}, Case{runtimeError, CrashIn(0x100), 0x40122f, true},
          Case{MakeReport(), fault, 0x401234, false}, Case{MakeReport(), CrashIn(0x100), 0x401234, false}}) {
        FakeReportSources sources;
        c.report->setShowDisAsm(true);
        const auto report = Built(sources, c.request, c.report);
        EXPECT_TRUE(report->sections()
                        .field(QStringLiteral("thread $100:"))
                        .startsWith(sources.formatAddress(c.location, true, true)));
        ReportAssembler(sources).complete(*report, std::nullopt, false);
        ASSERT_EQ(sources.traceOptions.size(), 1u);
        EXPECT_EQ(sources.traceOptions[0].startAddress, c.location);
        EXPECT_EQ(sources.traceOptions[0].startIsCall, c.atCall);
        EXPECT_EQ(report->sections().field(QStringLiteral("disassembling")),
                  QStringLiteral("> %1  mov eax, [rdx]").arg(c.location, 0, 16));
    }
}

TEST(ReportLayout, CpuSectionsOnlyWithAContext)
{
    FakeReportSources sources;
    EXPECT_FALSE(Built(sources, CrashIn(0x100))->sections().contains(QStringLiteral("cpu registers")));

    stack::CpuContext context;
    context.rax = 0x1;
    context.rip = 0x401234;
    context.rsp = 0x7ffd0000;
    context.r15 = 0xffffffffffffffff;
    sources.memoryBase = 0x7ffd0000;
    sources.memory = QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    ReportRequest request = CrashIn(0x100);
    request.crashed.context = context;
    const auto report = Built(sources, request);
    EXPECT_EQ(report->sections().field(QStringLiteral("cpu registers")),
              QStringLiteral(">> will be calculated soon"));
    ReportAssembler(sources).complete(*report, context, false);
    EXPECT_EQ(report->sections().field(QStringLiteral("cpu registers")), FormatCpuRegisters(context));
    EXPECT_EQ(report->sections().field(QStringLiteral("stack dump")),
              FormatStackDump(0x7ffd0000, sources.memory));
    EXPECT_EQ(report->sections().field(QStringLiteral("disassembling")),
              QStringLiteral("> 401234  mov eax, [rdx]"));
    const QStringList names = Names(report->sections());
    EXPECT_EQ(names.mid(names.size() - 3),
              (QStringList{QStringLiteral("cpu registers"), QStringLiteral("stack dump"),
                           QStringLiteral("disassembling")}));
}

TEST(ReportLayout, CpuRegistersSixteenDigitsInOrder)
{
    stack::CpuContext c;
    c.rax = 0xa;
    c.rip = 0x401234;
    c.r8 = 0x8;
    c.r15 = 0xfedcba9876543210;
    const QStringList lines = FormatCpuRegisters(c).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 17);
    EXPECT_EQ(lines[0], QStringLiteral("rax = 000000000000000a"));
    EXPECT_EQ(lines[6], QStringLiteral("rip = 0000000000401234"));
    EXPECT_EQ(lines[8], QStringLiteral("rbp = 0000000000000000"));
    EXPECT_EQ(lines[9], QStringLiteral("r8  = 0000000000000008"));
    EXPECT_EQ(lines[16], QStringLiteral("r15 = fedcba9876543210"));
}

TEST(ReportLayout, StackDumpLinesAndTheEndOfTheRegion)
{
    QByteArray bytes;
    for (int i = 0; i < 16 + 10; ++i)
        bytes.append(char(0x3c + i));
    bytes[1] = '\0';
    const QStringList lines = FormatStackDump(0x7ffd1000, bytes).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0],
              QStringLiteral(
                  "000000007ffd1000  3c 00 3e 3f 40 41 42 43 - 44 45 46 47 48 49 4a 4b  <.>?@ABCDEFGHIJK"));
    EXPECT_EQ(lines[1], QStringLiteral("000000007ffd1010  4c 4d 4e 4f 50 51 52 53 - 54 55") +
                            QString(6 * 3 + 2, QLatin1Char(' ')) + QStringLiteral("LMNOPQRSTU"));
    QByteArray partialNine(8, 'x');
    EXPECT_EQ(FormatStackDump(0, partialNine), QStringLiteral("0000000000000000  78 78 78 78 78 78 78 78 ") +
                                                   QString(2 + 8 * 3 + 1, QLatin1Char(' ')) +
                                                   QStringLiteral("xxxxxxxx"));
    EXPECT_EQ(FormatStackDump(0, QByteArray(1000, 'a')).split(QStringLiteral("\r\n")).size(), StackDumpLines);
    EXPECT_EQ(FormatStackDump(0, {}), QString());
}

TEST(ReportLayout, ChecksumStepIsTheZipCrcWithoutInversion)
{
    const char digits[] = "123456789";
    EXPECT_EQ(~CrcStep(0xffffffff, digits, 9), 0xcbf43926u); // the zip CRC-32 check value
    const unsigned char word[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(CrcStepWord(7, 0x12345678), CrcStep(7, word, 4));
    EXPECT_EQ(FormatCallStackChecksums({0x1, 0xabcdef12, 0}),
              QStringLiteral("$00000001, $abcdef12, $00000000"));

    // Only threads whose listing has line numbers fold into the third value; the crashed one counts.
    std::vector<ThreadRecord> records(3);
    records[0].threadId = 1;
    records[1].threadId = 2;
    records[2].threadId = 3;
    records[1].crashed = true;
    for (auto& r : records) {
        r.traced = true;
        r.trace.firstEntryValue = std::uint32_t(r.threadId);
        r.trace.runningCrc = std::uint32_t(r.threadId * 10);
    }
    records[2].trace.hasLineInfo = false;
    auto values = ComputeCallStackChecksums(records, false, 1);
    ASSERT_TRUE(values);
    EXPECT_EQ(*values, (std::array<std::uint32_t, 3>{2, 20, 20}));
    records[2].trace.hasLineInfo = true;
    EXPECT_EQ((*ComputeCallStackChecksums(records, false, 1))[2], CrcStepWord(20, 30));
    records[1].traced = false;
    EXPECT_FALSE(ComputeCallStackChecksums(records, false, 1));
}

namespace {

// The fake process, but with the plugins of the real registry.
class RegisteredPluginSources : public FakeReportSources
{
public:
    std::vector<ReportPlugin> enabledPlugins(const QString& setting) override
    {
        return EnabledReportPlugins(setting);
    }
};

} // namespace

TEST(ReportLayout, RegisteredPluginsInSettingsOrder)
{
    RegisterReportPlugin(
        {QStringLiteral("test section"), QStringLiteral("a section for tests"), [](const ExceptionReport* r) {
             return r ? QStringLiteral("class ") + r->exceptionClass() + QStringLiteral("\r\n\r\nend")
                      : QString();
         }});
    RegisterReportPlugin({QStringLiteral("test field"), QStringLiteral("a field for tests"),
                          [](const ExceptionReport*) { return QStringLiteral("field text"); }, false});
    RegisteredPluginSources sources;
    auto report = MakeReport();
    report->setPlugins(QStringLiteral("Test Field|test section|not registered"));
    report = Built(sources, CrashIn(0x100), report);
    ReportAssembler(sources).complete(*report, std::nullopt, false);
    UnregisterReportPlugin(QStringLiteral("test section"));
    UnregisterReportPlugin(QStringLiteral("test field"));

    EXPECT_EQ(report->header().field(QStringLiteral("test field")), QStringLiteral("field text"));
    EXPECT_TRUE(report->reportText().contains(
        QStringLiteral("\r\n\r\ntest section:\r\nclass EReadError\r\n.\r\nend")));
    EXPECT_FALSE(report->sections().contains(QStringLiteral("not registered")));
}
