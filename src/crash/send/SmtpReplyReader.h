#pragma once
// Collects the bytes a mail server sends until one whole reply is there: lines ending in CR LF,
// continuation lines marked by "-" after the three-digit code, the last line by a blank (or
// nothing) there. A reply larger than the 64 KB receive buffer is refused, not grown into.

#include <QByteArray>
#include <QByteArrayView>

namespace crash::send {

class SmtpReplyReader
{
public:
    static constexpr qsizetype Capacity = 65536;

    enum class State
    {
        Incomplete,
        Complete,
        Overflow
    };

    // Adds received bytes; says whether a whole reply is now waiting.
    State append(QByteArrayView data);
    State state() const;
    // The first whole reply (with its line ends); the bytes after it stay for the next one.
    QByteArray takeReply();
    void clear() { m_buffer.clear(); }

    // Where the first whole reply in `buffer` ends, or -1.
    static qsizetype replyEnd(QByteArrayView buffer);

private:
    QByteArray m_buffer;
};

// Whether `reply` starts with the three-digit `code`.
bool ReplyHasCode(QByteArrayView reply, const char* code);

} // namespace crash::send
