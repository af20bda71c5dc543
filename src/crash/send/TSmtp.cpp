#include "crash/send/TSmtp.h"

#include "crash/send/MailAddress.h"
#include "crash/send/MimeMessage.h"
#include "crash/send/SendProgress.h"
#include "crash/send/SslSocketChannel.h"
#include "platform/NetworkConfig.h"

#include <QHostInfo>
#include <QIODevice>

namespace crash::send {

namespace {

// Whole Base64 lines per read.
constexpr qint64 AttachmentPieceBytes = Base64LineBytes * 64;
constexpr qsizetype WriteChunkBytes = 64 * 1024;

QByteArray AngleAddress(const QString& address)
{
    QString bare = BareAddress(address);
    bare.remove(QLatin1Char('\r'));
    bare.remove(QLatin1Char('\n'));
    return "<" + bare.toUtf8() + ">";
}

bool ReplyHasLine(const QByteArray& reply, const QByteArray& line)
{
    for (const QByteArray& l : reply.split('\n')) {
        if (l.trimmed().compare(line, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// The AUTH line of an EHLO reply offers LOGIN, also in the old "AUTH=LOGIN" form.
bool OffersLogin(const QByteArray& reply)
{
    QByteArray normalised = reply.toUpper();
    normalised.replace('-', ' ');
    normalised.replace('=', ' ');
    for (QByteArray line : normalised.split('\n')) {
        line = line.trimmed();
        if (line.startsWith("250 AUTH") && (line + ' ').contains(" LOGIN "))
            return true;
    }
    return false;
}

std::unique_ptr<SmtpChannel> DefaultChannel(const SmtpConnectOptions& options)
{
    const bool verify = options.verifyCertificates && !options.opportunisticTls;
    return std::make_unique<SslSocketChannel>(TlsPolicy{verify, options.extraTrusted});
}

QHostAddress Resolve(const QString& server, QString& error)
{
    QHostAddress address;
    if (address.setAddress(server))
        return address;
    if (server.trimmed().isEmpty()) {
        error = QStringLiteral("Host not found");
        return {};
    }
    const QHostInfo info = QHostInfo::fromName(server);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        error = info.errorString();
        return {};
    }
    // IPv4 first: a name like "localhost" also lists ::1, where a server may not listen.
    for (const QHostAddress& candidate : info.addresses())
        if (candidate.protocol() == QAbstractSocket::IPv4Protocol)
            return candidate;
    return info.addresses().first();
}

} // namespace

quint16 TSmtp::effectivePort(int port, bool ssl, bool tls, bool login)
{
    if (port > 0 && port <= 65535)
        return quint16(port);
    if (ssl)
        return 465;
    return tls && login ? 587 : 25;
}

TSmtp::TSmtp(const QString& server, const QString& password, const QString& account, bool tls, bool ssl,
             int port, SmtpConnectOptions options)
    : m_options(std::move(options)), m_server(server.trimmed())
{
    m_heloName = m_options.heloName.isEmpty() ? platform::LocalHostName() : m_options.heloName;
    m_channel = m_options.channelFactory ? m_options.channelFactory(m_options) : DefaultChannel(m_options);
    m_port = effectivePort(port, ssl, tls, !account.isEmpty() || !password.isEmpty());
    connectAndGreet(server, password, account, tls, ssl);
}

TSmtp::~TSmtp()
{
    // A message that was not ended properly is dropped with the connection: "." would deliver
    // half a mail, and in the data phase any command would become part of the message.
    const bool dataOpen = m_dataAccepted && !m_bodyFinished;
    if (!dataOpen && m_greeted && !m_quitSent && m_channel->isOpen()) {
        m_quitSent = true;
        if (command("RSET", "250"))
            command("QUIT", "221");
    }
    m_channel->close();
}

void TSmtp::fail(const QString& text)
{
    if (!m_failed)
        m_error = text;
    m_failed = true;
}

QString TSmtp::replyStart() const
{
    return QString::fromLatin1(m_lastReply.left(10)).trimmed();
}

bool TSmtp::writeRaw(const QByteArray& data)
{
    return m_channel->write(data, m_options.timeoutMs);
}

bool TSmtp::readReply(const char* expected)
{
    m_lastReply.clear();
    for (;;) {
        const auto state = m_reader.state();
        if (state == SmtpReplyReader::State::Complete)
            break;
        if (state == SmtpReplyReader::State::Overflow) {
            m_reader.clear();
            return false;
        }
        const QByteArray data = m_channel->read(m_options.timeoutMs);
        if (data.isEmpty())
            return false;
        if (m_reader.append(data) == SmtpReplyReader::State::Overflow) {
            m_reader.clear();
            return false;
        }
    }
    m_lastReply = m_reader.takeReply();
    return ReplyHasCode(m_lastReply, expected);
}

bool TSmtp::command(const QByteArray& text, const char* expected)
{
    QByteArray line = text;
    line.replace('\r', ' ');
    line.replace('\n', ' ');
    if (!writeRaw(line + "\r\n")) {
        m_lastReply.clear();
        return false;
    }
    return readReply(expected);
}

bool TSmtp::hello()
{
    const QByteArray name = m_heloName.toUtf8();
    return command("EHLO " + name, "250") || command("HELO " + name, "250");
}

void TSmtp::connectAndGreet(const QString& server, const QString& password, const QString& account, bool tls,
                            bool ssl)
{
    QString resolveError;
    const QHostAddress address = Resolve(m_server, resolveError);
    if (address.isNull()) {
        fail(QStringLiteral("Server not found (") + resolveError + QLatin1Char(')'));
        return;
    }
    if (!m_channel->connectTo(address, m_port, m_options.timeoutMs)) {
        fail(QStringLiteral("No connection to server"));
        return;
    }
    if (ssl) {
        if (!m_channel->startTls(m_server, m_options.timeoutMs)) {
            fail(QStringLiteral("SSL failed"));
            return;
        }
        m_tlsInUse = true;
    }
    if (!readReply("220")) {
        fail(QStringLiteral("HELO failed (") + replyStart() + QLatin1Char(')'));
        return;
    }
    m_greeted = true;
    if (!hello()) {
        fail(QStringLiteral("HELO failed (") + replyStart() + QLatin1Char(')'));
        return;
    }

    const bool login = !account.isEmpty() || !password.isEmpty();
    m_tlsOffered = !m_tlsInUse &&
                   (ReplyHasLine(m_lastReply, "250-STARTTLS") || ReplyHasLine(m_lastReply, "250 STARTTLS"));
    // A password never goes in the clear to a server that offers TLS, asked for or not.
    const bool useStartTls = m_tlsOffered && (tls || m_options.opportunisticTls || login);
    if (tls && !m_options.opportunisticTls && !m_tlsInUse && !m_tlsOffered) {
        // Asked for TLS and not offered it: going on in the clear would expose the mail and the
        // password to whoever removed the offer on the way.
        fail(QStringLiteral("TLS failed"));
        return;
    }
    if (useStartTls) {
        if (!command("STARTTLS", "220") || !m_channel->startTls(m_server, m_options.timeoutMs)) {
            fail(QStringLiteral("TLS failed"));
            return;
        }
        m_tlsInUse = true;
        // What was read before the handshake must not be taken for the server's answer after it.
        m_reader.clear();
        if (!hello()) {
            fail(QStringLiteral("2nd HELO failed (") + replyStart() + QLatin1Char(')'));
            return;
        }
    }

    m_loginOffered = OffersLogin(m_lastReply);
    if (m_loginOffered && login) {
        if (password.isEmpty()) {
            // The settings give an empty password for one that was not stored enciphered for
            // this account and server; logging in with it would only earn a refusal or worse.
            fail(QStringLiteral("internal error (SMTP password empty or not enciphered for this account "
                                "and server)"));
            return;
        }
        if (!command("AUTH LOGIN", "334") || !command(account.toUtf8().toBase64(), "334") ||
            !command(password.toUtf8().toBase64(), "235")) {
            fail(QStringLiteral("Authentication failed (") + replyStart() + QLatin1Char(')'));
            return;
        }
        m_authenticated = true;
    }
    m_ready = true;
}

bool TSmtp::sendMail(const QString& from, const QStringList& to, const QString& subject, const QString& body,
                     const QDateTime& now)
{
    if (!m_ready || m_failed)
        return false;
    if (!command("MAIL FROM:" + AngleAddress(from), "250")) {
        fail(QStringLiteral("MAIL FROM failed (") + replyStart() + QLatin1Char(')'));
        return false;
    }
    QString refusal;
    for (const QString& address : to) {
        if (command("RCPT TO:" + AngleAddress(address), "250"))
            ++m_acceptedRecipients;
        else if (refusal.isEmpty())
            refusal = replyStart();
    }
    if (m_acceptedRecipients == 0) {
        fail(QStringLiteral("RCPT TO failed (") + refusal + QLatin1Char(')'));
        return false;
    }
    if (!command("DATA", "354")) {
        fail(QStringLiteral("DATA failed (") + replyStart() + QLatin1Char(')'));
        return false;
    }
    m_dataAccepted = true;
    m_message.emplace(from, to.value(0), subject, body, now);
    if (!writeRaw(m_message->head())) {
        fail(QStringLiteral("Sending failed"));
        return false;
    }
    return true;
}

bool TSmtp::sendAttachment(QIODevice& file, qint64 size, SendProgress* progress, const QString& sendAs)
{
    if (!m_dataAccepted || m_bodyFinished || m_failed)
        return false;
    QByteArray chunk = m_message->attachmentPartHead(sendAs);
    if (!file.seek(0)) {
        m_messageBroken = true;
        fail(QStringLiteral("Attachment not readable (") + sendAs + QLatin1Char(')'));
        return false;
    }
    qint64 done = 0;
    // Bytes short of a whole line wait for the next read: Base64 padding may only end the part.
    QByteArray pending;
    char piece[AttachmentPieceBytes];
    for (;;) {
        const qint64 got = file.read(piece, AttachmentPieceBytes);
        if (got < 0) {
            // A part cut short must not go out as if it were the whole file.
            m_messageBroken = true;
            fail(QStringLiteral("Attachment not readable (") + sendAs + QLatin1Char(')'));
            return false;
        }
        if (got == 0)
            break;
        pending.append(piece, got);
        const qsizetype whole = pending.size() / Base64LineBytes * Base64LineBytes;
        chunk += Base64Lines(pending.left(whole));
        pending.remove(0, whole);
        done += got;
        if (chunk.size() >= WriteChunkBytes) {
            if (!writeRaw(chunk)) {
                fail(QStringLiteral("Sending failed"));
                return false;
            }
            chunk.clear();
            if (progress && size > 0)
                progress->setPosition(int(std::min<qint64>(1000, done * 1000 / size)));
        }
    }
    chunk += Base64Lines(pending);
    if (!writeRaw(chunk)) {
        fail(QStringLiteral("Sending failed"));
        return false;
    }
    if (progress)
        progress->setPosition(1000);
    return true;
}

bool TSmtp::finish()
{
    if (m_dataAccepted && !m_bodyFinished && !m_messageBroken && !m_failed) {
        if (writeRaw(m_message->end() + ".\r\n") && readReply("250"))
            m_bodyFinished = true;
        else
            fail(QStringLiteral("Sending failed (") + replyStart() + QLatin1Char(')'));
    }
    if (m_greeted && !m_quitSent && !(m_dataAccepted && !m_bodyFinished)) {
        m_quitSent = true;
        command("QUIT", "221");
    }
    // The server took the message with its 250; a lost goodbye does not undo that.
    return m_bodyFinished;
}

} // namespace crash::send
