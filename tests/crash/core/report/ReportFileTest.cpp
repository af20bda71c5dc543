// The report file on disk: where it goes, that writing it creates its folder, keeps the old content
// safe, and that writers in parallel never lose each other's reports.
#include "crash/core/report/ReportFile.h"
#include "FakeReportSources.h"
#include "crash/core/report/ReportAssembler.h"
#include "crash/core/report/ReportBuilder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <thread>

#include <sys/stat.h>

using namespace crash;
using reporttest::FakeReportSources;
using reporttest::MakeReport;

namespace {

NewReport Report(const QString& crc, const QString& body)
{
    NewReport r;
    r.text = QStringLiteral("date/time      : now\r\ncallstack crc  : ") + crc +
             QStringLiteral("\r\n\r\nsection:\r\n") + body;
    r.checksums = crc;
    r.hasExceptionClass = true;
    r.nameWidth = 15;
    return r;
}

QString Crc(int n)
{
    return QStringLiteral("$%1, $00000000, $00000000").arg(n, 8, 16, QLatin1Char('0'));
}

} // namespace

TEST(ReportFile, PathRules)
{
    EXPECT_EQ(ReportFile::resolvePath(QStringLiteral("bugreport.txt"), QStringLiteral("/opt/tool")),
              QStringLiteral("/opt/tool/bugreport.txt"));
    EXPECT_EQ(ReportFile::resolvePath(QStringLiteral("x"), QStringLiteral("/opt/tool")),
              QStringLiteral("/opt/tool/x"));
    EXPECT_EQ(
        ReportFile::resolvePath(QStringLiteral("logs\\..\\reports\\.\\bug.txt"), QStringLiteral("/opt/tool")),
        QStringLiteral("/opt/tool/reports/bug.txt"));
    EXPECT_EQ(
        ReportFile::resolvePath(QStringLiteral("/var/log/./tool/../bug.txt"), QStringLiteral("/opt/tool")),
        QStringLiteral("/var/log/bug.txt"));
    EXPECT_EQ(ReportFile::fallbackPath(QStringLiteral("bugreport.txt"),
                                       QStringLiteral("/home/u/.local/share"),
                                       QStringLiteral("/opt/tool/skintool")),
              QStringLiteral("/home/u/.local/share/skintool/bugreport.txt"));
}

TEST(ReportFile, WriteCreatesFoldersAndLeavesNoTemporaryFile)
{
    testsupport::TempDir dir;
    const QString path = dir.file(QStringLiteral("a/b/bugreport.txt"));
    ASSERT_TRUE(ReportFile::write(path, Report(Crc(1), QStringLiteral("Grüße")), {}));
    ASSERT_TRUE(ReportFile::write(path, Report(Crc(2), QStringLiteral("second")), {}));
    const QByteArray content = testsupport::ReadAll(path);
    EXPECT_TRUE(content.startsWith("date/time")); // UTF-8 without byte-order mark
    EXPECT_TRUE(content.contains("Grüße"));
    EXPECT_TRUE(content.endsWith("second\r\n\r\n"));
    EXPECT_EQ(QDir(dir.file(QStringLiteral("a/b"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("bugreport.txt")});
}

TEST(ReportFile, UnwritableFolderFailsWithoutTouchingTheOldFile)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes anywhere";
    testsupport::TempDir dir;
    const QString path = dir.write(QStringLiteral("locked/bugreport.txt"), "old reports\r\n\r\n");
    QFile::setPermissions(dir.file(QStringLiteral("locked")), QFile::ReadOwner | QFile::ExeOwner);
    EXPECT_FALSE(ReportFile::write(path, Report(Crc(1), QStringLiteral("new")), {}));
    QFile::setPermissions(dir.file(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(testsupport::ReadAll(path), QByteArray("old reports\r\n\r\n"));
}

TEST(ReportFile, ParallelWritersKeepEveryReport)
{
    testsupport::TempDir dir;
    const QString path = dir.file(QStringLiteral("bugreport.txt"));
    constexpr int Writers = 4, Each = 15;
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < Each; ++i) {
                if (!ReportFile::write(path,
                                       Report(Crc(w * 100 + i), QStringLiteral("w%1 i%2").arg(w).arg(i)), {}))
                    ++failures;
            }
        });
    }
    for (auto& writer : writers)
        writer.join();
    EXPECT_EQ(failures, 0);
    const QByteArray content = testsupport::ReadAll(path);
    for (int w = 0; w < Writers; ++w) {
        for (int i = 0; i < Each; ++i)
            EXPECT_TRUE(content.contains(QStringLiteral("w%1 i%2\r\n").arg(w).arg(i).toUtf8()))
                << w << " " << i;
    }
}

TEST(ReportFile, SaveWritesTheCompletedReportAndMarksTheAutomaticSave)
{
    testsupport::TempDir dir;
    FakeReportSources sources;
    auto report = MakeReport();
    report->setDeferCompletion(true);
    const QString path = dir.file(QStringLiteral("reports/bugreport.txt"));
    ASSERT_TRUE(report->setBugRepFile(path));
    ReportAssembler(sources).build(*report, {});
    EXPECT_FALSE(report->isComplete());

    ASSERT_TRUE(SaveReportFile(*report, {}, true)); // completes the report first
    EXPECT_TRUE(report->isComplete());
    EXPECT_EQ(report->writtenReportFile(), path);
    const QByteArray first = testsupport::ReadAll(path);
    EXPECT_FALSE(first.contains("will be calculated soon"));

    // The same crash saved again is folded into the first report.
    auto again = MakeReport();
    again->setDeferCompletion(true);
    ASSERT_TRUE(again->setBugRepFile(path));
    ReportAssembler(sources).build(*again, {});
    const QString explicitPath = dir.file(QStringLiteral("copy.txt"));
    ASSERT_TRUE(SaveReportFile(*again, explicitPath, false));
    EXPECT_TRUE(again->writtenReportFile().isEmpty()); // only automatic saves are marked
    ASSERT_TRUE(SaveReportFile(*again, {}, true));
    const QByteArray second = testsupport::ReadAll(path);
    EXPECT_EQ(second.count("\r\ndate/time") + 1, 1);
    EXPECT_TRUE(second.contains("\r\ncount"));
}

TEST(ReportFile, NewFileIsOwnerOnlyAndAnExistingFileKeepsItsMode)
{
    testsupport::TempDir dir;
    const mode_t oldMask = ::umask(022);
    const QString fresh = dir.file(QStringLiteral("fresh/bugreport.txt"));
    const bool freshWritten = ReportFile::write(fresh, Report(Crc(1), QStringLiteral("one")), {});
    const QString shared = dir.write(QStringLiteral("shared.txt"), "");
    QFile::setPermissions(shared, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const bool sharedWritten = ReportFile::write(shared, Report(Crc(2), QStringLiteral("two")), {});
    ::umask(oldMask);
    ASSERT_TRUE(freshWritten && sharedWritten);
    struct stat st
    {
    };
    ASSERT_EQ(::stat(QFile::encodeName(fresh).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0600));
    ASSERT_EQ(::stat(QFile::encodeName(shared).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0644));
}

TEST(ReportFile, OwnLinkInOwnFolderIsFollowedAndStays)
{
    testsupport::TempDir dir;
    const QString real = dir.write(QStringLiteral("reports/bugreport.txt"), "");
    ASSERT_TRUE(QFile::link(real, dir.file(QStringLiteral("link.txt"))));
    QString refusal;
    ASSERT_TRUE(ReportFile::write(dir.file(QStringLiteral("link.txt")), Report(Crc(1), QStringLiteral("x")),
                                  {}, &refusal));
    EXPECT_TRUE(refusal.isEmpty());
    EXPECT_TRUE(QFileInfo(dir.file(QStringLiteral("link.txt"))).isSymLink());
    EXPECT_TRUE(testsupport::ReadAll(real).endsWith("x\r\n\r\n"));
}
