#pragma once
// The parts of a desktop entry file that starting a URL handler needs: its Exec command split
// into arguments by the desktop-entry quoting rules, with the field codes put in or dropped.
// Nothing here goes through a shell.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace crash::send {

class DesktopEntry
{
public:
    // Parses the "[Desktop Entry]" group; nullopt when it has no Exec.
    static std::optional<DesktopEntry> parse(const QByteArray& content, const QString& filePath = {});
    static std::optional<DesktopEntry> load(const QString& filePath);

    QString exec() const { return m_exec; }
    QString name() const { return m_name; }
    QString icon() const { return m_icon; }
    QString filePath() const { return m_filePath; }

    // The Exec arguments with %u/%U replaced by `url` (appended when the command has no URL
    // code); other field codes expanded or dropped. Empty when the line is malformed.
    QStringList commandFor(const QString& url) const;

    // The Exec line as text with the URL put in, to measure the command's length.
    QString commandLineFor(const QString& url) const;

    // The desktop-entry rules for splitting an Exec value into arguments; nullopt when malformed
    // (an unterminated quote or a stray reserved character).
    static std::optional<QStringList> splitExec(const QString& exec);

private:
    QString m_exec;
    QString m_name;
    QString m_icon;
    QString m_filePath;
};

// The string-value escapes of desktop entries (\s, \n, \t, \r, \\).
QString UnescapeDesktopValue(const QString& value);

// Looks up a desktop file id in the XDG application folders (with "-" standing for "/" in
// sub-folders); empty when not found.
QString FindDesktopFile(const QString& desktopId);

} // namespace crash::send
