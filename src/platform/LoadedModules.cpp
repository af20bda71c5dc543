// The loader's list (dl_iterate_phdr) gives each object's load bias, program headers and name.
// The soname comes from the object's dynamic section in memory: its string-table pointer is
// relocated by the loader for ordinary objects but not for the vdso (read-only dynamic section),
// so a pointer below the load bias is taken as an offset. The name is only read when it lies
// wholly inside one readable loaded segment, so a malformed object cannot send the walk astray.
// Names are copied inside the loader's lock; path resolution runs after it is released.
//
// A crash reporter runs in a broken process: the crashed thread may have died holding the
// loader's lock (a fault in a library's constructor during dlopen), and then the loader's walk
// would wait forever. So the walk runs on a helper thread, and when it has not finished in time
// the list comes from the kernel's view of the address space instead (/proc/self/maps: the
// files mapped from offset 0 that start with an ELF header), without sonames. The helper keeps
// its result to itself and ends whenever the lock comes free.
#include "platform/LoadedModules.h"

#include <QFile>
#include <QHash>

#include <algorithm>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>

namespace platform {
namespace {

struct RawModule
{
    std::uintptr_t base = 0;
    std::string name;
    std::string soname;
    bool executable = false;
};

std::uintptr_t PageMask()
{
    static const auto size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return ~(size - 1);
}

// The end of the readable loaded segment holding `address`, or 0 when none does.
std::uintptr_t ReadableSegmentEnd(const dl_phdr_info* info, std::uintptr_t address)
{
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_R))
            continue;
        const std::uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (address >= start && address < start + ph.p_memsz)
            return start + ph.p_memsz;
    }
    return 0;
}

std::string SonameOf(const dl_phdr_info* info)
{
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_DYNAMIC)
            continue;
        const auto* dyn = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + ph.p_vaddr);
        const std::size_t count = ph.p_memsz / sizeof(ElfW(Dyn));
        std::uintptr_t strtab = 0;
        std::uintptr_t soname = 0;
        bool hasSoname = false;
        for (std::size_t k = 0; k < count && dyn[k].d_tag != DT_NULL; ++k) {
            if (dyn[k].d_tag == DT_STRTAB)
                strtab = dyn[k].d_un.d_ptr;
            else if (dyn[k].d_tag == DT_SONAME) {
                soname = dyn[k].d_un.d_val;
                hasSoname = true;
            }
        }
        if (!hasSoname || strtab == 0)
            return {};
        if (strtab < info->dlpi_addr)
            strtab += info->dlpi_addr;
        const std::uintptr_t text = strtab + soname;
        const std::uintptr_t end = ReadableSegmentEnd(info, text);
        if (end == 0)
            return {};
        const char* begin = reinterpret_cast<const char*>(text);
        const void* zero = std::memchr(begin, 0, end - text);
        return zero ? std::string(begin, static_cast<const char*>(zero)) : std::string();
    }
    return {};
}

struct Walk
{
    std::vector<RawModule> modules;
    bool first = true; // the loader lists the executable first
};

int Collect(dl_phdr_info* info, size_t, void* data)
{
    auto* walk = static_cast<Walk*>(data);
    const bool executable = walk->first;
    walk->first = false;
    bool any = false;
    ElfW(Addr) lowest = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (!any || ph.p_vaddr < lowest)) {
            lowest = ph.p_vaddr;
            any = true;
        }
    }
    if (any)
        walk->modules.push_back(RawModule{(info->dlpi_addr + lowest) & PageMask(),
                                          info->dlpi_name ? info->dlpi_name : "", SonameOf(info),
                                          executable});
    return 0;
}

QString RealPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? QFile::decodeName(resolved) : QString();
}

QString ExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? QFile::decodeName(QByteArray(buffer, length)) : QString();
}

struct PendingWalk
{
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    Walk walk;
};

// The loader's list, or nothing when the walk does not finish within `lockWait`.
std::optional<std::vector<RawModule>> WalkLoader(std::chrono::milliseconds lockWait)
{
    auto pending = std::make_shared<PendingWalk>();
    try {
        std::thread([pending] {
            Walk walk;
            walk.modules.reserve(64);
            dl_iterate_phdr(Collect, &walk);
            std::lock_guard guard(pending->lock);
            pending->walk = std::move(walk);
            pending->done = true;
            pending->finished.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt; // no thread to spare
    }
    std::unique_lock guard(pending->lock);
    if (!pending->finished.wait_for(guard, lockWait, [&] { return pending->done; }))
        return std::nullopt;
    return std::move(pending->walk.modules);
}

// Every ELF file mapped from its start, at its lowest such address, from the kernel's list.
std::vector<LoadedModule> ModulesFromMaps()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    const QString executable = ExecutablePath();
    QHash<QString, std::uintptr_t> bases;
    // "start-end perms offset dev inode   path"
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[2].toULongLong(nullptr, 16) != 0 || !fields[1].startsWith('r'))
            continue;
        // The first fields hold no "/" or "[", so the path (which may hold blanks) starts at either.
        const qsizetype slash = line.indexOf('/');
        const QString path = QFile::decodeName(slash >= 0 ? line.mid(slash) : line.mid(line.indexOf('[')));
        if (!path.startsWith(QLatin1Char('/')) && path != QLatin1String("[vdso]"))
            continue;
        const std::uintptr_t start = fields[0].left(fields[0].indexOf('-')).toULongLong(nullptr, 16);
        if (std::memcmp(reinterpret_cast<const void*>(start), ELFMAG, SELFMAG) != 0)
            continue; // a mapped data file
        if (const auto it = bases.constFind(path); it == bases.cend() || start < *it)
            bases.insert(path, start);
    }
    std::vector<LoadedModule> modules;
    for (auto it = bases.cbegin(); it != bases.cend(); ++it) {
        const bool isFile = it.key().startsWith(QLatin1Char('/'));
        modules.push_back(
            LoadedModule{it.value(), it.key(), isFile ? it.key() : QString(), {}, it.key() == executable});
    }
    return modules;
}

} // namespace

std::vector<LoadedModule> ListLoadedModules(std::chrono::milliseconds lockWait)
{
    std::optional<std::vector<RawModule>> walked = WalkLoader(lockWait);
    if (!walked) {
        std::vector<LoadedModule> modules = ModulesFromMaps();
        std::sort(modules.begin(), modules.end(),
                  [](const LoadedModule& a, const LoadedModule& b) { return a.base < b.base; });
        return modules;
    }
    const std::vector<RawModule>& raw = *walked;

    std::vector<LoadedModule> modules;
    modules.reserve(raw.size());
    for (const RawModule& r : raw) {
        LoadedModule m;
        m.base = r.base;
        m.executable = r.executable;
        m.soname = QFile::decodeName(r.soname.c_str());
        if (r.executable && r.name.empty()) {
            m.path = ExecutablePath();
            m.realPath = m.path;
        } else {
            m.path = QFile::decodeName(r.name.c_str());
            if (r.name.find('/') != std::string::npos)
                m.realPath = RealPath(r.name);
        }
        modules.push_back(std::move(m));
    }
    std::sort(modules.begin(), modules.end(),
              [](const LoadedModule& a, const LoadedModule& b) { return a.base < b.base; });
    return modules;
}

} // namespace platform
