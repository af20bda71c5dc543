#pragma once
// The last resort: a "mailto:" link with the whole report in its body, handed to the desktop's
// registered mail program. The program is the desktop entry that xdg-mime names as default for
// x-scheme-handler/mailto; its Exec line is split by the desktop-entry rules and started without
// a shell.

#include <QString>
#include <QStringList>
#include <functional>

namespace crash::send {

constexpr qsizetype MaxMailtoCommandLength = 32766;

// UTF-8 with every byte other than A-Z, a-z, 0-9, "." and "@" written as "%XX".
QString EncodeMailtoPart(const QString& text);

// The addresses of To for a link: each with its display name (quoted when it holds specials),
// joined by "," (or ";"), encoded as above.
QString EncodeMailtoAddresses(const QString& to, bool semicolons);

// "mailto:" + To + "?subject=" + Subject + "&body=" + report, each part encoded; with
// `semicolons` the addresses are joined by ";" (Outlook's habit) instead of ",".
QString BuildMailtoLink(const QString& to, const QString& subject, const QString& report, bool semicolons);

// Cuts the link so that the command line (`otherLength` characters besides the link) stays within
// the limit, never inside a "%XX" escape.
QString LimitMailtoLink(const QString& link, qsizetype otherLength, qsizetype limit = MaxMailtoCommandLength);

// The desktop file id of the default mailto handler, or empty.
QString DefaultMailtoHandler();

struct MailtoCommand
{
    QString program;
    QStringList arguments;
};

// The command for the handler's desktop file and the mail; empty program when none can be built.
MailtoCommand BuildMailtoCommand(const QString& desktopId, const QString& desktopFile, const QString& to,
                                 const QString& subject, const QString& report);

// Looks the handler up and starts it; true when it could be started.
bool SendViaMailto(const QString& to, const QString& subject, const QString& report);

} // namespace crash::send
