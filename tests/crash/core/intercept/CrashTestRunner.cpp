#include "CrashTestRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace crashtests {

CrashTestRunner::CrashTestRunner()
{
    settings["BugRepFile"] = "'" + reportFile() + "'";
    settings["GnShowCfg"] = "4";
    settings["AutoSave"] = "True";
    settings["NoDupExcepts"] = "False";
    settings["NoDupFreezes"] = "False";
    settings["BugRepFileSize"] = "0";
}

QString CrashTestRunner::reportFile() const
{
    return m_dir.file("reports/bugreport.txt");
}

QString CrashTestRunner::writeSettings() const
{
    // The first entry of a key is the one in force: the test's lines go before the program's.
    QString program = QString::fromUtf8(
        testsupport::ReadAll(testsupport::SourceDir() + "/src/crash/core/settings/Halvorn.settings"));
    QStringList lines = program.split('\n');
    QString out;
    for (const QString& line : lines) {
        out += line + '\n';
        if (line.startsWith("object Halvorn"))
            for (auto it = settings.begin(); it != settings.end(); ++it)
                out += "  " + it.key() + " = " + it.value() + '\n';
    }
    return m_dir.write("test.settings", out.toUtf8());
}

CrashRun CrashTestRunner::run(const QStringList& arguments, int boundMs) const
{
    return start(testsupport::BinDir() + "/crash-test",
                 QStringList{"--settings", writeSettings()} + arguments, boundMs);
}

CrashRun CrashTestRunner::runVictim(const QString& mode, int boundMs) const
{
    return start(CRASH_VICTIM, {writeSettings(), mode}, boundMs);
}

CrashRun CrashTestRunner::start(const QString& program, const QStringList& args, int boundMs) const
{
    CrashRun result;
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TMPDIR", m_dir.path());
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    QElapsedTimer timer;
    timer.start();
    if (wrapper.isEmpty())
        process.start(program, args);
    else
        process.start(wrapper.first(), wrapper.mid(1) + QStringList{program} + args);
    if (!process.waitForStarted(10000))
        return result;
    result.finished = process.waitForFinished(boundMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.elapsedMs = timer.elapsed();
    result.killedBySignal = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    QFile file(reportFile());
    if (file.open(QIODevice::ReadOnly))
        result.report = QString::fromUtf8(file.readAll());
    return result;
}

QStringList CrashRun::reports() const
{
    QStringList out;
    static const QRegularExpression start("(?:^|\\r\\n)(?=date/time)");
    for (const QString& part : report.split(start, Qt::SkipEmptyParts))
        if (part.startsWith("date/time"))
            out << part;
    return out;
}

QString HeaderValue(const QString& report, const QString& name)
{
    const QRegularExpression line("(?:^|\\r\\n)" + QRegularExpression::escape(name) + " *: ([^\\r\\n]*)");
    const auto match = line.match(report);
    return match.hasMatch() ? match.captured(1) : QString();
}

} // namespace crashtests
