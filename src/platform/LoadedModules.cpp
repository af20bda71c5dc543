// The loader's list (dl_iterate_phdr) gives each object's load bias, program headers and name.
// The soname comes from the object's dynamic section in memory: its string-table pointer is
// relocated by the loader for ordinary objects but not for the vdso (read-only dynamic section),
// so a pointer below the load bias is taken as an offset. The name is only read when it lies
// wholly inside one readable loaded segment, so a malformed object cannot send the walk astray.
// Names are copied inside the loader's lock; path resolution runs after it is released.
#include "platform/LoadedModules.h"

#include <QFile>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <link.h>
#include <string>
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
                                          info->dlpi_name ? info->dlpi_name : "", SonameOf(info), executable});
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

} // namespace

std::vector<LoadedModule> ListLoadedModules()
{
    Walk walk;
    walk.modules.reserve(64);
    dl_iterate_phdr(Collect, &walk);
    const std::vector<RawModule>& raw = walk.modules;

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
