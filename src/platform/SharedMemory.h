#pragma once
// Named shared memory sections (the stand-in for named file mappings): POSIX shared memory objects
// writable by the owning user only (others may be allowed to read). The names are predictable, so a
// section that belongs to another account or that others may write is never used: it could feed
// data into this process; it is checked on its descriptor, never by path. Unlike a Windows mapping,
// a section outlives its last mapping until it is removed.
//
// Each section ends in its creator's owner stamp (NamedObjectOwner.h), after the bytes readers see.
// A process's own sections ("…Own") fall back to this user's private object folder when their name
// in /dev/shm is taken by something that is not provably a leftover: another account's object, or
// one of a live process of another PID namespace that has the same process id.

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

    // This process's section `name`: the one in /dev/shm when this process made it, else the one at
    // the private fallback; NotFound when there is neither.
    static std::unique_ptr<SharedMemory> openOwn(const QString& name, Result* result = nullptr,
                                                 bool othersMayRead = false);
    // Creates this process's section `name`: in /dev/shm, after removing a leftover of an ended
    // process there; at the private fallback when the name is taken by anything else.
    static std::unique_ptr<SharedMemory> createOwn(const QString& name, std::size_t size,
                                                   Result* result = nullptr, bool othersMayRead = false);
    // Removes this process's section `name` wherever it is; true when one was removed.
    static bool removeOwn(const QString& name);

    ~SharedMemory();
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    void* data() const { return m_data; }
    // The bytes readers see (without the owner stamp).
    std::size_t size() const { return m_size; }
    // Whether this process made the section.
    bool madeByThisProcess() const { return m_ownedByThisProcess; }

private:
    SharedMemory(void* data, std::size_t size, std::size_t mapped, bool ownedByThisProcess)
        : m_data(data), m_size(size), m_mapped(mapped), m_ownedByThisProcess(ownedByThisProcess)
    {
    }
    static std::unique_ptr<SharedMemory> createAt(const QByteArray& path, std::size_t size, Result* result,
                                                  bool othersMayRead);
    static std::unique_ptr<SharedMemory> openAt(const QByteArray& path, Result* result, bool othersMayRead);
    void* m_data;
    std::size_t m_size;
    std::size_t m_mapped;
    bool m_ownedByThisProcess;
};

} // namespace platform
