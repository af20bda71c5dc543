// The traces of parked threads against gdb's backtraces of the same process at the same moment:
// same frames in the same order, same function, unit and line. The program is optimised, once
// with and once without frame pointers.

#include "ParkedProgram.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

namespace stacktest {
namespace {

std::vector<Frame> UpToMain(const std::vector<Frame>& frames)
{
    std::vector<Frame> out;
    for (const Frame& f : frames) {
        out.push_back(f);
        if (f.function == QLatin1String("main"))
            break;
    }
    return out;
}

void ExpectSameAsGdb(const QString& program)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty())
        GTEST_SKIP() << "gdb is not installed (scripts/packages/test-stack.txt)";
    ParkedProgram parked(program);
    ASSERT_TRUE(parked.ready()) << parked.output().toStdString();
    ASSERT_EQ(parked.ownTraces().size(), 5u) << parked.output().toStdString();
    QString error;
    const ThreadFrames gdb = parked.GdbTraces(error);
    ASSERT_FALSE(gdb.empty()) << error.toStdString();
    for (const auto& [tid, own] : parked.ownTraces()) {
        ASSERT_TRUE(gdb.count(tid)) << "gdb does not list thread " << tid;
        const std::vector<Frame> expected = Comparable(gdb.at(tid));
        const std::vector<Frame> actual = UpToMain(own);
        EXPECT_EQ(Describe(actual).toStdString(), Describe(expected).toStdString()) << "thread " << tid;
    }
}

TEST(GdbComparison, OptimisedWithFramePointersMatchesGdb)
{
    ExpectSameAsGdb(QStringLiteral(STACK_PARK_FP));
}

TEST(GdbComparison, OptimisedWithoutFramePointersMatchesGdb)
{
    ExpectSameAsGdb(QStringLiteral(STACK_PARK_NOFP));
}

// The stripped copy has no DWARF of its own: its frames come from the symbol resource and must be
// those of the unstripped program (threads matched by their frames, as their ids differ).
TEST(GdbComparison, StrippedCopyNamesFunctionUnitAndLineFromItsResource)
{
    ParkedProgram full(QStringLiteral(STACK_PARK_NOFP));
    ParkedProgram stripped(QStringLiteral(STACK_PARK_STRIPPED));
    ASSERT_TRUE(full.ready() && stripped.ready()) << stripped.output().toStdString();
    const auto describeAll = [](const ThreadFrames& threads) {
        QStringList all;
        for (const auto& [tid, frames] : threads)
            all << Describe(frames);
        all.sort();
        return all.join(QStringLiteral("\n--\n")).toStdString();
    };
    EXPECT_EQ(describeAll(stripped.ownTraces()), describeAll(full.ownTraces()));
    EXPECT_TRUE(stripped.output().contains(QLatin1String("park::GammaInner|ParkChainC|")));
}

// Without call-frame information the stack scan alone must find the chain: no frame that gdb does
// not show (the stale return addresses that snprintf leaves in GammaInner's buffer among them), and
// the program's own frames of every thread; built with frame pointers and without.
void ExpectScanAloneAddsNoFalseFrames(const QString& program)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gdb")).isEmpty())
        GTEST_SKIP() << "gdb is not installed (scripts/packages/test-stack.txt)";
    ParkedProgram parked(program, {QStringLiteral("--scan-only")});
    ASSERT_TRUE(parked.ready()) << parked.output().toStdString();
    QString error;
    const ThreadFrames gdb = parked.GdbTraces(error);
    ASSERT_FALSE(gdb.empty()) << error.toStdString();
    int falseFrames = 0;
    for (const auto& [tid, own] : parked.ownTraces()) {
        ASSERT_TRUE(gdb.count(tid));
        const std::vector<Frame> expected = Comparable(gdb.at(tid));
        falseFrames += UnmatchedFrames(own, expected);
        int ownModuleFrames = 0;
        for (const Frame& f : own)
            ownModuleFrames += f.function.startsWith(QLatin1String("park::")) ? 1 : 0;
        EXPECT_GE(ownModuleFrames, 2) << "thread " << tid << ":\n" << Describe(own).toStdString();
    }
    EXPECT_EQ(falseFrames, 0) << parked.output().toStdString();
}

TEST(GdbComparison, ScanAloneAddsNoFalseFrames)
{
    ExpectScanAloneAddsNoFalseFrames(QStringLiteral(STACK_PARK_NOFP));
}

TEST(GdbComparison, ScanAloneWithFramePointersAddsNoFalseFrames)
{
    ExpectScanAloneAddsNoFalseFrames(QStringLiteral(STACK_PARK_FP));
}

} // namespace
} // namespace stacktest
