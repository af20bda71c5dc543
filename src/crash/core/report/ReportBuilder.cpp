#include "crash/core/report/ReportBuilder.h"

#include "crash/core/report/ReportAssembler.h"

namespace crash {

void BuildReport(ExceptionReport& report, const ReportRequest& request)
{
    static ReportAssembler assembler(LiveReportSources());
    assembler.build(report, request);
}

void CompleteReport(ExceptionReport& report)
{
    report.waitForCompletion();
}

} // namespace crash
