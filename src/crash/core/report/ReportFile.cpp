#include "crash/core/report/ReportFile.h"

#include "crash/core/report/ReportBuilder.h"
#include "crash/core/report/ReportHeader.h"
#include "platform/ExclusiveFile.h"
#include "platform/MessageBox.h"
#include "platform/ModuleHandle.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace crash {

QString ReportFile::resolvePath(const QString& bugRepFile, const QString& executableFolder)
{
    QString name = bugRepFile;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!name.startsWith(QLatin1Char('/')))
        name = executableFolder + QLatin1Char('/') + name;
    return QDir::cleanPath(name);
}

QString ReportFile::fallbackPath(const QString& bugRepFile, const QString& userDataFolder,
                                 const QString& executablePath)
{
    return QDir::cleanPath(userDataFolder + QLatin1Char('/') + QFileInfo(executablePath).completeBaseName() +
                           QLatin1Char('/') + bugRepFile);
}

ReportFileRules ReportFile::rulesOf(const CrashSettings& settings)
{
    ReportFileRules rules;
    rules.append = settings.AppendBugReps();
    rules.sizeLimit = std::max<std::int64_t>(settings.BugRepFileSize(), 0);
    rules.noDupExcepts = settings.NoDupExcepts();
    rules.dupExceptDef = settings.DupExceptDef();
    rules.noDupFreezes = settings.NoDupFreezes();
    rules.dupFreezeDef = settings.DupFreezeDef();
    return rules;
}

NewReport ReportFile::describe(const ExceptionReport& report, const QString& text)
{
    const ReportFields& header = report.header();
    auto value = [&](const char* name) { return header.field(QLatin1String(name)); };
    NewReport described;
    described.text = text;
    described.checksums = value("callstack crc");
    described.hasExceptionClass = header.contains(QStringLiteral("exception class"));
    described.executable = value("executable");
    described.currentModule = value("current module");
    described.exceptionClass = value("exception class");
    described.version = value("version");
    described.execDateTime = value("exec. date/time");
    described.moduleDateTime = value("module date/time");
    described.nameWidth = HeaderNameWidth(header);
    return described;
}

namespace {

QString RefusalText(const QString& path, platform::FileRefusal refusal)
{
    switch (refusal) {
    case platform::FileRefusal::LinkInSharedFolder:
        return QStringLiteral("The bug report was not saved to \"%1\": the path holds a symbolic link in a "
                              "folder other users can write to.")
            .arg(path);
    case platform::FileRefusal::ForeignFileInSharedFolder:
        return QStringLiteral("The bug report was not saved to \"%1\": the file belongs to another user "
                              "and lies in a folder other users can write to.")
            .arg(path);
    default:
        return {};
    }
}

// Refusals are shown to the user who chose the file, and told on the error output otherwise.
void TellRefusal(const QString& text, bool userChoseTheFile)
{
    if (text.isEmpty())
        return;
    if (userChoseTheFile)
        platform::ShowMessageBox(text, QStringLiteral("Halvorn"), platform::MsgIcon::Error);
    else
        std::fprintf(stderr, "crash reporter: %s\n", text.toLocal8Bit().constData());
}

} // namespace

bool ReportFile::write(const QString& path, const NewReport& report, const ReportFileRules& rules,
                       QString* refusal)
{
    const QFileInfo info(path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    platform::FileRefusal why = platform::FileRefusal::None;
    const auto file = platform::ExclusiveFile::open(info.absoluteFilePath(), 5000, &why);
    if (!file) {
        if (refusal)
            *refusal = RefusalText(path, why);
        return false;
    }
    QByteArray existing;
    if (rules.append && !file->readAll(existing))
        return false; // unreadable: replacing it would lose what it holds
    return file->replace(MergeReportFile(existing, report, rules));
}

bool SaveReportFile(ExceptionReport& report, const QString& explicitName, bool automatic)
{
    try {
        const QString setting = report.BugRepFile();
        const QString executable = platform::ModuleFileName(0);
        QString path = explicitName.isEmpty() ? setting : explicitName;
        if (path.trimmed().isEmpty())
            return false;
        if (explicitName.isEmpty())
            path = ReportFile::resolvePath(setting, QFileInfo(executable).absolutePath());

        const NewReport described = ReportFile::describe(report, report.reportText(true));
        const ReportFileRules rules = ReportFile::rulesOf(report);
        QString refusal;
        bool written = ReportFile::write(path, described, rules, &refusal);
        TellRefusal(refusal, !explicitName.isEmpty());
        if (!written && explicitName.isEmpty() && !setting.contains(QLatin1Char('/')) &&
            !setting.contains(QLatin1Char('\\'))) {
            path = ReportFile::fallbackPath(
                setting, report.expandPlaceholders(QStringLiteral("%userappdata%")), executable);
            refusal.clear();
            written = ReportFile::write(path, described, rules, &refusal);
            TellRefusal(refusal, false);
        }
        if (written && automatic && explicitName.isEmpty())
            report.setWrittenReportFile(path);
        return written;
    } catch (...) {
        return false;
    }
}

} // namespace crash
