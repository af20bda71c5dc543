#pragma once
// Runs the crash-test program with the program's settings plus a few test settings (a report file
// in a fresh folder, presentation 4), and collects its exit, output and report file. Every run is
// killed after a bound.

#include "support/TempDir.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace crashtests {

// ThreadSanitizer does not let an exception leave a signal handler, and the reporter turns the
// program's faults into exceptions there: a crash-test program built with it cannot show the
// reporter's own handling, so those runs are checked in the plain and AddressSanitizer builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_THREAD_SANITIZER()                                                                        \
    GTEST_SKIP() << "ThreadSanitizer does not let the reporter's exceptions leave its signal handler"
#else
#define SKIP_UNDER_THREAD_SANITIZER() static_cast<void>(0)
#endif

struct CrashRun
{
    bool finished = false; // ended within the bound
    bool killedBySignal = false;
    int exitCode = -1;
    QString out;
    QString err;
    QString report; // the report file's text, empty when there is none
    qint64 elapsedMs = 0;

    // The report file split into reports (each starts with its "date/time" line).
    QStringList reports() const;
};

class CrashTestRunner
{
public:
    CrashTestRunner();
    // Settings lines (`Key = value` in the readable format) that take precedence.
    QMap<QString, QString> settings;
    // Environment variables that take precedence over the defaults (QT_QPA_PLATFORM=xcb for a run
    // whose windows a test drives on a real display).
    QMap<QString, QString> environment;
    // A program and its arguments that start the run in its place (it ends by exec of the rest).
    QStringList wrapper;
    QString reportFile() const;
    CrashRun run(const QStringList& arguments, int boundMs = 60000) const;
    // The victim program in `mode` with the same settings.
    CrashRun runVictim(const QString& mode, int boundMs = 60000) const;
    const testsupport::TempDir& dir() const { return m_dir; }
    QString writeSettings() const;

private:
    CrashRun start(const QString& program, const QStringList& arguments, int boundMs) const;
    testsupport::TempDir m_dir;
};

// The value of header field `name` in one report ("" when absent).
QString HeaderValue(const QString& report, const QString& name);

} // namespace crashtests
