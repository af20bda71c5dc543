#pragma once
// A file held exclusively across processes while it is read and replaced: an advisory lock
// (flock) that every process writing the file takes, and a replacement that writes a temporary
// file in the same folder and renames it over the original, so a crash while writing leaves the
// old content whole. A waiter that obtains the lock on a file that was renamed over meanwhile
// notices that the path names another file now and opens it again.

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

class ExclusiveFile
{
public:
    // Opens `path` for reading and writing, creating it when absent (its folder must exist), and
    // waits up to `waitMs` for the lock. Null when it cannot be opened or locked in time.
    static std::unique_ptr<ExclusiveFile> open(const QString& path, int waitMs = 5000);

    ~ExclusiveFile();
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // The whole current content; false when reading failed.
    bool readAll(QByteArray& out) const;
    // Replaces the content atomically (temporary file, flush to disk, rename). The old content
    // stays when anything fails.
    bool replace(const QByteArray& content);

private:
    ExclusiveFile(int fd, QByteArray path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd;
    QByteArray m_path; // native, with links resolved
};

} // namespace platform
