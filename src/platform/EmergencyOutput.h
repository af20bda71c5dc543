#pragma once
// What a report written without the allocator needs from the system: the time, the computer's
// name, whole small files (/proc/self/maps, the command line) read into a given buffer, the module
// an address lies in, and the report file appended to. Everything is async-signal-safe: system
// calls on fixed buffers, no allocation, no locks of this process.

#include "platform/SignalSafeText.h"

#include <cstddef>
#include <cstdint>

namespace platform {

// Milliseconds since 1970 (UTC).
std::int64_t WallClockMilliseconds() noexcept;
// The computer's network name.
void AppendHostName(SignalSafeText& text) noexcept;
// The process's command line, its arguments separated by blanks.
void AppendCommandLine(SignalSafeText& text) noexcept;
// The file's first `capacity` bytes; 0 when it cannot be read.
std::size_t ReadWholeFile(const char* path, char* buffer, std::size_t capacity) noexcept;

// The files mapped into the process, as /proc/self/maps lists them at the moment of reading. Large:
// keep it in static storage.
class MappedFiles
{
public:
    struct Mapping
    {
        std::uintptr_t begin = 0, end = 0;
        std::uintptr_t base = 0;    // the lowest address the file is mapped at
        const char* name = nullptr; // the file name without its folder, not NUL-terminated
        std::size_t nameLength = 0;
        bool executable = false;
    };
    // Reads the list into `buffer`, which the names point into and which must outlive this.
    bool read(char* buffer, std::size_t capacity) noexcept;
    // Parses a list already in `text`.
    void parse(const char* text, std::size_t length) noexcept;
    const Mapping* find(std::uintptr_t address) const noexcept;

private:
    static constexpr int kMax = 2048;
    Mapping m_mappings[kMax];
    int m_count = 0;
};

// Whether the bytes before `address` end in a call instruction, so the address can be a return
// address. Reads through checked reads.
bool FollowsCallInstruction(std::uintptr_t address) noexcept;

// Appends `length` bytes to the report file at `path` (missing folders created 0700; the file
// opened by the report file's rules: created 0600, no link another account could have put),
// holding its advisory lock up to about a second; with `replace` the old content goes. A file that
// does not end in an empty line gets one first, so the appended text starts a report of its own.
// False when it could not be written.
bool AppendToReportFile(const char* path, const char* data, std::size_t length, bool replace) noexcept;

// Sleeps for about `milliseconds`.
void SleepMilliseconds(int milliseconds) noexcept;

// Writes the bytes to standard error.
void WriteToStandardError(const char* data, std::size_t length) noexcept;

} // namespace platform
