#include "crash/send/ReportFileAttachment.h"

#include "crash/core/report/ExceptionReport.h"
#include "platform/ModuleHandle.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace crash::send {

namespace {

QString NativeSeparators(QString path)
{
    return path.replace(QLatin1Char('\\'), QLatin1Char('/'));
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

bool WriteReportText(const QString& path, const QString& reportText)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (reportText + QStringLiteral("\r\n\r\n")).toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

ReportFileAttachment MakeReportFileAttachment(const ExceptionReport& report, const QString& reportText,
                                              const QString& tempFolder)
{
    ReportFileAttachment result;
    const QString source = SavedReportFilePath(report);
    const QString fileName =
        source.isEmpty() ? QStringLiteral("bugreport.txt") : QFileInfo(source).fileName();
    QString target = QDir(tempFolder).filePath(fileName);

    // A saved report file that lies in the temporary folder itself must not be overwritten.
    if (!source.isEmpty() && QFileInfo(source).absoluteFilePath() == QFileInfo(target).absoluteFilePath())
        target = QDir(tempFolder).filePath(QString::number(QDateTime::currentMSecsSinceEpoch()) + fileName);

    if (report.AttachBugRepFile() && !source.isEmpty() && QFileInfo(source).isFile()) {
        QFile::remove(target);
        if (QFile::copy(source, target)) {
            result.target = target;
            result.copiedFrom = source;
            return result;
        }
    }
    QFile::remove(target);
    if (!WriteReportText(target, reportText)) {
        target = QDir(tempFolder).filePath(QString::number(QDateTime::currentMSecsSinceEpoch()) + fileName);
        if (!WriteReportText(target, reportText))
            QFile::remove(target);
    }
    if (QFileInfo(target).isFile())
        result.target = target;
    return result;
}

} // namespace crash::send
