#pragma once
// Everything the report assembly asks the rest of the process for: the threads and their names,
// the tracer, the plugins and raw memory. The live implementation binds the tracer, the plugin
// registry, the thread registry and the platform; tests hand in their own.

#include "crash/core/plugins/ReportPlugins.h"
#include "crash/core/stack/StackTrace.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace crash {

class CrashSettings;

struct ThreadDescription
{
    QString text;          // "main thread ($1a2b)", "thread $1a2c (TWorker)", ...
    bool reporter = false; // one of the reporter's own threads, or registered as "-"
    bool suspended = false;
    int priority = 0;
    std::optional<std::int64_t> creator;
    std::uint64_t creationAddress = 0;
};

class ReportSources
{
public:
    virtual ~ReportSources() = default;

    virtual std::int64_t mainThreadId() = 0;
    virtual std::vector<std::int64_t> threadIds() = 0;
    virtual ThreadDescription describeThread(std::int64_t threadId) = 0;

    virtual std::vector<stack::ThreadCapture> captureThreads(const std::vector<std::int64_t>& threadIds) = 0;
    virtual stack::TraceResult traceStack(const stack::ThreadCapture& capture,
                                          const stack::TraceOptions& options) = 0;
    virtual QString formatAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines) = 0;
    // The call instruction a return address follows.
    virtual std::uint64_t callSiteOf(std::uint64_t returnAddress) = 0;
    virtual QString disassemble(std::uint64_t address, const CrashSettings& settings) = 0;

    virtual std::vector<ReportPlugin> enabledPlugins(const QString& pluginsSetting) = 0;

    // Up to `size` bytes from `address`, stopping where readable memory ends.
    virtual QByteArray readMemory(std::uint64_t address, std::size_t size) = 0;
};

// The process's real threads, tracer, plugins and memory.
ReportSources& LiveReportSources();

} // namespace crash
