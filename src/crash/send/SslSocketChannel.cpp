#include "crash/send/SslSocketChannel.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace crash::send {

SslSocketChannel::SslSocketChannel(TlsPolicy policy)
    : m_policy(std::move(policy)), m_socket(std::make_unique<QSslSocket>())
{
}

SslSocketChannel::~SslSocketChannel()
{
    close();
}

bool SslSocketChannel::connectTo(const QHostAddress& address, quint16 port, int timeoutMs)
{
    m_socket->connectToHost(address, port);
    if (m_socket->waitForConnected(timeoutMs))
        return true;
    m_error = m_socket->errorString();
    m_socket->abort();
    return false;
}

bool SslSocketChannel::startTls(const QString& peerName, int timeoutMs)
{
    QSslConfiguration config = m_socket->sslConfiguration();
    if (m_policy.verifyPeer) {
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        if (!m_policy.extraTrusted.isEmpty())
            config.addCaCertificates(m_policy.extraTrusted);
    } else {
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    m_socket->setSslConfiguration(config);
    m_socket->setPeerVerifyName(peerName);
    m_socket->startClientEncryption();
    if (m_socket->waitForEncrypted(timeoutMs))
        return true;
    m_error = m_socket->errorString();
    const auto errors = m_socket->sslHandshakeErrors();
    if (!errors.isEmpty())
        m_error = errors.first().errorString();
    return false;
}

bool SslSocketChannel::isEncrypted() const
{
    return m_socket->isEncrypted();
}

bool SslSocketChannel::write(const QByteArray& data, int timeoutMs)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    if (m_socket->write(data) != data.size()) {
        m_error = m_socket->errorString();
        return false;
    }
    // Hand everything to the kernel before going on, so memory stays bounded on large files.
    while (m_socket->bytesToWrite() > 0 || m_socket->encryptedBytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(timeoutMs)) {
            m_error = m_socket->errorString();
            return false;
        }
    }
    return true;
}

QByteArray SslSocketChannel::read(int timeoutMs)
{
    if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(timeoutMs)) {
        m_error = m_socket->errorString();
        return {};
    }
    return m_socket->readAll();
}

bool SslSocketChannel::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

QString SslSocketChannel::errorText() const
{
    return m_error;
}

void SslSocketChannel::close()
{
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    if (m_socket->isEncrypted() && m_socket->state() == QAbstractSocket::ConnectedState) {
        m_socket->disconnectFromHost();
        if (m_socket->state() != QAbstractSocket::UnconnectedState)
            m_socket->waitForDisconnected(1000);
    }
    m_socket->abort();
}

} // namespace crash::send
