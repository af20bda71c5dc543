// One process-wide list guarded by a mutex: plugins may be registered while a report completes on
// another thread, so lookups hand out copies.
#include "crash/core/plugins/ReportPlugins.h"

#include "crash/core/plugins/HardwarePlugin.h"
#include "crash/core/plugins/ModulesPlugin.h"
#include "crash/core/plugins/ProcessesPlugin.h"

#include <algorithm>
#include <mutex>

namespace crash {
namespace {

struct Entry
{
    ReportPlugin plugin;
    bool builtIn = false; // so that finalising removes these and not a same-named plugin of the program
};

struct Registry
{
    std::mutex lock;
    std::vector<Entry> entries;
    int builtInUsers = 0;
};

Registry& TheRegistry()
{
    static Registry* registry = new Registry; // never destroyed: reports may outlive static teardown
    return *registry;
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

void RegisterReportPlugin(ReportPlugin plugin)
{
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    r.entries.push_back(Entry{std::move(plugin), false});
}

void UnregisterReportPlugin(const QString& name)
{
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    const auto it = std::find_if(r.entries.begin(), r.entries.end(),
                                 [&](const Entry& e) { return SameName(e.plugin.name, name); });
    if (it != r.entries.end())
        r.entries.erase(it);
}

std::vector<ReportPlugin> EnabledReportPlugins(const QString& pluginsSetting)
{
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    std::vector<ReportPlugin> enabled;
    for (const QString& name : pluginsSetting.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QString wanted = name.trimmed();
        const auto it = std::find_if(r.entries.begin(), r.entries.end(),
                                     [&](const Entry& e) { return SameName(e.plugin.name, wanted); });
        if (it != r.entries.end())
            enabled.push_back(it->plugin);
    }
    return enabled;
}

void RegisterBuiltInPlugins()
{
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (r.builtInUsers++ > 0)
        return;
    r.entries.push_back({{QStringLiteral("modules"), QStringLiteral("list of loaded modules"),
                          [](const ExceptionReport*) { return ModulesPlugin::systemText(); }, true},
                         true});
    r.entries.push_back({{QStringLiteral("processes"), QStringLiteral("list of running processes"),
                          [](const ExceptionReport*) { return ProcessesPlugin::systemText(); }, true},
                         true});
    r.entries.push_back({{QStringLiteral("hardware"), QStringLiteral("list of installed hardware"),
                          [](const ExceptionReport*) { return HardwarePlugin::systemText(); }, true},
                         true});
}

void UnregisterBuiltInPlugins()
{
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (r.builtInUsers == 0 || --r.builtInUsers > 0)
        return;
    std::erase_if(r.entries, [](const Entry& e) { return e.builtIn; });
}

} // namespace crash
