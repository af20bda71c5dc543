#include "crash/core/plugins/ProcessesPlugin.h"

#include "platform/WinePrefix.h"

#include <QStringList>
#include <algorithm>

namespace crash {
namespace {

struct ProcessLine
{
    qint64 pid = 0;
    QString name;
    QString session;
    QString priority;
    QString folder;
};

// Splits after the last "/" (or "\" for a Windows path): the folder keeps its separator.
void SplitPath(const QString& path, QString& folder, QString& name)
{
    const qsizetype cut =
        std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\'))) + 1;
    folder = path.left(cut);
    name = path.mid(cut);
}

bool IsWineLoader(const QString& path)
{
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name == QLatin1String("wine") || name == QLatin1String("wine64") ||
           name == QLatin1String("wine-preloader") || name == QLatin1String("wine64-preloader");
}

// The Windows program a Wine process runs, or empty when it is not one. Wine puts the program's
// Windows path first on the command line; a loader started by hand has it second.
QString WindowsImage(const platform::ProcessStatus& p)
{
    const QStringList& args = p.argsHead;
    if (!args.isEmpty() && platform::WinePrefix::isWindowsPath(args[0]))
        return args[0];
    if (args.size() > 1 && (IsWineLoader(p.exePath) || IsWineLoader(args[0])) &&
        (platform::WinePrefix::isWindowsPath(args[1]) ||
         args[1].endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)))
        return args[1];
    return {};
}

} // namespace

QString ProcessesPlugin::priorityText(const platform::ProcessStatus& process)
{
    if (process.scheduling == platform::SchedulingClass::RealTime || process.nice <= -20)
        return QStringLiteral("realtime");
    if (process.scheduling == platform::SchedulingClass::Idle || process.nice >= 19)
        return QStringLiteral("idle");
    if (process.nice < 0)
        return QStringLiteral("high");
    if (process.nice > 0)
        return QStringLiteral("below normal");
    return QStringLiteral("normal");
}

QString ProcessesPlugin::text(const std::vector<platform::ProcessStatus>& processes)
{
    std::vector<ProcessLine> lines;
    lines.reserve(processes.size());
    qsizetype pidWidth = 0, nameWidth = 0, sessionWidth = 0, priorityWidth = 0;
    bool anySession = false;
    for (const platform::ProcessStatus& p : processes) {
        ProcessLine line;
        line.pid = p.pid;
        if (const QString windowsImage = WindowsImage(p); !windowsImage.isEmpty())
            SplitPath(windowsImage, line.folder, line.name);
        else if (!p.exePath.isEmpty())
            SplitPath(p.exePath, line.folder, line.name);
        else
            line.name = p.comm;
        line.session = QString::number(p.session);
        line.priority = priorityText(p);
        anySession = anySession || p.session != 0;
        pidWidth = std::max(pidWidth, QString::number(p.pid, 16).size());
        nameWidth = std::max(nameWidth, line.name.size());
        sessionWidth = std::max(sessionWidth, line.session.size());
        priorityWidth = std::max(priorityWidth, line.priority.size());
        lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const ProcessLine& a, const ProcessLine& b) { return a.pid < b.pid; });

    QStringList out;
    out.reserve(qsizetype(lines.size()));
    for (const ProcessLine& line : lines) {
        QString text = QStringLiteral("%1 ").arg(line.pid, int(pidWidth), 16, QLatin1Char('0')) +
                       line.name.leftJustified(nameWidth + 1);
        if (anySession)
            text += line.session.leftJustified(sessionWidth + 1);
        text += line.priority.leftJustified(priorityWidth + 1) + line.folder;
        out.append(text);
    }
    return out.join(QLatin1String("\r\n"));
}

QString ProcessesPlugin::systemText()
{
    return text(platform::ProcessTable().snapshot());
}

} // namespace crash
