#pragma once
// A folder only this user can enter (owned by the user, mode 0700), held open by descriptor, for
// the temporary files of one user on a machine others share. Files are created in it by name
// relative to the held descriptor with O_EXCL | O_NOFOLLOW and mode 0600, so a name that already
// exists is never written through, and removal walks by descriptor and never follows a link.
//
// The reporter's working folder is `$XDG_RUNTIME_DIR/<name>` when that session folder is this
// user's and closed to others, else `<name>-<uid>` in `$TMPDIR` (else /tmp); when something that
// is not this user's private folder sits at that name, a fresh `<name>-XXXXXX` is made there
// instead (and removed again, if empty, when the object ends). Each task works in a subfolder
// of its own that it holds locked (flock) while it lives, so the start-up clean-up of another
// process of the same user leaves it alone.

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

class PrivateFolder
{
public:
    // Opens the folder at `path`, creating it (0700) when absent. Null when it is a link, not a
    // folder, not this user's or open to others.
    static std::unique_ptr<PrivateFolder> open(const QString& path);
    // The working folder `name` (one path component, e.g. "tool.Halvorn"), created when absent.
    static std::unique_ptr<PrivateFolder> openWorkFolder(const QString& name);

    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    QString path() const { return m_path; }
    // The path of `name` inside; empty for a name that is not one plain path component.
    QString filePath(const QString& name) const;

    // A new subfolder "<prefix>XXXXXX" (0700), locked while the object lives and removed with
    // everything in it when the object ends, unless keep() was called.
    std::unique_ptr<PrivateFolder> createTaskFolder(const QString& prefix) const;
    // The task folder stays when the object ends (files a program started by it still reads);
    // the next start-up clean-up removes it.
    void keep() { m_removeWhenDone = false; }

    // Creates the file `name` (O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) and returns its
    // descriptor for the caller to close, or -1 with errno set (EEXIST when the name is taken).
    int createFile(const QString& name) const;
    // Creates `name` with `content`; its full path, or empty (and nothing left behind).
    QString writeFile(const QString& name, const QByteArray& content) const;
    // Like writeFile, but a taken name gets a number in front ("2-name") instead of failing.
    QString writeFreeName(const QString& name, const QByteArray& content) const;
    // Removes the entry `name`: a file or link itself, a folder with all it holds. True when gone.
    bool remove(const QString& name) const;
    // Removes everything inside except task folders a live task still holds locked.
    void removeLeftovers() const;

private:
    PrivateFolder(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    int m_fd;
    QString m_path;
    int m_parentFd = -1; // task folders and fresh working folders: where they are removed
    QByteArray m_name;   // and under which name
    bool m_removeWhenDone = false;
    bool m_wholeTree = false; // task folders go with their content, working folders only empty
};

} // namespace platform
