#include "crash/send/http/HttpAnswerReader.h"

namespace crash::http {

bool HttpAnswerReader::take(qint64 size)
{
    if (m_tooLarge || size > m_limit - m_received) {
        m_tooLarge = true;
        return false;
    }
    m_received += size;
    return true;
}

bool HttpAnswerReader::addHeadLine(QByteArrayView raw)
{
    if (!take(raw.size()))
        return false;
    const QByteArrayView line = raw.trimmed();
    if (line.startsWith("HTTP/")) { // a new answer starts
        m_serverChallenges.clear();
        m_proxyChallenges.clear();
        m_location.clear();
        const qsizetype blank = line.indexOf(' ');
        if (blank < 0 || !line.sliced(blank + 1).startsWith('1')) // not "1xx"
            ++m_finalHeads;
        return true;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return true;
    const QByteArray name = line.first(colon).trimmed().toByteArray().toLower();
    const QByteArray value = line.sliced(colon + 1).trimmed().toByteArray();
    if (name == "www-authenticate")
        m_serverChallenges.append(value);
    else if (name == "proxy-authenticate")
        m_proxyChallenges.append(value);
    else if (name == "location")
        m_location = QString::fromUtf8(value);
    return true;
}

bool HttpAnswerReader::addBody(QByteArrayView data)
{
    if (!take(data.size()))
        return false;
    m_body.append(data);
    return true;
}

} // namespace crash::http
