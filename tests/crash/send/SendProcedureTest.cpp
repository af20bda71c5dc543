// The send procedure: transports in order, attachments, the failure message, clean-up.
#include "crash/send/SendProcedure.h"
#include "QStringPrinter.h"
#include "SendTestSupport.h"
#include "platform/ExclusiveFile.h"
#include "support/MessageBoxRecorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>
#include <gtest/gtest.h>
#include <zip.h>

using namespace crash::send;

namespace {

struct Calls
{
    QStringList order;
    SmtpMailRequest smtp;
    QList<QByteArray> sentFiles; // as SMTP had them: the send removes its temporary files at its end
    MailClientRequest client;
    QString mailtoReport;
};

// Transports that record their calls and answer as told.
DeliveryTransports Recording(Calls& calls, int http, bool smtp, int client, bool mailto)
{
    DeliveryTransports t;
    t.http = [&calls, http](const HttpUploadRequest&) {
        calls.order << "http";
        return http;
    };
    t.smtp = [&calls, smtp](const SmtpMailRequest& r, SendProgress&) {
        calls.order << "smtp";
        calls.smtp = r;
        calls.sentFiles.clear();
        for (const QString& file : r.files)
            calls.sentFiles.append(testsupport::ReadAll(file));
        return smtp;
    };
    t.mailClient = [&calls, client](const MailClientRequest& r) {
        calls.order << "client";
        calls.client = r;
        return client;
    };
    t.mailto = [&calls, mailto](const QString&, const QString&, const QString& report) {
        calls.order << "mailto";
        calls.mailtoReport = report;
        return mailto;
    };
    return t;
}

QImage SamplePicture()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    return image;
}

QMap<QString, QByteArray> ZipContents(const QByteArray& bytes)
{
    QMap<QString, QByteArray> contents;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.constData(), zip_uint64_t(bytes.size()), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!archive) {
        if (source)
            zip_source_free(source);
        return contents;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), 0, &st);
        QByteArray data(qsizetype(st.size), '\0');
        zip_file_t* f = zip_fopen_index(archive, zip_uint64_t(i), 0);
        zip_fread(f, data.data(), st.size);
        zip_fclose(f);
        EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
        contents.insert(QString::fromUtf8(st.name), data);
    }
    zip_close(archive);
    return contents;
}

class SendProcedure : public ::testing::Test
{
protected:
    SendJob job(const QString& text = sendtest::SampleReportText())
    {
        SendJob j;
        j.report = report;
        j.reportText = text;
        return j;
    }

    sendtest::MailHandlerSandbox sandbox{QString{}};
    std::shared_ptr<crash::ExceptionReport> report = sendtest::MakeReport();
    testsupport::MessageBoxRecorder boxes;
    Calls calls;
};

TEST_F(SendProcedure, TransportsAreTriedInOrderUntilOneDelivers)
{
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    EXPECT_TRUE(SendBugReport(job(), Recording(calls, 0, true, 1, true)));
    // No HTTP upload configured: SMTP delivers, the desktop paths are not tried.
    EXPECT_EQ(calls.order, QStringList{"smtp"});
    EXPECT_TRUE(report->wasSent());
    EXPECT_TRUE(boxes.texts().isEmpty());

    calls = {};
    report->setUploadViaHttp(true);
    report->setHttpServer(QStringLiteral("http://bugs.example.test/"));
    // A cancel (2) stops the search but is no delivery.
    report->setSent(false);
    EXPECT_FALSE(SendBugReport(job(), Recording(calls, 2, true, 1, true)));
    EXPECT_EQ(calls.order, QStringList{"http"});
    EXPECT_FALSE(report->wasSent());
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST_F(SendProcedure, NothingDeliversShowsTheFailureTextUnlessSilent)
{
    EXPECT_FALSE(SendBugReport(job(), Recording(calls, 0, false, 0, false)));
    EXPECT_EQ(calls.order, (QStringList{"client", "mailto"}));
    // The mailto body is the whole report, not MailBody.
    EXPECT_EQ(calls.mailtoReport, sendtest::SampleReportText());
    EXPECT_EQ(boxes.texts(), QStringList{report->SendFailMsg()});
    EXPECT_EQ(boxes.icons(), QList<platform::MsgIcon>{platform::MsgIcon::Error});

    calls = {};
    boxes.clear();
    SendJob silent = job();
    silent.silent = true;
    EXPECT_FALSE(SendBugReport(silent, Recording(calls, 0, false, 0, false)));
    EXPECT_EQ(calls.order, QStringList{"client"});
    EXPECT_TRUE(boxes.texts().isEmpty());
    EXPECT_FALSE(SendBugReport(job(QString()), Recording(calls, 0, false, 0, false)));
}

TEST_F(SendProcedure, MailFieldsCarryTheReportPlaceholders)
{
    report->setMailSubj(QStringLiteral("%exceptClass%: %exceptMsg%"));
    report->setMailBody(QStringLiteral("Details:\r\n%errorDetails%\r\n--\r\n%bugReport%"));
    report->setMailAddr(QStringLiteral("Support Team <support@mirelune.example>; dev@mirelune.example"));
    SendBugReport(job(), Recording(calls, 0, false, 1, false));
    EXPECT_EQ(calls.client.subject, QStringLiteral("Exception: Not find rcc.exe."));
    EXPECT_EQ(calls.client.body, QStringLiteral("Details:\r\nThe skin could not be made.\r\n--\r\n") +
                                     sendtest::SampleReportText());
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    SendBugReport(job(), Recording(calls, 0, true, 1, false));
    EXPECT_EQ(calls.smtp.from, QStringLiteral("Halvorn <support@mirelune.example>"));
    EXPECT_EQ(calls.smtp.server, QStringLiteral("mail.example.test"));
}

TEST_F(SendProcedure, AttachesReportFileScreenshotAndExtraFiles)
{
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    const QString extra = sandbox.dir().write(QStringLiteral("extra/settings.ini"), "[a]\nb=1\n");
    report->setAddAttachs(extra + QStringLiteral(">product settings.ini>>Settings|") +
                          sandbox.dir().file(QStringLiteral("missing.log")) +
                          QStringLiteral(">missing.log>>Log"));
    SendJob j = job();
    j.screenshot = SamplePicture();
    ASSERT_TRUE(SendBugReport(j, Recording(calls, 0, true, 0, false)));
    EXPECT_EQ(calls.smtp.sendAsNames,
              (QStringList{"bugreport.txt", "screenshot.png", "product settings.ini"}));
    ASSERT_EQ(calls.smtp.files.size(), 3);
    // No saved report file: the text is written afresh, as UTF-8 with two line breaks after it.
    EXPECT_EQ(calls.sentFiles.value(0), (sendtest::SampleReportText() + "\r\n\r\n").toUtf8());
    EXPECT_EQ(QFileInfo(calls.smtp.files[2]).absoluteFilePath(), QFileInfo(extra).absoluteFilePath());
    // Delivered: the temporary report file and screenshot are gone.
    EXPECT_FALSE(QFile::exists(calls.smtp.files[0]));
    EXPECT_FALSE(QFile::exists(calls.smtp.files[1]));
}

TEST_F(SendProcedure, ZipGroupsPackEachNameOnce)
{
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    report->setBugRepZip(QStringLiteral("report.zip"));
    report->setScrShotZip(QStringLiteral("report.zip"));
    const QString extra = sandbox.dir().write(QStringLiteral("notes.txt"), "notes");
    report->setAddAttachs(extra + QStringLiteral(">Notizen äö.txt>other.zip>Notes"));
    SendJob j = job();
    j.screenshot = SamplePicture();
    ASSERT_TRUE(SendBugReport(j, Recording(calls, 0, true, 0, false)));
    ASSERT_EQ(calls.smtp.sendAsNames, (QStringList{"report.zip", "other.zip"}));
    const auto first = ZipContents(calls.sentFiles.value(0));
    EXPECT_EQ(first.keys(), (QStringList{"bugreport.txt", "screenshot.png"}));
    EXPECT_EQ(first.value("bugreport.txt"), (sendtest::SampleReportText() + "\r\n\r\n").toUtf8());
    QImage decoded;
    EXPECT_TRUE(decoded.loadFromData(first.value("screenshot.png"), "PNG"));
    EXPECT_EQ(decoded.size(), QSize(64, 48));
    EXPECT_EQ(decoded.format(), QImage::Format_Indexed8) << "the compact palette picture";
    EXPECT_EQ(decoded.pixel(5, 5), QColor(Qt::darkCyan).rgb());
    const auto second = ZipContents(calls.sentFiles.value(1));
    EXPECT_EQ(second.value(QStringLiteral("Notizen äö.txt")), QByteArray("notes"));
}

TEST_F(SendProcedure, SavedReportFileIsCopiedAndDeletedOnlyAfterRealDelivery)
{
    const QString saved =
        sandbox.dir().write(QStringLiteral("saved/bugreport.txt"), "old report\r\n\r\nnew report\r\n\r\n");
    report->setWrittenReportFile(saved);
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, true, 0, false)));
    EXPECT_EQ(calls.sentFiles.value(0), QByteArray("old report\r\n\r\nnew report\r\n\r\n"));
    EXPECT_FALSE(QFile::exists(saved));

    // A started composer or mail program is no proof of sending: the saved file stays.
    sandbox.dir().write(QStringLiteral("saved/bugreport.txt"), "kept");
    report->setMailAsSmtpClient(false);
    ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, false, 1, false)));
    EXPECT_TRUE(QFile::exists(saved));
    ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, false, 0, true)));
    EXPECT_TRUE(QFile::exists(saved));
}

TEST_F(SendProcedure, ASavedFileThatGainedAReportWhileTheMailWentIsKept)
{
    const QString saved = sandbox.dir().write(QStringLiteral("saved/bugreport.txt"), "old report\r\n\r\n");
    report->setWrittenReportFile(saved);
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    const QByteArray grown = "old report\r\n\r\nanother process's report\r\n\r\n";
    DeliveryTransports transports = Recording(calls, 0, true, 0, false);
    transports.smtp = [&](const SmtpMailRequest&, SendProgress&) {
        sandbox.dir().write(QStringLiteral("saved/bugreport.txt"), grown);
        return true;
    };
    ASSERT_TRUE(SendBugReport(job(), transports));
    EXPECT_TRUE(report->wasSent());
    EXPECT_EQ(testsupport::ReadAll(saved), grown) << "the report added during the send has not gone out";
}

TEST_F(SendProcedure, OnlyATransportsDeliveryIsSentAndEverySendReportsItsEnd)
{
    std::vector<bool> ends;
    SendJob j = job();
    j.finished = [&](bool delivered) { ends.push_back(delivered); };
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    EXPECT_TRUE(SendBugReport(j, Recording(calls, 0, true, 1, true)));
    EXPECT_TRUE(report->wasSent());
    // Handed to the composer or the mailto program: a success for the caller, not a delivery.
    report->setSent(false);
    report->setMailAsSmtpClient(false);
    EXPECT_TRUE(SendBugReport(j, Recording(calls, 0, false, 1, false)));
    EXPECT_FALSE(report->wasSent());
    EXPECT_TRUE(SendBugReport(j, Recording(calls, 0, false, 0, true)));
    EXPECT_FALSE(report->wasSent());
    EXPECT_FALSE(SendBugReport(j, Recording(calls, 0, false, 0, false)));
    EXPECT_EQ(ends, (std::vector<bool>{true, false, false, false}));
}

TEST_F(SendProcedure, TheAttachedReportFileHoldsTheSavedReportsAndThisOne)
{
    const QByteArray earlier =
        "date/time          : 2026-12-06, 09:00:00\r\nexception class    : EOld\r\n\r\n";
    const QString saved = sandbox.dir().write(QStringLiteral("reports/bugreport.txt"), earlier);
    report->setBugRepFile(saved);
    report->setDelBugRepFile(false);
    report->setMailAsSmtpClient(true);
    report->setSmtpServer(QStringLiteral("mail.example.test"));
    const QByteArray thisOne = (sendtest::SampleReportText() + "\r\n\r\n").toUtf8();
    ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, true, 0, false)));
    ASSERT_EQ(calls.smtp.files.size(), 1);
    EXPECT_EQ(calls.sentFiles.value(0), earlier + thisOne);
    EXPECT_EQ(testsupport::ReadAll(saved), earlier) << "attaching does not write the report file";

    // The file held by another writer past the wait: this report alone, still whole.
    {
        const auto held = platform::ExclusiveFile::open(saved);
        ASSERT_TRUE(held);
        ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, true, 0, false)));
    }
    EXPECT_EQ(calls.sentFiles.value(0), thisOne);

    // Without AppendBugReps the file would hold this report alone.
    report->setAppendBugReps(false);
    ASSERT_TRUE(SendBugReport(job(), Recording(calls, 0, true, 0, false)));
    EXPECT_EQ(calls.sentFiles.value(0), thisOne);
}

TEST(SendProcedureDesktop, ShippedSettingsOpenTheComposerWithBothAttachments)
{
    sendtest::MailHandlerSandbox sandbox;
    testsupport::MessageBoxRecorder boxes;
    auto report = sendtest::MakeReport();
    SendJob j;
    j.report = report;
    j.reportText = sendtest::SampleReportText();
    j.screenshot = SamplePicture();
    ASSERT_TRUE(SendBugReport(j));
    ASSERT_TRUE(sandbox.waitForCalls(1));
    const QStringList args = sandbox.calls().first();
    ASSERT_EQ(args.size(), 1);
    const QString link = args.first();
    EXPECT_TRUE(link.startsWith(
        QStringLiteral("mailto:support@mirelune.example?subject=KRY%20v10%20Pelliform%20bug%20report")))
        << link.toStdString();
    QStringList attached;
    for (const QString& part : link.split(QLatin1Char('&')))
        if (part.startsWith(QStringLiteral("attach=")))
            attached << QUrl::fromPercentEncoding(part.mid(7).toUtf8());
    ASSERT_EQ(attached.size(), 2);
    EXPECT_EQ(QFileInfo(attached[0]).fileName(), QStringLiteral("bugreport.txt"));
    EXPECT_EQ(QFileInfo(attached[1]).fileName(), QStringLiteral("screenshot.png"));
    EXPECT_EQ(testsupport::ReadAll(attached[0]), (sendtest::SampleReportText() + "\r\n\r\n").toUtf8());
    EXPECT_FALSE(QImage(attached[1]).isNull());
    // Whether the user sends the draft is unknown: the report still counts as unsent, so it is saved.
    EXPECT_FALSE(report->wasSent());
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(SendProcedureDesktop, NoHandlerSkipsMailtoAndShowsTheFailure)
{
    sendtest::MailHandlerSandbox sandbox(QString{});
    testsupport::MessageBoxRecorder boxes;
    auto report = sendtest::MakeReport();
    SendJob j;
    j.report = report;
    j.reportText = sendtest::SampleReportText();
    EXPECT_FALSE(SendBugReport(j));
    EXPECT_EQ(boxes.texts(), QStringList{QStringLiteral("Sorry, sending the bug report didn't work.")});
    EXPECT_FALSE(report->wasSent());
}

} // namespace

namespace {

// Hands every call on to a recording window that outlives the send.
class ForwardingProgress : public crash::ProgressAlert
{
public:
    explicit ForwardingProgress(sendtest::RecordingProgress* target) : m_target(target) {}
    void addStep(const QString& text, qint64 weight) override { m_target->addStep(text, weight); }
    void clearSteps() override { m_target->clearSteps(); }
    void show(bool foreground) override { m_target->show(foreground); }
    void close() override { m_target->close(); }
    void setCurrentStep(int step) override { m_target->setCurrentStep(step); }
    void stepDone() override { m_target->stepDone(); }
    void setStepPosition(int p) override { m_target->setStepPosition(p); }
    int currentStep() const override { return m_target->currentStep(); }
    int stepPosition() const override { return m_target->stepPosition(); }

private:
    sendtest::RecordingProgress* m_target;
};

TEST_F(SendProcedure, ProgressWindowStepsFollowTheTransports)
{
    std::vector<std::unique_ptr<sendtest::RecordingProgress>> windows;
    crash::Services().progress = [&windows](const QString& title, const QString&) {
        windows.push_back(std::make_unique<sendtest::RecordingProgress>());
        EXPECT_EQ(title, QStringLiteral("Sending bug report..."));
        return std::unique_ptr<crash::ProgressAlert>(
            std::make_unique<ForwardingProgress>(windows.back().get()));
    };
    report->setMailAsSmtpServer(true);
    SendJob j = job();
    j.screenshot = SamplePicture();
    SendBugReport(j, Recording(calls, 0, true, 0, false));
    ASSERT_EQ(windows.size(), 1u);
    QStringList texts;
    for (const auto& [text, weight] : windows[0]->steps) {
        texts << text;
        EXPECT_EQ(weight, 100);
    }
    EXPECT_EQ(texts, (QStringList{"Preparing attachments...", "Searching for mail server...",
                                  "Connecting to server...", "Sending mail...", "Sending attachments...",
                                  "Finalizing..."}));
    EXPECT_EQ(windows[0]->shown, 1);
    EXPECT_TRUE(windows[0]->closed);
    EXPECT_EQ(calls.smtp.server, QString()); // direct delivery

    // Silent without AutoSendBox: the window is made but never shown; mail client only: one step.
    report->setMailAsSmtpServer(false);
    SendJob silent = job();
    silent.silent = true;
    SendBugReport(silent, Recording(calls, 0, false, 0, false));
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[1]->steps.size(), 1);
    EXPECT_EQ(windows[1]->shown, 0);
    crash::Services().progress = {};
}

} // namespace
