#include "crash/ui/FormStream.h"

#include "platform/ModuleHandle.h"

#include <cstring>
#include <limits>

namespace crash::ui {

namespace {

constexpr int MaxDepth = 32; // nesting beyond this is not a form

class StreamReader
{
public:
    explicit StreamReader(std::span<const std::byte> data) : m_data(data) {}

    bool failed() const { return m_failed; }
    bool byte(quint8& out)
    {
        if (m_failed || m_pos >= m_data.size())
            return fail();
        out = quint8(m_data[m_pos++]);
        return true;
    }
    bool bytes(size_t count, QByteArray& out)
    {
        if (m_failed || count > m_data.size() - m_pos)
            return fail();
        out = QByteArray(reinterpret_cast<const char*>(m_data.data() + m_pos), qsizetype(count));
        m_pos += count;
        return true;
    }
    bool little(int size, quint32& out)
    {
        out = 0;
        for (int i = 0; i < size; ++i) {
            quint8 b = 0;
            if (!byte(b))
                return false;
            out |= quint32(b) << (8 * i);
        }
        return true;
    }
    bool shortString(QString& out)
    {
        quint8 length = 0;
        QByteArray raw;
        if (!byte(length) || !bytes(length, raw))
            return false;
        out = QString::fromLatin1(raw);
        return true;
    }
    bool fail()
    {
        m_failed = true;
        return false;
    }

private:
    std::span<const std::byte> m_data;
    size_t m_pos = 0;
    bool m_failed = false;
};

bool ReadValue(StreamReader& in, quint8 type, QVariant& value)
{
    quint32 number = 0;
    QByteArray raw;
    switch (type) {
    case 2:
        if (!in.little(1, number))
            return false;
        value = int(qint8(number));
        return true;
    case 3:
        if (!in.little(2, number))
            return false;
        value = int(qint16(number));
        return true;
    case 4:
        if (!in.little(4, number))
            return false;
        value = int(qint32(number));
        return true;
    case 6:
    case 7: {
        QString text;
        if (!in.shortString(text))
            return false;
        value = text;
        return true;
    }
    case 8:
        value = false;
        return true;
    case 9:
        value = true;
        return true;
    case 12:
    case 20:
        if (!in.little(4, number) || !in.bytes(number, raw))
            return false;
        value = type == 12 ? QString::fromLatin1(raw) : QString::fromUtf8(raw);
        return true;
    case 18: {
        if (!in.little(4, number) || number > (std::numeric_limits<quint32>::max() / 2) ||
            !in.bytes(size_t(number) * 2, raw))
            return false;
        QString text(qsizetype(number), Qt::Uninitialized);
        for (quint32 i = 0; i < number; ++i)
            text[i] = QChar(quint16(quint8(raw[2 * i]) | (quint8(raw[2 * i + 1]) << 8)));
        value = text;
        return true;
    }
    default:
        return in.fail(); // an unknown type: its length is unknown, so reading ends here
    }
}

// Reads an object's properties and children after its two names; false when the stream ended
// or broke inside it (what was read stays).
bool ReadBody(StreamReader& in, FormObject& object, int depth)
{
    for (;;) {
        quint8 length = 0;
        if (!in.byte(length))
            return false;
        if (length == 0)
            break;
        QByteArray name;
        quint8 type = 0;
        QVariant value;
        if (!in.bytes(length, name) || !in.byte(type) || !ReadValue(in, type, value))
            return false;
        object.properties.append({QString::fromLatin1(name), value});
    }
    for (;;) {
        quint8 length = 0;
        if (!in.byte(length))
            return false;
        if (length == 0)
            return true;
        if (depth + 1 > MaxDepth)
            return in.fail();
        FormObject child;
        QByteArray className;
        if (!in.bytes(length, className) || !in.shortString(child.name))
            return false;
        child.className = QString::fromLatin1(className);
        const bool complete = ReadBody(in, child, depth + 1);
        object.children.append(std::move(child));
        if (!complete)
            return false;
    }
}

} // namespace

std::optional<FormObject> ReadFormStream(std::span<const std::byte> data)
{
    if (data.size() < 4 || std::memcmp(data.data(), "TPF0", 4) != 0)
        return std::nullopt;
    StreamReader in(data.subspan(4));
    FormObject root;
    if (in.shortString(root.className) && in.shortString(root.name))
        ReadBody(in, root, 0);
    return root;
}

std::span<const std::byte> FormResource(const QString& name)
{
    return platform::FindModuleResource(0, name.toStdString());
}

} // namespace crash::ui
