#include "crash/core/report/ReportSources.h"

#include "crash/core/threads/ThreadRegistry.h"
#include "platform/AddressSpace.h"
#include "platform/ProcessThreads.h"

namespace crash {
namespace {

class LiveSources final : public ReportSources
{
public:
    std::int64_t mainThreadId() override { return platform::MainThreadId(); }

    std::vector<std::int64_t> threadIds() override { return platform::ThreadIdsOfProcess(); }

    ThreadDescription describeThread(std::int64_t threadId) override
    {
        ThreadDescription description;
        std::optional<ThreadInfo> info;
        bool busy = false;
        if (ThreadRegistry* registry = ThreadRegistry::instance()) {
            ThreadInfo found;
            const ThreadRegistry::Lookup result = registry->find(threadId, found);
            busy = result == ThreadRegistry::Lookup::Busy;
            if (result == ThreadRegistry::Lookup::Found)
                info = found;
        }
        description.text = DescribeThread(threadId, info, busy);
        if (info) {
            description.reporter = ThreadRegistry::isHiddenName(info->name);
            if (info->creatorThread != 0)
                description.creator = info->creatorThread;
            description.creationAddress = info->creationAddress;
        }
        const platform::ThreadState state = platform::ReadThreadState(threadId);
        description.suspended = state.suspended;
        description.priority = state.priority;
        return description;
    }

    std::vector<stack::ThreadCapture> captureThreads(const std::vector<std::int64_t>& threadIds) override
    {
        return stack::CaptureThreads(threadIds);
    }

    stack::TraceResult traceStack(const stack::ThreadCapture& capture,
                                  const stack::TraceOptions& options) override
    {
        return stack::TraceStack(capture, options);
    }

    QString formatAddress(std::uint64_t address, bool showRelAddrs, bool showRelLines) override
    {
        return stack::FormatAddress(address, showRelAddrs, showRelLines);
    }

    std::uint64_t callSiteOf(std::uint64_t returnAddress) override
    {
        return stack::CallSiteOf(returnAddress);
    }

    QString disassemble(std::uint64_t address, const CrashSettings& settings) override
    {
        return stack::DisassembleAround(address, settings);
    }

    std::vector<ReportPlugin> enabledPlugins(const QString& pluginsSetting) override
    {
        return EnabledReportPlugins(pluginsSetting);
    }

    QByteArray readMemory(std::uint64_t address, std::size_t size) override
    {
        return platform::ReadOwnMemory(address, size);
    }
};

} // namespace

ReportSources& LiveReportSources()
{
    static LiveSources& sources = *new LiveSources; // outlives the static teardown
    return sources;
}

} // namespace crash
