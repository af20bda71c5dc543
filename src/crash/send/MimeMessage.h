#pragma once
// The text of the mail: head, body part and attachment part heads of a multipart/mixed message,
// with encoded words for texts that plain 8-bit Latin cannot carry. Header lines are folded so
// that none comes near the 998-character limit of a mail line, and Base64 lines hold at most 76
// characters.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace crash::send {

// Characters above 255 (the Latin code page cannot hold them).
bool NeedsEncoding(const QString& text);

// "=?UTF-8?B?" + Base64 of the UTF-8 bytes + "?=", as many words of at most 75 characters as the
// text needs, folded onto lines of their own.
QByteArray Utf8EncodedWords(const QString& text);

// "<address>", or "name <address>" with the name quoted when it holds specials, or as encoded
// words when it is not plain ASCII or too long for one line.
QByteArray FormatAddressHeader(const QString& address);

// Always encoded words: UTF-8/Base64 when needed, else ISO-8859-1/Q with every byte but letters
// and digits as "=XX".
QByteArray EncodeSubject(const QString& subject);

struct EncodedBody
{
    QByteArray charset;
    QByteArray transferEncoding;
    QByteArray content; // CR LF line ends, ends in CR LF, safe between SMTP's DATA and "."
};
// 8-bit Latin text when it fits (every line within the mail line limit), else Base64 of UTF-8.
EncodedBody EncodeBody(const QString& body);

// Base64 in lines of at most 76 characters, each ended by CR LF.
QByteArray Base64Lines(const QByteArray& data);
// File bytes per Base64 line.
inline constexpr qsizetype Base64LineBytes = 57;

// "6 Dec 2026 14:05:09 UT"
QByteArray MailDate(const QDateTime& time);
// The time as a 64-bit file time in 16 hex digits, the first replaced by "<", then "@Halvorn>".
QByteArray MessageId(const QDateTime& time);

QByteArray MimeTypeFor(const QString& fileName);
// The name as it stands between the quotes of a name or filename parameter.
QByteArray EncodeAttachmentName(const QString& name);

// One mail: its boundary is drawn for it and checked against the body text.
class MimeMessage
{
public:
    MimeMessage(const QString& from, const QString& firstTo, const QString& subject, const QString& body,
                const QDateTime& now);

    const QByteArray& boundary() const { return m_boundary; }
    // Everything up to and including the body part.
    QByteArray head() const;
    // The part head of one attachment, up to the empty line before its Base64 lines.
    QByteArray attachmentPartHead(const QString& sendAs) const;
    // The closing boundary line.
    QByteArray end() const;

private:
    QString m_from;
    QString m_firstTo;
    QString m_subject;
    QDateTime m_now;
    EncodedBody m_body;
    QByteArray m_boundary;
};

} // namespace crash::send
