#pragma once
// A process made up for report tests: its threads, their names and stacks, its plugins and memory.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportSources.h"
#include "platform/Exception.h"

#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

namespace reporttest {

class FakeReportSources : public crash::ReportSources
{
public:
    std::int64_t main = 0x100;
    std::vector<std::int64_t> ids{0x100};
    std::map<std::int64_t, crash::ThreadDescription> descriptions;
    std::set<std::int64_t> inaccessible;
    std::map<std::int64_t, crash::stack::TraceResult> traces;
    std::set<std::int64_t> failingTraces;
    std::vector<crash::ReportPlugin> plugins;
    std::uint64_t memoryBase = 0;
    QByteArray memory;
    std::function<void(std::int64_t)> onTrace;
    std::vector<std::int64_t> traceOrder;
    std::vector<crash::stack::TraceOptions> traceOptions;

    std::int64_t mainThreadId() override { return main; }
    std::vector<std::int64_t> threadIds() override { return ids; }

    crash::ThreadDescription describeThread(std::int64_t id) override
    {
        const auto found = descriptions.find(id);
        if (found != descriptions.end())
            return found->second;
        crash::ThreadDescription d;
        d.text = QStringLiteral("thread $") + QString::number(id, 16);
        return d;
    }

    std::vector<crash::stack::ThreadCapture>
    captureThreads(const std::vector<std::int64_t>& threadIds) override
    {
        std::vector<crash::stack::ThreadCapture> captures;
        for (std::int64_t id : threadIds) {
            crash::stack::ThreadCapture capture;
            capture.threadId = id;
            capture.accessible = !inaccessible.count(id);
            capture.context.rsp = 0x7000;
            capture.stackTop = 0x7100;
            capture.stack.assign(0x100, 0);
            captures.push_back(capture);
        }
        return captures;
    }

    crash::stack::TraceResult traceStack(const crash::stack::ThreadCapture& capture,
                                         const crash::stack::TraceOptions& options) override
    {
        traceOrder.push_back(capture.threadId);
        traceOptions.push_back(options);
        if (onTrace)
            onTrace(capture.threadId);
        if (failingTraces.count(capture.threadId))
            throw std::runtime_error("tracer failed");
        const auto found = traces.find(capture.threadId);
        if (found != traces.end())
            return found->second;
        crash::stack::TraceResult result;
        result.listing = QStringLiteral("0000000000401000 +000 skintool  Unit.cpp  12 +0 Function_%1")
                             .arg(capture.threadId, 0, 16);
        if (options.creationAddress) {
            if (!options.creator.isEmpty())
                result.listing +=
                    QStringLiteral("\r\n>> created by ") + options.creator + QStringLiteral(" at:");
            result.listing += QStringLiteral("\r\n0000000000402000 +000 skintool  Creator.cpp  7 +0 Create");
        }
        result.firstEntryValue = std::uint32_t(capture.threadId);
        result.runningCrc = std::uint32_t(capture.threadId * 3);
        result.hasLineInfo = true;
        return result;
    }

    QString formatAddress(std::uint64_t address, bool, bool) override
    {
        return QStringLiteral("%1 +000 skintool  Crash.cpp  40 +2 Fault")
            .arg(address, 16, 16, QLatin1Char('0'));
    }

    // Every call here is 5 bytes long.
    std::uint64_t callSiteOf(std::uint64_t returnAddress) override { return returnAddress - 5; }

    QString disassemble(std::uint64_t address, const crash::CrashSettings&) override
    {
        return QStringLiteral("> %1  mov eax, [rdx]").arg(address, 0, 16);
    }

    std::vector<crash::ReportPlugin> enabledPlugins(const QString& setting) override
    {
        std::vector<crash::ReportPlugin> enabled;
        for (const QString& name : setting.split(QLatin1Char('|'))) {
            for (const auto& plugin : plugins) {
                if (plugin.name.compare(name, Qt::CaseInsensitive) == 0) {
                    enabled.push_back(plugin);
                    break;
                }
            }
        }
        return enabled;
    }

    QByteArray readMemory(std::uint64_t address, std::size_t size) override
    {
        if (address < memoryBase || address >= memoryBase + std::uint64_t(memory.size()))
            return {};
        return memory.mid(qsizetype(address - memoryBase), qsizetype(size));
    }
};

inline std::shared_ptr<crash::ExceptionReport>
MakeReport(const QString& className = QStringLiteral("EReadError"),
           const QString& message = QStringLiteral("boom"),
           crash::ExceptionType type = crash::ExceptionType::Exception)
{
    const QStringList chain = type == crash::ExceptionType::Freeze
                                  ? QStringList{}
                                  : QStringList{className, QStringLiteral("Exception")};
    return std::make_shared<crash::ExceptionReport>(0, type, chain, className, message,
                                                    crash::ExceptionSource::ApplicationHandleException, true);
}

} // namespace reporttest
