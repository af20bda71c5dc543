#include "crash/core/plugins/ModulesPlugin.h"

#include "crash/core/settings/CrashSettings.h"

#include <QCoreApplication>
#include <QStringList>
#include <algorithm>

namespace crash {
namespace {

struct ModuleLine
{
    std::uintptr_t base = 0;
    QString name;
    QString version;
    QString folder;
};

QString FileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FolderOf(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

QString ModulesPlugin::versionInName(const QString& fileName)
{
    const qsizetype at = fileName.indexOf(QLatin1String(".so."));
    return at < 0 ? QString() : fileName.mid(at + 4);
}

QString ModulesPlugin::text(const std::vector<platform::LoadedModule>& modules,
                            const QString& executableVersion)
{
    std::vector<ModuleLine> lines;
    lines.reserve(modules.size());
    qsizetype nameWidth = 0;
    qsizetype versionWidth = 0;
    for (const platform::LoadedModule& m : modules) {
        ModuleLine line{m.base, FileNameOf(m.path), {}, FolderOf(m.path)};
        if (m.executable) {
            line.version = executableVersion;
        } else {
            // The file behind the soname link carries the full version ("6.4.2", not "6").
            line.version = versionInName(FileNameOf(m.realPath));
            if (line.version.isEmpty())
                line.version = versionInName(m.soname);
            if (line.version.isEmpty())
                line.version = versionInName(line.name);
        }
        nameWidth = std::max(nameWidth, line.name.size());
        versionWidth = std::max(versionWidth, line.version.size());
        lines.push_back(std::move(line));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const ModuleLine& a, const ModuleLine& b) { return a.base < b.base; });

    QStringList out;
    out.reserve(qsizetype(lines.size()));
    for (const ModuleLine& line : lines)
        out.append(QStringLiteral("%1 ").arg(quint64(line.base), 16, 16, QLatin1Char('0')) +
                   line.name.leftJustified(nameWidth + 1) + line.version.leftJustified(versionWidth + 1) +
                   line.folder);
    return out.join(QLatin1String("\r\n"));
}

QString ModulesPlugin::systemText()
{
    QString version;
    if (const std::shared_ptr<CrashSettings> settings = MainSettings())
        version = settings->versionText();
    if (version.isEmpty())
        version = QCoreApplication::applicationVersion();
    return text(platform::ListLoadedModules(), version);
}

} // namespace crash
