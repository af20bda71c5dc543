// Durations, sizes and times as the report header writes them.
#include "crash/core/report/ReportFormat.h"

#include <gtest/gtest.h>

using namespace crash;

TEST(ReportFormat, DurationsUseTheTwoLargestUnitsAndLeaveZerosOut)
{
    EXPECT_EQ(FormatDuration(0), QString());
    EXPECT_EQ(FormatDuration(1).trimmed(), QStringLiteral("1 second"));
    EXPECT_EQ(FormatDuration(59).trimmed(), QStringLiteral("59 seconds"));
    EXPECT_EQ(FormatDuration(61).trimmed(), QStringLiteral("1 minute 1 second"));
    EXPECT_EQ(FormatDuration(120).trimmed(), QStringLiteral("2 minutes"));
    EXPECT_EQ(FormatDuration(3600 + 59).trimmed(), QStringLiteral("1 hour")); // seconds are the third unit
    EXPECT_EQ(FormatDuration(2 * 3600 + 5 * 60).trimmed(), QStringLiteral("2 hours 5 minutes"));
    EXPECT_EQ(FormatDuration(86400).trimmed(), QStringLiteral("1 day"));
    EXPECT_EQ(FormatDuration(3 * 86400 + 3600 + 59 * 60).trimmed(), QStringLiteral("3 days 1 hour"));
    EXPECT_EQ(FormatDuration(400 * 86400 + 23 * 3600).trimmed(), QStringLiteral("400 days 23 hours"));
    EXPECT_EQ(FormatDuration(-5), QString());
}

TEST(ReportFormat, ProgramUpTimeBelowOneSecondInMilliseconds)
{
    EXPECT_EQ(FormatProgramUpTime(0), QStringLiteral("0 milliseconds"));
    EXPECT_EQ(FormatProgramUpTime(999), QStringLiteral("999 milliseconds"));
    EXPECT_EQ(FormatProgramUpTime(1000).trimmed(), QStringLiteral("1 second"));
    EXPECT_EQ(FormatProgramUpTime(3 * 60 * 1000 + 4500).trimmed(), QStringLiteral("3 minutes 4 seconds"));
}

TEST(ReportFormat, SizesTruncateToHundredthsWithTheGivenSeparator)
{
    const QString dot = QStringLiteral(".");
    EXPECT_EQ(FormatSize(0, dot), QStringLiteral("0 Bytes"));
    EXPECT_EQ(FormatSize(1023, dot), QStringLiteral("1023 Bytes"));
    EXPECT_EQ(FormatSize(1024, dot), QStringLiteral("1.00 KB"));
    EXPECT_EQ(FormatSize(1536, dot), QStringLiteral("1.50 KB"));
    EXPECT_EQ(FormatSize(1024 + 10, dot), QStringLiteral("1.00 KB")); // 0.0097 KB truncated
    EXPECT_EQ(FormatSize(1024 * 1024 - 1, dot), QStringLiteral("1023.99 KB"));
    EXPECT_EQ(FormatSize(1024 * 1024, dot), QStringLiteral("1.00 MB"));
    EXPECT_EQ(FormatSize(5 * 1024 * 1024 + 1024 * 1024 / 4, QStringLiteral(",")), QStringLiteral("5,25 MB"));
    EXPECT_EQ(FormatSize(std::uint64_t(3) << 30, dot), QStringLiteral("3.00 GB"));
    EXPECT_EQ(FormatSize(std::uint64_t(1) << 47, dot), QStringLiteral("131072.00 GB"));
    EXPECT_FALSE(FormatSize(~std::uint64_t(0), dot).isEmpty()); // no overflow trap
}

TEST(ReportFormat, CreationTimeAndIds)
{
    const QDateTime time(QDate(2026, 3, 4), QTime(5, 6, 7, 8));
    EXPECT_EQ(FormatReportTime(time), QStringLiteral("2026-03-04, 05:06:07, 8ms"));
    EXPECT_EQ(FormatReportTime(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59, 999))),
              QStringLiteral("2026-12-31, 23:59:59, 999ms"));
    EXPECT_EQ(HexId(0x1a2b), QStringLiteral("$1a2b"));
}
