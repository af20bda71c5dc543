#pragma once
// The bug report as a file in the send's private folder, for attaching. It holds this crash's complete
// report; where the settings attach the saved report file (AttachBugRepFile) and the file collects
// reports (AppendBugReps), the file's earlier reports come with it, merged as the save merges
// them. The file is read under its lock, never copied while another save may be replacing it.

#include <QByteArray>
#include <QString>

namespace crash {
class ExceptionReport;
}

namespace platform {
class PrivateFolder;
}

namespace crash::send {

// What the attachment holds.
struct ReportFileContent
{
    QByteArray bytes;
    QString savedFile;  // the saved report file whose reports it carries, empty when none
    QByteArray savedAs; // that file's content as read
};

struct ReportFileAttachment
{
    QString target;     // the file to attach; empty when none could be made
    QString copiedFrom; // the saved report file whose reports it carries, empty when none
};

// Where the saved report file lies: the report's written file, else BugRepFile made absolute
// (beside the executable), else the per-user fallback folder.
QString SavedReportFilePath(const ExceptionReport& report);

// Read before a send leaves for its own thread, so that it is fixed before the handling's own save
// of this report can change the file.
ReportFileContent ReportAttachmentContent(const ExceptionReport& report, const QString& reportText);

// Writes the content into `folder` under the saved file's name ("bugreport.txt" when none), with a
// number in front when that name is taken there.
ReportFileAttachment MakeReportFileAttachment(const ExceptionReport& report, const ReportFileContent& content,
                                              const platform::PrivateFolder& folder);

// Removes the saved report file whose reports went out with `content` (DelBugRepFile), under its
// lock, unless it changed since it was read: a report added meanwhile has not gone out yet.
bool RemoveSentReportFile(const ReportFileContent& content);

// Writes the text as a report file: UTF-8 without byte-order mark, ended by two line breaks.
bool WriteReportText(const QString& path, const QString& reportText);

} // namespace crash::send
