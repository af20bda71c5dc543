#pragma once
// The process's registry of threads: names, who created a thread and where, and the class of its
// thread object.
//
// Every module of the process that carries the reporter must see the same registry, and each
// keeps its own copy of this code, so the registry lives in a named shared section
// "HalvornThreadNameBuf$<pid hex>" rather than in a static: the first module creates it and names
// the main thread "main thread", later ones open it. A named semaphore of the same name guards it;
// readers give up after 50 ms so a report never hangs on a thread that died holding the lock. The
// section records the process's start stamp, so one left behind by a crashed process whose id was
// reused is recognised and replaced. The last module to let go removes the names.
//
// Entries are fixed-size records in the section (no pointers: the modules map it at different
// addresses). When the table is full, new threads are simply not registered.

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {
class NamedSemaphore;
class SharedMemory;
} // namespace platform

namespace crash {

// The names of the reporter's own threads.
inline constexpr const char* AntiFreezeThreadName = "Halvorn - AntiFreezeThread";
inline constexpr const char* HandleExceptionThreadName = "Halvorn - HandleExceptionThread";
inline constexpr const char* TraceProcessThreadName = "Halvorn - TraceProcessThread";

struct ThreadInfo
{
    std::int64_t threadId = 0;
    QString name;      // empty when none was set
    QString className; // the thread object's class, when the thread was created through one
    std::int64_t creatorThread = 0;
    std::uint64_t creationAddress = 0;
};

class ThreadRegistry
{
public:
    // The registry of this process, opened (or created) on first use; null when the section cannot
    // be created or mapped, or its lock stays held past a bound (said on standard error).
    static ThreadRegistry* instance();
    // A registry under another name, for tests and tools.
    static std::unique_ptr<ThreadRegistry> open(const QString& name);
    static QString sectionName(std::uint32_t processId);

    ~ThreadRegistry();
    ThreadRegistry(const ThreadRegistry&) = delete;
    ThreadRegistry& operator=(const ThreadRegistry&) = delete;

    // Each waits at most `waitMs` for the lock; false when it timed out or the table is full.
    bool setName(std::int64_t threadId, const QString& name, int waitMs = 50);
    bool addThread(const ThreadInfo& info, int waitMs = 50);
    bool removeThread(std::int64_t threadId, int waitMs = 50);

    enum class Lookup
    {
        Found,
        NotFound,
        Busy // the lock could not be taken in time
    };
    Lookup find(std::int64_t threadId, ThreadInfo& out, int waitMs = 50) const;

    // The thread's description for report titles: "name ($id)", "thread $id (Class)", "thread $id".
    QString describe(std::int64_t threadId, int waitMs = 50) const;

    // The reporter's own threads and those registered as "-" are not listed in reports.
    static bool isHiddenName(const QString& name);

private:
    struct Layout;
    ThreadRegistry(QString name, std::unique_ptr<platform::NamedSemaphore> lock,
                   std::unique_ptr<platform::SharedMemory> section);
    Layout& layout() const;
    // Lets go of the names at process exit; the mapping stays for threads still running.
    void release();
    bool m_released = false;

    QString m_name;
    std::unique_ptr<platform::NamedSemaphore> m_lock;
    std::unique_ptr<platform::SharedMemory> m_section;
};

// The description of a thread from what the registry holds (or nothing, when it was busy).
QString DescribeThread(std::int64_t threadId, const std::optional<ThreadInfo>& info, bool registryBusy);

} // namespace crash
