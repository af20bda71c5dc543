#include "crash/send/SmtpReplyReader.h"

#include <cstring>

namespace crash::send {

qsizetype SmtpReplyReader::replyEnd(QByteArrayView buffer)
{
    qsizetype lineStart = 0;
    for (;;) {
        // Lines end in CR LF; a bare LF is part of the line.
        const qsizetype crlf = buffer.indexOf(QByteArrayView("\r\n"), lineStart);
        if (crlf < 0)
            return -1;
        if (crlf - lineStart < 4 || buffer[lineStart + 3] != '-')
            return crlf + 2;
        lineStart = crlf + 2;
    }
}

SmtpReplyReader::State SmtpReplyReader::state() const
{
    if (replyEnd(m_buffer) >= 0)
        return State::Complete;
    return m_buffer.size() >= Capacity ? State::Overflow : State::Incomplete;
}

SmtpReplyReader::State SmtpReplyReader::append(QByteArrayView data)
{
    const qsizetype room = Capacity - m_buffer.size();
    m_buffer.append(data.first(std::min(room, data.size())));
    if (data.size() > room && replyEnd(m_buffer) < 0)
        return State::Overflow;
    return state();
}

QByteArray SmtpReplyReader::takeReply()
{
    const qsizetype end = replyEnd(m_buffer);
    if (end < 0)
        return {};
    QByteArray reply = m_buffer.left(end);
    m_buffer.remove(0, end);
    return reply;
}

bool ReplyHasCode(QByteArrayView reply, const char* code)
{
    return reply.size() >= 3 && std::memcmp(reply.data(), code, 3) == 0;
}

} // namespace crash::send
