#include "platform/WinePrefix.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace platform {
namespace {

QString driveTarget(QChar letter)
{
    const QString link =
        WinePrefix::path() + QStringLiteral("/dosdevices/") + letter.toLower() + QLatin1Char(':');
    const QString target = QFileInfo(link).canonicalFilePath();
    if (!target.isEmpty())
        return target;
    // A prefix always has its system drive, even before dosdevices is written.
    if (letter.toLower() == QLatin1Char('c')) {
        const QString driveC = QFileInfo(WinePrefix::path() + QStringLiteral("/drive_c")).canonicalFilePath();
        if (!driveC.isEmpty())
            return driveC;
    }
    return {};
}

// Appends one component, taking an existing entry of another letter case when the exact one is absent.
QString appendComponent(const QString& base, const QString& name, bool& stillResolving)
{
    const QString exact = base.endsWith(QLatin1Char('/')) ? base + name : base + QLatin1Char('/') + name;
    if (!stillResolving || QFileInfo::exists(exact))
        return exact;
    const QStringList entries =
        QDir(base).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return base.endsWith(QLatin1Char('/')) ? base + entry : base + QLatin1Char('/') + entry;
    stillResolving = false;
    return exact;
}

WindowsVersion versionFromWineName(const QString& name)
{
    static const struct
    {
        const char* name;
        int major, minor;
    } table[] = {{"win11", 10, 0}, {"win10", 10, 0},  {"win81", 6, 3}, {"win8", 6, 2},    {"win2008r2", 6, 1},
                 {"win7", 6, 1},   {"win2008", 6, 0}, {"vista", 6, 0}, {"win2003", 5, 2}, {"winxp64", 5, 2},
                 {"winxp", 5, 1},  {"win2k", 5, 0},   {"nt40", 4, 0},  {"winme", 4, 90},  {"win98", 4, 10},
                 {"win95", 4, 0},  {"nt351", 3, 51},  {"win31", 3, 10}};
    for (const auto& row : table)
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return {row.major, row.minor};
    return {0, 0};
}

} // namespace

QString WinePrefix::path()
{
    const QString fromEnv = qEnvironmentVariable("WINEPREFIX");
    QString p = fromEnv.isEmpty() ? QDir::homePath() + QStringLiteral("/.wine") : fromEnv;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

QString WinePrefix::systemHivePath()
{
    return path() + QStringLiteral("/system.reg");
}

QString WinePrefix::userHivePath()
{
    return path() + QStringLiteral("/user.reg");
}

bool WinePrefix::is64Bit()
{
    const QString arch = RegistryHive::load(systemHivePath()).arch();
    return arch.isEmpty() || arch == QLatin1String("win64");
}

WindowsVersion WinePrefix::windowsVersion()
{
    // The per-prefix setting of winecfg wins; then what the system hive reports.
    if (auto wine = RegistryKey::open(RootKey::CurrentUser, QStringLiteral("Software\\Wine"), KEY_READ)) {
        QString name;
        if (wine->readString(QStringLiteral("Version"), name) == RegStatus::Ok) {
            const WindowsVersion v = versionFromWineName(name);
            if (v.major)
                return v;
        }
    }
    if (auto cv =
            RegistryKey::open(RootKey::LocalMachine,
                              QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion"), KEY_READ)) {
        uint32_t major = 0, minor = 0;
        if (cv->readDword(QStringLiteral("CurrentMajorVersionNumber"), major) == RegStatus::Ok && major) {
            cv->readDword(QStringLiteral("CurrentMinorVersionNumber"), minor);
            return {int(major), int(minor)};
        }
        QString text;
        if (cv->readString(QStringLiteral("CurrentVersion"), text) == RegStatus::Ok) {
            const QStringList parts = text.split(QLatin1Char('.'));
            bool okMajor = false, okMinor = false;
            const int ma = parts.value(0).toInt(&okMajor);
            const int mi = parts.value(1).toInt(&okMinor);
            if (okMajor && okMinor && ma > 0)
                return {ma, mi};
        }
    }
    return {10, 0};
}

bool WinePrefix::isWindowsPath(const QString& p)
{
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:([\\\\/]|$)"));
    return drive.match(p).hasMatch() || p.startsWith(QLatin1String("\\\\?\\")) ||
           (p.startsWith(QLatin1Char('\\')) && !p.startsWith(QLatin1String("\\\\")));
}

QString WinePrefix::toNativePath(const QString& windowsPath)
{
    if (!isWindowsPath(windowsPath))
        return windowsPath;
    QString p = windowsPath;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (p.startsWith(QLatin1String("\\\\?\\")))
        p.remove(0, 4);
    QChar letter = QLatin1Char('c'); // a rooted path without a drive is on the system drive
    if (p.size() >= 2 && p.at(1) == QLatin1Char(':')) {
        letter = p.at(0);
        p.remove(0, 2);
    }
    QString result = driveTarget(letter);
    if (result.isEmpty())
        return {};
    const bool trailing = p.endsWith(QLatin1Char('\\')) && p.size() > 1;
    QStringList kept;
    for (const QString& part : p.split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (!kept.isEmpty())
                kept.removeLast();
            continue;
        }
        kept.append(part);
    }
    bool resolving = true;
    for (const QString& part : kept)
        result = appendComponent(result, part, resolving);
    if (trailing && !result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    return result;
}

QString WinePrefix::resolveNativePath(const QString& nativePath)
{
    if (nativePath.isEmpty() || QFileInfo::exists(nativePath))
        return nativePath;
    const bool absolute = nativePath.startsWith(QLatin1Char('/'));
    const bool trailing = nativePath.endsWith(QLatin1Char('/')) && nativePath.size() > 1;
    QString result = absolute ? QStringLiteral("/") : QStringLiteral(".");
    bool resolving = true;
    for (const QString& part : nativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        result = appendComponent(result, part, resolving);
    if (!absolute)
        result = result.mid(2); // the "./" the walk started from
    if (trailing && !result.endsWith(QLatin1Char('/')))
        result += QLatin1Char('/');
    return result;
}

QString WinePrefix::toWindowsPath(const QString& nativePath)
{
    QFileInfo info(nativePath);
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(info.absoluteFilePath());
    const bool trailing = nativePath.endsWith(QLatin1Char('/')) && canonical != QLatin1String("/");

    QString best;
    int bestLength = -1;
    QChar bestLetter;
    const QDir devices(path() + QStringLiteral("/dosdevices"));
    QStringList names = devices.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    if (!names.contains(QLatin1String("c:")))
        names.append(QStringLiteral("c:"));
    for (const QString& name : names) {
        if (name.size() != 2 || name.at(1) != QLatin1Char(':') || !name.at(0).isLetter())
            continue;
        const QString target = driveTarget(name.at(0));
        if (target.isEmpty())
            continue;
        const bool covers =
            canonical == target ||
            canonical.startsWith(target == QLatin1String("/") ? target : target + QLatin1Char('/'));
        // Prefer the most specific drive; z: (the whole file system) only when nothing else covers it.
        const int length = target == QLatin1String("/") ? 0 : int(target.size());
        if (covers && length > bestLength) {
            bestLength = length;
            bestLetter = name.at(0).toUpper();
            best = canonical.mid(target == QLatin1String("/") ? 0 : target.size());
        }
    }
    if (bestLength < 0)
        return {};
    best.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (!best.startsWith(QLatin1Char('\\')))
        best.prepend(QLatin1Char('\\'));
    if (trailing && !best.endsWith(QLatin1Char('\\')))
        best += QLatin1Char('\\');
    return QString(bestLetter) + QLatin1Char(':') + best;
}

} // namespace platform
