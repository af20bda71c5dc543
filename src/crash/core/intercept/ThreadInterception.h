#pragma once
// Threads created through pthread_create in any loaded module run inside the reporter's frame:
// with an alternate signal stack, and with an exception leaving the thread function reported
// (source 13; the thread then ends). What is known of each thread (creator, creation address,
// class name of a QThread, name set through pthread_setname_np) is kept for the report.

#include <QString>
#include <cstdint>
#include <optional>

namespace crash {

struct WrappedThreadInfo
{
    std::int64_t threadId = 0;
    std::int64_t creatorThread = 0;
    std::uintptr_t creationAddress = 0;
    QString className; // the QThread subclass, for Qt threads
    QString name;
};

void InstallThreadInterception();
// The event-loop waits of Qt Core and GLib hold paused threads; the wrapped threads are pausable.
void InstallPauseRedirection();
std::optional<WrappedThreadInfo> FindWrappedThread(std::int64_t threadId);

} // namespace crash
