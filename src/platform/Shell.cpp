#include "platform/Shell.h"

#include "platform/FileManager.h"
#include "platform/WinePrefix.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QUrl>
#include <mutex>

namespace platform {
namespace {

std::mutex g_lock;
ShellHandlers g_handlers;

} // namespace

ShellHandlers SetShellHandlers(ShellHandlers handlers)
{
    std::lock_guard guard(g_lock);
    std::swap(g_handlers, handlers);
    return handlers;
}

bool ShellOpen(const QString& target, const QStringList& arguments, const QString& workingFolder)
{
    decltype(ShellHandlers::open) open;
    {
        std::lock_guard guard(g_lock);
        open = g_handlers.open;
    }
    return open ? open(target, arguments, workingFolder) : SystemShellOpen(target, arguments, workingFolder);
}

void ShowInFileManager(const QString& nativePath)
{
    decltype(ShellHandlers::showInFileManager) show;
    {
        std::lock_guard guard(g_lock);
        show = g_handlers.showInFileManager;
    }
    show ? show(nativePath) : SystemShowInFileManager(nativePath);
}

QString WebAddressToOpen(const QString& address)
{
    const QUrl url(address);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return {};
    if (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))
        return {};
    return url.toString(QUrl::FullyEncoded);
}

bool OpenWebAddress(const QString& address)
{
    const QString checked = WebAddressToOpen(address);
    if (checked.isEmpty())
        return false;
    decltype(ShellHandlers::openWebAddress) open;
    {
        std::lock_guard guard(g_lock);
        open = g_handlers.openWebAddress;
    }
    return open ? open(checked) : SystemOpenWebAddress(checked);
}

bool SystemOpenWebAddress(const QString& webAddress)
{
    QProcess process;
    process.setProgram(QStringLiteral("xdg-open"));
    process.setArguments({webAddress});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

void SystemShowInFileManager(const QString& nativePath)
{
    if (FileManagerShowItem(nativePath))
        return;
    // "explore": an existing folder itself, otherwise the folder the path lies in.
    const QFileInfo info(nativePath);
    const QString folder = info.isDir() ? nativePath : info.absolutePath() + QLatin1Char('/');
    if (SystemShellOpen(folder, {}, {}))
        return;
    StartFileManager(nativePath);
}

QString WineLoader()
{
    const QString wine = qEnvironmentVariable("WINE");
    return wine.isEmpty() ? QStringLiteral("wine") : wine;
}

bool SystemShellOpen(const QString& target, const QStringList& arguments, const QString& workingFolder)
{
    // A web address is never a program of the prefix, whatever its path ends in.
    if (const QString webAddress = WebAddressToOpen(target); !webAddress.isEmpty())
        return SystemOpenWebAddress(webAddress);
    QProcess process;
    process.setWorkingDirectory(WinePrefix::toNativePath(workingFolder));
    if (target.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), WinePrefix::path());
        process.setProcessEnvironment(env);
        process.setProgram(WineLoader());
        process.setArguments(QStringList{target} + arguments);
    } else {
        // Folders, documents and web addresses go to the desktop's default opener.
        process.setProgram(QStringLiteral("xdg-open"));
        process.setArguments(QStringList{WinePrefix::toNativePath(target)});
    }
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

bool RunAndWait(const QString& program, const QString& parameters, const QString& workingFolder,
                int longestMs)
{
    QProcess process;
    process.setProgram(WinePrefix::toNativePath(program));
    process.setArguments(SplitWindowsCommandLine(parameters));
    process.setWorkingDirectory(WinePrefix::toNativePath(workingFolder));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(longestMs))
        return false;
    if (!process.waitForFinished(longestMs)) {
        process.kill();
        process.waitForFinished(5000);
    }
    return true;
}

QString EscapeInsideQuotes(const QString& text)
{
    QString out;
    qsizetype backslashes = 0;
    for (const QChar c : text) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        if (c == QLatin1Char('"'))
            out += QString(backslashes * 2 + 1, QLatin1Char('\\'));
        else
            out += QString(backslashes, QLatin1Char('\\'));
        out += c;
        backslashes = 0;
    }
    out += QString(backslashes * 2, QLatin1Char('\\'));
    return out;
}

QStringList SplitWindowsCommandLine(const QString& parameters)
{
    QStringList args;
    QString current;
    bool inArgument = false;
    bool quoted = false;
    const qsizetype n = parameters.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = parameters.at(i);
        if (!quoted && (c == QLatin1Char(' ') || c == QLatin1Char('\t'))) {
            if (inArgument) {
                args << current;
                current.clear();
                inArgument = false;
            }
            continue;
        }
        inArgument = true;
        if (c == QLatin1Char('\\')) {
            qsizetype count = 0;
            while (i < n && parameters.at(i) == QLatin1Char('\\')) {
                ++count;
                ++i;
            }
            if (i < n && parameters.at(i) == QLatin1Char('"')) {
                current += QString(count / 2, QLatin1Char('\\'));
                if (count % 2) {
                    current += QLatin1Char('"');
                    continue;
                }
                --i; // the quote itself is handled below
                continue;
            }
            current += QString(count, QLatin1Char('\\'));
            --i;
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (quoted && i + 1 < n && parameters.at(i + 1) == QLatin1Char('"')) {
                current += QLatin1Char('"');
                ++i;
                continue;
            }
            quoted = !quoted;
            continue;
        }
        current += c;
    }
    if (inArgument)
        args << current;
    return args;
}

} // namespace platform
