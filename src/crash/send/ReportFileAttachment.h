#pragma once
// The bug report as a file in the temporary folder, for attaching: a copy of the saved report
// file when there is one (and the settings ask for it), else the report text written afresh.

#include <QString>

namespace crash {
class ExceptionReport;
}

namespace crash::send {

struct ReportFileAttachment
{
    QString target;     // the file to attach; empty when none could be made
    QString copiedFrom; // the saved report file the copy came from, empty when written afresh
};

// Where the saved report file lies: the report's written file, else BugRepFile made absolute
// (beside the executable), else the per-user fallback folder.
QString SavedReportFilePath(const ExceptionReport& report);

ReportFileAttachment MakeReportFileAttachment(const ExceptionReport& report, const QString& reportText,
                                              const QString& tempFolder);

// Writes the text as a report file: UTF-8 without byte-order mark, ended by two line breaks.
bool WriteReportText(const QString& path, const QString& reportText);

} // namespace crash::send
