#include "crash/core/settings/SettingsStore.h"

#include "crash/core/settings/LeftoverObjects.h"
#include "crash/core/settings/SettingsResource.h"
#include "platform/MessageBox.h"
#include "platform/NamedSemaphore.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedMemory.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

// The named mutex orders every access to the block, but each module maps that semaphore at an
// address of its own, so ThreadSanitizer cannot see the order; the block's address, the same in
// every module, stands in for it.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#define STORE_ACQUIRED(block) __tsan_acquire(block)
#define STORE_RELEASED(block) __tsan_release(block)
#else
#define STORE_ACQUIRED(block) ((void)(block))
#define STORE_RELEASED(block) ((void)(block))
#endif

namespace crash {

// Every module's copy of this code must agree on this layout; it only ever grows at the end.
struct SettingsStoreBlock
{
    std::uint64_t magic = 0;
    int refCount = 0; // guarded by the named mutex
    std::mutex lock;  // guards the list and the records' reference counts
    ModuleSettings* head = nullptr;
    std::atomic<platform::ModuleHandle> mainModule{0};
    // The main settings object and its reader, guarded by `lock`: another module calls in while
    // holding it, so the object cannot go away meanwhile.
    const void* mainObject = nullptr;
    SettingsStore::MainLookup mainLookup = nullptr;
    // Set once the process ends: the names are gone, and the store lives on without them for
    // reports made while the process ends; the reference count is then changed atomically.
    std::atomic<bool> namesReleased{false};
};

namespace {

constexpr std::uint64_t BlockMagic = 0x4b4c42534e564c48ull;     // "HLVNSBLK"
constexpr std::uint64_t PublishedMagic = 0x3246554253564c48ull; // "HLVSBUF2"

// What the section holds. The process stamp unmasks a section left behind by a process that died
// and whose id this one inherited: its address would point into nothing.
struct Published
{
    std::uint64_t magic;
    std::uint64_t processStamp;
    std::uint64_t block;
};

struct ResourceOverrideEntry
{
    platform::ModuleHandle module = 0;
    QByteArray stream;
    bool set = false;
};
ResourceOverrideEntry g_resourceOverride; // set once, before any settings are read

const QByteArray* ResourceOverride(platform::ModuleHandle module)
{
    return g_resourceOverride.set && g_resourceOverride.module == module ? &g_resourceOverride.stream
                                                                         : nullptr;
}

QString WithProcessId(const char* prefix)
{
    return QLatin1String(prefix) + QLatin1Char('$') +
           QString::number(platform::CurrentProcessId(), 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

// Creating and releasing the store takes a moment; a mutex held longer than this is held by a
// module that hangs, and waiting on would hang this one too.
constexpr int StoreMutexWaitMs = 5000;

// Runs `work` while holding the process's settings mutex. A waiter that wakes on a mutex whose name
// was removed meanwhile (the store was just taken down) starts over with the current one. False
// when the mutex cannot be had or stays held past the bound.
template <typename Work> bool WithStoreMutex(Work work)
{
    const QString name = SettingsStore::mutexName();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        auto mutex = platform::NamedSemaphore::open(name);
        if (!mutex)
            return false;
        if (!mutex->lockFor(StoreMutexWaitMs)) {
            std::fprintf(stderr, "Halvorn: internal error: the settings mutex %s stayed held for %d ms\n",
                         qPrintable(name), StoreMutexWaitMs);
            return false;
        }
        if (!mutex->isCurrent()) {
            mutex->unlock();
            continue;
        }
        work();
        mutex->unlock();
        return true;
    }
    return false;
}

SettingsStoreBlock* OpenPublished()
{
    auto section = platform::SharedMemory::openOwn(SettingsStore::sectionName());
    if (!section)
        return nullptr;
    Published published{};
    if (section->size() < sizeof published)
        return nullptr;
    std::memcpy(&published, section->data(), sizeof published);
    if (published.magic != PublishedMagic || published.processStamp != platform::ProcessStartStamp())
        return nullptr;
    auto* block = reinterpret_cast<SettingsStoreBlock*>(static_cast<std::uintptr_t>(published.block));
    if (!block)
        return nullptr;
    STORE_ACQUIRED(block);
    return block->magic == BlockMagic ? block : nullptr;
}

// The store while this module's copy of the code holds references on it: it finds the store
// through it once the names are gone at the end of the process.
struct ModuleReferences
{
    std::mutex lock;
    SettingsStoreBlock* block = nullptr;
    int count = 0;
};
ModuleReferences& g_moduleReferences = *new ModuleReferences; // used until the process ends

// Takes a reference on the store when its names are already gone.
SettingsStoreBlock* AcquireAfterNamesReleased()
{
    std::lock_guard guard(g_moduleReferences.lock);
    SettingsStoreBlock* block = g_moduleReferences.block;
    if (!block || !block->namesReleased.load())
        return nullptr;
    __atomic_add_fetch(&block->refCount, 1, __ATOMIC_ACQ_REL);
    ++g_moduleReferences.count;
    return block;
}

// At the end of the process the store's names go, as when its last reference goes: the main
// settings hold theirs to the end, for reports made while the process ends.
void ReleaseNamesAtExit()
{
    std::lock_guard guard(g_moduleReferences.lock);
    SettingsStoreBlock* block = g_moduleReferences.block;
    if (!block || block->namesReleased.load())
        return; // this module holds none, or another module's copy did it
    WithStoreMutex([block] {
        STORE_ACQUIRED(block);
        block->namesReleased = true;
        platform::SharedMemory::removeOwn(SettingsStore::sectionName());
        platform::NamedSemaphore::remove(SettingsStore::mutexName());
        STORE_RELEASED(block);
    });
}

void CountModuleReference(SettingsStoreBlock* block)
{
    std::lock_guard guard(g_moduleReferences.lock);
    g_moduleReferences.block = block;
    ++g_moduleReferences.count;
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(ReleaseNamesAtExit); });
}

void UncountModuleReference()
{
    std::lock_guard guard(g_moduleReferences.lock);
    if (--g_moduleReferences.count <= 0) {
        g_moduleReferences.count = 0;
        g_moduleReferences.block = nullptr;
    }
}

SettingsStoreBlock* AcquireBlock()
{
    if (SettingsStoreBlock* block = AcquireAfterNamesReleased())
        return block;
    RemoveLeftoverObjectsOnce();
    SettingsStoreBlock* block = nullptr;
    WithStoreMutex([&] {
        const QString name = SettingsStore::sectionName();
        block = OpenPublished();
        if (block) {
            ++block->refCount;
            STORE_RELEASED(block);
            return;
        }
        // A section under the name that is not this process's is left to its owner.
        auto section = platform::SharedMemory::createOwn(name, sizeof(Published));
        if (!section) {
            platform::NamedSemaphore::remove(SettingsStore::mutexName());
            return;
        }
        block = new SettingsStoreBlock;
        block->magic = BlockMagic;
        block->refCount = 1;
        const Published published{PublishedMagic, platform::ProcessStartStamp(),
                                  static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(block))};
        std::memcpy(section->data(), &published, sizeof published);
        STORE_RELEASED(block);
    });
    if (!block) {
        platform::ShowMessageBox(QStringLiteral("internal error (opening settings buffer)"),
                                 QString::fromLatin1(SettingsCaption), platform::MsgIcon::Error);
        return nullptr;
    }
    CountModuleReference(block);
    return block;
}

void ReleaseBlock(SettingsStoreBlock* block)
{
    UncountModuleReference();
    if (block->namesReleased.load()) {
        __atomic_sub_fetch(&block->refCount, 1, __ATOMIC_ACQ_REL);
        return; // the process ends; the store stays for whoever still reads it
    }
    WithStoreMutex([&] {
        STORE_ACQUIRED(block);
        if (--block->refCount > 0) {
            STORE_RELEASED(block);
            return;
        }
        platform::SharedMemory::removeOwn(SettingsStore::sectionName());
        platform::NamedSemaphore::remove(SettingsStore::mutexName());
        block->magic = 0;
        for (ModuleSettings* record = block->head; record;) {
            ModuleSettings* next = record->next;
            delete record; // only left when a holder forgot to release
            record = next;
        }
        delete block;
    });
}

ModuleSettings* FindRecord(SettingsStoreBlock* block, platform::ModuleHandle module, const QString& file)
{
    for (ModuleSettings* record = block->head; record; record = record->next) {
        if (record->module == module && record->moduleFile == file)
            return record;
    }
    return nullptr;
}

} // namespace

SettingsStore::SettingsStore() : m_block(AcquireBlock()) {}

SettingsStore::~SettingsStore()
{
    if (m_block)
        ReleaseBlock(m_block);
}

SettingsStore::SettingsStore(SettingsStore&& other) noexcept : m_block(std::exchange(other.m_block, nullptr))
{
}

SettingsStore& SettingsStore::operator=(SettingsStore&& other) noexcept
{
    if (this != &other) {
        if (m_block)
            ReleaseBlock(m_block);
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

void SetSettingsResourceOverride(platform::ModuleHandle module, QByteArray stream)
{
    g_resourceOverride.module = module == 0 ? platform::MainModuleHandle() : module;
    g_resourceOverride.stream = std::move(stream);
    g_resourceOverride.set = true;
}

ModuleSettings* SettingsStore::acquireModule(platform::ModuleHandle module)
{
    if (!m_block)
        return nullptr;
    if (module == 0)
        module = platform::MainModuleHandle();
    const QString file = platform::ModuleFileName(module);
    {
        std::lock_guard guard(m_block->lock);
        if (ModuleSettings* record = FindRecord(m_block, module, file)) {
            ++record->refCount;
            return record;
        }
    }
    // Parsed outside the lock: a broken resource shows a message box.
    auto resource = platform::FindModuleResource(module, SettingsResourceName);
    if (const QByteArray* replaced = ResourceOverride(module))
        resource =
            std::as_bytes(std::span(replaced->constData(), static_cast<std::size_t>(replaced->size())));
    if (resource.empty())
        return nullptr;
    auto record = std::make_unique<ModuleSettings>();
    record->module = module;
    record->moduleFile = file;
    record->properties = ParseSettingsResource(resource).properties;
    DecipherSettingsPasswords(record->properties);

    std::lock_guard guard(m_block->lock);
    if (ModuleSettings* raced = FindRecord(m_block, module, file)) {
        ++raced->refCount;
        return raced;
    }
    record->refCount = 1;
    record->next = m_block->head;
    m_block->head = record.release();
    return m_block->head;
}

void SettingsStore::releaseModule(ModuleSettings* settings)
{
    if (!m_block || !settings)
        return;
    std::unique_lock guard(m_block->lock);
    if (--settings->refCount > 0)
        return;
    for (ModuleSettings** link = &m_block->head; *link; link = &(*link)->next) {
        if (*link == settings) {
            *link = settings->next;
            break;
        }
    }
    guard.unlock();
    delete settings;
}

platform::ModuleHandle SettingsStore::mainModule() const
{
    return m_block ? m_block->mainModule.load() : 0;
}

void SettingsStore::setMainModule(platform::ModuleHandle module)
{
    if (m_block)
        m_block->mainModule.store(module);
}

void SettingsStore::publishMainLookup(const void* object, MainLookup lookup)
{
    if (!m_block)
        return;
    std::lock_guard guard(m_block->lock);
    m_block->mainObject = lookup ? object : nullptr;
    m_block->mainLookup = object ? lookup : nullptr;
}

void SettingsStore::withdrawMainLookup(const void* object)
{
    if (!m_block)
        return;
    std::lock_guard guard(m_block->lock);
    if (m_block->mainObject == object) {
        m_block->mainObject = nullptr;
        m_block->mainLookup = nullptr;
    }
}

std::optional<SettingsProperty> SettingsStore::findInMainSettings(std::string_view key) const
{
    if (!m_block)
        return std::nullopt;
    std::lock_guard guard(m_block->lock);
    SettingsProperty found;
    if (m_block->mainLookup && m_block->mainLookup(m_block->mainObject, key, found))
        return found;
    return std::nullopt;
}

std::optional<SettingsProperty> SettingsStore::findInModule(platform::ModuleHandle module,
                                                            std::string_view name) const
{
    if (!m_block)
        return std::nullopt;
    std::lock_guard guard(m_block->lock);
    for (const ModuleSettings* record = m_block->head; record; record = record->next) {
        if (record->module != module)
            continue;
        if (const SettingsProperty* property = record->properties.find(name))
            return *property;
        return std::nullopt;
    }
    return std::nullopt;
}

QString SettingsStore::sectionName()
{
    return WithProcessId("HalvornSettingsBuf2");
}

QString SettingsStore::mutexName()
{
    return WithProcessId("HalvornSettingsMtx");
}

std::uintptr_t SettingsStore::publishedBlock()
{
    std::uintptr_t address = 0;
    WithStoreMutex([&] {
        address = reinterpret_cast<std::uintptr_t>(OpenPublished());
        if (address == 0) // the look made the mutex; without a store nobody owns it
            platform::NamedSemaphore::remove(SettingsStore::mutexName());
    });
    return address;
}

} // namespace crash
