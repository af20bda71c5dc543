#pragma once
// The registry of report plugins: named producers of one header field or one section of every bug
// report. Names are looked up without regard to case, in the order the settings list them.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace crash {

class ExceptionReport;

struct ReportPlugin
{
    QString name;
    QString description;
    // The report is null when a producer is asked outside a report (tests, a whole-process trace).
    std::function<QString(const ExceptionReport* report)> produce;
    bool ownSection = true; // false: a header field
};

void RegisterReportPlugin(ReportPlugin plugin);
void UnregisterReportPlugin(const QString& name);

// The registered plugins named in `pluginsSetting` ("modules|processes|hardware"), in that order;
// unknown names are skipped, and only the first record of a name counts.
std::vector<ReportPlugin> EnabledReportPlugins(const QString& pluginsSetting);

// Registers "modules", "processes" and "hardware" once per process; every call counts.
void RegisterBuiltInPlugins();
// Takes the built-in plugins out again when the last registration is withdrawn.
void UnregisterBuiltInPlugins();

} // namespace crash
