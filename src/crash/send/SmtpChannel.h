#pragma once
// The byte stream under the SMTP client: a TCP connection that can turn into TLS on the spot.
// Kept behind this interface so the client can run over another transport (a test double, a
// recorded session) without change.

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

namespace crash::send {

class SmtpChannel
{
public:
    virtual ~SmtpChannel() = default;

    virtual bool connectTo(const QHostAddress& address, quint16 port, int timeoutMs) = 0;
    // Starts TLS on the open connection; `peerName` is the name the certificate must carry.
    virtual bool startTls(const QString& peerName, int timeoutMs) = 0;
    virtual bool isEncrypted() const = 0;
    // Writes everything, waiting at most `timeoutMs` for the connection to take it.
    virtual bool write(const QByteArray& data, int timeoutMs) = 0;
    // What arrived within `timeoutMs`; empty on a time-out or a closed connection.
    virtual QByteArray read(int timeoutMs) = 0;
    virtual bool isOpen() const = 0;
    virtual QString errorText() const = 0;
    virtual void close() = 0;
};

} // namespace crash::send
