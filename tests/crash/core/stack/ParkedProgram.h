#pragma once
// Runs the parked-threads program and gdb against it; both bounded in time.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <vector>

namespace stacktest {

struct Frame
{
    QString function;
    QString unit;
    int line = 0;
    QString module;
    bool tailCall = false; // gdb only: reconstructed from tail-call information
    // gdb only: the frame's pc, the call instruction before it (0 for the innermost frame) and the
    // start of its (outermost, not inlined) function.
    quint64 pc = 0;
    quint64 callSite = 0;
    quint64 functionStart = 0;
};

using ThreadFrames = std::map<qint64, std::vector<Frame>>;

class ParkedProgram
{
public:
    // Starts `program` and waits until it has printed its own traces.
    ParkedProgram(const QString& program, const QStringList& arguments = {});
    ~ParkedProgram();

    bool ready() const { return ready_; }
    qint64 pid() const { return process_.processId(); }
    const ThreadFrames& ownTraces() const { return own_; }
    const QString& output() const { return output_; }

    // gdb's view of the same threads (attaches, prints, detaches).
    ThreadFrames GdbTraces(QString& error) const;

private:
    QProcess process_;
    QString output_;
    ThreadFrames own_;
    bool ready_ = false;
};

// GdbFrames.py's output: each thread's frames; `selected` gets the thread gdb stopped in.
ThreadFrames ParseGdbFrames(const QString& output, qint64* selected = nullptr);

// The frames gdb shows that an unwinder can show: without reconstructed tail calls and unnamed
// frames (which the listing leaves out).
std::vector<Frame> Comparable(const std::vector<Frame>& gdbFrames);

QString Describe(const std::vector<Frame>& frames);

// Frames of `ours` that gdb does not show, in order (what is left after the longest common
// subsequence of the two backtraces). Two frames are the same when `same` says so; by default
// when function, unit and line are.
int UnmatchedFrames(const std::vector<Frame>& ours, const std::vector<Frame>& gdb,
                    const std::function<bool(const Frame& ours, const Frame& gdb)>& same = {});

} // namespace stacktest
