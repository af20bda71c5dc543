#pragma once
// Running helper programs of the desktop (the mail composer, xdg-mime, a mail program's command)
// without a shell: the program and its arguments go to the kernel as they are, so no text in them
// is ever interpreted as shell code.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace platform {

// The full path of `name` found on PATH, or empty.
QString FindProgram(const QString& name);

struct ProgramOutput
{
    bool started = false;
    bool finished = false; // false: it ran past the time limit and was killed
    int exitCode = -1;
    QByteArray standardOutput;
};

// Runs a short query program and collects what it prints; killed after `timeoutMs`.
ProgramOutput RunProgramForOutput(const QString& program, const QStringList& arguments, int timeoutMs);

enum class StartOutcome
{
    StartFailed,
    ExitedWithSuccess,
    ExitedWithFailure,
    StillRunning // left running; it is reaped when it ends
};

// Starts a program that may keep running (a mail composer) and watches it for up to `watchMs`.
StartOutcome StartAndWatch(const QString& program, const QStringList& arguments, int watchMs);

// Starts a program and lets it run on its own; true when the start worked.
bool StartDetached(const QString& program, const QStringList& arguments);

} // namespace platform
