#include "platform/ModuleHandle.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

namespace platform {
namespace {

struct ModuleInfo
{
    ModuleHandle handle = 0;
    const dl_phdr_info* info = nullptr;
    bool isMain = false;
};

std::uintptr_t PageSize()
{
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// The address dladdr reports as the module base: the page where the lowest loadable segment starts.
ModuleHandle HandleOf(const dl_phdr_info* info)
{
    bool any = false;
    ElfW(Addr) lowest = 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type == PT_LOAD && (!any || ph.p_vaddr < lowest)) {
            lowest = ph.p_vaddr;
            any = true;
        }
    }
    if (!any)
        return 0;
    return (info->dlpi_addr + lowest) & ~(PageSize() - 1);
}

// Calls `visit` for each loaded module under the loader's lock; a true return ends the walk.
template <typename Visit> void ForEachModule(Visit visit)
{
    struct Walk
    {
        Visit* visit;
        bool first = true;
    } walk{&visit};
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) -> int {
            auto* w = static_cast<Walk*>(data);
            ModuleInfo module{HandleOf(info), info, w->first};
            w->first = false; // the loader lists the executable first
            if (module.handle == 0)
                return 0;
            return (*w->visit)(module) ? 1 : 0;
        },
        &walk);
}

ModuleHandle Resolve(ModuleHandle module)
{
    return module == 0 ? MainModuleHandle() : module;
}

// Other objects' notes may sit beside instrumented globals, so the walk reads them unchecked; every
// read stays inside the note segment.
#if defined(__clang__) || defined(__GNUC__)
__attribute__((no_sanitize_address))
#endif
std::span<const std::byte>
FindNote(const ModuleInfo& module, std::string_view name, std::uint32_t type)
{
    for (int i = 0; i < module.info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = module.info->dlpi_phdr[i];
        if (ph.p_type != PT_NOTE)
            continue;
        const std::size_t align = ph.p_align == 8 ? 8 : 4;
        const auto* base = reinterpret_cast<const unsigned char*>(module.info->dlpi_addr + ph.p_vaddr);
        const std::size_t size = ph.p_memsz;
        std::size_t offset = 0;
        while (size - offset >= 12) {
            std::uint32_t nameSize = 0, descSize = 0, noteType = 0;
            for (int b = 3; b >= 0; --b) { // byte by byte: memcpy would be checked
                nameSize = (nameSize << 8) | base[offset + b];
                descSize = (descSize << 8) | base[offset + 4 + b];
                noteType = (noteType << 8) | base[offset + 8 + b];
            }
            const std::size_t nameStart = offset + 12;
            const std::size_t nameSpan = (std::size_t(nameSize) + align - 1) & ~(align - 1);
            if (nameSpan > size - nameStart)
                break;
            const std::size_t descStart = nameStart + nameSpan;
            if (descSize > size - descStart)
                break;
            bool nameMatches = nameSize == name.size() + 1 && base[nameStart + name.size()] == 0;
            for (std::size_t c = 0; nameMatches && c < name.size(); ++c)
                nameMatches = base[nameStart + c] == static_cast<unsigned char>(name[c]);
            if (nameMatches && noteType == type)
                return {reinterpret_cast<const std::byte*>(base + descStart), descSize};
            const std::size_t descSpan = (std::size_t(descSize) + align - 1) & ~(align - 1);
            if (descSpan > size - descStart)
                break;
            offset = descStart + descSpan;
        }
    }
    return {};
}

} // namespace

ModuleHandle MainModuleHandle()
{
    ModuleHandle handle = 0;
    ForEachModule([&](const ModuleInfo& m) {
        if (!m.isMain)
            return false;
        handle = m.handle;
        return true;
    });
    return handle;
}

ModuleHandle ModuleOfAddress(const void* address)
{
    // The loader's address-to-object map: dladdr would also search the module's whole symbol table
    // for the nearest symbol. The map's start is the base dladdr reports.
    dl_find_object found{};
    if (address == nullptr || _dl_find_object(const_cast<void*>(address), &found) != 0)
        return 0;
    return reinterpret_cast<ModuleHandle>(found.dlfo_map_start);
}

namespace {

QString ExecutablePath()
{
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// The loader's name of a module other than the executable as a full path.
QString FullPath(const QString& loaderName)
{
    if (loaderName.isEmpty() || !loaderName.contains(QLatin1Char('/')))
        return loaderName; // the kernel's vdso has no file
    return QFileInfo(loaderName).absoluteFilePath();
}

} // namespace

QString ModuleFileName(ModuleHandle module)
{
    module = Resolve(module);
    QString name;
    bool isMain = false;
    ForEachModule([&](const ModuleInfo& m) {
        if (m.handle != module)
            return false;
        isMain = m.isMain;
        name = QFile::decodeName(m.info->dlpi_name);
        return true;
    });
    if (isMain || (name.isEmpty() && module == MainModuleHandle()))
        return ExecutablePath();
    return FullPath(name);
}

std::vector<ModuleFile> LoadedModuleFiles()
{
    std::vector<ModuleFile> modules;
    ForEachModule([&](const ModuleInfo& m) {
        modules.push_back(
            {m.handle, m.isMain ? ExecutablePath() : FullPath(QFile::decodeName(m.info->dlpi_name))});
        return false;
    });
    const auto byHandle = [](const ModuleFile& a, const ModuleFile& b) { return a.handle < b.handle; };
    std::sort(modules.begin(), modules.end(), byHandle);
    modules.erase(std::unique(modules.begin(), modules.end(),
                              [](const ModuleFile& a, const ModuleFile& b) { return a.handle == b.handle; }),
                  modules.end());
    return modules;
}

std::vector<ModuleHandle> LoadedModules()
{
    std::vector<ModuleHandle> modules;
    ForEachModule([&](const ModuleInfo& m) {
        modules.push_back(m.handle);
        return false;
    });
    std::sort(modules.begin(), modules.end());
    modules.erase(std::unique(modules.begin(), modules.end()), modules.end());
    return modules;
}

std::span<const std::byte> FindModuleResource(ModuleHandle module, std::string_view name, std::uint32_t type)
{
    module = Resolve(module);
    std::span<const std::byte> found;
    ForEachModule([&](const ModuleInfo& m) {
        if (m.handle != module)
            return false;
        found = FindNote(m, name, type);
        return true;
    });
    return found;
}

std::size_t ModuleReadableBytes(ModuleHandle module, std::uintptr_t address)
{
    module = Resolve(module);
    std::size_t readable = 0;
    ForEachModule([&](const ModuleInfo& m) {
        if (m.handle != module)
            return false;
        for (int i = 0; i < m.info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& ph = m.info->dlpi_phdr[i];
            if (ph.p_type != PT_LOAD || !(ph.p_flags & PF_R))
                continue;
            const std::uintptr_t start = m.info->dlpi_addr + ph.p_vaddr;
            if (address >= start && address - start < ph.p_memsz)
                readable = ph.p_memsz - (address - start);
        }
        return true;
    });
    return readable;
}

} // namespace platform
