// The crash-test cases' reports against gdb stopped at the same point of the same program: the
// crashed thread's first line and location, its frames in gdb's order up to the thread's start, the
// disassembly's marker and the first call-stack checksum (offsets and names only, so the two runs
// may load the program at different addresses).

#include "../intercept/CrashTestRunner.h"
#include "ParkedProgram.h"
#include "crash/core/stack/StackListing.h"
#include "crash/core/stack/SymbolNames.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <iostream>
#include <optional>

namespace stacktest {
namespace {

struct Listed
{
    Frame frame;
    quint64 address = 0;
    std::optional<quint64> offset;
};

bool IsNumber(const QString& token)
{
    bool number = false;
    token.toInt(&number);
    return number;
}

// A listing line or the location line: address, "+offset", module, unit, line, "+relative line",
// function; the offset, unit and line columns may be empty.
Listed ParseListed(const QString& line)
{
    const QStringList t = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Listed l;
    l.address = t.value(0).toULongLong(nullptr, 16);
    qsizetype i = 1;
    if (t.value(i).startsWith(QLatin1Char('+')))
        l.offset = t[i++].mid(1).toULongLong(nullptr, 16);
    l.frame.module = t.value(i++);
    if (i + 1 < t.size() && IsNumber(t[i + 1])) {
        l.frame.unit = t[i];
        l.frame.line = t[i + 1].toInt();
        i += 2;
        if (t.value(i).startsWith(QLatin1Char('+')) && IsNumber(t[i].mid(1)))
            ++i;
    }
    l.frame.function = t.mid(i).join(QLatin1Char(' '));
    return l;
}

struct CrashedThread
{
    Listed location;
    std::vector<Listed> frames; // up to the creator line
    qint64 leftOut = 0;         // frames the listing says it left out
    bool creatorLine = false;
    int lines = 0;
};

// The first thread section of the report: the crashed thread.
CrashedThread CrashedThreadOf(const QString& report)
{
    CrashedThread thread;
    const QStringList parts = report.split(QStringLiteral("\r\n\r\n"));
    if (parts.size() < 2)
        return thread;
    const QStringList lines = parts[1].split(QStringLiteral("\r\n"));
    thread.lines = int(lines.size());
    static const QRegularExpression leftOut(QStringLiteral("^>> (\\d+) frames left out$"));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (i == 1) {
            thread.location = ParseListed(lines[i]);
        } else if (const auto match = leftOut.match(lines[i]); match.hasMatch()) {
            thread.leftOut += match.captured(1).toLongLong();
        } else if (lines[i].startsWith(QLatin1String(">> created by "))) {
            thread.creatorLine = true;
            break;
        } else {
            thread.frames.push_back(ParseListed(lines[i]));
        }
    }
    return thread;
}

// The address at the disassembly's marker (the line whose address column is followed by '>').
quint64 MarkedAddress(const QString& report)
{
    static const QRegularExpression marked(QStringLiteral("(?:^|\\r\\n)([0-9a-f]{16}) >"));
    const auto match = marked.match(report.mid(report.indexOf(QLatin1String("\r\n\r\ndisassembling:"))));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}

struct GdbRun
{
    std::vector<Frame> frames; // the stopped thread's, innermost first
    QString error;
};

// crash-test under gdb, stopped by `stop` (gdb commands), the stopped thread's frames.
GdbRun RunUnderGdb(const crashtests::CrashTestRunner& runner, const QString& crashCase,
                   const QStringList& stop)
{
    QStringList arguments{QStringLiteral("-batch"), QStringLiteral("-nx"),
                          QStringLiteral("-ex"),    QStringLiteral("set pagination off"),
                          QStringLiteral("-ex"),    QStringLiteral("handle all nostop noprint pass")};
    for (const QString& command : stop)
        arguments << QStringLiteral("-ex") << command;
    arguments << QStringLiteral("-ex") << QStringLiteral("python frame_limit = 100000")
              << QStringLiteral("-ex") << QStringLiteral("source " STACK_TEST_DIR "/GdbFrames.py")
              << QStringLiteral("-ex") << QStringLiteral("kill") << QStringLiteral("--args")
              << testsupport::BinDir() + "/crash-test" << QStringLiteral("--settings")
              << runner.writeSettings() << crashCase;
    QProcess gdb;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), runner.dir().path());
    gdb.setProcessEnvironment(env);
    gdb.setWorkingDirectory(runner.dir().path());
    gdb.start(QStringLiteral("gdb"), arguments);
    GdbRun run;
    if (!gdb.waitForFinished(120000)) {
        gdb.kill();
        gdb.waitForFinished(5000);
        run.error = QStringLiteral("gdb did not finish");
        return run;
    }
    qint64 selected = 0;
    const ThreadFrames threads = ParseGdbFrames(QString::fromUtf8(gdb.readAllStandardOutput()), &selected);
    if (threads.count(selected))
        run.frames = threads.at(selected);
    else
        run.error = QString::fromUtf8(gdb.readAllStandardError()).right(3000);
    return run;
}

struct CrashCase
{
    const char* name;
    QStringList stop;      // gdb commands that stop where the report's location is
    QString machinery;     // gdb's innermost frames of this name are the raising routine's
    bool overflow = false; // a stack overflow: the recursion is listed by its ends
    bool raised = true;    // reported through a C++ throw (a fault becomes one) and its raise-time stack
};

// AddressSanitizer's own raise routine takes the executable's throws, so they have no raise-time
// stack there (README, sanitizer builds).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRaiseTimeStacks = false;
#else
constexpr bool kRaiseTimeStacks = true;
#endif

// Up to main, as Comparable() takes gdb's.
std::vector<Frame> FramesOf(const std::vector<Listed>& listed)
{
    std::vector<Frame> frames;
    for (const Listed& l : listed) {
        frames.push_back(l.frame);
        if (l.frame.function == QLatin1String("main"))
            break;
    }
    return frames;
}

// The last part of a qualified name, outside brackets: "main::{lambda()#2}::operator()" gives
// "operator()".
QString OwnName(const QString& function)
{
    int depth = 0;
    for (qsizetype i = function.size() - 1; i > 0; --i) {
        const QChar c = function[i];
        depth += (c == u')' || c == u'>' || c == u'}') ? 1 : (c == u'(' || c == u'<' || c == u'{') ? -1 : 0;
        if (depth == 0 && c == u':' && function[i - 1] == u':')
            return function.mid(i + 1);
    }
    return function;
}

// A frame we found no line for is named from the symbol table (a lambda of the unoptimised
// sanitizer build: "main::{lambda()#2}::operator()"); it is gdb's frame when its own name is.
bool SameFrame(const Frame& ours, const Frame& gdb)
{
    return Describe({ours}) == Describe({gdb}) ||
           (ours.line == 0 && gdb.line != 0 && OwnName(ours.function) == OwnName(gdb.function));
}

void ExpectSameAsGdb(const CrashCase& c)
{
    SKIP_UNDER_THREAD_SANITIZER();
    if (c.raised && !kRaiseTimeStacks)
        GTEST_SKIP() << "the sanitizer's raise routine leaves no raise-time stack";
    if (QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty())
        GTEST_SKIP() << "gdb is not installed (scripts/packages/test-stack.txt)";
    crashtests::CrashTestRunner runner;
    const crashtests::CrashRun run = runner.run({QString::fromLatin1(c.name)});
    ASSERT_TRUE(run.finished);
    const QStringList reports = run.reports();
    ASSERT_EQ(reports.size(), 1) << run.err.toStdString();
    const QString& report = reports[0];
    const CrashedThread ours = CrashedThreadOf(report);
    ASSERT_FALSE(ours.frames.empty()) << report.toStdString();

    const GdbRun gdbRun = RunUnderGdb(runner, QString::fromLatin1(c.name), c.stop);
    ASSERT_FALSE(gdbRun.frames.empty()) << gdbRun.error.toStdString();
    std::vector<Frame> gdb = gdbRun.frames;
    while (!c.machinery.isEmpty() && !gdb.empty() && gdb.front().function == c.machinery)
        gdb.erase(gdb.begin());
    ASSERT_FALSE(gdb.empty());
    const Frame gdbFirst = gdb.front();
    gdb = Comparable(gdb);
    const std::string context = report.left(6000).toStdString();

    // The first line and the location line name gdb's first frame. A stack overflow faults at
    // whichever stack write of the recursive function first reaches the guard page, and that moves
    // with the randomised start of the stack: there only the function is the same in both runs.
    const std::vector<Frame> ourFrames = FramesOf(ours.frames);
    const auto described = [&c](const Frame& frame) {
        return c.overflow ? frame.function.toStdString() : Describe({frame}).toStdString();
    };
    EXPECT_EQ(described(ourFrames.front()), described(gdbFirst)) << context;
    EXPECT_EQ(described(ours.location.frame), described(gdbFirst)) << context;

    // Where it happened: the call instruction of a throw or a runtime error, else the faulting one;
    // the disassembly marks the same instruction.
    const quint64 gdbAddress = gdbFirst.callSite != 0 ? gdbFirst.callSite : gdbFirst.pc;
    ASSERT_NE(gdbFirst.functionStart, 0u);
    ASSERT_TRUE(ours.frames.front().offset.has_value()) << context;
    if (!c.overflow) {
        EXPECT_EQ(*ours.frames.front().offset, gdbAddress - gdbFirst.functionStart) << context;
    }
    const quint64 offset = c.overflow ? *ours.frames.front().offset : gdbAddress - gdbFirst.functionStart;
    EXPECT_EQ(ours.location.address, ours.frames.front().address);
    EXPECT_EQ(MarkedAddress(report), ours.frames.front().address) << context;
    crash::stack::StackEntry first;
    first.address = gdbFirst.functionStart + offset;
    first.functionStart = gdbFirst.functionStart;
    first.module = QStringLiteral("crash-test");
    first.unit = gdbFirst.unit;
    first.function = gdbFirst.function;
    EXPECT_EQ(crashtests::HeaderValue(report, QStringLiteral("callstack crc")).left(9),
              QStringLiteral("$%1").arg(crash::stack::EntryChecksum(first), 8, 16, QLatin1Char('0')));

    // Every listed frame in gdb's order, down to the thread's start.
    const int unmatched = UnmatchedFrames(ourFrames, gdb, SameFrame);
    EXPECT_EQ(unmatched, 0) << "ours:\n"
                            << Describe(ourFrames).toStdString() << "\ngdb:\n"
                            << Describe(gdb).toStdString();
    const QString outermost = Describe({gdb.back()});
    bool reachesStart = false;
    for (const Frame& f : ourFrames)
        reachesStart = reachesStart || Describe({f}) == outermost;
    EXPECT_TRUE(reachesStart) << "gdb ends in " << outermost.toStdString() << "\n" << context;
    if (c.overflow) {
        EXPECT_GT(ours.leftOut, 1000) << context;
        EXPECT_LT(ours.lines, 60) << context;
    }
    std::cout << "| " << c.name << " | " << Describe({ourFrames.front()}).toStdString() << " | "
              << Describe({gdbFirst}).toStdString() << " | " << ourFrames.size() - std::size_t(unmatched)
              << " of " << ourFrames.size() << " listed (" << ours.leftOut << " left out); gdb " << gdb.size()
              << " |\n";
}

const QStringList AtTheThrow{QStringLiteral("break ThrowException"), QStringLiteral("run"),
                             QStringLiteral("catch throw"), QStringLiteral("continue")};
const QStringList AtTheFault{QStringLiteral("handle SIGSEGV stop print nopass"), QStringLiteral("run")};

TEST(CrashCasesAgainstGdb, ExceptionInAnEventHandler)
{
    ExpectSameAsGdb({"exception", AtTheThrow, QStringLiteral("__cxa_throw")});
}

TEST(CrashCasesAgainstGdb, ExceptionInAWorkerThread)
{
    ExpectSameAsGdb({"worker-exception", AtTheThrow, QStringLiteral("__cxa_throw")});
}

TEST(CrashCasesAgainstGdb, ExceptionInAQThread)
{
    ExpectSameAsGdb({"qthread-exception", AtTheThrow, QStringLiteral("__cxa_throw")});
}

TEST(CrashCasesAgainstGdb, PureVirtualCall)
{
    ExpectSameAsGdb({"pure-virtual",
                     {QStringLiteral("break __cxa_pure_virtual"), QStringLiteral("run")},
                     QStringLiteral("__cxa_pure_virtual"),
                     false,
                     false});
}

TEST(CrashCasesAgainstGdb, StackOverflowOnTheMainThread)
{
    ExpectSameAsGdb({"stack-overflow", AtTheFault, {}, true});
}

TEST(CrashCasesAgainstGdb, StackOverflowOnAWorkerThread)
{
    ExpectSameAsGdb({"worker-stack-overflow", AtTheFault, {}, true});
}

} // namespace
} // namespace stacktest
