#pragma once
// A server's answer as the transfer hands it over: the head line by line, the body in pieces.
// Of the head it keeps the challenges and the Location of the latest answer (a head after
// "100 Continue" or an authentication round starts them afresh). Head and body together stay
// within a byte limit; past it the rest is dropped and the transfer is to be ended.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace crash::http {

class HttpAnswerReader
{
public:
    // Plenty for every answer of a form script or a tracker.
    static constexpr qint64 DefaultLimit = 1024 * 1024;

    explicit HttpAnswerReader(qint64 limit = DefaultLimit) : m_limit(limit) {}

    // Each returns false once the answer has gone past the limit.
    bool addHeadLine(QByteArrayView line);
    bool addBody(QByteArrayView data);

    bool tooLarge() const { return m_tooLarge; }
    // How many heads other than interim ones ("100 Continue") have begun.
    int finalHeads() const { return m_finalHeads; }
    qint64 limit() const { return m_limit; }

    const QByteArray& body() const { return m_body; }
    const QString& location() const { return m_location; }
    const QList<QByteArray>& serverChallenges() const { return m_serverChallenges; }
    const QList<QByteArray>& proxyChallenges() const { return m_proxyChallenges; }

private:
    bool take(qint64 size);

    qint64 m_limit;
    qint64 m_received = 0;
    bool m_tooLarge = false;
    int m_finalHeads = 0;
    QByteArray m_body;
    QString m_location;
    QList<QByteArray> m_serverChallenges;
    QList<QByteArray> m_proxyChallenges;
};

} // namespace crash::http
