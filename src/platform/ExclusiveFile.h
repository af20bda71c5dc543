#pragma once
// A file held exclusively across processes while it is read and replaced: an advisory lock
// (flock) that every process writing the file takes, and a replacement that writes a temporary
// file in the same folder and renames it over the original, so a crash while writing leaves the
// old content whole. A waiter that obtains the lock on a file that was renamed over meanwhile
// notices that the path names another file now and opens it again.
//
// On a shared machine: a new file is created 0600 (an existing one keeps its mode); a link along
// the path that another account could have put or could replace (one in a folder others may
// write, unless it is this user's own in a sticky folder) is refused, and so is a file in such a
// folder that is not this user's; there the last step is opened without following a link.

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

// Why a file was not opened.
enum class FileRefusal
{
    None,
    Unavailable,              // missing folder, no access, not locked in time
    LinkInSharedFolder,       // a link along the path lies in a folder other users can write
    ForeignFileInSharedFolder // the file lies in such a folder and belongs to another user
};

class ExclusiveFile
{
public:
    // Opens `path` for reading and writing, creating it when absent (its folder must exist), and
    // waits up to `waitMs` for the lock. Null when it cannot be opened or locked in time.
    static std::unique_ptr<ExclusiveFile> open(const QString& path, int waitMs = 5000,
                                               FileRefusal* refusal = nullptr);
    // The checks and the open of open(), without the lock and without allocating of its own (for
    // writers that run where the heap cannot be trusted): the descriptor (close-on-exec) or -1
    // with `refusal` set. `resolved` (PATH_MAX bytes) receives the path with links resolved.
    static int openChecked(const char* path, char* resolved, FileRefusal& refusal);

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
