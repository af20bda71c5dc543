#include "crash/send/SendProcedure.h"

#include "crash/send/HttpDelivery.h"

#include "crash/core/report/ReporterWorkFolder.h"
#include "crash/core/report/SendsInProgress.h"
#include "crash/send/Attachments.h"
#include "crash/send/MailFields.h"
#include "crash/send/MailtoTransport.h"
#include "imaging/CompactPng.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>

namespace crash::send {

namespace {

bool NetworkTransportEnabled(const CrashSettings& s)
{
    return s.MailAsSmtpServer() || s.MailAsSmtpClient() || s.UploadViaHttp() || s.FogBugz() || s.BugZilla() ||
           s.Mantis();
}

bool HttpEnabled(const CrashSettings& s)
{
    return s.UploadViaHttp() || s.FogBugz() || s.BugZilla() || s.Mantis();
}

bool FileTransportEnabled(const CrashSettings& s)
{
    return NetworkTransportEnabled(s) || s.MailViaMapi();
}

// The attachment entries of step by step: report file, screenshot, AddAttachs.
struct CollectedAttachments
{
    QList<AttachmentEntry> entries;
    QString savedReportFile;    // deleted after delivery when DelBugRepFile is set
    bool reportMissing = false; // wanted, but no file could be made for it
};

// The report file, the screenshot and the archives are written into `folder`; without one only
// the configured files go.
CollectedAttachments CollectAttachments(const SendJob& job, const platform::PrivateFolder* folder)
{
    const ExceptionReport& s = *job.report;
    CollectedAttachments collected;
    if (s.AttachBugRep() && folder) {
        const ReportFileAttachment file = MakeReportFileAttachment(s, job.reportFile, *folder);
        if (!file.copiedFrom.isEmpty() && s.DelBugRepFile())
            collected.savedReportFile = file.copiedFrom;
        if (!file.target.isEmpty())
            collected.entries.append(
                {file.target, s.BugRepSendAs(), QStringLiteral("BugReport"), s.BugRepZip()});
    }
    collected.reportMissing = s.AttachBugRep() && collected.entries.isEmpty();
    if (!job.screenshot.isNull() && folder) {
        // The compact picture: 256 colours or 16 greys, whichever ScrShotDepth asks for.
        const QByteArray png = imaging::CompactPng::encode(
            job.screenshot, imaging::CompactPng::sizeCodeForDepth(s.ScrShotDepth()));
        const QString file =
            png.isEmpty() ? QString() : folder->writeFreeName(QStringLiteral("screenShot.png"), png);
        if (!file.isEmpty())
            collected.entries.append({file, s.ScrShotSendAs(), QStringLiteral("ScreenShot"), s.ScrShotZip()});
    }
    if (const auto extra = s.additionalAttachments()) {
        for (const ReportAttachment& a : extra->items())
            collected.entries.append({a.file, a.sendAs, a.field, a.zip});
    }
    return collected;
}

SendProgress MakeProgress(const SendJob& job, bool withAttachments)
{
    const ExceptionReport& s = *job.report;
    const auto& factory = Services().progress;
    // Windows need the application object; a send at the very end of the program goes without.
    const bool windows = factory && QCoreApplication::instance();
    SendProgress progress(windows ? factory(s.SendBoxTitle(), s.PrepAttMsg()) : nullptr);
    progress.addStep(s.PrepAttMsg(), 100);
    if (NetworkTransportEnabled(s)) {
        const bool smtp = s.MailAsSmtpServer() || s.MailAsSmtpClient();
        if (s.MailAsSmtpServer())
            progress.addStep(s.MxLookMsg(), 100);
        progress.addStep(s.ConnMsg(), 100);
        if (smtp)
            progress.addStep(s.SendMailMsg(), 100);
        if (withAttachments)
            progress.addStep(s.SendAttMsg(), 100);
        progress.addStep(s.SendFinalMsg(), 100);
    }
    if (!(job.silent && !s.AutoSendBox()))
        progress.show(!job.onBackgroundThread);
    return progress;
}

QList<std::pair<QString, QString>> AdditionalFields(const CrashSettings& s, const MailFields& mail)
{
    QList<std::pair<QString, QString>> fields;
    if (const auto list = s.additionalFields())
        fields = list->items();
    const std::pair<const char*, QString> added[] = {{"MailFrom", mail.from},
                                                     {"MailSubject", mail.subject},
                                                     {"MailBody", mail.body},
                                                     {"MailAddr", mail.to}};
    for (const auto& [name, value] : added)
        if (!value.isEmpty())
            fields.append({QString::fromLatin1(name), value});
    return fields;
}

int RunHttp(const SendJob& job, const DeliveryTransports& transports, const MailFields& mail,
            const PreparedAttachments& prepared, SendProgress& progress)
{
    const ExceptionReport& s = *job.report;
    if (!transports.http || !HttpEnabled(s) || s.HttpServer().isEmpty())
        return 0;
    HttpUploadRequest request;
    request.settings = &s;
    request.reportText = job.reportText;
    request.from = mail.from;
    request.to = mail.to;
    request.subject = mail.subject;
    request.body = mail.body;
    request.additionalFields = AdditionalFields(s, mail);
    request.files = prepared.files;
    request.sendAsNames = prepared.sendAsNames;
    request.fieldNames = prepared.fieldNames;
    request.progress = progress.window();
    return transports.http(request);
}

int RunSmtp(const SendJob& job, const DeliveryTransports& transports, const MailFields& mail,
            const PreparedAttachments& prepared, SendProgress& progress)
{
    const ExceptionReport& s = *job.report;
    if (!transports.smtp || mail.to.isEmpty())
        return 0;
    SmtpMailRequest request;
    request.from = mail.from;
    request.to = mail.to;
    request.subject = mail.subject;
    request.body = mail.body;
    request.sendAsNames = prepared.sendAsNames;
    request.files = prepared.files;
    request.stepTexts = {s.MxLookMsg(), s.ConnMsg(), s.SendMailMsg(), s.SendAttMsg(), s.SendFinalMsg()};
    if (s.MailAsSmtpServer()) {
        request.port = 25;
    } else if (s.MailAsSmtpClient() && !s.SmtpServer().isEmpty()) {
        request.server = s.SmtpServer();
        request.port = s.SmtpPort();
        request.ssl = s.SmtpSsl();
        request.tls = s.SmtpTls();
        request.account = s.SmtpAccount();
        request.password = s.SmtpPassword();
    } else {
        return 0;
    }
    return transports.smtp(request, progress) ? 1 : 0;
}

struct SendOutcome
{
    int result = 0;         // 1 delivered or handed to the mail program, 2 cancelled there
    bool delivered = false; // by a transport, not only handed over
};

SendOutcome SendNow(const SendJob& job, const DeliveryTransports& transports)
{
    ExceptionReport& s = *job.report;
    const MailFields mail = ComposeMailFields(s, job.reportText);

    // This send's temporary files, private to this user; they go with the folder when the send
    // ends, unless a mail program was handed them.
    std::unique_ptr<platform::PrivateFolder> workFolder;
    std::unique_ptr<platform::PrivateFolder> folder;
    CollectedAttachments collected;
    PreparedAttachments prepared;
    SendProgress progress;
    if (FileTransportEnabled(s)) {
        workFolder = ReporterWorkFolder::open();
        folder = workFolder ? workFolder->createTaskFolder(QStringLiteral("send-")) : nullptr;
        collected = CollectAttachments(job, folder.get());
        progress = MakeProgress(job, !collected.entries.isEmpty());
        prepared = PrepareAttachments(collected.entries, folder.get());
        progress.stepDone();
    }

    int result = RunHttp(job, transports, mail, prepared, progress);
    // A mail without the report is no delivery of it (the upload carries the text in a field).
    if (collected.reportMissing)
        qWarning("The bug report could not be written for attaching (no private temporary folder, or "
                 "the disk is full); it is not sent by mail.");
    else if (result == 0)
        result = RunSmtp(job, transports, mail, prepared, progress);
    const bool delivered = result == 1;

    progress.close();

    QString fileToDelete = collected.savedReportFile;
    if (result == 0 && s.MailViaMapi()) {
        MailClientRequest request{mail.to,           mail.subject,         mail.body,
                                  job.silent,        prepared.sendAsNames, prepared.files,
                                  job.processBlocked};
        if (transports.mailClient)
            result = transports.mailClient(request);
        // A started composer is no proof that the mail went out: the saved report stays.
        if (result == 1) {
            fileToDelete.clear();
            if (folder)
                folder->keep(); // the composer reads the files after this send has ended
        }
    }
    if (result == 0 && s.MailViaMailto() && !job.silent) {
        fileToDelete.clear();
        if (transports.mailto && transports.mailto(mail.to, mail.subject, job.reportText))
            result = 1;
    }
    if (result == 0 && !job.silent)
        platform::ShowMessageBox(s.SendFailMsg(), QString(), platform::MsgIcon::Error);

    // A draft handed to the mail program may never be sent: the report still counts as unsent.
    if (delivered)
        s.setSent(true);
    if (result == 1 && !fileToDelete.isEmpty())
        RemoveSentReportFile(job.reportFile);
    return {result, delivered};
}

bool Finish(const SendJob& job, const SendOutcome& outcome)
{
    if (job.finished)
        job.finished(outcome.delivered);
    return outcome.result == 1;
}

} // namespace

DeliveryTransports DefaultTransports()
{
    DeliveryTransports transports;
    transports.http = RegisteredHttpUploader() ? RegisteredHttpUploader() : HttpUploader(&UploadOverHttp);
    transports.smtp = [](const SmtpMailRequest& request, SendProgress& progress) {
        return MailViaSmtp(request, progress);
    };
    transports.mailClient = &SendViaMailClient;
    transports.mailto = &SendViaMailto;
    return transports;
}

bool SendBugReport(const SendJob& job, const DeliveryTransports& transports)
{
    if (job.reportText.isEmpty() || !job.report)
        return Finish(job, {});
    SendsInProgress::Token running = SendsInProgress::begin();
    SendJob prepared = job;
    if (job.report->AttachBugRep() && FileTransportEnabled(*job.report))
        prepared.reportFile = ReportAttachmentContent(*job.report, job.reportText);
    if (job.inBackground && !job.onBackgroundThread && !job.processBlocked) {
        SendJob background = prepared;
        background.onBackgroundThread = true;
        // The thread's own copies: the report, its text and the picture live until it ends.
        if (StartBackgroundSend([background, transports, running]() mutable {
                Finish(background, SendNow(background, transports));
                running.reset();
            }))
            return true;
    }
    return Finish(prepared, SendNow(prepared, transports));
}

bool SendReport(const SendRequest& request)
{
    SendJob job;
    static_cast<SendRequest&>(job) = request;
    return SendBugReport(job);
}

void RegisterReportDelivery()
{
    Services().send = &SendReport;
}

} // namespace crash::send
