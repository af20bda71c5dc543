#include "platform/RegistryHive.h"

#include <QFile>
#include <QSet>

namespace platform {
namespace {

// A cursor over one logical line (continuations already joined).
struct Cursor
{
    QStringView s;
    qsizetype pos = 0;
    bool atEnd() const { return pos >= s.size(); }
    QChar peek() const { return atEnd() ? QChar() : s.at(pos); }
    bool eat(QChar c)
    {
        if (peek() != c)
            return false;
        ++pos;
        return true;
    }
    bool eat(QLatin1String word)
    {
        if (s.mid(pos, word.size()).compare(word, Qt::CaseInsensitive) != 0)
            return false;
        pos += word.size();
        return true;
    }
};

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Reads an escaped string up to the unescaped `terminator`, which is consumed. Wine's escapes:
// \\ \" \] and friends stand for themselves, \a \b \e \f \n \r \t \v are control characters,
// \xH to \xHHHH a UTF-16 unit, \O to \OOO octal. False when the terminator never comes.
bool readEscaped(Cursor& c, QChar terminator, QString& out)
{
    while (!c.atEnd()) {
        // Plain characters go over as one run.
        const qsizetype run = c.pos;
        while (!c.atEnd() && c.s.at(c.pos) != terminator && c.s.at(c.pos) != QLatin1Char('\\'))
            ++c.pos;
        out.append(c.s.sliced(run, c.pos - run));
        if (c.atEnd())
            return false;
        QChar ch = c.s.at(c.pos++);
        if (ch == terminator)
            return true;
        if (c.atEnd())
            return false;
        ch = c.s.at(c.pos++);
        switch (ch.unicode()) {
        case 'a':
            out += QChar(0x07);
            break;
        case 'b':
            out += QChar(0x08);
            break;
        case 'e':
            out += QChar(0x1b);
            break;
        case 'f':
            out += QChar(0x0c);
            break;
        case 'n':
            out += QChar(0x0a);
            break;
        case 'r':
            out += QChar(0x0d);
            break;
        case 't':
            out += QChar(0x09);
            break;
        case 'v':
            out += QChar(0x0b);
            break;
        case 'x': {
            uint v = 0;
            int n = 0;
            while (n < 4 && !c.atEnd() && hexDigit(c.peek()) >= 0) {
                v = v * 16 + uint(hexDigit(c.s.at(c.pos++)));
                ++n;
            }
            if (n == 0)
                out += QLatin1Char('x');
            else
                out += QChar(char16_t(v));
            break;
        }
        default:
            if (ch >= QLatin1Char('0') && ch <= QLatin1Char('7')) {
                uint v = uint(ch.unicode() - '0');
                for (int n = 1; n < 3 && c.peek() >= QLatin1Char('0') && c.peek() <= QLatin1Char('7'); ++n)
                    v = v * 8 + uint(c.s.at(c.pos++).unicode() - '0');
                out += QChar(char16_t(v));
            } else {
                out += ch;
            }
        }
    }
    return false;
}

QByteArray utf16Data(const QString& text)
{
    QByteArray data;
    data.reserve((text.size() + 1) * 2);
    for (QChar ch : text) {
        data.append(char(ch.unicode() & 0xff));
        data.append(char(ch.unicode() >> 8));
    }
    data.append('\0').append('\0');
    return data;
}

// "hex:01,02" and "hex(N):..." bodies; false on anything but pairs of hex digits and commas.
bool readHexBytes(Cursor& c, QByteArray& out)
{
    out.reserve(out.size() + (c.s.size() - c.pos + 1) / 3); // "hh," per byte
    while (!c.atEnd()) {
        const QChar ch = c.peek();
        if (ch == QLatin1Char(',') || ch.isSpace()) {
            ++c.pos;
            continue;
        }
        const int hi = hexDigit(ch);
        const int lo = hexDigit(c.pos + 1 < c.s.size() ? c.s.at(c.pos + 1) : QChar());
        if (hi < 0 || lo < 0)
            return false;
        out.append(char(hi * 16 + lo));
        c.pos += 2;
    }
    return true;
}

bool readData(Cursor& c, RegistryValue& value)
{
    if (c.eat(QLatin1Char('"'))) {
        QString text;
        if (!readEscaped(c, QLatin1Char('"'), text))
            return false;
        value.type = REG_SZ;
        value.data = utf16Data(text);
        return true;
    }
    if (c.eat(QLatin1String("str("))) {
        const qsizetype from = c.pos;
        while (!c.atEnd() && c.peek() != QLatin1Char(')'))
            ++c.pos;
        bool ok = false;
        value.type = c.s.sliced(from, c.pos - from).toUInt(&ok, 16);
        QString text;
        if (!ok || !c.eat(QLatin1Char(')')) || !c.eat(QLatin1Char(':')) || !c.eat(QLatin1Char('"')) ||
            !readEscaped(c, QLatin1Char('"'), text))
            return false;
        value.data = utf16Data(text);
        return true;
    }
    if (c.eat(QLatin1String("dword:"))) {
        const QStringView digits = c.s.sliced(c.pos).trimmed();
        bool ok = false;
        const uint v = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            return false;
        value.type = REG_DWORD;
        value.data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value.data[i] = char((v >> (8 * i)) & 0xff);
        return true;
    }
    if (c.eat(QLatin1String("hex("))) {
        const qsizetype from = c.pos;
        while (!c.atEnd() && c.peek() != QLatin1Char(')'))
            ++c.pos;
        bool ok = false;
        value.type = c.s.sliced(from, c.pos - from).toUInt(&ok, 16);
        if (!ok || !c.eat(QLatin1Char(')')) || !c.eat(QLatin1Char(':')))
            return false;
        return readHexBytes(c, value.data);
    }
    if (c.eat(QLatin1String("hex:"))) {
        value.type = REG_BINARY;
        return readHexBytes(c, value.data);
    }
    return false;
}

} // namespace

QString RegistryValue::text() const
{
    QString out;
    for (int i = 0; i + 1 < data.size(); i += 2)
        out += QChar(char16_t(uchar(data[i]) | (uchar(data[i + 1]) << 8)));
    while (out.endsWith(QChar(0)))
        out.chop(1);
    return out;
}

namespace {
QString stripSlashes(const QString& path)
{
    qsizetype from = 0, to = path.size();
    while (from < to && path.at(from) == QLatin1Char('\\'))
        ++from;
    while (to > from && path.at(to - 1) == QLatin1Char('\\'))
        --to;
    return path.mid(from, to - from);
}

// One unit of the fold: upper-cased on its own, as Windows compares registry names. ASCII, nearly
// all of a hive, goes without the Unicode tables.
QChar foldUnit(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80)
        return u >= 'a' && u <= 'z' ? QChar(char16_t(u - ('a' - 'A'))) : c;
    return c.toUpper();
}

bool sameFolded(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (foldUnit(a.at(i)) != foldUnit(b.at(i)))
            return false;
    return true;
}
} // namespace

// Each UTF-16 unit upper-cased on its own: unlike QString::toUpper/toLower ("\u0130" lower-cases
// to two units), the length and positions stay.
QString RegistryHive::foldName(const QString& name)
{
    QString folded(name.size(), Qt::Uninitialized);
    QChar* out = folded.data();
    for (qsizetype i = 0; i < name.size(); ++i)
        out[i] = foldUnit(name.at(i));
    return folded;
}

QString RegistryHive::fold(const QString& path)
{
    return foldName(stripSlashes(path));
}

RegistryHive RegistryHive::load(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

RegistryHive RegistryHive::parse(const QByteArray& fileText)
{
    RegistryHive hive;
    // Lines are views into the decoded text; only a line continued over several is copied.
    const QString text = QString::fromUtf8(fileText);
    const QStringView all(text);
    qsizetype next = 0; // start of the next line; past the end when there is none
    auto takeLine = [&]() {
        qsizetype end = all.indexOf(QLatin1Char('\n'), next);
        if (end < 0)
            end = all.size();
        QStringView line = all.sliced(next, end - next);
        next = end + 1;
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        return line;
    };
    if (!takeLine().trimmed().startsWith(QLatin1String("WINE REGISTRY Version 2")))
        return hive;

    Key* current = nullptr;
    QString joined;
    while (next <= all.size()) {
        QStringView line = takeLine();
        // Long hex values go on over lines ending in a backslash.
        if (line.endsWith(QLatin1Char('\\')) && next <= all.size()) {
            joined = line.toString();
            while (joined.endsWith(QLatin1Char('\\')) && next <= all.size()) {
                joined.chop(1);
                joined += takeLine().trimmed();
            }
            line = joined;
        }
        if (line.startsWith(QLatin1String("#arch="))) {
            if (!current)
                hive.m_arch = line.sliced(6).trimmed().toString();
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;

        Cursor c{line};
        if (c.eat(QLatin1Char('['))) {
            QString name;
            current = nullptr;
            // Damaged headers, and paths with an empty part, which no key can have: their values
            // are dropped with them.
            if (!readEscaped(c, QLatin1Char(']'), name))
                continue;
            const QString stripped = stripSlashes(name);
            if (stripped.isEmpty() || stripped.contains(QLatin1String("\\\\")))
                continue;
            const QString key = foldName(stripped);
            auto it = hive.m_keys.find(key);
            if (it == hive.m_keys.end())
                it = hive.m_keys.insert(key, Key{stripped, {}});
            current = &it.value();
            continue;
        }
        if (!current)
            continue;

        RegistryValue value;
        if (c.eat(QLatin1Char('@'))) {
            // default value: empty name
        } else if (!c.eat(QLatin1Char('"')) || !readEscaped(c, QLatin1Char('"'), value.name)) {
            continue;
        }
        if (!c.eat(QLatin1Char('=')) || !readData(c, value))
            continue;
        auto& values = current->values;
        auto same = std::find_if(values.begin(), values.end(),
                                 [&](const RegistryValue& v) { return sameFolded(v.name, value.name); });
        if (same != values.end())
            *same = std::move(value);
        else
            values.append(std::move(value));
    }
    return hive;
}

bool RegistryHive::hasKey(const QString& path) const
{
    const QString key = fold(path);
    if (key.isEmpty() || m_keys.contains(key))
        return true;
    // A key exists too when only its descendants were written out.
    const QString prefix = key + QLatin1Char('\\');
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
        if (it.key().startsWith(prefix))
            return true;
    return false;
}

const RegistryValue* RegistryHive::value(const QString& keyPath, const QString& valueName) const
{
    const auto it = m_keys.constFind(fold(keyPath));
    if (it == m_keys.cend())
        return nullptr;
    const QString wanted = foldName(valueName);
    for (const RegistryValue& v : it->values)
        if (foldName(v.name) == wanted)
            return &v;
    return nullptr;
}

QList<RegistryValue> RegistryHive::values(const QString& keyPath) const
{
    const auto it = m_keys.constFind(fold(keyPath));
    return it == m_keys.cend() ? QList<RegistryValue>() : it->values;
}

QStringList RegistryHive::subKeys(const QString& keyPath) const
{
    const QString key = fold(keyPath);
    const QString prefix = key.isEmpty() ? QString() : key + QLatin1Char('\\');
    QStringList names;
    QSet<QString> seen;
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it) {
        if (!it.key().startsWith(prefix) || it.key().size() == prefix.size())
            continue;
        // The fold keeps positions, so the stored spelling lines up with the folded key.
        const QString child = it->name.mid(prefix.size()).section(QLatin1Char('\\'), 0, 0);
        const QString foldedChild = foldName(child);
        if (!seen.contains(foldedChild)) {
            seen.insert(foldedChild);
            names.append(child);
        }
    }
    return names;
}

} // namespace platform
