#include "env/Orlix_Routine_New.h"

#include "platform/Shell.h"
#include "platform/WinePrefix.h"

#include <QDir>

namespace env {

QString TrimBlanks(const QString& text)
{
    qsizetype from = 0, to = text.size();
    while (from < to && text.at(from).unicode() <= 0x20)
        ++from;
    while (to > from && text.at(to - 1).unicode() <= 0x20)
        --to;
    return text.mid(from, to - from);
}
namespace {

// Upper-cases a to z only, as the comparison of executable names does.
QString upperAsciiLetters(QString text)
{
    for (QChar& c : text)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 32);
    return text;
}

QString fileNamePart(const QString& name)
{
    const qsizetype cut = std::max(name.lastIndexOf(QLatin1Char('\\')), name.lastIndexOf(QLatin1Char('/')));
    return name.mid(cut + 1);
}

QString nativeFullPath(const QString& path)
{
    QString native =
        platform::WinePrefix::isWindowsPath(path) ? platform::WinePrefix::toNativePath(path) : path;
    if (native.isEmpty())
        native = path;
    // Paths here are built the Windows way ("Skin\" + name); no native path of ours holds a "\".
    native.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::cleanPath(QDir::current().absoluteFilePath(native));
}

} // namespace

void OpenFolderAndSelect(const QString& path) noexcept
{
    try {
        platform::ShowInFileManager(nativeFullPath(path));
    } catch (...) {
    }
}

bool ExeNameMatches(const QString& name, const QString& exeName)
{
    const QString wanted = upperAsciiLetters(exeName);
    return upperAsciiLetters(fileNamePart(name)) == wanted || upperAsciiLetters(name) == wanted;
}

bool KillMatchingProcesses(const QList<platform::ProcessEntry>& entries, const QString& exeName,
                           const std::function<bool(qint64)>& terminate)
{
    bool result = false;
    for (const platform::ProcessEntry& entry : entries)
        if (ExeNameMatches(entry.exeName, exeName))
            result = terminate(entry.pid); // every copy is stopped; the last attempt decides
    return result;
}

bool KillProcessesByName(const QString& exeName)
{
    return KillMatchingProcesses(platform::ProcessSnapshot(), exeName, platform::TerminateProcess);
}

} // namespace env
