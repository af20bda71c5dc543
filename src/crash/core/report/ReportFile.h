#pragma once
// The report file: where it lies and how a report is written into it.
//
// Writing never puts earlier reports at risk: the merged content goes to a temporary file in the
// same folder that then replaces the old file in one rename, and every process writing the file
// holds an advisory lock on it meanwhile, so two crashing processes never lose each other's report.

#include "crash/core/report/ExceptionReport.h"
#include "crash/core/report/ReportFileMerge.h"

#include <QString>

namespace crash {

class ReportFile
{
public:
    // BugRepFile as an absolute path: a relative name goes behind the executable's folder, then "."
    // and ".." steps are resolved. Backslashes of settings written for Windows count as separators.
    static QString resolvePath(const QString& bugRepFile, const QString& executableFolder);
    // Where the file goes when its folder cannot be written: <user data>/<program>/<file name>.
    static QString fallbackPath(const QString& bugRepFile, const QString& userDataFolder,
                                const QString& executablePath);

    static ReportFileRules rulesOf(const CrashSettings& settings);
    static NewReport describe(const ExceptionReport& report, const QString& text);

    // Creates missing folders, locks the file, merges and replaces it. False when it could not;
    // `refusal` then says why when the file was refused as unsafe (a link or another user's file
    // in a folder others can write), and stays empty otherwise.
    static bool write(const QString& path, const NewReport& report, const ReportFileRules& rules,
                      QString* refusal = nullptr);
};

} // namespace crash
