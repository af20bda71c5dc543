#include "crash/send/MailClientTransport.h"

#include "crash/send/MailAddress.h"
#include "crash/send/MailtoTransport.h"
#include "platform/ChildProgram.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace crash::send {

namespace {
// A composer that runs in the foreground (a mail program started fresh) counts as started
// once it has lived this long.
constexpr int ComposerWatchMs = 20000;
} // namespace

QStringList MailClientArguments(const QString& to, const QString& subject, const QString& body,
                                const QStringList& attachedFiles)
{
    QStringList arguments{QStringLiteral("--utf8"), QStringLiteral("--subject"), subject,
                          QStringLiteral("--body"), body};
    for (const QString& file : attachedFiles)
        arguments << QStringLiteral("--attach") << file;
    for (const QString& address : SplitAddresses(to))
        arguments << BareAddress(address);
    return arguments;
}

QStringList FilesUnderSendAsNames(const QStringList& files, const QStringList& sendAsNames,
                                  const QString& tempFolder)
{
    QStringList result;
    QString folder;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString wanted = QFileInfo(sendAsNames.value(i)).fileName();
        if (wanted.isEmpty() || wanted == QFileInfo(files[i]).fileName()) {
            result.append(files[i]);
            continue;
        }
        if (folder.isEmpty()) {
            QTemporaryDir dir(QDir(tempFolder).filePath(QStringLiteral("halvorn-mail-XXXXXX")));
            if (!dir.isValid()) {
                result.append(files[i]);
                continue;
            }
            // The composer reads the files after this send has ended.
            dir.setAutoRemove(false);
            folder = dir.path();
        }
        const QString copy = QDir(folder).filePath(wanted);
        QFile::remove(copy);
        result.append(QFile::copy(files[i], copy) ? copy : files[i]);
    }
    return result;
}

int SendViaMailClient(const MailClientRequest& request)
{
    // A composer needs the user; a silent send has nobody to show it to.
    if (request.silent || request.processBlocked)
        return 0;
    const QString xdgEmail = platform::FindProgram(QStringLiteral("xdg-email"));
    if (xdgEmail.isEmpty() || DefaultMailtoHandler().isEmpty())
        return 0;
    const QStringList files = FilesUnderSendAsNames(request.files, request.sendAsNames, QDir::tempPath());
    const auto outcome = platform::StartAndWatch(
        xdgEmail, MailClientArguments(request.to, request.subject, request.body, files), ComposerWatchMs);
    return outcome == platform::StartOutcome::ExitedWithSuccess ||
                   outcome == platform::StartOutcome::StillRunning
               ? 1
               : 0;
}

} // namespace crash::send
