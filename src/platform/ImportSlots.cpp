#include "platform/ImportSlots.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {
namespace {

#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT;
constexpr unsigned kGlobalData = R_X86_64_GLOB_DAT;
#elif defined(__aarch64__)
constexpr unsigned kJumpSlot = R_AARCH64_JUMP_SLOT;
constexpr unsigned kGlobalData = R_AARCH64_GLOB_DAT;
#elif defined(__i386__)
constexpr unsigned kJumpSlot = R_386_JMP_SLOT;
constexpr unsigned kGlobalData = R_386_GLOB_DAT;
#else
#error "import slot relocation types unknown for this architecture"
#endif

#if __ELF_NATIVE_CLASS == 64
constexpr unsigned char kNativeClass = ELFCLASS64;
unsigned RelocationSymbol(std::uint64_t info)
{
    return unsigned(ELF64_R_SYM(info));
}
unsigned RelocationType(std::uint64_t info)
{
    return unsigned(ELF64_R_TYPE(info));
}
#else
constexpr unsigned char kNativeClass = ELFCLASS32;
unsigned RelocationSymbol(std::uint32_t info)
{
    return unsigned(ELF32_R_SYM(info));
}
unsigned RelocationType(std::uint32_t info)
{
    return unsigned(ELF32_R_TYPE(info));
}
#endif

using Ehdr = ElfW(Ehdr);
using Phdr = ElfW(Phdr);
using Dyn = ElfW(Dyn);
using Sym = ElfW(Sym);
using Rela = ElfW(Rela);
using Rel = ElfW(Rel);

std::uintptr_t PageSize()
{
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

template <typename T> bool Read(std::uintptr_t address, T& out)
{
    return ReadProcessBytes(address, &out, sizeof out);
}

// Where process_vm_readv is refused (some sandboxes), a pipe makes the kernel do the checked copy.
bool ReadThroughPipe(std::uintptr_t address, void* to, std::size_t size)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    bool ok = true;
    auto* out = static_cast<unsigned char*>(to);
    for (std::size_t done = 0; ok && done < size;) {
        const std::size_t chunk = std::min<std::size_t>(size - done, 4096);
        const ssize_t written = write(fds[1], reinterpret_cast<const void*>(address + done), chunk);
        ok = written == ssize_t(chunk) && read(fds[0], out + done, chunk) == ssize_t(chunk);
        done += chunk;
    }
    close(fds[0]);
    close(fds[1]);
    return ok;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z')
            x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

std::string_view FileName(const char* path)
{
    std::string_view p(path);
    const std::size_t slash = p.rfind('/');
    return slash == std::string_view::npos ? p : p.substr(slash + 1);
}

// Whether `address` lies in a loaded module with that file name.
bool LiesInLibrary(std::uintptr_t address, std::string_view library)
{
    Dl_info info{};
    if (address == 0 || dladdr(reinterpret_cast<void*>(address), &info) == 0 || !info.dli_fname)
        return false;
    return EqualsIgnoringCase(FileName(info.dli_fname), library);
}

// Protection of the mapping that holds `address`, from the kernel's list of this process's maps.
bool ProtectionAt(std::uintptr_t address, int& protection)
{
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return false;
    bool found = false;
    char line[512];
    while (!found && std::fgets(line, sizeof line, maps)) {
        unsigned long start = 0, end = 0;
        char perms[5] = {};
        if (std::sscanf(line, "%lx-%lx %4s", &start, &end, perms) != 3)
            continue;
        if (address < start || address >= end)
            continue;
        protection = (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                     (perms[2] == 'x' ? PROT_EXEC : 0);
        found = true;
    }
    std::fclose(maps);
    return found;
}

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Protection changes of one slot's page are not interleaved with another rewrite's.
std::mutex g_writeLock;

// Writes one slot with a single pointer-sized store, raising the page's protection meanwhile.
// Throws when nothing could be written.
void WriteSlot(std::uintptr_t slot, std::uintptr_t value)
{
    if (slot % alignof(std::uintptr_t) != 0)
        throw std::runtime_error("import slot at a misaligned address");
    std::lock_guard<std::mutex> lock(g_writeLock);
    int protection = 0;
    if (!ProtectionAt(slot, protection))
        throw std::runtime_error("import slot outside every mapping");
    void* page = reinterpret_cast<void*>(slot & ~(PageSize() - 1));
    const bool raise = !(protection & PROT_WRITE);
    if (raise && mprotect(page, PageSize(), protection | PROT_READ | PROT_WRITE) != 0)
        throw std::runtime_error(ErrnoText("cannot make the import slot writable"));
    std::atomic_ref<std::uintptr_t>(*reinterpret_cast<std::uintptr_t*>(slot)).store(value);
    if (raise && mprotect(page, PageSize(), protection) != 0)
        std::fprintf(stderr, "RdApiHook err1:%s\n",
                     ErrnoText("cannot restore the slot's protection").c_str());
}

void Report(const char* prefix, const char* message)
{
    std::fprintf(stderr, "%s%s\n", prefix, message);
}

// The parts of a module's dynamic section the walk needs. Loaders rewrite the address entries to
// run-time addresses in place, except in read-only dynamic sections: both forms are accepted.
struct DynamicInfo
{
    std::uintptr_t symbols = 0, strings = 0;
    std::uintptr_t rela = 0, relaSize = 0, relaEntry = 0;
    std::uintptr_t rel = 0, relSize = 0, relEntry = 0;
    std::uintptr_t plt = 0, pltSize = 0, pltKind = 0;
    bool hasPltKind = false;
};

class Walk
{
public:
    Walk(std::uintptr_t module, std::string_view function, std::string_view library,
         std::uintptr_t newAddress)
        : m_module(module), m_function(function), m_library(library), m_newAddress(newAddress)
    {
    }
    ~Walk()
    {
        if (m_lookupHandle)
            dlclose(m_lookupHandle);
    }

    std::uintptr_t Result() const { return m_result; }

    void Run()
    {
        Ehdr header{};
        if (!Read(m_module, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
            header.e_ident[EI_CLASS] != kNativeClass || header.e_phentsize != sizeof(Phdr))
            return;
        bool anyLoad = false;
        std::uintptr_t lowest = 0, dynamicAt = 0, dynamicSize = 0;
        for (unsigned i = 0; i < header.e_phnum; ++i) {
            Phdr ph{};
            if (!Read(m_module + header.e_phoff + i * sizeof(Phdr), ph))
                return;
            if (ph.p_type == PT_LOAD && (!anyLoad || ph.p_vaddr < lowest)) {
                lowest = ph.p_vaddr;
                anyLoad = true;
            } else if (ph.p_type == PT_DYNAMIC) {
                dynamicAt = ph.p_vaddr;
                dynamicSize = ph.p_memsz;
            }
        }
        if (!anyLoad || dynamicSize == 0)
            return; // nothing imported
        m_bias = m_module - (lowest & ~(PageSize() - 1));

        const DynamicInfo d = ReadDynamic(m_bias + dynamicAt, dynamicSize / sizeof(Dyn));
        if (d.plt == 0 && d.rela == 0 && d.rel == 0)
            return;
        if (d.symbols == 0 || d.strings == 0)
            throw std::runtime_error("dynamic section without symbol or string table");
        m_symbols = d.symbols;
        m_strings = d.strings;

        // Jump slots first: a global-data slot of the same function is bound at load time, so when
        // both exist the answer is the function's real address rather than a lazy-binding stub.
        Guarded([&] {
            if (d.plt == 0)
                return;
            if (!d.hasPltKind || (d.pltKind != DT_RELA && d.pltKind != DT_REL))
                throw std::runtime_error("procedure linkage relocations of unknown kind");
            WalkTable(d.plt, d.pltSize, d.pltKind == DT_RELA, 0, 0, {});
        });
        Guarded([&] { WalkTable(d.rela, d.relaSize, true, d.relaEntry, sizeof(Rela), {d.plt, d.pltSize}); });
        Guarded([&] { WalkTable(d.rel, d.relSize, false, d.relEntry, sizeof(Rel), {d.plt, d.pltSize}); });
    }

private:
    struct Range
    {
        std::uintptr_t start = 0, size = 0;
        bool Contains(std::uintptr_t a) const { return a >= start && a - start < size; }
    };

    std::uintptr_t Address(std::uintptr_t value) const { return value >= m_bias ? value : m_bias + value; }

    DynamicInfo ReadDynamic(std::uintptr_t at, std::uintptr_t count)
    {
        DynamicInfo d;
        for (std::uintptr_t i = 0; i < count; ++i) {
            Dyn e{};
            if (!Read(at + i * sizeof(Dyn), e) || e.d_tag == DT_NULL)
                break;
            const std::uintptr_t v = e.d_un.d_val;
            switch (e.d_tag) {
            case DT_SYMTAB:
                d.symbols = Address(v);
                break;
            case DT_STRTAB:
                d.strings = Address(v);
                break;
            case DT_RELA:
                d.rela = Address(v);
                break;
            case DT_RELASZ:
                d.relaSize = v;
                break;
            case DT_RELAENT:
                d.relaEntry = v;
                break;
            case DT_REL:
                d.rel = Address(v);
                break;
            case DT_RELSZ:
                d.relSize = v;
                break;
            case DT_RELENT:
                d.relEntry = v;
                break;
            case DT_JMPREL:
                d.plt = Address(v);
                break;
            case DT_PLTRELSZ:
                d.pltSize = v;
                break;
            case DT_PLTREL:
                d.pltKind = v;
                d.hasPltKind = true;
                break;
            default:
                break;
            }
        }
        return d;
    }

    // One relocation table; errors end this table only.
    template <typename Step> void Guarded(Step step)
    {
        try {
            step();
        } catch (const std::exception& e) {
            Report("RdApiHook err2:", e.what());
        } catch (...) {
            Report("RdApiHook err2:", "unknown error");
        }
    }

    void WalkTable(std::uintptr_t table, std::uintptr_t size, bool withAddend, std::uintptr_t declaredEntry,
                   std::uintptr_t expectedEntry, Range skip)
    {
        if (table == 0)
            return;
        if (declaredEntry != 0 && declaredEntry != expectedEntry)
            throw std::runtime_error("relocation entries of " + std::to_string(declaredEntry) + " bytes");
        const std::uintptr_t entry = withAddend ? sizeof(Rela) : sizeof(Rel);
        for (std::uintptr_t at = table; at - table + entry <= size; at += entry) {
            // Some linkers count the procedure linkage relocations into the general table too.
            if (skip.Contains(at))
                continue;
            Rela r{};
            if (withAddend) {
                if (!Read(at, r))
                    break;
            } else {
                Rel plain{};
                if (!Read(at, plain))
                    break;
                r.r_offset = plain.r_offset;
                r.r_info = plain.r_info;
            }
            const unsigned type = RelocationType(r.r_info);
            if (type != kJumpSlot && type != kGlobalData)
                continue;
            try {
                Entry(RelocationSymbol(r.r_info), m_bias + r.r_offset);
            } catch (const std::exception& e) {
                Report("RdApiHook err1:", e.what());
            } catch (...) {
                Report("RdApiHook err1:", "unknown error");
            }
        }
    }

    void Entry(unsigned symbolIndex, std::uintptr_t slot)
    {
        if (symbolIndex == 0)
            return;
        Sym symbol{};
        if (!Read(m_symbols + symbolIndex * sizeof(Sym), symbol) || symbol.st_shndx != SHN_UNDEF)
            return; // unreadable, or the module's own definition rather than an import
        std::string name(m_function.size() + 1, '\0');
        if (!ReadProcessBytes(m_strings + symbol.st_name, name.data(), name.size()) || name.back() != '\0')
            return;
        name.pop_back();
        if (!EqualsIgnoringCase(name, m_function))
            return;
        std::uintptr_t previous = 0;
        if (!Read(slot, previous))
            return;
        if (!LiesInLibrary(previous, m_library) && !LiesInLibrary(LookUp(name), m_library))
            return;
        WriteSlot(slot, m_newAddress);
        m_result = previous;
    }

    // Where the module's own lookup finds `name`: its lookup scope, or the global one for the
    // executable.
    std::uintptr_t LookUp(const std::string& name)
    {
        if (!m_lookupTried) {
            m_lookupTried = true;
            Dl_info self{};
            if (m_module == MainModuleHandle())
                m_lookupHandle = dlopen(nullptr, RTLD_LAZY);
            else if (dladdr(reinterpret_cast<void*>(m_module), &self) != 0 &&
                     reinterpret_cast<std::uintptr_t>(self.dli_fbase) == m_module && self.dli_fname)
                m_lookupHandle = dlopen(self.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
        }
        if (!m_lookupHandle)
            return 0;
        return reinterpret_cast<std::uintptr_t>(dlsym(m_lookupHandle, name.c_str()));
    }

    const std::uintptr_t m_module;
    const std::string_view m_function;
    const std::string_view m_library;
    const std::uintptr_t m_newAddress;
    std::uintptr_t m_bias = 0;
    std::uintptr_t m_symbols = 0;
    std::uintptr_t m_strings = 0;
    std::uintptr_t m_result = 0;
    bool m_lookupTried = false;
    void* m_lookupHandle = nullptr;
};

} // namespace

bool ReadProcessBytes(std::uintptr_t address, void* to, std::size_t size) noexcept
{
    if (size == 0)
        return true;
    if (address == 0 || address + size < address)
        return false;
    iovec local{to, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t n = process_vm_readv(getpid(), &local, 1, &remote, 1, 0);
    if (n >= 0)
        return std::size_t(n) == size;
    if (errno == EFAULT)
        return false;
    return ReadThroughPipe(address, to, size);
}

std::uintptr_t ReplaceImportSlots(ModuleHandle module, std::string_view function, std::string_view library,
                                  std::uintptr_t newAddress) noexcept
{
    std::uintptr_t result = 0;
    try {
        if (module == 0)
            module = MainModuleHandle();
        if (module == 0)
            return 0;
        Walk walk(module, function, library, newAddress);
        try {
            walk.Run();
        } catch (...) {
            result = walk.Result();
            throw;
        }
        result = walk.Result();
        // Only data changed: no instruction cache needs flushing.
    } catch (const std::exception& e) {
        Report("RdApiHook err3:", e.what());
    } catch (...) {
        Report("RdApiHook err3:", "unknown error");
    }
    return result;
}

} // namespace platform
