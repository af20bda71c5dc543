#include "SettingsText.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace tools {
namespace {

using crash::SettingsValueType;

bool IsNameStart(QChar c)
{
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('_');
}

bool IsNameChar(QChar c)
{
    return IsNameStart(c) || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

class LineScanner
{
public:
    explicit LineScanner(QStringView line) : m_line(line) {}

    void skipSpaces()
    {
        while (m_pos < m_line.size() && m_line[m_pos].isSpace())
            ++m_pos;
    }
    // True at the end of the line or at a trailing comment.
    bool atEnd()
    {
        skipSpaces();
        return m_pos >= m_line.size() || m_line.mid(m_pos).startsWith(QLatin1String("//"));
    }
    QChar peek() const { return m_pos < m_line.size() ? m_line[m_pos] : QChar(); }
    bool accept(QChar c)
    {
        skipSpaces();
        if (peek() != c)
            return false;
        ++m_pos;
        return true;
    }
    QString name()
    {
        skipSpaces();
        const qsizetype start = m_pos;
        if (m_pos < m_line.size() && IsNameStart(m_line[m_pos])) {
            while (m_pos < m_line.size() && IsNameChar(m_line[m_pos]))
                ++m_pos;
        }
        return m_line.mid(start, m_pos - start).toString();
    }
    QStringView rest() const { return m_line.mid(m_pos); }
    qsizetype& pos() { return m_pos; }
    QStringView line() const { return m_line; }

private:
    QStringView m_line;
    qsizetype m_pos = 0;
};

QString LineError(int line, const QString& message)
{
    return QStringLiteral("line %1: %2").arg(line).arg(message);
}

// Quoted pieces and #code characters, up to the end of the value.
bool ReadText(LineScanner& s, QString& out, QString& error)
{
    bool any = false;
    for (;;) {
        s.skipSpaces();
        const QStringView line = s.line();
        qsizetype& pos = s.pos();
        if (s.peek() == QLatin1Char('\'')) {
            ++pos;
            for (;;) {
                if (pos >= line.size()) {
                    error = QStringLiteral("unterminated text");
                    return false;
                }
                if (line[pos] == QLatin1Char('\'')) {
                    if (pos + 1 < line.size() && line[pos + 1] == QLatin1Char('\'')) {
                        out += QLatin1Char('\'');
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                out += line[pos++];
            }
            any = true;
        } else if (s.peek() == QLatin1Char('#')) {
            ++pos;
            const qsizetype start = pos;
            while (pos < line.size() && line[pos].isDigit())
                ++pos;
            bool ok = false;
            const uint code = line.mid(start, pos - start).toUInt(&ok);
            if (!ok || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
                error = QStringLiteral("bad character code");
                return false;
            }
            out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
            any = true;
        } else {
            break;
        }
    }
    if (!any)
        error = QStringLiteral("text expected");
    return any;
}

bool ReadValue(LineScanner& s, SettingsTextEntry& entry, QString& error)
{
    s.skipSpaces();
    const QChar first = s.peek();
    if (first == QLatin1Char('-') || first.isDigit()) {
        const qsizetype start = s.pos();
        if (first == QLatin1Char('-'))
            ++s.pos();
        while (s.peek().isDigit())
            ++s.pos();
        bool ok = false;
        const qlonglong value = s.line().mid(start, s.pos() - start).toLongLong(&ok);
        if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max()) {
            error = QStringLiteral("number outside 32 bits");
            return false;
        }
        entry.number = static_cast<std::int32_t>(value);
        entry.type = value >= -128 && value <= 127       ? SettingsValueType::Int8
                     : value >= -32768 && value <= 32767 ? SettingsValueType::Int16
                                                         : SettingsValueType::Int32;
        return true;
    }
    if (first == QLatin1Char('\'') || first == QLatin1Char('#')) {
        if (!ReadText(s, entry.text, error))
            return false;
        for (QChar c : entry.text) {
            if (c.unicode() > 0xFF) {
                error = QStringLiteral(
                    "character outside Latin-1 in an 8-bit text (write utf8'...' or utf16'...')");
                return false;
            }
        }
        entry.type = entry.text.size() <= 255 ? SettingsValueType::String : SettingsValueType::LString;
        return true;
    }
    const QString word = s.name();
    if (word.isEmpty()) {
        error = QStringLiteral("value expected");
        return false;
    }
    if ((word == QLatin1String("utf8") || word == QLatin1String("utf16")) && s.peek() == QLatin1Char('\'')) {
        if (!ReadText(s, entry.text, error))
            return false;
        entry.type =
            word == QLatin1String("utf8") ? SettingsValueType::Utf8String : SettingsValueType::WString;
        return true;
    }
    if (word.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) {
        entry.type = SettingsValueType::True;
    } else if (word.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) {
        entry.type = SettingsValueType::False;
    } else {
        if (word.size() > 255) {
            error = QStringLiteral("identifier longer than 255 characters");
            return false;
        }
        entry.type = SettingsValueType::Ident;
        entry.text = word;
    }
    return true;
}

void PutLength8(QByteArray& out, const QByteArray& bytes)
{
    out += char(static_cast<unsigned char>(bytes.size()));
    out += bytes;
}

void PutLittle(QByteArray& out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

} // namespace

bool ParseSettingsText(const QString& text, SettingsTextDocument& document, QString& error)
{
    document = {};
    const QStringList lines = text.split(QLatin1Char('\n'));
    std::vector<SettingsTextDocument*> open; // the objects whose "end" is still to come
    bool ended = false;
    for (int i = 0; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        QStringView line(lines[i]);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        LineScanner s(line);
        if (s.atEnd())
            continue;
        if (ended) {
            error = LineError(lineNo, QStringLiteral("text after \"end\""));
            return false;
        }
        const QString word = s.name();
        if (open.empty() || (word == QLatin1String("object") && !s.rest().trimmed().startsWith(QLatin1Char('=')))) {
            QString objectName, className;
            if (word == QLatin1String("object"))
                objectName = s.name();
            if (objectName.isEmpty() || !s.accept(QLatin1Char(':')) || (className = s.name()).isEmpty() ||
                !s.atEnd() || objectName.size() > 255 || className.size() > 255) {
                error = LineError(lineNo, QStringLiteral("\"object <Name>: <Class>\" expected"));
                return false;
            }
            SettingsTextDocument* target = &document;
            if (!open.empty()) {
                open.back()->children.emplace_back();
                target = &open.back()->children.back();
            }
            target->objectName = objectName.toStdString();
            target->className = className.toStdString();
            open.push_back(target);
            continue;
        }
        if (word == QLatin1String("end") && s.atEnd()) {
            open.pop_back();
            ended = open.empty();
            continue;
        }
        if (word.isEmpty() || word.size() > 255) {
            error = LineError(lineNo, QStringLiteral("property name expected"));
            return false;
        }
        if (!s.accept(QLatin1Char('='))) {
            error = LineError(lineNo, QStringLiteral("\"=\" expected after %1").arg(word));
            return false;
        }
        SettingsTextEntry entry;
        entry.name = word.toStdString();
        entry.line = lineNo;
        QString valueError;
        if (!ReadValue(s, entry, valueError)) {
            error = LineError(lineNo, valueError);
            return false;
        }
        if (!s.atEnd()) {
            error = LineError(lineNo, QStringLiteral("unexpected text after the value"));
            return false;
        }
        open.back()->entries.push_back(std::move(entry));
    }
    if (!ended) {
        error = LineError(int(lines.size()), !open.empty() ? QStringLiteral("\"end\" missing")
                                                          : QStringLiteral("no object in the file"));
        return false;
    }
    return true;
}

namespace {

void PutProperties(QByteArray& out, const SettingsTextDocument& document)
{
    for (const SettingsTextEntry& e : document.entries) {
        PutLength8(out, QByteArray::fromStdString(e.name));
        out += char(e.type);
        switch (e.type) {
        case SettingsValueType::Int8:
            PutLittle(out, std::uint32_t(e.number), 1);
            break;
        case SettingsValueType::Int16:
            PutLittle(out, std::uint32_t(e.number), 2);
            break;
        case SettingsValueType::Int32:
            PutLittle(out, std::uint32_t(e.number), 4);
            break;
        case SettingsValueType::String:
        case SettingsValueType::Ident:
            PutLength8(out, e.text.toLatin1());
            break;
        case SettingsValueType::False:
        case SettingsValueType::True:
            break;
        case SettingsValueType::LString: {
            const QByteArray bytes = e.text.toLatin1();
            PutLittle(out, std::uint32_t(bytes.size()), 4);
            out += bytes;
            break;
        }
        case SettingsValueType::Utf8String: {
            const QByteArray bytes = e.text.toUtf8();
            PutLittle(out, std::uint32_t(bytes.size()), 4);
            out += bytes;
            break;
        }
        case SettingsValueType::WString:
            PutLittle(out, std::uint32_t(e.text.size()), 4);
            for (QChar c : e.text)
                PutLittle(out, c.unicode(), 2);
            break;
        }
    }
    out += '\0';
}

void PutFormObject(QByteArray& out, const SettingsTextDocument& object)
{
    PutLength8(out, QByteArray::fromStdString(object.className));
    PutLength8(out, QByteArray::fromStdString(object.objectName));
    PutProperties(out, object);
    for (const SettingsTextDocument& child : object.children)
        PutFormObject(out, child);
    out += '\0';
}

} // namespace

QByteArray WriteSettingsStream(const SettingsTextDocument& document)
{
    QByteArray out("TPF0");
    PutLength8(out, QByteArray::fromStdString(document.className));
    PutLength8(out, QByteArray::fromStdString(document.objectName));
    PutProperties(out, document);
    return out;
}

QByteArray WriteFormStream(const SettingsTextDocument& document)
{
    QByteArray out("TPF0");
    PutFormObject(out, document);
    return out;
}

QByteArray SettingsResourceSource(const QByteArray& stream, const QString& origin, const char* name)
{
    const QByteArray noteName(name);
    const qsizetype nameSpan = (noteName.size() + 1 + 3) / 4 * 4;
    const qsizetype descSpan = std::max<qsizetype>((stream.size() + 3) / 4 * 4, 4);
    QByteArray bytes;
    for (qsizetype i = 0; i < stream.size(); ++i) {
        bytes += (i % 16 == 0 ? "\n        " : " ");
        bytes +=
            "0x" + QByteArray::number(static_cast<unsigned char>(stream[i]), 16).rightJustified(2, '0') + ",";
    }
    QByteArray s;
    s += "// Generated by settings_compiler from " + QFileInfo(origin).fileName().toUtf8() +
         "; edit that file instead.\n"
         "// The settings stream is an ELF note of the module image (name = resource name, type = RCDATA),\n"
         "// so the module's own settings are found from its load address.\n"
         "#include <cstdint>\n\n"
         "namespace {\n\n"
         "struct alignas(4) SettingsResourceNote\n{\n"
         "    std::uint32_t nameSize;\n    std::uint32_t descSize;\n    std::uint32_t type;\n"
         "    char name[" +
         QByteArray::number(nameSpan) +
         "];\n"
         "    unsigned char desc[" +
         QByteArray::number(descSpan) +
         "];\n};\n\n"
         "#if defined(__clang__)\n"
         "#define SETTINGS_NOTE_UNINSTRUMENTED __attribute__((no_sanitize(\"address\"))) // no redzone in "
         "the note\n"
         "#else\n#define SETTINGS_NOTE_UNINSTRUMENTED\n#endif\n\n"
         "[[gnu::used, gnu::retain, gnu::section(\".note." +
         noteName +
         "\")]] SETTINGS_NOTE_UNINSTRUMENTED\n"
         "// Aligned by the declaration itself, so the compiler does not raise it (to 32 for large data)\n"
         "// and leave gaps that break the walk over the notes of the segment.\n"
         "alignas(4) const SettingsResourceNote settingsResourceNote = {\n"
         "    " +
         QByteArray::number(noteName.size() + 1) +
         "u,\n"
         "    " +
         QByteArray::number(stream.size()) +
         "u,\n"
         "    10u,\n"
         "    \"" +
         noteName +
         "\",\n"
         "    {" +
         bytes +
         "\n    }};\n\n"
         "} // namespace\n";
    return s;
}

} // namespace tools
