#include "crash/send/MimeMessage.h"

#include "crash/send/MailAddress.h"
#include "crash/send/http/MultipartBoundary.h"

#include <QFileInfo>
#include <QTimeZone>

namespace crash::send {

namespace {

// A mail line holds at most 998 characters before its CR LF.
constexpr qsizetype MaxLineBytes = 998;
// Longer names go as encoded words, which can be folded; a name of this size never brings its
// header line near the limit.
constexpr qsizetype MaxPlainNameSize = 60;
// An encoded word is at most 75 characters: "=?UTF-8?B?" and "?=" leave 63 for Base64 of 45 bytes.
constexpr qsizetype Utf8WordBytes = 45;
// "=?ISO-8859-1?Q?" and "?=" leave 58 characters for the encoded text.
constexpr qsizetype LatinWordChars = 58;
constexpr char Fold[] = "\r\n ";

bool IsAscii(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 127)
            return false;
    return true;
}

bool HasControlCharacters(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            return true;
    return false;
}

// Plain printable ASCII short enough to stand in a header line as it is.
bool FitsPlain(const QString& text)
{
    return IsAscii(text) && !HasControlCharacters(text) && text.size() <= MaxPlainNameSize;
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

bool HasLongLine(const QByteArray& text)
{
    qsizetype lineStart = 0;
    while (lineStart < text.size()) {
        qsizetype end = text.indexOf("\r\n", lineStart);
        if (end < 0)
            end = text.size();
        if (end - lineStart > MaxLineBytes)
            return true;
        lineStart = end + 2;
    }
    return false;
}

// A display name as an RFC 5322 phrase: quoted when it holds specials, so a "," or ";" in it is
// not read as the end of the address.
QByteArray PhraseFor(const QString& name)
{
    return FitsPlain(name) ? QuotedDisplayName(name).toLatin1() : Utf8EncodedWords(name);
}

// `name=value` after a header value: on the same line when that stays short, else folded.
QByteArray WithParameter(const QByteArray& line, const QByteArray& parameter)
{
    if (line.size() + 2 + parameter.size() <= 76 && !parameter.contains('\n'))
        return line + "; " + parameter;
    return line + ";" + Fold + parameter;
}

} // namespace

bool NeedsEncoding(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() > 255)
            return true;
    return false;
}

QByteArray Utf8EncodedWords(const QString& text)
{
    QByteArray out;
    QByteArray word;
    auto flush = [&] {
        if (!out.isEmpty())
            out += Fold;
        out += "=?UTF-8?B?" + word.toBase64() + "?=";
        word.clear();
    };
    // Whole characters per word: a decoder reads each word on its own.
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QByteArray character = text.mid(i, length).toUtf8();
        if (!word.isEmpty() && word.size() + character.size() > Utf8WordBytes)
            flush();
        word += character;
        i += length;
    }
    if (!word.isEmpty() || out.isEmpty())
        flush();
    return out;
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
    // ASCII goes as encoded words.
    const QByteArray phrase = PhraseFor(name);
    return phrase + (phrase.contains('\n') ? Fold : " ") + bracketed;
}

QByteArray EncodeSubject(const QString& subject)
{
    if (NeedsEncoding(subject))
        return Utf8EncodedWords(subject);
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    QByteArray word;
    auto flush = [&] {
        if (!out.isEmpty())
            out += Fold;
        out += "=?ISO-8859-1?Q?" + word + "?=";
        word.clear();
    };
    for (const char ch : subject.toLatin1()) {
        const auto b = static_cast<unsigned char>(ch);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9');
        if (word.size() + (plain ? 1 : 3) > LatinWordChars)
            flush();
        if (plain) {
            word += char(b);
        } else {
            word += '=';
            word += hex[b >> 4];
            word += hex[b & 15];
        }
    }
    if (!word.isEmpty() || out.isEmpty())
        flush();
    return out;
}

QByteArray Base64Lines(const QByteArray& data)
{
    const QByteArray encoded = data.toBase64();
    constexpr qsizetype lineChars = Base64LineBytes / 3 * 4;
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / lineChars * 2 + 2);
    for (qsizetype i = 0; i < encoded.size(); i += lineChars) {
        out += QByteArrayView(encoded).sliced(i, std::min(lineChars, encoded.size() - i));
        out += "\r\n";
    }
    return out;
}

EncodedBody EncodeBody(const QString& body)
{
    const QString text = WithCrLf(body);
    if (NeedsEncoding(text))
        return {"utf-8", "base64", Base64Lines(text.toUtf8())};
    // The line end before the next boundary belongs to the boundary, so the text keeps its own.
    const QByteArray content = text.toLatin1() + "\r\n";
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
    // SMTP cuts longer lines; Base64 keeps them whole.
    if (HasLongLine(stuffed))
        return {"utf-8", "base64", Base64Lines(text.toUtf8())};
    return {"iso-8859-1", "8bit", stuffed};
}

QByteArray MailDate(const QDateTime& time)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    // A time that is not valid has month 0, which would index before the names.
    const QDateTime utc = (time.isValid() ? time : QDateTime::currentDateTimeUtc()).toUTC();
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
    if (!FitsPlain(safe))
        return Utf8EncodedWords(safe);
    // Inside quotes a backslash escapes the next character.
    return safe.toLatin1().replace('\\', "\\\\");
}

MimeMessage::MimeMessage(const QString& from, const QString& firstTo, const QString& subject,
                         const QString& body, const QDateTime& now)
    : m_from(from), m_firstTo(firstTo), m_subject(subject), m_now(now), m_body(EncodeBody(body))
{
    // Only the 8-bit body can hold a boundary: Base64 and the folded header words have no "_".
    m_boundary = http::ChooseMultipartBoundary(
        [this](QByteArrayView boundary) { return m_body.content.contains(boundary); });
}

QByteArray MimeMessage::head() const
{
    QByteArray head;
    head += "To: " + FormatAddressHeader(m_firstTo) + "\r\n";
    head += "From: " + FormatAddressHeader(m_from) + "\r\n";
    head += "Reply-To: " + FormatAddressHeader(m_from) + "\r\n";
    head += "Subject: " + EncodeSubject(m_subject) + "\r\n";
    head += "Date: " + MailDate(m_now) + "\r\n";
    head += "Message-ID: " + MessageId(m_now) + "\r\n";
    head += "MIME-Version: 1.0\r\n";
    head += WithParameter("Content-Type: multipart/mixed", "boundary=\"" + m_boundary + "\"") + "\r\n";
    head += "\r\n";
    head += "This is a multi-part message in MIME format.\r\n";
    head += "\r\n";
    head += "--" + m_boundary + "\r\n";
    head += "Content-Type: text/plain; charset=\"" + m_body.charset + "\"\r\n";
    head += "Content-Transfer-Encoding: " + m_body.transferEncoding + "\r\n";
    head += "\r\n";
    head += m_body.content;
    return head;
}

QByteArray MimeMessage::attachmentPartHead(const QString& sendAs) const
{
    const QByteArray name = "\"" + EncodeAttachmentName(sendAs) + "\"";
    QByteArray part;
    part += "--" + m_boundary + "\r\n";
    part += WithParameter("Content-Type: " + MimeTypeFor(sendAs), "name=" + name) + "\r\n";
    part += "Content-Transfer-Encoding: base64\r\n";
    part += WithParameter("Content-Disposition: attachment", "filename=" + name) + "\r\n";
    part += "\r\n";
    return part;
}

QByteArray MimeMessage::end() const
{
    return "--" + m_boundary + "--\r\n";
}

} // namespace crash::send
