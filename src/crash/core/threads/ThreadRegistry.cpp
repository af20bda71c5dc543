#include "crash/core/threads/ThreadRegistry.h"

#include "crash/core/settings/LeftoverObjects.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessInfo.h"
#include "platform/ProcessThreads.h"
#include "platform/SharedMemory.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace crash {

namespace {

constexpr std::uint32_t Magic = 0x48544e42; // "BNTH"
constexpr std::uint32_t Version = 1;
constexpr int Capacity = 1024;
constexpr int NameCapacity = 63;
// Opening and closing may wait longer than a lookup: they run once per module.
constexpr int SetupWaitMs = 2000;

struct Entry
{
    std::int64_t threadId;
    std::int64_t creatorThread;
    std::uint64_t creationAddress;
    std::uint16_t nameLength;
    std::uint16_t classLength;
    char16_t name[NameCapacity];
    char16_t className[NameCapacity];
};

void Store(const QString& text, char16_t* target, std::uint16_t& length)
{
    const auto count = static_cast<std::uint16_t>(std::min<qsizetype>(text.size(), NameCapacity));
    std::memcpy(target, text.utf16(), count * sizeof(char16_t));
    length = count;
}

QString Load(const char16_t* source, std::uint16_t length)
{
    return QString::fromUtf16(source, std::min<int>(length, NameCapacity));
}

class Guard
{
public:
    Guard(platform::NamedSemaphore& lock, int waitMs) : m_lock(lock), m_locked(lock.lockFor(waitMs)) {}
    ~Guard()
    {
        if (m_locked)
            m_lock.unlock();
    }
    explicit operator bool() const { return m_locked; }

private:
    platform::NamedSemaphore& m_lock;
    bool m_locked;
};

} // namespace

struct ThreadRegistry::Layout
{
    std::uint32_t magic;
    std::uint32_t version;
    std::uint64_t startStamp;
    std::int64_t mainThread;
    std::int32_t count;
    std::int32_t references;
    Entry entries[Capacity];

    Entry* find(std::int64_t threadId)
    {
        const int used = std::clamp(count, 0, Capacity);
        for (int i = 0; i < used; ++i) {
            if (entries[i].threadId == threadId)
                return &entries[i];
        }
        return nullptr;
    }

    Entry* findOrAdd(std::int64_t threadId)
    {
        if (Entry* entry = find(threadId))
            return entry;
        if (count < 0 || count >= Capacity)
            return nullptr;
        Entry* entry = &entries[count++];
        std::memset(entry, 0, sizeof *entry);
        entry->threadId = threadId;
        return entry;
    }
};

QString ThreadRegistry::sectionName(std::uint32_t processId)
{
    return QStringLiteral("HalvornThreadNameBuf$") + QString::number(processId, 16);
}

std::unique_ptr<ThreadRegistry> ThreadRegistry::open(const QString& name)
{
    RemoveLeftoverObjectsOnce();
    auto lock = platform::NamedSemaphore::open(name, true);
    if (!lock)
        return nullptr;
    if (!lock->lockFor(SetupWaitMs)) {
        std::fprintf(stderr, "Halvorn: internal error: the thread registry %s stayed locked for %d ms\n",
                     qPrintable(name), SetupWaitMs);
        return nullptr;
    }

    const std::uint64_t stamp = platform::ProcessStartStamp();
    auto section = platform::SharedMemory::openOwn(name, nullptr, true);
    if (section) {
        const auto* existing = static_cast<const Layout*>(section->data());
        if (section->size() < sizeof(Layout) || existing->magic != Magic || existing->version != Version ||
            existing->startStamp != stamp) {
            section.reset(); // not in the layout of this code
            platform::SharedMemory::removeOwn(name);
        }
    }
    if (!section) {
        section = platform::SharedMemory::createOwn(name, sizeof(Layout), nullptr, true);
        if (!section) {
            lock->unlock();
            return nullptr;
        }
        auto* fresh = static_cast<Layout*>(section->data());
        fresh->magic = Magic;
        fresh->version = Version;
        fresh->startStamp = stamp;
        fresh->mainThread = platform::MainThreadId();
        if (Entry* main = fresh->findOrAdd(fresh->mainThread))
            Store(QStringLiteral("main thread"), main->name, main->nameLength);
    }
    ++static_cast<Layout*>(section->data())->references;
    lock->unlock();
    return std::unique_ptr<ThreadRegistry>(new ThreadRegistry(name, std::move(lock), std::move(section)));
}

ThreadRegistry* ThreadRegistry::instance()
{
    // Kept for the whole process: threads may still look names up while the process exits.
    static ThreadRegistry* registry = [] {
        ThreadRegistry* opened = open(sectionName(platform::CurrentProcessId())).release();
        if (opened)
            std::atexit([] { instance()->release(); });
        return opened;
    }();
    return registry;
}

ThreadRegistry::ThreadRegistry(QString name, std::unique_ptr<platform::NamedSemaphore> lock,
                               std::unique_ptr<platform::SharedMemory> section)
    : m_name(std::move(name)), m_lock(std::move(lock)), m_section(std::move(section))
{
}

ThreadRegistry::~ThreadRegistry()
{
    release();
}

void ThreadRegistry::release()
{
    if (m_released)
        return;
    m_released = true;
    Guard guard(*m_lock, SetupWaitMs);
    if (!guard)
        return;
    if (--layout().references <= 0) {
        platform::SharedMemory::removeOwn(m_name);
        platform::NamedSemaphore::remove(m_name);
    }
}

ThreadRegistry::Layout& ThreadRegistry::layout() const
{
    return *static_cast<Layout*>(m_section->data());
}

bool ThreadRegistry::setName(std::int64_t threadId, const QString& name, int waitMs)
{
    Guard guard(*m_lock, waitMs);
    if (!guard)
        return false;
    Entry* entry = layout().findOrAdd(threadId);
    if (!entry)
        return false;
    Store(name, entry->name, entry->nameLength);
    return true;
}

bool ThreadRegistry::addThread(const ThreadInfo& info, int waitMs)
{
    Guard guard(*m_lock, waitMs);
    if (!guard)
        return false;
    Entry* entry = layout().findOrAdd(info.threadId);
    if (!entry)
        return false;
    entry->creatorThread = info.creatorThread;
    entry->creationAddress = info.creationAddress;
    // A name the thread gave itself first is kept.
    if (!info.name.isEmpty())
        Store(info.name, entry->name, entry->nameLength);
    if (!info.className.isEmpty())
        Store(info.className, entry->className, entry->classLength);
    return true;
}

bool ThreadRegistry::removeThread(std::int64_t threadId, int waitMs)
{
    Guard guard(*m_lock, waitMs);
    if (!guard)
        return false;
    Layout& data = layout();
    Entry* entry = data.find(threadId);
    if (!entry)
        return false;
    // Thread ids are reused by the kernel: an ended thread must not lend its name to a new one.
    *entry = data.entries[data.count - 1];
    --data.count;
    return true;
}

ThreadRegistry::Lookup ThreadRegistry::find(std::int64_t threadId, ThreadInfo& out, int waitMs) const
{
    Guard guard(*m_lock, waitMs);
    if (!guard)
        return Lookup::Busy;
    const Entry* entry = layout().find(threadId);
    if (!entry)
        return Lookup::NotFound;
    out.threadId = entry->threadId;
    out.name = Load(entry->name, entry->nameLength);
    out.className = Load(entry->className, entry->classLength);
    out.creatorThread = entry->creatorThread;
    out.creationAddress = entry->creationAddress;
    return Lookup::Found;
}

QString ThreadRegistry::describe(std::int64_t threadId, int waitMs) const
{
    ThreadInfo info;
    const Lookup result = find(threadId, info, waitMs);
    return DescribeThread(threadId, result == Lookup::Found ? std::optional(info) : std::nullopt,
                          result == Lookup::Busy);
}

bool ThreadRegistry::isHiddenName(const QString& name)
{
    return name == QLatin1String("-") || name == QLatin1String(AntiFreezeThreadName) ||
           name == QLatin1String(HandleExceptionThreadName) || name == QLatin1String(TraceProcessThreadName);
}

QString DescribeThread(std::int64_t threadId, const std::optional<ThreadInfo>& info, bool registryBusy)
{
    const QString id = QLatin1Char('$') + QString::number(threadId, 16);
    if (registryBusy || !info)
        return QLatin1String("thread ") + id;
    if (!info->name.isEmpty())
        return info->name + QLatin1String(" (") + id + QLatin1Char(')');
    QString text = QLatin1String("thread ") + id;
    if (!info->className.isEmpty())
        text += QLatin1String(" (") + info->className + QLatin1Char(')');
    return text;
}

} // namespace crash
