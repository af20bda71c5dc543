// Merging a new report into the report file: appending, duplicate folding with "count", trimming
// the oldest reports, and content that is not what the merge expects.
#include "crash/core/report/ReportFileMerge.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace crash;

namespace {

constexpr int Width = 18; // "exception message" plus one

QString Line(const QString& name, const QString& value)
{
    return name.leftJustified(Width) + QLatin1String(": ") + value;
}

struct Sample
{
    QString date = QStringLiteral("2026-01-01, 10:00:00, 1ms");
    QString crc = QStringLiteral("$11111111, $22222222, $33333333");
    QString version = QStringLiteral("1.0.0");
    QString exceptionClass = QStringLiteral("EReadError");
    QString execDate = QStringLiteral("2026-01-01 09:00");
    QString count;
    QString body = QStringLiteral("stack");

    QString text() const
    {
        QStringList lines{Line(QStringLiteral("date/time"), date),
                          Line(QStringLiteral("executable"), QStringLiteral("skintool")),
                          Line(QStringLiteral("exec. date/time"), execDate)};
        if (!version.isEmpty())
            lines.append(Line(QStringLiteral("version"), version));
        lines.append(Line(QStringLiteral("callstack crc"), crc));
        if (!count.isEmpty())
            lines.append(Line(QStringLiteral("count"), count));
        if (!exceptionClass.isEmpty())
            lines.append(Line(QStringLiteral("exception class"), exceptionClass));
        return lines.join(QLatin1String("\r\n")) + QLatin1String("\r\n\r\nmain thread ($10):\r\n") + body;
    }

    NewReport report() const
    {
        NewReport r;
        r.text = text();
        r.checksums = crc;
        r.hasExceptionClass = !exceptionClass.isEmpty();
        r.executable = QStringLiteral("skintool");
        r.exceptionClass = exceptionClass;
        r.version = version;
        r.execDateTime = execDate;
        r.nameWidth = Width;
        return r;
    }

    QByteArray inFile() const { return text().toUtf8() + "\r\n\r\n"; }
};

int Reports(const QByteArray& file)
{
    return int(file.count("\r\ndate/time")) + (file.startsWith("date/time") ? 1 : 0);
}

} // namespace

TEST(ReportFileMerge, AppendsBehindAnEmptyLine)
{
    Sample first, second;
    second.crc = QStringLiteral("$aaaaaaaa, $bbbbbbbb, $cccccccc");
    second.date = QStringLiteral("2026-01-02, 10:00:00, 1ms");
    const QByteArray once = MergeReportFile({}, first.report(), {});
    EXPECT_EQ(once, first.inFile());
    const QByteArray twice = MergeReportFile(once, second.report(), {});
    EXPECT_EQ(twice, first.inFile() + second.inFile());
}

TEST(ReportFileMerge, WithoutAppendOnlyTheNewReportRemains)
{
    Sample old, fresh;
    fresh.body = QStringLiteral("new");
    ReportFileRules rules;
    rules.append = false;
    EXPECT_EQ(MergeReportFile(old.inFile() + old.inFile(), fresh.report(), rules), fresh.inFile());
}

TEST(ReportFileMerge, SameCrashReplacesTheOldReportAndCounts)
{
    Sample other;
    other.crc = QStringLiteral("$99999999, $88888888, $77777777");
    Sample old;
    Sample fresh;
    fresh.date = QStringLiteral("2026-02-02, 11:00:00, 5ms");
    fresh.crc = QStringLiteral("$11111111, $22222222, $44444444"); // third value differs: not in the key
    const QByteArray file = old.inFile() + other.inFile();

    const QByteArray merged = MergeReportFile(file, fresh.report(), {});
    Sample expected = fresh;
    expected.count = QStringLiteral("2");
    EXPECT_EQ(merged, other.inFile() + expected.inFile());

    Sample third = fresh;
    third.date = QStringLiteral("2026-02-03, 11:00:00, 5ms");
    Sample expectedThird = third;
    expectedThird.count = QStringLiteral("3");
    EXPECT_EQ(MergeReportFile(merged, third.report(), {}), other.inFile() + expectedThird.inFile());
}

TEST(ReportFileMerge, KeyLengthFollowsTheDuplicateDefinition)
{
    Sample old;
    Sample fresh;
    fresh.crc = QStringLiteral("$11111111, $99999999, $33333333"); // same first value only
    ReportFileRules rules;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 2); // definition 1: two values
    rules.dupExceptDef = 0;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 1);
    rules.dupExceptDef = 2;
    fresh.crc = QStringLiteral("$11111111, $22222222, $44444444");
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 2);
    rules.noDupExcepts = false;
    fresh.crc = old.crc;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 2);
}

TEST(ReportFileMerge, FreezesUseTheirOwnRules)
{
    Sample old, fresh;
    old.exceptionClass.clear();
    fresh.exceptionClass.clear();
    fresh.crc = QStringLiteral("$11111111, $22222222, $44444444");
    ReportFileRules rules; // DupFreezeDef 2: all three values
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 2);
    fresh.crc = old.crc;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 1);
    rules.noDupFreezes = false;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), rules)), 2);
}

TEST(ReportFileMerge, OtherVersionOrClassOrProgramIsNotTheSame)
{
    Sample old, fresh;
    fresh.version = QStringLiteral("1.0.1");
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), {})), 2);
    fresh = Sample();
    fresh.exceptionClass = QStringLiteral("EWriteError");
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), {})), 2);
    // Without a version the executable's time decides.
    old = Sample();
    old.version.clear();
    fresh = old;
    fresh.execDate = QStringLiteral("2026-01-05 09:00");
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), {})), 2);
    fresh.execDate = old.execDate;
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), {})), 1);
}

TEST(ReportFileMerge, UnfinishedChecksumsNeverFold)
{
    Sample old, fresh;
    old.crc = fresh.crc = QStringLiteral("will be calculated soon");
    EXPECT_EQ(Reports(MergeReportFile(old.inFile(), fresh.report(), {})), 2);
}

TEST(ReportFileMerge, OversizedFileLosesItsOldestReportsFirst)
{
    QByteArray file;
    for (int i = 0; i < 20; ++i) {
        Sample s;
        s.crc = QStringLiteral("$%1, $22222222, $33333333").arg(i, 8, 10, QLatin1Char('0'));
        s.body = QStringLiteral("report %1 ").arg(i) + QString(200, QLatin1Char('x'));
        file += s.inFile();
    }
    ReportFileRules rules;
    rules.sizeLimit = file.size() / 2;
    Sample fresh;
    fresh.body = QStringLiteral("newest");
    const QByteArray merged = MergeReportFile(file, fresh.report(), rules);
    const QByteArray kept = merged.left(merged.size() - fresh.inFile().size());
    EXPECT_TRUE(merged.endsWith(fresh.inFile()));
    EXPECT_LT(kept.size(), rules.sizeLimit - rules.sizeLimit / 4);
    EXPECT_TRUE(kept.startsWith("date/time"));
    EXPECT_TRUE(kept.endsWith("report 19 " + QByteArray(200, 'x') + "\r\n\r\n")); // the newest old ones stay
    EXPECT_FALSE(kept.contains("report 0 "));
    // As many reports as fit: one more would exceed the bound.
    const qsizetype oneReport = file.size() / 20;
    EXPECT_GE(kept.size() + oneReport + 8, rules.sizeLimit - rules.sizeLimit / 4);

    // Below the limit nothing is cut.
    rules.sizeLimit = file.size() + 1;
    EXPECT_EQ(MergeReportFile(file, fresh.report(), rules), file + fresh.inFile());
}

TEST(ReportFileMerge, NewestOldReportAloneTooLargeIsKept)
{
    Sample big;
    big.body = QString(5000, QLatin1Char('y'));
    ReportFileRules rules;
    rules.sizeLimit = 1000;
    Sample fresh;
    fresh.crc = QStringLiteral("$aaaaaaaa, $bbbbbbbb, $cccccccc");
    EXPECT_EQ(MergeReportFile(big.inFile(), fresh.report(), rules), big.inFile() + fresh.inFile());
}

TEST(ReportFileMerge, ContentThatIsNotReportsIsKeptAndTheNewReportIsWhole)
{
    Sample fresh;
    const QByteArray binary("\xff\xfe\x00\x01garbage\x80\x81", 13);
    QByteArray merged = MergeReportFile(binary, fresh.report(), {});
    EXPECT_TRUE(merged.startsWith(binary));
    EXPECT_TRUE(merged.endsWith("\r\n\r\n" + fresh.inFile()));

    // A checksum hit outside any report (no "date/time" line before it) is not a report to fold.
    const QByteArray noDates = ("notes: " + fresh.crc + "\r\nmore").toUtf8();
    merged = MergeReportFile(noDates, fresh.report(), {});
    EXPECT_TRUE(merged.startsWith(noDates));
    EXPECT_TRUE(merged.endsWith(fresh.inFile()));

    // A byte-order mark some editor put in front does not hide the first report.
    Sample old;
    merged = MergeReportFile("\xEF\xBB\xBF" + old.inFile(), fresh.report(), {});
    EXPECT_FALSE(merged.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(Reports(merged), 1);
    EXPECT_TRUE(merged.contains("count"));
}

TEST(ReportFileMerge, HugeFileIsTrimmedWithoutLosingTheNewReport)
{
    QByteArray huge;
    huge.reserve(8 << 20);
    Sample s;
    const QByteArray one = s.inFile();
    while (huge.size() < (8 << 20))
        huge += one + QByteArray(4000, 'z') + "\r\n\r\n";
    Sample fresh;
    fresh.crc = QStringLiteral("$aaaaaaaa, $bbbbbbbb, $cccccccc");
    ReportFileRules rules;
    rules.sizeLimit = 100000;
    const QByteArray merged = MergeReportFile(huge, fresh.report(), rules);
    EXPECT_TRUE(merged.endsWith(fresh.inFile()));
    EXPECT_LT(merged.size(), 100000);
}

TEST(ReportFileMerge, HeaderValuesOfAWrittenReport)
{
    Sample s;
    s.count = QStringLiteral("7");
    const QByteArray text = s.inFile();
    EXPECT_EQ(ReportHeaderValue(text, QStringLiteral("count")), QStringLiteral("7"));
    EXPECT_EQ(ReportHeaderValue(text, QStringLiteral("executable")), QStringLiteral("skintool"));
    EXPECT_EQ(ReportHeaderValue(text, QStringLiteral("exec")), QString()); // a prefix is not a name
    EXPECT_EQ(ReportHeaderValue(text, QStringLiteral("main thread ($10)")),
              QString()); // sections are not header
}
