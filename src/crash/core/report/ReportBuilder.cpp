#include "crash/core/report/ReportBuilder.h"

#include "crash/core/report/ReportAssembler.h"

namespace crash {

void BuildReport(ExceptionReport& report, const ReportRequest& request)
{
    // Never destroyed, like everything a report reaches: a report may still be made while the
    // process ends and its static objects go.
    static ReportAssembler& assembler = *new ReportAssembler(LiveReportSources());
    assembler.build(report, request);
}

void CompleteReport(ExceptionReport& report)
{
    report.waitForCompletion();
}

} // namespace crash
