#pragma once
// The desktop's mail composer through xdg-email: a new mail with recipients, subject, body and
// the attachments, for the user to check and send. This is what a Windows program reaches through
// Simple MAPI. The composer reports no cancel, so the result is 0 (not started) or 1 (started).
//
// The composer gets copies of the attachments: mail programs split an attachment list at commas
// and stop at quotes, so a "," in the temporary folder or a send-as name lost the attachment
// without a word. The copies lie under safe names in a private folder of their own, which stays
// (locked against clean-ups) while the program runs, since the composer reads them after the
// send; the next start-up clean-up of the reporter's working folder removes it.

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace platform {
class PrivateFolder;
}

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

// The xdg-email arguments: --utf8, --subject and --body (when not empty), one --attach per file,
// then the addresses with their display names as one "mailto:" link, so that an address that
// starts with "-" is never read as an option.
QStringList MailClientArguments(const QString& to, const QString& subject, const QString& body,
                                const QStringList& attachedFiles);

// A path a mail program takes whole: no ",", quote, backslash or control character.
bool SafeForMailProgram(const QString& path);

// The send-as name (else the file's own name) with every character that is not safe for a mail
// program replaced by "_".
QString HandOverName(const QString& file, const QString& sendAs);

// A fresh folder for one hand-over, private and with a safe path: in the reporter's working
// folder, else (when that path is not safe) in a private folder directly under /tmp. Null when
// neither can be had.
std::unique_ptr<platform::PrivateFolder> CreateHandOverFolder();

// Copies of the files in `folder` under their hand-over names; nothing when one of them cannot
// be copied (the composer would get the mail without it).
std::optional<QStringList> CopyForHandOver(const QStringList& files, const QStringList& sendAsNames,
                                           const platform::PrivateFolder& folder);

// 0 not started, 1 the composer was started.
int SendViaMailClient(const MailClientRequest& request);

} // namespace crash::send
