#include "crash/send/DnsMessage.h"

namespace crash::send {

namespace {

constexpr int MaxNameLength = 255;
constexpr int MaxPointerHops = 64;
constexpr int MaxRecordsPerSection = 512;

class Reader
{
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}

    bool ok() const { return m_ok; }
    qsizetype position() const { return m_pos; }
    void seek(qsizetype pos) { m_pos = pos; }

    quint8 u8()
    {
        if (m_pos + 1 > m_data.size())
            return bad();
        return quint8(m_data[m_pos++]);
    }
    quint16 u16()
    {
        const quint16 hi = u8();
        return quint16(hi << 8 | u8());
    }
    quint32 u32()
    {
        const quint32 hi = u16();
        return hi << 16 | u16();
    }
    QByteArray bytes(qsizetype n)
    {
        if (n < 0 || m_pos + n > m_data.size()) {
            bad();
            return {};
        }
        QByteArray out(m_data.data() + m_pos, n);
        m_pos += n;
        return out;
    }

    // A possibly compressed name starting at the current position.
    QString name()
    {
        QByteArray out;
        qsizetype pos = m_pos;
        qsizetype resumeAt = -1;
        qsizetype lowestStart = pos; // pointers must point before every part read so far
        for (int hops = 0;;) {
            if (pos >= m_data.size())
                return bad(), QString();
            const quint8 length = quint8(m_data[pos]);
            if (length == 0) {
                ++pos;
                break;
            }
            if ((length & 0xC0) == 0xC0) {
                if (pos + 1 >= m_data.size() || ++hops > MaxPointerHops)
                    return bad(), QString();
                const qsizetype target = (qsizetype(length & 0x3F) << 8) | quint8(m_data[pos + 1]);
                if (resumeAt < 0)
                    resumeAt = pos + 2;
                if (target >= lowestStart)
                    return bad(), QString();
                lowestStart = target;
                pos = target;
                continue;
            }
            if ((length & 0xC0) != 0 || pos + 1 + length > m_data.size())
                return bad(), QString();
            if (!out.isEmpty())
                out += '.';
            out.append(m_data.data() + pos + 1, length);
            if (out.size() > MaxNameLength)
                return bad(), QString();
            pos += 1 + length;
        }
        m_pos = resumeAt >= 0 ? resumeAt : pos;
        return QString::fromLatin1(out);
    }

private:
    quint8 bad()
    {
        m_ok = false;
        m_pos = m_data.size();
        return 0;
    }

    QByteArrayView m_data;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

bool ReadRecord(Reader& reader, DnsRecord& record)
{
    record.name = reader.name();
    record.type = reader.u16();
    record.recordClass = reader.u16();
    record.ttl = reader.u32();
    const quint16 length = reader.u16();
    if (!reader.ok())
        return false;
    const qsizetype dataStart = reader.position();
    const qsizetype dataEnd = dataStart + length;
    switch (record.type) {
    case dns::TypeMX:
        record.preference = reader.u16();
        record.target = reader.name();
        break;
    case dns::TypeNS:
    case dns::TypeCNAME:
        record.target = reader.name();
        break;
    case dns::TypeA:
        if (length != 4)
            return false;
        record.address = reader.bytes(4);
        break;
    default:
        reader.bytes(length);
        break;
    }
    // The record's data must end exactly where its length says.
    if (!reader.ok() || reader.position() != dataEnd)
        return false;
    return true;
}

} // namespace

QByteArray BuildDnsQuery(quint16 id, const QString& name, quint16 type)
{
    QString trimmed = name.trimmed();
    if (trimmed.endsWith(QLatin1Char('.')))
        trimmed.chop(1);
    if (!IsPlausibleHostName(trimmed))
        return {};
    QByteArray query;
    query.reserve(18 + trimmed.size());
    auto put16 = [&query](quint16 v) {
        query += char(v >> 8);
        query += char(v & 0xFF);
    };
    put16(id);
    put16(0x0100); // recursion desired
    put16(1);      // one question
    put16(0);
    put16(0);
    put16(0);
    for (const QString& label : trimmed.split(QLatin1Char('.'))) {
        const QByteArray bytes = label.toLatin1();
        if (bytes.isEmpty() || bytes.size() > 63)
            return {};
        query += char(bytes.size());
        query += bytes;
    }
    query += '\0';
    put16(type);
    put16(dns::ClassIN);
    return query.size() <= dns::MaxUdpSize ? query : QByteArray();
}

std::optional<DnsReply> ParseDnsReply(QByteArrayView datagram)
{
    Reader reader(datagram);
    DnsReply reply;
    reply.id = reader.u16();
    const quint16 flags = reader.u16();
    const quint16 questions = reader.u16();
    const quint16 answers = reader.u16();
    const quint16 authority = reader.u16();
    const quint16 additional = reader.u16();
    if (!reader.ok() || questions > 1)
        return std::nullopt;
    reply.isResponse = (flags & 0x8000) != 0;
    reply.truncated = (flags & 0x0200) != 0;
    reply.responseCode = flags & 0x000F;
    if (questions == 1) {
        reply.questionName = reader.name();
        reply.questionType = reader.u16();
        reader.u16();
        if (!reader.ok())
            return std::nullopt;
    }
    const std::pair<quint16, QList<DnsRecord>*> sections[] = {
        {answers, &reply.answers}, {authority, &reply.authority}, {additional, &reply.additional}};
    for (const auto& [count, list] : sections) {
        if (count > MaxRecordsPerSection)
            return std::nullopt;
        for (int i = 0; i < count; ++i) {
            DnsRecord record;
            if (!ReadRecord(reader, record))
                return std::nullopt;
            list->append(record);
        }
    }
    return reply;
}

bool IsPlausibleHostName(const QString& name)
{
    if (name.isEmpty() || name.size() > 253)
        return false;
    qsizetype labelLength = 0;
    for (const QChar c : name) {
        if (c == QLatin1Char('.')) {
            if (labelLength == 0)
                return false;
            labelLength = 0;
            continue;
        }
        const char16_t u = c.unicode();
        const bool allowed = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
                             u == '-' || u == '_';
        if (!allowed || ++labelLength > 63)
            return false;
    }
    return labelLength > 0;
}

} // namespace crash::send
