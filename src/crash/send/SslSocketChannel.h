#pragma once
// The SMTP byte stream over QSslSocket, used blocking on the sending thread.

#include "crash/send/SmtpChannel.h"

#include <QList>
#include <QSslCertificate>
#include <memory>

class QSslSocket;

namespace crash::send {

struct TlsPolicy
{
    // Client mode checks the server's certificate against the system's store (and these extra
    // certificates); direct delivery encrypts without checking, as mail servers do among themselves.
    bool verifyPeer = true;
    QList<QSslCertificate> extraTrusted;
};

class SslSocketChannel : public SmtpChannel
{
public:
    explicit SslSocketChannel(TlsPolicy policy);
    ~SslSocketChannel() override;

    bool connectTo(const QHostAddress& address, quint16 port, int timeoutMs) override;
    bool startTls(const QString& peerName, int timeoutMs) override;
    bool isEncrypted() const override;
    bool write(const QByteArray& data, int timeoutMs) override;
    QByteArray read(int timeoutMs) override;
    bool isOpen() const override;
    QString errorText() const override;
    void close() override;

private:
    TlsPolicy m_policy;
    std::unique_ptr<QSslSocket> m_socket;
    QString m_error;
};

} // namespace crash::send
