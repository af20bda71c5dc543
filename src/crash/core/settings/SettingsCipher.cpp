#include "crash/core/settings/SettingsCipher.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <cctype>

namespace crash {
namespace {

constexpr int NonceSize = 8;
constexpr int CheckSize = 4;

QByteArray Key(const QString& account, const QString& server)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("Halvorn password key", 20));
    hash.addData(QByteArray(1, '\0'));
    hash.addData(account.toUtf8());
    hash.addData(QByteArray(1, '\0'));
    hash.addData(server.toUtf8());
    return hash.result();
}

// SHA-256 in counter mode: block i = H(key | nonce | i).
QByteArray KeyStream(const QByteArray& key, const QByteArray& nonce, qsizetype length)
{
    QByteArray stream;
    for (quint32 counter = 0; stream.size() < length; ++counter) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(key);
        hash.addData(nonce);
        const char c[4] = {char(counter), char(counter >> 8), char(counter >> 16), char(counter >> 24)};
        hash.addData(QByteArrayView(c, 4));
        stream += hash.result();
    }
    stream.truncate(length);
    return stream;
}

QByteArray Check(const QByteArray& key, const QByteArray& nonce, const QByteArray& plain)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayView("check", 5));
    hash.addData(key);
    hash.addData(nonce);
    hash.addData(plain);
    return hash.result().left(CheckSize);
}

QByteArray Xor(QByteArray data, const QByteArray& stream)
{
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(data[i] ^ stream[i]);
    return data;
}

} // namespace

QString EncipherPassword(const QString& plain, const QString& account, const QString& server)
{
    const QByteArray key = Key(account, server);
    QByteArray nonce(NonceSize, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(nonce.data()), NonceSize / 4);
    const QByteArray text = plain.toUtf8();
    const QByteArray sealed = nonce + Xor(text, KeyStream(key, nonce, text.size())) + Check(key, nonce, text);
    return QString::fromLatin1(sealed.toHex());
}

std::optional<QString> DecipherPassword(const QString& stored, const QString& account, const QString& server)
{
    const QByteArray hex = stored.toLatin1();
    if (hex.size() % 2 != 0 || stored.size() != hex.size())
        return std::nullopt;
    for (char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return std::nullopt;
    }
    const QByteArray sealed = QByteArray::fromHex(hex);
    if (sealed.size() < NonceSize + CheckSize)
        return std::nullopt;
    const QByteArray key = Key(account, server);
    const QByteArray nonce = sealed.left(NonceSize);
    const QByteArray body = sealed.mid(NonceSize, sealed.size() - NonceSize - CheckSize);
    const QByteArray text = Xor(body, KeyStream(key, nonce, body.size()));
    if (Check(key, nonce, text) != sealed.right(CheckSize))
        return std::nullopt;
    return QString::fromUtf8(text);
}

} // namespace crash
