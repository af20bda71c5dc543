// Another local user against the reporter's temporary and report files: links and folders
// planted in a shared sticky folder, as a second account (setpriv), must make the reporter
// neither write nor delete anything of this user's through them, and nothing stays behind.
#include "SendTestSupport.h"
#include "crash/core/report/ReportFile.h"
#include "crash/core/report/ReporterWorkFolder.h"
#include "crash/send/SendProcedure.h"
#include "support/MessageBoxRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace crash;
using namespace crash::send;

namespace {

// An account with no entry and no groups, played with setpriv; only root can switch to it.
constexpr int OtherUid = 4242;

QString WhyNoOtherUser()
{
    if (::geteuid() != 0)
        return QStringLiteral("playing another user needs root (setpriv --reuid)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is not installed");
    return {};
}

// Runs `command` with /bin/sh as the other user; its exit code, -1 when it did not end in time.
int AsOtherUser(const QString& command)
{
    QProcess shell;
    shell.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=%1").arg(OtherUid), QStringLiteral("--regid=%1").arg(OtherUid),
                 QStringLiteral("--clear-groups"), QStringLiteral("--"), QStringLiteral("/bin/sh"),
                 QStringLiteral("-c"), command});
    if (!shell.waitForFinished(10000)) {
        shell.kill();
        shell.waitForFinished(2000);
        return -1;
    }
    return shell.exitStatus() == QProcess::NormalExit ? shell.exitCode() : -1;
}

QString Quoted(const QString& path)
{
    return QLatin1Char('\'') + path + QLatin1Char('\'');
}

struct Entry
{
    uid_t owner = 0;
    mode_t mode = 0;
};

Entry StatOf(const QString& path)
{
    struct stat st
    {
    };
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {uid_t(-1), 0};
    return {st.st_uid, st.st_mode};
}

// A shared sticky folder like /tmp (TMPDIR points at it), the victim's own files beside it, and
// no session folder, so the reporter has to make do with the shared one.
class SharedMachine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString why = WhyNoOtherUser();
        if (!why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        QDir().mkpath(shared());
        ::chmod(QFile::encodeName(shared()).constData(), 01777);
        victimFile = dir.write(QStringLiteral("home/notes.txt"), "the victim's notes");
        env.set("TMPDIR", QFile::encodeName(shared()));
        env.unset("XDG_RUNTIME_DIR");
        ASSERT_EQ(AsOtherUser(QStringLiteral("test -w ") + Quoted(shared())), 0)
            << "the other user cannot write the shared folder";
    }

    QString shared() const { return dir.file(QStringLiteral("shared")); }
    QString fixedWorkFolder() const
    {
        return shared() + QLatin1Char('/') + ReporterWorkFolder::name() + QLatin1Char('-') +
               QString::number(::geteuid());
    }
    void Plant(const QString& target, const QString& name)
    {
        ASSERT_EQ(AsOtherUser(QStringLiteral("ln -s ") + Quoted(target) + QLatin1Char(' ') +
                              Quoted(shared() + QLatin1Char('/') + name)),
                  0);
    }
    void ExpectVictimUntouched()
    {
        EXPECT_EQ(testsupport::ReadAll(victimFile), QByteArray("the victim's notes"));
        EXPECT_EQ(QDir(dir.file(QStringLiteral("home"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                  QStringList{QStringLiteral("notes.txt")});
    }

    testsupport::TempDir dir;
    sendtest::ScopedEnvironment env;
    QString victimFile;
};

} // namespace

TEST_F(SharedMachine, PlantedWorkFolderIsNeitherUsedNorEmptied)
{
    const QString fixedName = QFileInfo(fixedWorkFolder()).fileName();
    // A link to the victim's folder, then a folder of the other user's holding such a link.
    for (const bool asFolder : {false, true}) {
        SCOPED_TRACE(asFolder ? "planted folder" : "planted link");
        if (asFolder) {
            ASSERT_EQ(::unlink(QFile::encodeName(fixedWorkFolder()).constData()), 0);
            ASSERT_EQ(AsOtherUser(QStringLiteral("mkdir -m 777 ") + Quoted(fixedWorkFolder()) + " && ln -s " +
                                  Quoted(dir.file(QStringLiteral("home/notes.txt"))) + " " +
                                  Quoted(fixedWorkFolder() + QStringLiteral("/bugreport.txt"))),
                      0);
        } else {
            Plant(dir.file(QStringLiteral("home")), fixedName);
        }
        ReporterWorkFolder::removeLeftovers(); // what every handling does first
        ExpectVictimUntouched();

        QString usedPath;
        {
            const auto work = ReporterWorkFolder::open();
            ASSERT_TRUE(work);
            usedPath = work->path();
            EXPECT_NE(usedPath, fixedWorkFolder());
            EXPECT_EQ(StatOf(usedPath).owner, ::geteuid());
            EXPECT_EQ(StatOf(usedPath).mode & 07777, mode_t(0700));
            EXPECT_NE(AsOtherUser(QStringLiteral("ln -s / ") + Quoted(usedPath + QStringLiteral("/x"))), 0)
                << "the other user got into the private folder";
        }
        EXPECT_FALSE(QFileInfo::exists(usedPath)) << "a fresh folder goes when done";
        EXPECT_EQ(StatOf(fixedWorkFolder()).owner, uid_t(OtherUid)) << "the other user's entry is left alone";
    }
}

TEST_F(SharedMachine, SendWritesNothingThroughPlantedNamesAndLeavesNothingBehind)
{
    testsupport::MessageBoxRecorder boxes;
    for (const char* name : {"bugreport.txt", "screenShot.png", "report.zip"})
        Plant(victimFile, QString::fromLatin1(name));
    Plant(dir.file(QStringLiteral("home")), QFileInfo(fixedWorkFolder()).fileName());
    const QStringList planted =
        QDir(shared()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System);

    auto report = sendtest::MakeReport();
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    report->setScrShotZip(QStringLiteral("report.zip"));
    SendJob job;
    job.report = report;
    job.reportText = sendtest::SampleReportText();
    job.screenshot = QImage(32, 24, QImage::Format_RGB32);
    job.screenshot.fill(Qt::darkCyan);

    QStringList sentFiles;
    QList<Entry> files;
    QList<Entry> folders;
    DeliveryTransports transports;
    transports.smtp = [&](const SmtpMailRequest& request, SendProgress&) {
        sentFiles = request.files;
        for (const QString& file : request.files) {
            files.append(StatOf(file));
            folders.append(StatOf(QFileInfo(file).absolutePath()));
        }
        return true;
    };
    ASSERT_TRUE(SendBugReport(job, transports));

    ASSERT_EQ(sentFiles.size(), 2); // the report, the archive with the screenshot
    for (qsizetype i = 0; i < sentFiles.size(); ++i) {
        SCOPED_TRACE(sentFiles[i].toStdString());
        EXPECT_EQ(files[i].owner, ::geteuid());
        EXPECT_TRUE(S_ISREG(files[i].mode));
        EXPECT_EQ(files[i].mode & 07777, mode_t(0600));
        EXPECT_EQ(folders[i].owner, ::geteuid());
        EXPECT_EQ(folders[i].mode & 07777, mode_t(0700));
        EXPECT_FALSE(QFileInfo::exists(sentFiles[i])) << "left behind after the send";
    }
    ExpectVictimUntouched();
    // Nothing new in the shared folder but private folders (the named objects' may be one).
    for (const QString& name :
         QDir(shared()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)) {
        if (planted.contains(name))
            continue;
        const Entry entry = StatOf(shared() + QLatin1Char('/') + name);
        EXPECT_TRUE(S_ISDIR(entry.mode) && entry.owner == ::geteuid() && (entry.mode & 07777) == 0700)
            << name.toStdString();
        EXPECT_FALSE(name.startsWith(ReporterWorkFolder::name())) << "the send's fresh folder stayed";
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(SharedMachine, ReportFileThroughALinkOrOfAnotherUserIsRefused)
{
    const ReportFileRules rules;
    NewReport report;
    report.text = QStringLiteral("date/time : now\r\n");
    Plant(victimFile, QStringLiteral("bugreport.txt"));
    QString refusal;
    EXPECT_FALSE(ReportFile::write(shared() + QStringLiteral("/bugreport.txt"), report, rules, &refusal));
    EXPECT_TRUE(refusal.contains(QStringLiteral("symbolic link"))) << refusal.toStdString();
    // A link to the shared folder: the planted link is the last step.
    QFile::link(shared(), dir.file(QStringLiteral("own-link")));
    refusal.clear();
    EXPECT_FALSE(
        ReportFile::write(dir.file(QStringLiteral("own-link/bugreport.txt")), report, rules, &refusal));
    EXPECT_TRUE(refusal.contains(QStringLiteral("symbolic link"))) << refusal.toStdString();
    ExpectVictimUntouched();

    ASSERT_EQ(AsOtherUser(QStringLiteral("echo planted > ") +
                          Quoted(shared() + QStringLiteral("/theirs.txt")) + " && chmod 666 " +
                          Quoted(shared() + QStringLiteral("/theirs.txt"))),
              0);
    refusal.clear();
    EXPECT_FALSE(ReportFile::write(shared() + QStringLiteral("/theirs.txt"), report, rules, &refusal));
    EXPECT_TRUE(refusal.contains(QStringLiteral("another user"))) << refusal.toStdString();
    EXPECT_EQ(testsupport::ReadAll(shared() + QStringLiteral("/theirs.txt")), QByteArray("planted\n"));

    // This user's own new file in the shared folder is fine, and private.
    refusal.clear();
    EXPECT_TRUE(ReportFile::write(shared() + QStringLiteral("/mine.txt"), report, rules, &refusal));
    EXPECT_TRUE(refusal.isEmpty());
    EXPECT_EQ(StatOf(shared() + QStringLiteral("/mine.txt")).mode & 07777, mode_t(0600));
}
