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

} // namespace
} // namespace stacktest
