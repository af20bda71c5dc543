#pragma once
// Puts a report together from what the process can tell about itself.
//
// build() is the fast first step: the header, one section per listed thread with a capture of its
// registers and stack, the plugin and CPU sections, each with a "will be calculated soon"
// placeholder. It hands the report its completion work and starts it (in a thread of its own when
// the request asks for one). complete() is that work: it traces the stacks in listing order, the
// crashed thread's first so the dialog can show them early, then fills the CPU sections and the
// plugins, then the remaining threads, and finally the call-stack checksums. Between items it checks
// the report's cancellation flag; every finished item fires the report's change event.
//
// The thread records belong to the completing thread from build() until the report is complete.
// The sources must outlive every report built from them.

#include "crash/core/report/ReportBuilder.h"
#include "crash/core/report/ReportSources.h"

#include <optional>

namespace crash {

class ProgressAlert;

class ReportAssembler
{
public:
    explicit ReportAssembler(ReportSources& sources) : m_sources(sources) {}

    void build(ExceptionReport& report, const ReportRequest& request);
    // `context` is the CPU context the CPU sections show; `showBox` asks for the please-wait box.
    void complete(ExceptionReport& report, const std::optional<stack::CpuContext>& context, bool showBox);

private:
    std::vector<ThreadRecord> listThreads(const ExceptionReport& report, const ReportRequest& request);
    void captureThreads(std::vector<ThreadRecord>& records, const ReportRequest& request);
    QString sectionPlaceholder(const ExceptionReport& report, const ThreadRecord& record);
    void traceThread(ExceptionReport& report, ThreadRecord& record, ProgressAlert* box);
    void fillContextSections(ExceptionReport& report, const std::optional<stack::CpuContext>& context);
    void fillPluginSections(ExceptionReport& report);

    ReportSources& m_sources;
};

} // namespace crash
