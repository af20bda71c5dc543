#pragma once
// The text of the mail: head, body part and attachment part heads of a multipart/mixed message,
// with encoded words for texts that plain 8-bit Latin cannot carry.

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace crash::send {

inline constexpr char MultipartBoundary[] = "Trevasil_multipart_boundary";

// Characters above 255 (the Latin code page cannot hold them).
bool NeedsEncoding(const QString& text);

// "=?UTF-8?B?" + Base64 of the UTF-8 bytes + "?=".
QByteArray Utf8EncodedWord(const QString& text);

// "<address>", or "name <address>" with the name as an encoded word when it is not plain ASCII.
QByteArray FormatAddressHeader(const QString& address);

// Always an encoded word: UTF-8/Base64 when needed, else ISO-8859-1/Q with every byte but
// letters and digits as "=XX".
QByteArray EncodeSubject(const QString& subject);

struct EncodedBody
{
    QByteArray charset;
    QByteArray transferEncoding;
    QByteArray content; // CR LF line ends, ends in CR LF, safe between SMTP's DATA and "."
};
EncodedBody EncodeBody(const QString& body);

// "6 Dec 2026 14:05:09 UT"
QByteArray MailDate(const QDateTime& time);
// The time as a 64-bit file time in 16 hex digits, the first replaced by "<", then "@Halvorn>".
QByteArray MessageId(const QDateTime& time);

QByteArray MimeTypeFor(const QString& fileName);
QByteArray EncodeAttachmentName(const QString& name);

// Everything up to and including the body part.
QByteArray MessageHead(const QString& from, const QString& firstTo, const QString& subject,
                       const QString& body, const QDateTime& now);
// The part head of one attachment, up to the empty line before its Base64 lines.
QByteArray AttachmentPartHead(const QString& sendAs);
// The closing boundary line.
QByteArray MessageEnd();

} // namespace crash::send
