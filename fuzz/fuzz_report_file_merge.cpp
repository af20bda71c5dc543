// Any bytes as the existing report file: the merge must never crash, never read outside the data,
// and always end with the new report whole. The first byte picks the rules.
#include "crash/core/report/ReportFileMerge.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t choice = data[0];
    const QByteArray existing(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    crash::ReportFileRules rules;
    rules.append = (choice & 1) == 0;
    rules.sizeLimit = (choice & 2) ? 0 : 64 + (choice >> 2) * 16;
    rules.dupExceptDef = (choice >> 4) & 3;
    rules.noDupExcepts = (choice & 0x40) == 0;

    crash::NewReport report;
    report.checksums = QStringLiteral("$11111111, $22222222, $33333333");
    report.hasExceptionClass = (choice & 0x80) == 0;
    report.exceptionClass = report.hasExceptionClass ? QStringLiteral("EReadError") : QString();
    report.executable = QStringLiteral("skintool");
    report.version = QStringLiteral("1.0");
    report.nameWidth = 16;
    report.text = QStringLiteral("date/time       : 2026-01-01, 10:00:00, 1ms\r\n"
                                 "executable      : skintool\r\n"
                                 "version         : 1.0\r\n"
                                 "callstack crc   : $11111111, $22222222, $33333333\r\n"
                                 "exception class : EReadError\r\n\r\n"
                                 "main thread ($1):\r\nfuzzed stack line");

    const QByteArray merged = crash::MergeReportFile(existing, report, rules);
    if (!merged.endsWith("main thread ($1):\r\nfuzzed stack line\r\n\r\n") ||
        !merged.contains("callstack crc   : $11111111, $22222222, $33333333\r\n"))
        __builtin_trap(); // the new report was lost or damaged
    if (!rules.append && merged.size() > report.text.size() + 4)
        __builtin_trap(); // without appending only the new report remains
    return 0;
}
