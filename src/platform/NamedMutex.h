#pragma once
// Named kernel mutex with the outcome a program sees on Windows: creating one whose name is
// already in use succeeds and reports ERROR_ALREADY_EXISTS.
//
// Here a name is a file in a per-user folder of this prefix's object namespace, and a handle is a
// shared flock() on it, so the kernel drops it with the process: a crashed owner never leaves a
// stale lock that would block the next start. "Exists" means some process holds a handle, as on
// Windows; the decision whether we are the first is made under a second, exclusive lock so two
// starts at the same moment cannot both believe they created it.

#include "platform/WinTypes.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace platform {

class NamedMutex
{
public:
    // The CreateMutexW of the program: no security attributes; `initialOwner` is honoured only
    // by the creator, as on Windows. Never null; a mutex that could not be created at all is
    // invalid() with lastError() other than ERROR_ALREADY_EXISTS.
    static std::unique_ptr<NamedMutex> create(const QString& name, bool initialOwner);
    ~NamedMutex(); // CloseHandle

    bool isValid() const { return m_handleFd >= 0; }
    uint32_t lastError() const { return m_lastError; }
    bool owned() const { return m_owned; }
    void release() { m_owned = false; } // ReleaseMutex

    // Folder holding the names of this prefix's objects (one per Wine prefix, as its wineserver),
    // created private to this user. A folder that another account owns or may write to is passed
    // over for the next name; empty when none of them can be had.
    static QString namespaceFolder();

private:
    NamedMutex() = default;
    int m_handleFd = -1;
    uint32_t m_lastError = ERROR_SUCCESS;
    bool m_owned = false;
};

} // namespace platform
