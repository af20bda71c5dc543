#pragma once
// Private-profile files (the Windows ".ini" of sections of key=value lines), read and written one
// value at a time with the observable behaviour of GetPrivateProfileStringW and
// WritePrivateProfileStringW:
// - section and key names match case-insensitively; blanks around names and values are trimmed;
//   a value wrapped in matching quotes ("..." or '...') loses them; the first of duplicate keys wins;
// - lines that are not key=value (comments, blank lines, stray text) survive a rewrite untouched,
//   and a write keeps the file's own encoding (UTF-16LE/BE with byte-order mark, UTF-8 with or
//   without one, or 8-bit) and its line endings;
// - a write that replaces the only bytes that are not UTF-8 keeps every other line's bytes, but the
//   file then reads as UTF-8, so other non-ASCII names and values decode differently than before;
// - every write replaces the file in one step (temporary file in the same folder, then rename),
//   so a crash or a full disk leaves either the old or the new file, never a mix.
// Nothing is cached: each call reads the file, so the "flush" call has nothing left to do.
// File names are native paths; a Windows drive path is mapped through the Wine prefix.

#include "platform/WinTypes.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace platform {

// The calling thread's last error, as GetLastError/SetLastError.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// Reads one value into `buffer` (`size` characters, always zero-terminated when size > 0) and
// returns the number of characters stored, without the terminator. A value that does not fit is
// cut to size - 1 characters and the last error becomes ERROR_MORE_DATA.
// section == nullptr: the section names instead, each zero-terminated, plus a final zero;
// key == nullptr: the section's key names in the same form. A cut list keeps two final zeros and
// returns size - 2. defaultValue == nullptr counts as empty; its trailing blanks are dropped.
uint32_t GetPrivateProfileString(const QString* section, const QString* key, const QString* defaultValue,
                                 char16_t* buffer, uint32_t size, const QString& fileName);

// Writes one value, creating the file (not its folder) and the section when needed.
// value == nullptr removes the key; key == nullptr removes the section with all its lines;
// all three nullptr flushes. Returns false, with the last error set, when the file cannot be
// written (missing folder, read-only file, unreadable file, full disk) or when a name or value
// holds a line break (it would forge lines of its own).
bool WritePrivateProfileString(const QString* section, const QString* key, const QString* value,
                               const QString& fileName);

// The parsed text of one profile file; the functions above are built on it.
class ProfileDocument
{
public:
    // AnsiBom: a UTF-8 mark before bytes that are not UTF-8, kept as found.
    enum class Encoding
    {
        Ansi,
        AnsiBom,
        Utf8,
        Utf8Bom,
        Utf16Le,
        Utf16Be
    };

    static ProfileDocument parse(const QByteArray& bytes);
    QByteArray serialize() const;

    Encoding encoding() const { return m_encoding; }
    // The value with blanks trimmed and matching quotes removed, or nothing when absent.
    std::optional<QString> value(const QString& section, const QString& key) const;
    // Names in file order, each once (the first spelling).
    QStringList sectionNames() const;
    QStringList keyNames(const QString& section) const;
    bool hasSection(const QString& section) const;

    // Each returns whether the text changed.
    bool setValue(const QString& section, const QString& key, const QString& value);
    bool removeKey(const QString& section, const QString& key);
    bool removeSection(const QString& section);

private:
    struct Line
    {
        QString text;
        QString end; // the line's own terminator ("\r\n", "\n", "\r" or none)
    };
    struct Range
    {
        int header = -1; // index of the "[name]" line
        int end = 0;     // one past the section's last line
    };

    QList<Range> sections(const QString& name) const;
    int findKey(const Range& range, const QString& key) const;
    void insertLine(int at, const QString& text);

    QList<Line> m_lines;
    Encoding m_encoding = Encoding::Utf8;
    QString m_newline = QStringLiteral("\r\n");
    QByteArray m_oddByte; // the last byte of a UTF-16 file of odd length
};

} // namespace platform
