#pragma once
// The desktop's mail composer through xdg-email: a new mail with recipients, subject, body and
// the attachments, for the user to check and send. This is what a Windows program reaches through
// Simple MAPI. The composer reports no cancel, so the result is 0 (not started) or 1 (started).

#include <QString>
#include <QStringList>

namespace crash::send {

struct MailClientRequest
{
    QString to;
    QString subject;
    QString body;
    bool silent = false;
    QStringList sendAsNames;
    QStringList files;
    bool processBlocked = false;
};

// The xdg-email arguments: --utf8, --subject, --body, one --attach per file, then the addresses.
QStringList MailClientArguments(const QString& to, const QString& subject, const QString& body,
                                const QStringList& attachedFiles);

// Files to attach under their send-as names: a file whose name differs is copied into a fresh
// folder below `tempFolder` under that name (the composer shows file names only).
QStringList FilesUnderSendAsNames(const QStringList& files, const QStringList& sendAsNames,
                                  const QString& tempFolder);

// 0 not started, 1 the composer was started.
int SendViaMailClient(const MailClientRequest& request);

} // namespace crash::send
