#include "crash/send/MailtoTransport.h"

#include "crash/send/DesktopEntry.h"
#include "crash/send/MailAddress.h"
#include "platform/ChildProgram.h"

namespace crash::send {

namespace {
constexpr int QueryTimeoutMs = 10000;
}

QString EncodeMailtoPart(const QString& text)
{
    static const char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QString out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '.' ||
            b == '@') {
            out += QLatin1Char(char(b));
        } else {
            out += QLatin1Char('%');
            out += QLatin1Char(hex[b >> 4]);
            out += QLatin1Char(hex[b & 15]);
        }
    }
    return out;
}

QString EncodeMailtoAddresses(const QString& to, bool semicolons)
{
    QStringList addresses = SplitAddresses(to);
    for (QString& address : addresses)
        address = QuotedAddress(address);
    return EncodeMailtoPart(addresses.join(semicolons ? QLatin1Char(';') : QLatin1Char(',')));
}

QString BuildMailtoLink(const QString& to, const QString& subject, const QString& report, bool semicolons)
{
    return QStringLiteral("mailto:") + EncodeMailtoAddresses(to, semicolons) + QStringLiteral("?subject=") +
           EncodeMailtoPart(subject) + QStringLiteral("&body=") + EncodeMailtoPart(report);
}

QString LimitMailtoLink(const QString& link, qsizetype otherLength, qsizetype limit)
{
    const qsizetype room = std::max<qsizetype>(0, limit - otherLength);
    if (link.size() <= room)
        return link;
    QString cut = link.left(room);
    // A "%" among the last two characters would leave a broken escape.
    const qsizetype percent = cut.lastIndexOf(QLatin1Char('%'));
    if (percent >= 0 && percent >= cut.size() - 2)
        cut.truncate(percent);
    return cut;
}

QString DefaultMailtoHandler()
{
    const QString xdgMime = platform::FindProgram(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return {};
    const auto output = platform::RunProgramForOutput(
        xdgMime,
        {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/mailto")},
        QueryTimeoutMs);
    if (!output.finished || output.exitCode != 0)
        return {};
    // The first line names the handler's desktop file.
    return QString::fromUtf8(output.standardOutput).section(QLatin1Char('\n'), 0, 0).trimmed();
}

MailtoCommand BuildMailtoCommand(const QString& desktopId, const QString& desktopFile, const QString& to,
                                 const QString& subject, const QString& report)
{
    const auto entry = DesktopEntry::load(desktopFile);
    if (!entry)
        return {};
    const bool outlook = desktopId.contains(QLatin1String("outlook"), Qt::CaseInsensitive) ||
                         entry->exec().contains(QLatin1String("outlook"), Qt::CaseInsensitive);
    const QString link = BuildMailtoLink(to, subject, report, outlook);
    // Measure what the command takes besides the link with a one-character stand-in.
    const qsizetype otherLength = entry->commandLineFor(QStringLiteral("x")).size() - 1;
    const QStringList command = entry->commandFor(LimitMailtoLink(link, otherLength));
    if (command.isEmpty())
        return {};
    return {command.first(), command.mid(1)};
}

bool SendViaMailto(const QString& to, const QString& subject, const QString& report)
{
    const QString desktopId = DefaultMailtoHandler();
    if (desktopId.isEmpty())
        return false;
    const QString desktopFile = FindDesktopFile(desktopId);
    if (desktopFile.isEmpty())
        return false;
    const MailtoCommand command = BuildMailtoCommand(desktopId, desktopFile, to, subject, report);
    if (command.program.isEmpty())
        return false;
    return platform::StartDetached(command.program, command.arguments);
}

} // namespace crash::send
