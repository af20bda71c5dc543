#include "crash/send/MimeMessage.h"

#include "crash/send/MailAddress.h"

#include <QFileInfo>
#include <QTimeZone>

namespace crash::send {

namespace {

bool IsAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127)
            return false;
    return true;
}

// Lines of the text joined by CR LF, whatever line ends it came with.
QString WithCrLf(const QString& text)
{
    QString normalised = text;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    normalised.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    normalised.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return normalised;
}

QByteArray Base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += 76)
        out += encoded.mid(i, 76) + "\r\n";
    return out;
}

} // namespace

bool NeedsEncoding(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 255)
            return true;
    return false;
}

QByteArray Utf8EncodedWord(const QString& text)
{
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray FormatAddressHeader(const QString& address)
{
    // A line end inside an address would start a header of its own.
    QString trimmed = address;
    trimmed.replace(QLatin1Char('\r'), QLatin1Char(' '));
    trimmed.replace(QLatin1Char('\n'), QLatin1Char(' '));
    trimmed = trimmed.trimmed();
    if (!trimmed.contains(QLatin1Char('<')))
        return "<" + trimmed.toUtf8() + ">";
    const QString name = DisplayName(trimmed);
    const QByteArray bracketed = "<" + BareAddress(trimmed).toUtf8() + ">";
    if (name.isEmpty())
        return bracketed;
    // Raw 8-bit bytes in a header are read as UTF-8 by today's mail programs: anything beyond
    // ASCII goes as an encoded word.
    const QByteArray encodedName = IsAscii(name) ? name.toLatin1() : Utf8EncodedWord(name);
    return encodedName + " " + bracketed;
}

QByteArray EncodeSubject(const QString& subject)
{
    if (NeedsEncoding(subject))
        return Utf8EncodedWord(subject);
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out = "=?ISO-8859-1?Q?";
    for (const char ch : subject.toLatin1()) {
        const auto b = static_cast<unsigned char>(ch);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')) {
            out += char(b);
        } else {
            out += '=';
            out += hex[b >> 4];
            out += hex[b & 15];
        }
    }
    return out + "?=";
}

EncodedBody EncodeBody(const QString& body)
{
    const QString text = WithCrLf(body);
    if (NeedsEncoding(text))
        return {"utf-8", "base64", Base64Lines(text.toUtf8())};
    // The line end before the next boundary belongs to the boundary, so the text keeps its own.
    QByteArray content = text.toLatin1() + "\r\n";
    // Dot transparency: a line starting with "." gets a second one, which the server takes off
    // again, so a lone "." line never ends the mail and no line loses its dot.
    QByteArray stuffed;
    stuffed.reserve(content.size() + 16);
    qsizetype lineStart = 0;
    while (lineStart < content.size()) {
        const qsizetype end = content.indexOf("\r\n", lineStart);
        const qsizetype next = end < 0 ? content.size() : end + 2;
        if (content[lineStart] == '.')
            stuffed += '.';
        stuffed += content.mid(lineStart, next - lineStart);
        lineStart = next;
    }
    return {"iso-8859-1", "8bit", stuffed};
}

QByteArray MailDate(const QDateTime& time)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDateTime utc = time.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    return QByteArray::number(d.day()) + " " + months[d.month() - 1] + " " + QByteArray::number(d.year()) +
           " " +
           QStringLiteral("%1:%2:%3")
               .arg(t.hour(), 2, 10, QLatin1Char('0'))
               .arg(t.minute(), 2, 10, QLatin1Char('0'))
               .arg(t.second(), 2, 10, QLatin1Char('0'))
               .toLatin1() +
           " UT";
}

QByteArray MessageId(const QDateTime& time)
{
    // 100-nanosecond steps since 1601-01-01.
    constexpr qint64 UnixEpochInFileTime = 116444736000000000LL;
    const auto fileTime = quint64(time.toMSecsSinceEpoch() * 10000 + UnixEpochInFileTime);
    QByteArray digits = QByteArray::number(fileTime, 16).toUpper().rightJustified(16, '0');
    digits[0] = '<';
    return digits + "@Halvorn>";
}

QByteArray MimeTypeFor(const QString& fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("txt") || suffix == QLatin1String("qbr") || suffix == QLatin1String("ini"))
        return "text/plain";
    if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        return "image/jpeg";
    if (suffix == QLatin1String("png"))
        return "image/png";
    if (suffix == QLatin1String("zip"))
        return "application/zip";
    return "application/octet-stream";
}

QByteArray EncodeAttachmentName(const QString& name)
{
    // Quotes and line ends would break out of the quoted header value.
    QString safe = name;
    safe.replace(QLatin1Char('"'), QLatin1Char('\''));
    safe.replace(QLatin1Char('\r'), QLatin1Char(' '));
    safe.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return IsAscii(safe) ? safe.toLatin1() : Utf8EncodedWord(safe);
}

QByteArray MessageHead(const QString& from, const QString& firstTo, const QString& subject,
                       const QString& body, const QDateTime& now)
{
    const EncodedBody encoded = EncodeBody(body);
    QByteArray head;
    head += "To: " + FormatAddressHeader(firstTo) + "\r\n";
    head += "From: " + FormatAddressHeader(from) + "\r\n";
    head += "Reply-To: " + FormatAddressHeader(from) + "\r\n";
    head += "Subject: " + EncodeSubject(subject) + "\r\n";
    head += "Date: " + MailDate(now) + "\r\n";
    head += "Message-ID: " + MessageId(now) + "\r\n";
    head += "MIME-Version: 1.0\r\n";
    head += QByteArray("Content-Type: multipart/mixed; boundary=\"") + MultipartBoundary + "\"\r\n";
    head += "\r\n";
    head += "This is a multi-part message in MIME format.\r\n";
    head += "\r\n";
    head += QByteArray("--") + MultipartBoundary + "\r\n";
    head += "Content-Type: text/plain; charset=\"" + encoded.charset + "\"\r\n";
    head += "Content-Transfer-Encoding: " + encoded.transferEncoding + "\r\n";
    head += "\r\n";
    head += encoded.content;
    return head;
}

QByteArray AttachmentPartHead(const QString& sendAs)
{
    const QByteArray name = EncodeAttachmentName(sendAs);
    QByteArray part;
    part += QByteArray("--") + MultipartBoundary + "\r\n";
    part += "Content-Type: " + MimeTypeFor(sendAs) + "; name=\"" + name + "\"\r\n";
    part += "Content-Transfer-Encoding: base64\r\n";
    part += "Content-Disposition: attachment; filename=\"" + name + "\"\r\n";
    part += "\r\n";
    return part;
}

QByteArray MessageEnd()
{
    return QByteArray("--") + MultipartBoundary + "--\r\n";
}

} // namespace crash::send
