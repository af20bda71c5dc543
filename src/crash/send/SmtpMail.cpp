#include "crash/send/SmtpMail.h"

#include "crash/send/MailAddress.h"
#include "crash/send/MxLookup.h"
#include "crash/send/TSmtp.h"

#include <QFile>
#include <QFileInfo>
#include <memory>
#include <vector>

namespace crash::send {

namespace {

struct OpenAttachment
{
    std::unique_ptr<QFile> file;
    QString sendAs;
    qint64 size = 0;
};

// Indexes of one address's steps in the progress window; -1 when the window has no such step.
struct StepGroup
{
    int mxLookup = -1;
    int connect = -1;
    int sendMail = -1;
    QList<int> attachments; // one index per attachment (the same index when they share a step)
    int finalize = -1;
};

// The steps the send procedure added before calling: after "prepare attachments".
StepGroup FirstGroup(bool direct, int attachmentCount)
{
    StepGroup g;
    int next = 1;
    if (direct)
        g.mxLookup = next++;
    g.connect = next++;
    g.sendMail = next++;
    const int shared = attachmentCount > 0 ? next++ : -1;
    for (int i = 0; i < attachmentCount; ++i)
        g.attachments.append(shared);
    g.finalize = next;
    return g;
}

StepGroup AddGroup(SendProgress& progress, const SmtpStepTexts& texts,
                   const std::vector<OpenAttachment>& attachments)
{
    StepGroup g;
    g.mxLookup = progress.stepCount();
    progress.addStep(texts.mxLookup, 500);
    g.connect = progress.stepCount();
    progress.addStep(texts.connect, 5000);
    g.sendMail = progress.stepCount();
    progress.addStep(texts.sendMail, 100);
    for (const OpenAttachment& a : attachments) {
        g.attachments.append(progress.stepCount());
        progress.addStep(texts.sendAttachments, std::max<qint64>(1, a.size / 16));
    }
    g.finalize = progress.stepCount();
    progress.addStep(texts.finalize, 1000);
    return g;
}

void MoveTo(SendProgress& progress, int step)
{
    if (step >= 0)
        progress.setCurrentStep(step);
}

bool DeliverOnce(const SmtpMailRequest& request, const SmtpOptions& options, const QString& server,
                 const QStringList& recipients, bool direct, std::vector<OpenAttachment>& attachments,
                 SendProgress& progress, const StepGroup& steps)
{
    SmtpConnectOptions connect;
    connect.timeoutMs = options.timeoutMs;
    connect.extraTrusted = options.extraTrustedCertificates;
    connect.opportunisticTls = direct;
    MoveTo(progress, steps.connect);
    TSmtp smtp(server, direct ? QString() : request.password, direct ? QString() : request.account,
               !direct && request.tls, !direct && request.ssl, direct ? options.directPort : request.port,
               connect);
    // The next transport takes over silently; the reason is for whoever reads the error output.
    const auto failed = [&] {
        qWarning("crash reporter: no mail through %s: %s", qUtf8Printable(server),
                 qUtf8Printable(smtp.lastError()));
        return false;
    };
    if (!smtp.isReady())
        return failed();
    MoveTo(progress, steps.sendMail);
    const QString from = request.from.isEmpty() ? recipients.value(0) : request.from;
    if (!smtp.sendMail(from, recipients, request.subject, request.body))
        return failed();
    for (size_t i = 0; i < attachments.size(); ++i) {
        MoveTo(progress, steps.attachments.value(qsizetype(i), -1));
        OpenAttachment& a = attachments[i];
        if (!smtp.sendAttachment(*a.file, a.size, &progress, a.sendAs))
            return failed();
    }
    MoveTo(progress, steps.finalize);
    if (!smtp.finish())
        return failed();
    progress.stepDone();
    return true;
}

} // namespace

bool MailViaSmtp(const SmtpMailRequest& request, SendProgress& progress, const SmtpOptions& options)
{
    std::vector<OpenAttachment> attachments;
    for (qsizetype i = 0; i < request.files.size(); ++i) {
        auto file = std::make_unique<QFile>(request.files[i]);
        if (!file->open(QIODevice::ReadOnly))
            continue;
        const QString sendAs = request.sendAsNames.value(i).isEmpty() ? QFileInfo(request.files[i]).fileName()
                                                                      : request.sendAsNames.value(i);
        const qint64 size = file->size();
        attachments.push_back({std::move(file), sendAs, size});
    }
    const QStringList recipients = SplitAddresses(request.to);
    bool delivered = false;
    if (recipients.isEmpty()) {
        // Nothing to deliver to.
    } else if (!request.server.trimmed().isEmpty()) {
        delivered = DeliverOnce(request, options, request.server, recipients, false, attachments, progress,
                                FirstGroup(false, int(attachments.size())));
    } else {
        MxLookupConfig lookup = SystemMxLookupConfig();
        if (!options.nameServers.isEmpty())
            lookup.nameServers = options.nameServers;
        if (!options.rootServers.isEmpty())
            lookup.rootServers = options.rootServers;
        for (qsizetype i = 0; i < recipients.size(); ++i) {
            const StepGroup steps = i == 0 ? FirstGroup(true, int(attachments.size()))
                                           : AddGroup(progress, request.stepTexts, attachments);
            MoveTo(progress, steps.mxLookup);
            const QString exchanger = LookupMailExchanger(recipients[i], lookup);
            // One connection per recipient: each may live on another mail exchanger.
            if (DeliverOnce(request, options, exchanger, {recipients[i]}, true, attachments, progress, steps))
                delivered = true;
        }
    }
    progress.close();
    return delivered;
}

} // namespace crash::send
