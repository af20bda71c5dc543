#pragma once
// A pipe that carries fixed-size records. Records up to PIPE_BUF bytes are written atomically, so
// several threads may write at once and the reader never sees a torn record.

#include <cstddef>
#include <memory>

namespace platform {

class RecordPipe
{
public:
    static constexpr std::size_t kMaxRecord = 4096; // PIPE_BUF on Linux

    static std::unique_ptr<RecordPipe> create();
    ~RecordPipe();
    RecordPipe(const RecordPipe&) = delete;
    RecordPipe& operator=(const RecordPipe&) = delete;

    // False when the record could not be written whole (async-signal-safe).
    bool write(const void* record, std::size_t size) noexcept;
    // Waits up to `timeoutMs` (negative: no limit) for one whole record; false on time-out or error.
    bool read(void* record, std::size_t size, int timeoutMs) noexcept;

private:
    RecordPipe(int readFd, int writeFd) : m_read(readFd), m_write(writeFd) {}
    int m_read;
    int m_write;
};

} // namespace platform
