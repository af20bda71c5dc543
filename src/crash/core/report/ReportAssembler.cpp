#include "crash/core/report/ReportAssembler.h"

#include "crash/core/report/CallStackChecksums.h"
#include "crash/core/report/ContextSections.h"
#include "crash/core/report/ReportHeader.h"
#include "crash/core/report/ReportServices.h"

#include <QHash>
#include <QStringList>
#include <algorithm>
#include <memory>

namespace crash {
namespace {

const QString Soon = QStringLiteral("will be calculated soon");
const QString SoonLine = QStringLiteral(">> will be calculated soon");
const QString StackSoon = QStringLiteral(">> stack will be calculated soon");
const QString CpuRegistersSection = QStringLiteral("cpu registers");
const QString StackDumpSection = QStringLiteral("stack dump");
const QString DisassemblySection = QStringLiteral("disassembling");
constexpr std::size_t StackDumpBytes = 16 * StackDumpLines;

QString InternalError(const char* routine)
{
    return QLatin1String(">> internal error in ") + QLatin1String(routine) + QLatin1Char(':');
}

QString Title(const ThreadDescription& description, int innerLevel)
{
    QString title = description.text;
    if (innerLevel > 0)
        title += QLatin1String(", inner exception level ") + QString::number(innerLevel);
    title += QLatin1Char(':');
    if (description.suspended)
        title += QLatin1String(" <suspended>");
    if (description.priority != 0)
        title += QLatin1String(" <priority:") + QString::number(description.priority) + QLatin1Char('>');
    return title;
}

QString InnerPrefix(const ThreadRecord& record)
{
    if (record.innerLevel == 0)
        return {};
    return QLatin1String(">> ") + record.innerClass + QLatin1String(", ") + record.innerMessage +
           QLatin1String("\r\n");
}

bool Inspectable(const ThreadRecord& record)
{
    return record.capture.accessible || !record.preparedStack.empty();
}

bool IsCrashSite(const ThreadRecord& record)
{
    return record.crashed && record.innerLevel == 0;
}

// A throw and the runtime's fatal-error routines give the address their call returns to, which
// may already belong to the next line or function; the exception happened at the call.
bool LocationFollowsACall(const ExceptionReport& report, const ReportRequest& request)
{
    if (report.exceptionAddress == 0 || request.crashed.external)
        return false;
    if (report.source() == ExceptionSource::RuntimeFatalError)
        return true;
    const std::vector<std::uint64_t>& raised = request.crashed.raiseTimeStack;
    return !raised.empty() && raised.front() == report.exceptionAddress;
}

// The fault's registers replace those of the capture, which was taken later (in the handler); the
// stack copy then starts at the fault's stack pointer when that lies inside it.
void UseFaultContext(stack::ThreadCapture& capture, const stack::CpuContext& context)
{
    const std::uint64_t capturedSp = capture.context.rsp;
    if (context.rsp >= capturedSp && context.rsp - capturedSp <= capture.stack.size()) {
        capture.stack.erase(capture.stack.begin(),
                            capture.stack.begin() + static_cast<std::ptrdiff_t>(context.rsp - capturedSp));
        capture.context = context;
    }
}

} // namespace

std::vector<ThreadRecord> ReportAssembler::listThreads(const ExceptionReport& report,
                                                       const ReportRequest& request)
{
    QHash<std::int64_t, ThreadDescription> descriptions;
    // By value: a later lookup may grow the table under a reference.
    auto describe = [&](std::int64_t id) -> ThreadDescription {
        auto found = descriptions.find(id);
        if (found == descriptions.end())
            found = descriptions.insert(id, m_sources.describeThread(id));
        return *found;
    };
    auto record = [&](std::int64_t id, int innerLevel) {
        ThreadRecord r;
        r.threadId = id;
        r.innerLevel = innerLevel;
        const ThreadDescription description = describe(id);
        r.title = Title(description, innerLevel);
        if (description.creator && innerLevel == 0) {
            r.creatorDescription = describe(*description.creator).text;
            r.creationAddress = description.creationAddress;
        }
        return r;
    };

    std::vector<ThreadRecord> records;
    const std::int64_t mainId = m_sources.mainThreadId();
    if (report.isFreeze()) {
        records.push_back(record(mainId, 0));
    } else {
        const std::int64_t crashedId =
            request.crashed.threadId ? request.crashed.threadId : report.crashedThread;
        ThreadRecord crashed = record(crashedId ? crashedId : mainId, 0);
        crashed.crashed = true;
        crashed.exceptionAddress = report.exceptionAddress;
        crashed.external = request.crashed.external;
        crashed.abnormalTermination = request.crashed.abnormalTermination;
        crashed.preparedStack = request.crashed.raiseTimeStack;
        if (request.crashed.context) {
            crashed.stackPointer = request.crashed.context->rsp;
            crashed.framePointer = request.crashed.context->rbp;
        }
        records.push_back(crashed);
        int level = 0;
        for (const InnerException& inner : request.crashed.innerExceptions) {
            ThreadRecord r = record(crashed.threadId, ++level);
            r.crashed = true;
            r.innerClass = inner.className;
            r.innerMessage = inner.message;
            r.preparedStack = inner.raiseTimeStack;
            records.push_back(r);
        }
        if (crashed.threadId != mainId)
            records.push_back(record(mainId, 0));
    }
    if (request.listThreads && report.ListThreads()) {
        for (std::int64_t id : m_sources.threadIds()) {
            const bool listed = std::any_of(records.begin(), records.end(),
                                            [id](const ThreadRecord& r) { return r.threadId == id; });
            if (listed || (describe(id).reporter && !request.wholeProcess))
                continue;
            ThreadRecord r = record(id, 0);
            r.otherThread = true;
            records.push_back(r);
        }
    }
    return records;
}

void ReportAssembler::captureThreads(std::vector<ThreadRecord>& records, const ReportRequest& request)
{
    std::vector<std::int64_t> ids;
    for (const ThreadRecord& r : records) {
        if (std::find(ids.begin(), ids.end(), r.threadId) == ids.end())
            ids.push_back(r.threadId);
    }
    std::vector<stack::ThreadCapture> captures = m_sources.captureThreads(ids);
    for (ThreadRecord& r : records) {
        for (const stack::ThreadCapture& capture : captures) {
            if (capture.threadId == r.threadId) {
                r.capture = capture;
                break;
            }
        }
        r.capture.threadId = r.threadId;
        if (r.crashed && request.crashed.context && r.capture.accessible)
            UseFaultContext(r.capture, *request.crashed.context);
        if (r.capture.accessible) {
            r.stackTop = r.capture.stackTop;
            if (!r.crashed) {
                r.stackPointer = r.capture.context.rsp;
                r.framePointer = r.capture.context.rbp;
            }
        }
    }
}

QString ReportAssembler::sectionPlaceholder(const ExceptionReport& report, const ThreadRecord& record)
{
    QString content = InnerPrefix(record);
    const bool crashSite = IsCrashSite(record);
    auto location = [&] {
        return m_sources.formatAddress(record.exceptionAddress, report.ShowRelAddrs(), report.ShowRelLines());
    };
    // Without an exception address there is no location to show.
    const bool located = crashSite && record.exceptionAddress != 0;
    if (Inspectable(record)) {
        if (located)
            content += location() + QLatin1String("\r\n");
        content += StackSoon;
    } else {
        content += QLatin1String(">> stack not accessible");
        if (located)
            content += QLatin1String(", exception location: \r\n") + location();
    }
    return content;
}

void ReportAssembler::build(ExceptionReport& report, const ReportRequest& request)
{
    if (!report.filterResult().buildReport || report.header().acceptingData())
        return;
    if (request.cancel)
        report.setCancelSource(request.cancel);
    report.beginUpdate();
    report.header().setAcceptingData(true);
    report.sections().setAcceptingData(true);
    try {
        FillReportHeader(report, m_sources);
    } catch (...) {
    }

    ReportFields& sections = report.sections();
    bool atCall = false;
    try {
        if (LocationFollowsACall(report, request)) {
            report.exceptionAddress = m_sources.callSiteOf(report.exceptionAddress);
            atCall = true;
        }
    } catch (...) {
    }
    try {
        std::vector<ThreadRecord> records = listThreads(report, request);
        for (ThreadRecord& r : records)
            r.exceptionAtCall = atCall && IsCrashSite(r);
        captureThreads(records, request);
        for (const ThreadRecord& r : records) {
            try {
                sections.setField(r.title, sectionPlaceholder(report, r));
            } catch (...) {
                sections.setField(r.title, InternalError("GetThreadReport"));
            }
        }
        report.threads() = std::move(records);
    } catch (...) {
    }
    try {
        for (const ReportPlugin& plugin : m_sources.enabledPlugins(report.Plugins())) {
            if (plugin.ownSection)
                sections.setField(plugin.name, SoonLine);
        }
    } catch (...) {
    }
    std::optional<stack::CpuContext> context = request.crashed.context;
    for (auto inner = request.crashed.innerExceptions.rbegin();
         inner != request.crashed.innerExceptions.rend(); ++inner) {
        if (inner->context) {
            context = inner->context; // the innermost recorded context
            break;
        }
    }
    if (context && report.CpuRegs())
        sections.setField(CpuRegistersSection, SoonLine);
    if (context && report.StackDump())
        sections.setField(StackDumpSection, SoonLine);
    if (report.ShowDisAsm() && report.exceptionAddress != 0 && !report.isFreeze())
        sections.setField(DisassemblySection, SoonLine);
    report.endUpdate();

    const bool ownThread = request.completeInOwnThread;
    ExceptionReport* target = &report;
    // The assembler may be gone when a deferred completion runs; the sources live on.
    ReportSources* sources = &m_sources;
    report.setCompletionWork([sources, target, context, ownThread] {
        ReportAssembler(*sources).complete(*target, context, !ownThread);
    });
    if (!report.deferCompletion())
        report.startCompletion(ownThread);
}

void ReportAssembler::traceThread(ExceptionReport& report, ThreadRecord& record, ProgressAlert* box)
{
    if (!Inspectable(record))
        return;
    QString content = InnerPrefix(record);
    try {
        stack::TraceOptions options;
        options.showRelAddrs = report.ShowRelAddrs();
        options.showRelLines = report.ShowRelLines();
        options.hideUglyItems = report.HideUglyItems();
        options.startAddress = IsCrashSite(record) ? record.exceptionAddress : 0;
        options.startIsCall = record.exceptionAtCall;
        options.raiseTimeStack = record.preparedStack;
        options.creationAddress = record.creationAddress;
        options.creator = record.creatorDescription;
        options.cancel = report.cancelFlag();
        if (box)
            options.progress = [box](int thousandths) { box->setStepPosition(thousandths); };
        stack::ThreadCapture capture = record.capture;
        if (!capture.accessible && record.innerLevel > 0)
            capture.accessible = true; // the raise-time stack alone is enough
        record.trace = m_sources.traceStack(capture, options);
        QString listing = record.trace.listing;
        if (IsCrashSite(record) && record.exceptionAddress != 0) {
            const QString location =
                m_sources.formatAddress(record.exceptionAddress, options.showRelAddrs, options.showRelLines);
            if (!listing.startsWith(location))
                listing = location + QLatin1String("\r\n") + listing;
        }
        content += listing;
        record.traced = true;
    } catch (...) {
        content += InternalError("GetThreadStack");
    }
    report.sections().setField(record.title, content);
}

void ReportAssembler::fillContextSections(ExceptionReport& report,
                                          const std::optional<stack::CpuContext>& context)
{
    ReportFields& sections = report.sections();
    auto fill = [&](const QString& name, const char* routine, const std::function<QString()>& produce) {
        if (!sections.contains(name) || report.completionCancelled())
            return;
        try {
            sections.setField(name, produce());
        } catch (...) {
            sections.setField(name, InternalError(routine));
        }
    };
    if (context) {
        fill(CpuRegistersSection, "GetCpuRegisters", [&] { return FormatCpuRegisters(*context); });
        fill(StackDumpSection, "GetStackDump", [&] {
            return FormatStackDump(context->rsp, m_sources.readMemory(context->rsp, StackDumpBytes));
        });
    }
    fill(DisassemblySection, "GetCleartextDisAsm",
         [&] { return m_sources.disassemble(report.exceptionAddress, report); });
}

void ReportAssembler::fillPluginSections(ExceptionReport& report)
{
    std::vector<ReportPlugin> plugins;
    try {
        plugins = m_sources.enabledPlugins(report.Plugins());
    } catch (...) {
        return;
    }
    for (const ReportPlugin& plugin : plugins) {
        if (!plugin.ownSection || report.completionCancelled())
            continue;
        QString text;
        try {
            text = plugin.produce ? plugin.produce(&report) : QString();
        } catch (...) {
            text = InternalError("plugin");
        }
        report.sections().setField(plugin.name, text);
    }
}

void ReportAssembler::complete(ExceptionReport& report, const std::optional<stack::CpuContext>& context,
                               bool showBox)
{
    std::vector<ThreadRecord>& records = report.threads();
    std::unique_ptr<ProgressAlert> box;
    if (showBox && report.PlWaitBox() && Services().progress) {
        try {
            box = Services().progress(report.PlWaitTitle(), report.PlWaitText());
        } catch (...) {
        }
        if (box) {
            // Tracing time grows with the stack size.
            for (const ThreadRecord& r : records)
                box->addStep(r.title, qint64(r.capture.stack.size()) + 1);
            box->show(true);
        }
    }
    auto trace = [&](bool others) {
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (records[i].otherThread != others)
                continue;
            if (report.completionCancelled())
                return;
            if (box)
                box->setCurrentStep(int(i));
            traceThread(report, records[i], box.get());
            if (box)
                box->stepDone();
        }
    };
    trace(false);
    fillContextSections(report, context);
    fillPluginSections(report);
    trace(true);
    if (box)
        box->close();
    if (report.completionCancelled())
        return;
    if (const auto checksums =
            ComputeCallStackChecksums(records, report.isFreeze(), m_sources.mainThreadId())) {
        report.setCallStackChecksums(*checksums);
        report.header().setField(QStringLiteral("callstack crc"), FormatCallStackChecksums(*checksums));
    }
    report.markComplete();
}

} // namespace crash
