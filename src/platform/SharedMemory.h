#pragma once
// Named shared memory sections (the stand-in for named file mappings): POSIX shared memory objects
// writable by the owning user only (others may be allowed to read). The names are predictable, so a
// section that belongs to another account or that others may write is never used: it could feed
// data into this process. Unlike a Windows mapping, a section outlives its last mapping until it is removed.

#include <QString>
#include <cstddef>
#include <memory>

namespace platform {

class SharedMemory
{
public:
    enum class Result
    {
        Ok,
        NotFound,
        AlreadyExists,
        Denied,
        Failed
    };

    // A new zero-filled section of `size` bytes; fails with AlreadyExists when the name is taken.
    // With othersMayRead the section gets mode 0644, so diagnostic tools of other accounts can read it.
    static std::unique_ptr<SharedMemory> create(const QString& name, std::size_t size,
                                                Result* result = nullptr, bool othersMayRead = false);
    // An existing section of this user, mapped whole; one that others may read is accepted only
    // with othersMayRead.
    static std::unique_ptr<SharedMemory> open(const QString& name, Result* result = nullptr,
                                              bool othersMayRead = false);
    // Removes the name; mappings still held stay valid.
    static bool remove(const QString& name);
    static bool exists(const QString& name);

    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    void* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    SharedMemory(void* data, std::size_t size) : m_data(data), m_size(size) {}
    void* m_data;
    std::size_t m_size;
};

} // namespace platform
