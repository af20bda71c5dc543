#include "crash/send/ReportFileAttachment.h"

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportFile.h"
#include "platform/ExclusiveFile.h"
#include "platform/ModuleHandle.h"
#include "platform/PrivateFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

namespace crash::send {

namespace {

QString NativeSeparators(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QByteArray ReportFileBytes(const QString& reportText)
{
    return (reportText + QStringLiteral("\r\n\r\n")).toUtf8();
}

// The file's content under its lock; false when it does not exist or cannot be read or locked.
bool ReadLocked(const QString& path, QByteArray& content)
{
    if (!QFileInfo(path).isFile())
        return false;
    const auto file = platform::ExclusiveFile::open(path);
    return file && file->readAll(content) && !content.isEmpty();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

QString SavedReportFilePath(const ExceptionReport& report)
{
    const QString written = report.writtenReportFile();
    if (!written.isEmpty())
        return written;
    const QString setting = report.BugRepFile();
    if (setting.isEmpty())
        return {};
    const QString executableFolder = QFileInfo(platform::ModuleFileName(0)).absolutePath();
    const QString path = QDir::cleanPath(QDir(executableFolder).absoluteFilePath(NativeSeparators(setting)));
    if (QFileInfo::exists(path) || setting.contains(QLatin1Char('\\')) || setting.contains(QLatin1Char('/')))
        return path;
    const QString base = QFileInfo(platform::ModuleFileName(0)).completeBaseName();
    return QDir::cleanPath(NativeSeparators(
        report.expandPlaceholders(QStringLiteral("%userappdata%\\") + base + QLatin1Char('\\') + setting)));
}

ReportFileContent ReportAttachmentContent(const ExceptionReport& report, const QString& reportText)
{
    ReportFileContent content;
    content.bytes = ReportFileBytes(reportText);
    const QString saved = SavedReportFilePath(report);
    if (!report.AttachBugRepFile() || saved.isEmpty())
        return content;
    const ReportFileRules rules = ReportFile::rulesOf(report);
    // The automatic save has put this report into the file already; otherwise it is merged in.
    const bool holdsThisReport = report.writtenReportFile() == saved;
    if (!holdsThisReport && !rules.append)
        return content; // the file would hold this report alone
    QByteArray existing;
    if (!ReadLocked(saved, existing))
        return content; // nothing earlier, or locked elsewhere: this report alone is still whole
    content.savedFile = saved;
    content.savedAs = existing;
    content.bytes = holdsThisReport
                        ? existing
                        : MergeReportFile(existing, ReportFile::describe(report, reportText), rules);
    return content;
}

bool RemoveSentReportFile(const ReportFileContent& content)
{
    if (content.savedFile.isEmpty() || !QFileInfo(content.savedFile).isFile())
        return false;
    QByteArray now;
    const auto file = platform::ExclusiveFile::open(content.savedFile);
    if (!file || !file->readAll(now) || now != content.savedAs)
        return false;
    return QFile::remove(content.savedFile); // still locked: no writer slips in between
}

bool WriteReportText(const QString& path, const QString& reportText)
{
    return WriteBytes(path, ReportFileBytes(reportText));
}

ReportFileAttachment MakeReportFileAttachment(const ExceptionReport& report, const ReportFileContent& content,
                                              const platform::PrivateFolder& folder)
{
    ReportFileAttachment result;
    const QString source = SavedReportFilePath(report);
    const QString fileName =
        source.isEmpty() ? QStringLiteral("bugreport.txt") : QFileInfo(source).fileName();
    result.target = folder.writeFreeName(fileName, content.bytes);
    if (!result.target.isEmpty())
        result.copiedFrom = content.savedFile;
    return result;
}

} // namespace crash::send
