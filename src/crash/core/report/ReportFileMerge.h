#pragma once
// How a new report joins the reports already in the report file.
//
// The file is a series of reports, each starting with its "date/time" line and followed by an
// empty line. A report whose crash was seen before (same call-stack checksum key, same program,
// class and version) replaces the old one and carries its "count" one higher; a file grown past
// its size limit loses its oldest reports until less than three quarters of the limit remain.
// Everything works on the file's bytes, so content that is not UTF-8 survives untouched.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace crash {

struct ReportFileRules
{
    bool append = true;         // AppendBugReps
    std::int64_t sizeLimit = 0; // BugRepFileSize; 0 = none
    bool noDupExcepts = true;
    int dupExceptDef = 1;
    bool noDupFreezes = true;
    int dupFreezeDef = 2;
};

// What the merge needs of the new report besides its text.
struct NewReport
{
    QString text;      // the laid-out report, without the final empty line
    QString checksums; // "callstack crc"
    bool hasExceptionClass = false;
    QString executable, currentModule, exceptionClass, version, execDateTime, moduleDateTime;
    int nameWidth = 0; // header names are padded to this width
};

// The new content of the file: what is kept of `existing`, then the new report (with "count" when
// it replaced an earlier one) and CR LF CR LF, all UTF-8 without byte-order mark.
QByteArray MergeReportFile(const QByteArray& existing, const NewReport& report, const ReportFileRules& rules);

// The value of a header field in a laid-out report ("name   : value"), empty when absent.
QString ReportHeaderValue(const QByteArray& report, const QString& name);

} // namespace crash
