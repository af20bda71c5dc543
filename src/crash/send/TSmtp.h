#pragma once
// The SMTP client of the crash reporter: one connection to one mail server, for one message.
//
// Construction connects, reads the greeting, says EHLO (or HELO), upgrades to TLS when asked or
// needed (implicit TLS with SSL, STARTTLS otherwise) and logs in with AUTH LOGIN when the server
// offers it and an account is given (over TLS whenever the server offers STARTTLS; never with an
// empty password). Then sendMail opens the data phase with the head and body,
// sendAttachment streams each file as Base64 and finish ends the message and says goodbye. Each
// stage records the first error text and makes the later stages do nothing. Every wait for the
// server is bounded by the time-out; destruction ends an open session politely (RSET, QUIT).
//
// The byte stream is a swappable SmtpChannel; the product uses QSslSocket over TCP.

#include "crash/send/MimeMessage.h"
#include "crash/send/SmtpChannel.h"
#include "crash/send/SmtpReplyReader.h"

#include <QDateTime>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

namespace crash::send {

class SendProgress;

struct SmtpConnectOptions
{
    int timeoutMs = 7000;
    QString heloName; // empty: this computer's host name
    bool verifyCertificates = true;
    // Direct delivery: STARTTLS when the server offers it, never required, never checked.
    bool opportunisticTls = false;
    QList<QSslCertificate> extraTrusted;
    // Makes the byte stream; empty: QSslSocket.
    std::function<std::unique_ptr<SmtpChannel>(const SmtpConnectOptions&)> channelFactory;
};

class TSmtp
{
public:
    TSmtp(const QString& server, const QString& password, const QString& account, bool tls, bool ssl,
          int port, SmtpConnectOptions options = {});
    ~TSmtp();
    TSmtp(const TSmtp&) = delete;
    TSmtp& operator=(const TSmtp&) = delete;

    // Connected, greeted and logged in (or no login needed).
    bool isReady() const { return m_ready; }
    QString lastError() const { return m_error; }
    quint16 port() const { return m_port; }
    bool tlsInUse() const { return m_tlsInUse; }
    bool authenticated() const { return m_authenticated; }
    int acceptedRecipients() const { return m_acceptedRecipients; }

    // MAIL FROM, RCPT TO for each address, DATA, then the head and body.
    bool sendMail(const QString& from, const QStringList& to, const QString& subject, const QString& body,
                  const QDateTime& now = QDateTime::currentDateTimeUtc());
    // The file from its start, as one Base64 part in lines of 76 characters; progress in
    // thousandths of the file.
    bool sendAttachment(QIODevice& file, qint64 size, SendProgress* progress, const QString& sendAs);
    // Ends the message and says goodbye; true when every step succeeded.
    bool finish();

    // The port used for `port` 0: 465 with SSL, 587 with TLS and a login, else 25.
    static quint16 effectivePort(int port, bool ssl, bool tls, bool login);

private:
    void connectAndGreet(const QString& server, const QString& password, const QString& account, bool tls,
                         bool ssl);
    bool command(const QByteArray& text, const char* expected);
    bool readReply(const char* expected);
    bool writeRaw(const QByteArray& data);
    bool hello();
    void fail(const QString& text);
    QString replyStart() const;

    SmtpConnectOptions m_options;
    std::unique_ptr<SmtpChannel> m_channel;
    SmtpReplyReader m_reader;
    std::optional<MimeMessage> m_message;
    QByteArray m_lastReply;
    QString m_heloName;
    QString m_server;
    QString m_error;
    quint16 m_port = 0;
    int m_acceptedRecipients = 0;
    bool m_failed = false;
    bool m_greeted = false;
    bool m_tlsOffered = false;
    bool m_tlsInUse = false;
    bool m_ready = false;
    bool m_loginOffered = false;
    bool m_authenticated = false;
    bool m_dataAccepted = false;
    bool m_bodyFinished = false;
    bool m_messageBroken = false;
    bool m_quitSent = false;
};

} // namespace crash::send
