#include "crash/send/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace crash::send {

QString UnescapeDesktopValue(const QString& value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != QLatin1Char('\\') || i + 1 >= value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out += QLatin1Char(' ');
            break;
        case 'n':
            out += QLatin1Char('\n');
            break;
        case 't':
            out += QLatin1Char('\t');
            break;
        case 'r':
            out += QLatin1Char('\r');
            break;
        case '\\':
            out += QLatin1Char('\\');
            break;
        default:
            out += c;
            out += next;
            break;
        }
    }
    return out;
}

std::optional<DesktopEntry> DesktopEntry::parse(const QByteArray& content, const QString& filePath)
{
    DesktopEntry entry;
    entry.m_filePath = filePath;
    bool inMainGroup = false;
    bool sawExec = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = UnescapeDesktopValue(line.mid(equals + 1).trimmed());
        // The first occurrence counts, as a key may only appear once.
        if (key == QLatin1String("Exec") && !sawExec) {
            entry.m_exec = value;
            sawExec = true;
        } else if (key == QLatin1String("Name") && entry.m_name.isEmpty()) {
            entry.m_name = value;
        } else if (key == QLatin1String("Icon") && entry.m_icon.isEmpty()) {
            entry.m_icon = value;
        }
    }
    if (entry.m_exec.trimmed().isEmpty())
        return std::nullopt;
    return entry;
}

std::optional<DesktopEntry> DesktopEntry::load(const QString& filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parse(file.read(1024 * 1024), filePath);
}

std::optional<QStringList> DesktopEntry::splitExec(const QString& exec)
{
    QStringList arguments;
    QString current;
    bool inArgument = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c != QLatin1Char('"')) {
            current += c;
            continue;
        }
        // A quoted part: backslash escapes ", `, $ and \ inside it.
        bool closed = false;
        for (++i; i < exec.size(); ++i) {
            const QChar q = exec[i];
            if (q == QLatin1Char('"')) {
                closed = true;
                break;
            }
            if (q == QLatin1Char('\\') && i + 1 < exec.size()) {
                const QChar next = exec[i + 1];
                if (next == QLatin1Char('"') || next == QLatin1Char('`') || next == QLatin1Char('$') ||
                    next == QLatin1Char('\\')) {
                    current += next;
                    ++i;
                    continue;
                }
            }
            // Field codes inside quotes are literal text; mark the percent so it survives expansion.
            current += q == QLatin1Char('%') ? QChar(0xFFFF) : q;
        }
        if (!closed)
            return std::nullopt;
    }
    if (inArgument)
        arguments.append(current);
    return arguments;
}

namespace {

constexpr char16_t UrlCodes[] = u"uU";
constexpr QChar QuotedPercent(0xFFFF);

bool HasUrlCode(const QStringList& arguments)
{
    for (const QString& argument : arguments) {
        for (qsizetype i = 0; i + 1 < argument.size(); ++i) {
            if (argument[i] == QLatin1Char('%')) {
                if (QStringView(UrlCodes).contains(argument[i + 1]))
                    return true;
                ++i;
            }
        }
    }
    return false;
}

} // namespace

QStringList DesktopEntry::commandFor(const QString& url) const
{
    const auto split = splitExec(m_exec);
    if (!split || split->isEmpty())
        return {};
    const bool urlCode = HasUrlCode(*split);
    QStringList command;
    bool urlPlaced = false;
    for (const QString& argument : *split) {
        // A field code standing alone may expand to several arguments or none.
        if (argument == QLatin1String("%i")) {
            if (!m_icon.isEmpty())
                command << QStringLiteral("--icon") << m_icon;
            continue;
        }
        QString out;
        bool dropped = false;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            const QChar c = argument[i];
            if (c == QuotedPercent) {
                out += QLatin1Char('%');
                continue;
            }
            if (c != QLatin1Char('%') || i + 1 >= argument.size()) {
                out += c;
                continue;
            }
            const QChar code = argument[++i];
            switch (code.unicode()) {
            case '%':
                out += QLatin1Char('%');
                break;
            case 'u':
            case 'U':
                if (!urlPlaced) {
                    out += url;
                    urlPlaced = true;
                } else if (argument.size() == 2) {
                    dropped = true;
                }
                break;
            case 'c':
                out += m_name;
                break;
            case 'k':
                out += m_filePath;
                break;
            default:
                // Deprecated and unknown codes are removed; a code standing alone leaves no argument.
                if (argument.size() == 2)
                    dropped = true;
                break;
            }
        }
        if (!dropped)
            command.append(out);
    }
    if (!urlCode)
        command.append(url);
    return command;
}

QString DesktopEntry::commandLineFor(const QString& url) const
{
    const QStringList command = commandFor(url);
    return command.join(QLatin1Char(' '));
}

QString FindDesktopFile(const QString& desktopId)
{
    if (desktopId.isEmpty() || desktopId.contains(QLatin1Char('/')))
        return {};
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation);
    for (const QString& folder : folders) {
        const QString direct = QDir(folder).filePath(desktopId);
        if (QFileInfo(direct).isFile())
            return direct;
        // "vendor-app.desktop" may live in "vendor/app.desktop".
        QString nested = desktopId;
        for (qsizetype dash = nested.indexOf(QLatin1Char('-')); dash >= 0;
             dash = nested.indexOf(QLatin1Char('-'), dash + 1)) {
            QString candidate = nested;
            candidate[dash] = QLatin1Char('/');
            const QString path = QDir(folder).filePath(candidate);
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return {};
}

} // namespace crash::send
