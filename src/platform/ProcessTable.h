#pragma once
// The processes of a /proc tree: the real one, or a prepared copy handed in by a test.

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace platform {

enum class SchedulingClass
{
    TimeSharing, // the nice value decides
    RealTime,    // FIFO, round-robin or deadline
    Idle
};

struct ProcessStatus
{
    qint64 pid = 0;
    QString comm;         // the kernel's short name (at most 15 bytes)
    QString exePath;      // the image file; empty when it cannot be read (another user's, a kernel thread)
    QStringList argsHead; // the first two words of the command line
    qint64 session = 0;
    int nice = 0;
    SchedulingClass scheduling = SchedulingClass::TimeSharing;
};

class ProcessTable
{
public:
    explicit ProcessTable(QString procRoot = QStringLiteral("/proc"));

    // The process ids present now, ascending.
    std::vector<qint64> pids() const;
    // Nothing when the process has ended (its status can no longer be read).
    std::optional<ProcessStatus> read(qint64 pid) const;
    // Every process still running when it is read, ascending by id.
    std::vector<ProcessStatus> snapshot() const;

private:
    QByteArray m_root;
};

} // namespace platform
