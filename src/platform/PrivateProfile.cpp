#include "platform/PrivateProfile.h"

#include "platform/WinePrefix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <algorithm>

namespace platform {
namespace {

thread_local uint32_t t_lastError = ERROR_SUCCESS;

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool headerName(const QString& line, QString* name)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (name)
        *name = (close < 0 ? t.mid(1) : t.mid(1, close - 1)).trimmed();
    return true;
}

// A line counts as a key when it is neither a header nor a ";" comment and holds a "=".
bool keyLine(const QString& line, QString* key, QString* value)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (key)
        *key = line.left(eq).trimmed();
    if (value)
        *value = line.mid(eq + 1).trimmed();
    return true;
}

QString unquoted(const QString& value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

bool hasLineBreak(const QString* text)
{
    return text && (text->contains(QLatin1Char('\n')) || text->contains(QLatin1Char('\r')));
}

QString nativeName(const QString& fileName)
{
    return WinePrefix::isWindowsPath(fileName) ? WinePrefix::toNativePath(fileName) : fileName;
}

bool isReadOnly(const QString& path)
{
    // The mode bits, not what this user may do: an administrator meets the read-only flag too.
    const QFileDevice::Permissions writeBits =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(QFile::permissions(path) & writeBits);
}

enum class LoadState
{
    Missing,
    Unreadable,
    Loaded
};

LoadState load(const QString& path, ProfileDocument& doc)
{
    if (path.isEmpty() || !QFileInfo::exists(path))
        return LoadState::Missing;
    if (QFileInfo(path).isDir())
        return LoadState::Unreadable;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return LoadState::Unreadable;
    doc = ProfileDocument::parse(file.readAll());
    return LoadState::Loaded;
}

uint32_t copyText(const QString& text, char16_t* buffer, uint32_t size)
{
    const auto length = uint32_t(text.size());
    const uint32_t stored = std::min(length, size - 1);
    std::copy_n(reinterpret_cast<const char16_t*>(text.utf16()), stored, buffer);
    buffer[stored] = 0;
    SetLastError(length > stored ? ERROR_MORE_DATA : ERROR_SUCCESS);
    return stored;
}

// Names each followed by a zero, then one more zero.
uint32_t copyList(const QStringList& names, char16_t* buffer, uint32_t size)
{
    QString joined;
    for (const QString& name : names)
        joined += name + QChar(0);
    if (uint32_t(joined.size()) + 1 <= size) {
        std::copy_n(reinterpret_cast<const char16_t*>(joined.utf16()), joined.size(), buffer);
        buffer[joined.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return uint32_t(joined.size());
    }
    SetLastError(ERROR_MORE_DATA);
    if (size < 2) {
        buffer[0] = 0;
        return 0;
    }
    std::copy_n(reinterpret_cast<const char16_t*>(joined.utf16()), size - 2, buffer);
    buffer[size - 2] = 0;
    buffer[size - 1] = 0;
    return size - 2;
}

} // namespace

uint32_t GetLastError()
{
    return t_lastError;
}

void SetLastError(uint32_t code)
{
    t_lastError = code;
}

// ---------------------------------------------------------------------------------------------

ProfileDocument ProfileDocument::parse(const QByteArray& bytes)
{
    ProfileDocument doc;
    QString text;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        const bool little = b[0] == 0xFF;
        doc.m_encoding = little ? Encoding::Utf16Le : Encoding::Utf16Be;
        text.reserve((n - 2) / 2);
        for (qsizetype i = 2; i + 1 < n; i += 2)
            text.append(QChar(little ? char16_t(b[i] | b[i + 1] << 8) : char16_t(b[i] << 8 | b[i + 1])));
        if (n % 2)
            doc.m_oddByte = bytes.right(1); // half a character: kept, so a rewrite loses nothing
    } else {
        const bool bom = n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
        const QByteArray body = bom ? bytes.mid(3) : bytes;
        // Only the first mark is the file's; a second one is text of the first line and stays.
        QStringDecoder utf8(QStringConverter::Utf8,
                            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        text = utf8(body);
        if (utf8.hasError()) {
            // Not UTF-8: the system's 8-bit code page, kept byte for byte through Latin-1.
            doc.m_encoding = bom ? Encoding::AnsiBom : Encoding::Ansi;
            text = QString::fromLatin1(body);
        } else {
            doc.m_encoding = bom ? Encoding::Utf8Bom : Encoding::Utf8;
        }
    }

    bool newlineSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
            continue;
        const qsizetype endLength =
            (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) ? 2 : 1;
        Line line{text.mid(start, i - start), text.mid(i, endLength)};
        if (!newlineSeen) {
            doc.m_newline = line.end;
            newlineSeen = true;
        }
        doc.m_lines.append(line);
        i += endLength - 1;
        start = i + 1;
    }
    if (start < text.size())
        doc.m_lines.append(Line{text.mid(start), QString()});
    return doc;
}

QByteArray ProfileDocument::serialize() const
{
    QString text;
    for (const Line& line : m_lines)
        text += line.text + line.end;
    switch (m_encoding) {
    case Encoding::Ansi:
        return text.toLatin1(); // unrepresentable characters become '?', as on Windows
    case Encoding::AnsiBom:
        return QByteArray("\xEF\xBB\xBF") + text.toLatin1();
    case Encoding::Utf8:
        return text.toUtf8();
    case Encoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Utf16Le:
    case Encoding::Utf16Be: {
        const bool little = m_encoding == Encoding::Utf16Le;
        QByteArray out;
        out.reserve(2 + text.size() * 2);
        out.append(little ? "\xFF\xFE" : "\xFE\xFF", 2);
        for (const QChar c : text) {
            const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
            out.append(little ? lo : hi);
            out.append(little ? hi : lo);
        }
        return out + m_oddByte;
    }
    }
    return text.toUtf8();
}

QList<ProfileDocument::Range> ProfileDocument::sections(const QString& name) const
{
    QList<Range> found;
    const QString wanted = name.trimmed();
    QString current;
    for (int i = 0; i < m_lines.size(); ++i) {
        if (!headerName(m_lines[i].text, &current))
            continue;
        if (!found.isEmpty() && found.back().end < 0)
            found.back().end = i;
        if (sameName(current, wanted))
            found.append(Range{i, -1});
    }
    if (!found.isEmpty() && found.back().end < 0)
        found.back().end = int(m_lines.size());
    return found;
}

int ProfileDocument::findKey(const Range& range, const QString& key) const
{
    const QString wanted = key.trimmed();
    QString name;
    for (int i = range.header + 1; i < range.end; ++i)
        if (keyLine(m_lines[i].text, &name, nullptr) && sameName(name, wanted))
            return i;
    return -1;
}

void ProfileDocument::insertLine(int at, const QString& text)
{
    Line line{text, m_newline};
    if (at == m_lines.size() && !m_lines.isEmpty() && m_lines.back().end.isEmpty()) {
        // The file ended without a line break: give the old last line one, and keep the shape.
        m_lines.back().end = m_newline;
        line.end.clear();
    }
    m_lines.insert(at, line);
}

std::optional<QString> ProfileDocument::value(const QString& section, const QString& key) const
{
    const QList<Range> ranges = sections(section);
    if (ranges.isEmpty())
        return std::nullopt;
    const int at = findKey(ranges.first(), key);
    if (at < 0)
        return std::nullopt;
    QString value;
    keyLine(m_lines[at].text, nullptr, &value);
    return unquoted(value);
}

QStringList ProfileDocument::sectionNames() const
{
    QStringList names;
    QString name;
    for (const Line& line : m_lines)
        if (headerName(line.text, &name) &&
            std::none_of(names.begin(), names.end(), [&](const QString& n) { return sameName(n, name); }))
            names.append(name);
    return names;
}

QStringList ProfileDocument::keyNames(const QString& section) const
{
    QStringList names;
    const QList<Range> ranges = sections(section);
    if (ranges.isEmpty())
        return names;
    QString name;
    for (int i = ranges.first().header + 1; i < ranges.first().end; ++i)
        if (keyLine(m_lines[i].text, &name, nullptr) &&
            std::none_of(names.begin(), names.end(), [&](const QString& n) { return sameName(n, name); }))
            names.append(name);
    return names;
}

bool ProfileDocument::hasSection(const QString& section) const
{
    return !sections(section).isEmpty();
}

bool ProfileDocument::setValue(const QString& section, const QString& key, const QString& value)
{
    const QString sectionName = section.trimmed();
    const QString keyName = key.trimmed();
    const QList<Range> ranges = sections(sectionName);
    if (!ranges.isEmpty()) {
        const Range& range = ranges.first();
        const int at = findKey(range, keyName);
        if (at >= 0) {
            QString storedKey, storedValue;
            keyLine(m_lines[at].text, &storedKey, &storedValue);
            if (storedValue == value)
                return false;
            m_lines[at].text = storedKey + QLatin1Char('=') + value;
            return true;
        }
        // After the section's last non-blank line, so blank lines that part sections stay between them.
        int insertAt = range.end;
        while (insertAt - 1 > range.header && m_lines[insertAt - 1].text.trimmed().isEmpty())
            --insertAt;
        insertLine(insertAt, keyName + QLatin1Char('=') + value);
        return true;
    }
    if (!m_lines.isEmpty() && !m_lines.back().text.trimmed().isEmpty())
        insertLine(int(m_lines.size()), QString());
    insertLine(int(m_lines.size()), QLatin1Char('[') + sectionName + QLatin1Char(']'));
    insertLine(int(m_lines.size()), keyName + QLatin1Char('=') + value);
    return true;
}

bool ProfileDocument::removeKey(const QString& section, const QString& key)
{
    const QList<Range> ranges = sections(section);
    if (ranges.isEmpty())
        return false;
    const int at = findKey(ranges.first(), key);
    if (at < 0)
        return false;
    if (at == m_lines.size() - 1 && at > 0 && m_lines[at].end.isEmpty())
        m_lines[at - 1].end.clear();
    m_lines.removeAt(at);
    return true;
}

bool ProfileDocument::removeSection(const QString& section)
{
    const QList<Range> ranges = sections(section);
    // Every section of that name goes, or a duplicate further down would take its place.
    for (auto it = ranges.rbegin(); it != ranges.rend(); ++it) {
        const bool atEnd = it->end == m_lines.size();
        const bool noFinalBreak = atEnd && m_lines.back().end.isEmpty();
        m_lines.remove(it->header, it->end - it->header);
        if (noFinalBreak && !m_lines.isEmpty())
            m_lines.back().end.clear();
    }
    return !ranges.isEmpty();
}

// ---------------------------------------------------------------------------------------------

uint32_t GetPrivateProfileString(const QString* section, const QString* key, const QString* defaultValue,
                                 char16_t* buffer, uint32_t size, const QString& fileName)
{
    if (!buffer || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    ProfileDocument doc;
    const LoadState state = load(nativeName(fileName), doc);

    uint32_t count = 0;
    if (!section) {
        count = copyList(doc.sectionNames(), buffer, size);
    } else if (!key) {
        count = copyList(doc.keyNames(*section), buffer, size);
    } else if (const std::optional<QString> found = doc.value(*section, *key)) {
        count = copyText(*found, buffer, size);
    } else {
        QString fallback = defaultValue ? *defaultValue : QString();
        while (!fallback.isEmpty() && fallback.back() == QLatin1Char(' '))
            fallback.chop(1);
        count = copyText(fallback, buffer, size);
    }
    if (state != LoadState::Loaded && GetLastError() != ERROR_MORE_DATA)
        SetLastError(state == LoadState::Missing ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
    return count;
}

bool WritePrivateProfileString(const QString* section, const QString* key, const QString* value,
                               const QString& fileName)
{
    if (!section && !key && !value) {
        SetLastError(ERROR_SUCCESS); // nothing is held back between calls
        return true;
    }
    if (!section || hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const QString path = nativeName(fileName);
    if (path.isEmpty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    ProfileDocument doc;
    const LoadState state = load(path, doc);
    if (state == LoadState::Unreadable) {
        // Rewriting what could not be read would throw its content away.
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }

    bool changed = false;
    if (!key)
        changed = doc.removeSection(*section);
    else if (!value)
        changed = doc.removeKey(*section, *key);
    else
        changed = doc.setValue(*section, *key, *value);
    if (!changed) {
        SetLastError(ERROR_SUCCESS);
        return true;
    }

    if (state == LoadState::Loaded && isReadOnly(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    QSaveFile out(path);
    out.setDirectWriteFallback(false);
    // Unbuffered, so a write that fails (full disk) is seen before the rename and not after.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        SetLastError(QFileInfo(path).absoluteDir().exists() ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
        return false;
    }
    const QByteArray bytes = doc.serialize();
    if (out.write(bytes) != bytes.size() || !out.commit()) {
        out.cancelWriting();
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

} // namespace platform
