#include "platform/ImportSlots.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

#if defined(__x86_64__)
constexpr unsigned kJumpSlot = R_X86_64_JUMP_SLOT;
constexpr unsigned kGlobalData = R_X86_64_GLOB_DAT;
constexpr unsigned kAbsolute = R_X86_64_64;
#elif defined(__aarch64__)
constexpr unsigned kJumpSlot = R_AARCH64_JUMP_SLOT;
constexpr unsigned kGlobalData = R_AARCH64_GLOB_DAT;
constexpr unsigned kAbsolute = R_AARCH64_ABS64;
#elif defined(__i386__)
constexpr unsigned kJumpSlot = R_386_JMP_SLOT;
constexpr unsigned kGlobalData = R_386_GLOB_DAT;
constexpr unsigned kAbsolute = R_386_32;
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

// Tables larger than this are not real modules' (and are not copied whole).
constexpr std::uintptr_t kLargestCopiedTable = std::uintptr_t(64) << 20;

std::uintptr_t PageSize()
{
    static const std::uintptr_t size = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    return size;
}

// How many bytes from `address` on, up to `size`, are readable, read into `to`: the kernel stops
// the copy at the first page that is not mapped readable.
std::size_t ReadReadablePrefix(std::uintptr_t address, unsigned char* to, std::size_t size)
{
    constexpr std::size_t kMaxPages = 64;
    std::size_t done = 0;
    while (done < size) {
        iovec remote[kMaxPages];
        std::size_t pages = 0;
        std::uintptr_t at = address + done;
        for (; at < address + size && pages < kMaxPages; ++pages) {
            const std::uintptr_t next =
                std::min<std::uintptr_t>((at & ~(PageSize() - 1)) + PageSize(), address + size);
            remote[pages] = iovec{reinterpret_cast<void*>(at), next - at};
            at = next;
        }
        const std::size_t want = at - (address + done);
        iovec local{to + done, want};
        const ssize_t n = process_vm_readv(getpid(), &local, 1, remote, pages, 0);
        if (n <= 0)
            break;
        done += std::size_t(n);
        if (std::size_t(n) < want)
            break;
    }
    return done;
}

struct Mapping
{
    std::uintptr_t start = 0, end = 0;
    int protection = 0;
};

// The kernel's list of this process's mappings.
std::vector<Mapping> ReadMappings()
{
    std::vector<Mapping> mappings;
    FILE* maps = std::fopen("/proc/self/maps", "re");
    if (!maps)
        return mappings;
    char line[512];
    bool lineStart = true;
    while (std::fgets(line, sizeof line, maps)) {
        // A long path's rest is not a line of its own.
        const bool startsLine = lineStart;
        lineStart = std::strchr(line, '\n') != nullptr;
        if (!startsLine)
            continue;
        // "start-end perms ..." in hexadecimal; parsed by hand, as sscanf made this list a tenth
        // of a start-up's walks.
        char* at = line;
        const unsigned long start = std::strtoul(at, &at, 16);
        if (*at != '-')
            continue;
        const unsigned long end = std::strtoul(at + 1, &at, 16);
        if (*at != ' ' || std::strlen(at) < 4)
            continue;
        const char* perms = at + 1;
        mappings.push_back({start, end,
                            (perms[0] == 'r' ? PROT_READ : 0) | (perms[1] == 'w' ? PROT_WRITE : 0) |
                                (perms[2] == 'x' ? PROT_EXEC : 0)});
    }
    std::fclose(maps);
    return mappings;
}

// The first of `mappings` that ends past `address`: the kernel lists them in address order, so it
// is found by halving.
std::vector<Mapping>::const_iterator FirstEndingPast(const std::vector<Mapping>& mappings,
                                                     std::uintptr_t address)
{
    return std::partition_point(mappings.begin(), mappings.end(),
                                [address](const Mapping& each) { return each.end <= address; });
}

// The list read once for a whole write scope (see ImportSlotWriteScope), else null.
thread_local std::vector<Mapping>* t_scopeMappings = nullptr;

// How many bytes from `address` on, up to `size`, the write scope's list shows readable (0
// without a scope).
std::size_t ReadableInScope(std::uintptr_t address, std::size_t size)
{
    if (!t_scopeMappings)
        return 0;
    // The run of adjacent readable mappings from the one that holds `address` on.
    const std::vector<Mapping>& mappings = *t_scopeMappings;
    auto m = FirstEndingPast(mappings, address);
    std::uintptr_t at = address;
    for (; m != mappings.end() && at < address + size; ++m) {
        if (m->start > at || !(m->protection & PROT_READ))
            break;
        at = m->end;
    }
    return std::min<std::uintptr_t>(at, address + size) - address;
}

// The readable beginning of `size` bytes at `address`: read in place where the write scope's list
// of mappings shows it readable, else copied at once.
class TableBytes
{
public:
    TableBytes() = default;
    TableBytes(const TableBytes&) = delete;
    TableBytes(TableBytes&&) = default; // the copy's buffer moves along with the view of it
    TableBytes& operator=(TableBytes&&) = default;
    TableBytes(std::uintptr_t address, std::size_t size)
    {
        if (address + size < address)
            return;
        if (ReadableInScope(address, size) == size) {
            m_view = {reinterpret_cast<const unsigned char*>(address), size};
            return;
        }
        m_copy.resize(size);
        m_copy.resize(ReadReadablePrefix(address, m_copy.data(), size));
        m_view = m_copy;
    }
    std::size_t size() const { return m_view.size(); }
    const unsigned char* data() const { return m_view.data(); }

private:
    std::vector<unsigned char> m_copy;
    std::span<const unsigned char> m_view;
};

// Checked reads served from a few cached blocks: a walk reads a module's relocation, symbol and
// string tables in small pieces, and a system call for each piece made the walks of a start-up
// cost over a second. What a block cannot serve falls back to the single checked read.
class CheckedReader
{
public:
    template <typename T> bool Read(std::uintptr_t address, T& out)
    {
        return Bytes(address, &out, sizeof out);
    }

    bool Bytes(std::uintptr_t address, void* to, std::size_t size)
    {
        if (size == 0 || size > kBlockSize / 2 || address + size < address)
            return ReadProcessBytes(address, to, size);
        if (ReadableInScope(address, size) == size) {
            std::memcpy(to, reinterpret_cast<const void*>(address), size);
            return true;
        }
        const Block* block = Find(address, size);
        if (!block)
            return ReadProcessBytes(address, to, size);
        std::memcpy(to, block->bytes + (address - block->start), size);
        return true;
    }

private:
    static constexpr std::size_t kBlockSize = 16 * 1024;
    static constexpr std::size_t kBlocks = 4;
    struct Block
    {
        std::uintptr_t start = 0;
        std::size_t length = 0;
        unsigned long lastUse = 0;
        unsigned char bytes[kBlockSize];
        bool Holds(std::uintptr_t a, std::size_t n) const { return a >= start && a - start + n <= length; }
    };

    const Block* Find(std::uintptr_t address, std::size_t size)
    {
        // Made at the first read that needs a block, left unfilled: most walks read every table in
        // place and need none, and zeroing the blocks was a third of a start-up's walks.
        if (!m_storage) {
            m_storage = std::make_unique_for_overwrite<Block[]>(kBlocks);
            m_blocks = {m_storage.get(), kBlocks};
        }
        ++m_clock;
        Block* oldest = &m_blocks[0];
        for (Block& b : m_blocks) {
            if (b.Holds(address, size)) {
                b.lastUse = m_clock;
                return &b;
            }
            if (b.lastUse < oldest->lastUse)
                oldest = &b;
        }
        oldest->start = address & ~(PageSize() - 1);
        oldest->length = ReadReadablePrefix(oldest->start, oldest->bytes, kBlockSize);
        oldest->lastUse = m_clock;
        return oldest->Holds(address, size) ? oldest : nullptr;
    }

    std::unique_ptr<Block[]> m_storage;
    std::span<Block> m_blocks;
    unsigned long m_clock = 0;
};

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
    // The loader's own address-to-object map: dladdr would also search the nearest symbol.
    dl_find_object found{};
    if (address == 0 || _dl_find_object(reinterpret_cast<void*>(address), &found) != 0 ||
        !found.dlfo_link_map || !found.dlfo_link_map->l_name)
        return false;
    return EqualsIgnoringCase(FileName(found.dlfo_link_map->l_name), library);
}

// The mapping that holds `address`.
bool MappingAt(std::uintptr_t address, Mapping& found)
{
    const std::vector<Mapping> fresh = t_scopeMappings ? std::vector<Mapping>{} : ReadMappings();
    const std::vector<Mapping>& mappings = t_scopeMappings ? *t_scopeMappings : fresh;
    const auto m = FirstEndingPast(mappings, address);
    if (m == mappings.end() || m->start > address)
        return false;
    found = *m;
    return true;
}

std::string ErrnoText(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

// Protection changes of one walk's pages are not interleaved with another walk's.
std::mutex g_writeLock;

struct SlotWrite
{
    std::uintptr_t slot = 0;
    std::uintptr_t value = 0;
    ImportRewrite* rewrite = nullptr; // answered the slot's previous content once written
    std::uintptr_t previous = 0;
    bool done = false;
};

// Writes each slot with a single pointer-sized store. The pages of one mapping are made writable
// once for all of its slots (a module's virtual tables hold many), and their protection restored.
// A slot that cannot be written is reported and left as it was.
void WriteSlots(std::vector<SlotWrite>& writes)
{
    std::vector<SlotWrite*> order;
    for (SlotWrite& w : writes) {
        if (w.slot % alignof(std::uintptr_t) == 0)
            order.push_back(&w);
        else
            std::fprintf(stderr, "RdApiHook err1:import slot at a misaligned address\n");
    }
    std::sort(order.begin(), order.end(),
              [](const SlotWrite* a, const SlotWrite* b) { return a->slot < b->slot; });
    std::lock_guard<std::mutex> lock(g_writeLock);
    for (std::size_t i = 0; i < order.size();) {
        Mapping mapping;
        if (!MappingAt(order[i]->slot, mapping)) {
            std::fprintf(stderr, "RdApiHook err1:import slot outside every mapping\n");
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < order.size() && order[end]->slot + sizeof(std::uintptr_t) <= mapping.end)
            ++end;
        if (end == i) { // straddles the mapping's end
            std::fprintf(stderr, "RdApiHook err1:import slot outside every mapping\n");
            ++i;
            continue;
        }
        const std::uintptr_t first = order[i]->slot & ~(PageSize() - 1);
        const std::uintptr_t last = (order[end - 1]->slot & ~(PageSize() - 1)) + PageSize();
        void* pages = reinterpret_cast<void*>(first);
        const bool raise = !(mapping.protection & PROT_WRITE);
        if (raise && mprotect(pages, last - first, mapping.protection | PROT_READ | PROT_WRITE) != 0) {
            std::fprintf(stderr, "RdApiHook err1:%s\n",
                         ErrnoText("cannot make the import slot writable").c_str());
            i = end;
            continue;
        }
        for (; i < end; ++i) {
            std::atomic_ref<std::uintptr_t>(*reinterpret_cast<std::uintptr_t*>(order[i]->slot))
                .store(order[i]->value);
            order[i]->done = true;
        }
        if (raise && mprotect(pages, last - first, mapping.protection) != 0)
            std::fprintf(stderr, "RdApiHook err1:%s\n",
                         ErrnoText("cannot restore the slot's protection").c_str());
    }
}

void Report(const char* prefix, const char* message)
{
    std::fprintf(stderr, "%s%s\n", prefix, message);
}

// The parts of a module's dynamic section the walk needs. Loaders rewrite the address entries to
// run-time addresses in place, except in read-only dynamic sections: both forms are accepted.
struct DynamicInfo
{
    std::uintptr_t symbols = 0, strings = 0, stringsSize = 0;
    std::uintptr_t rela = 0, relaSize = 0, relaEntry = 0, relaRelative = 0;
    std::uintptr_t rel = 0, relSize = 0, relEntry = 0, relRelative = 0;
    std::uintptr_t plt = 0, pltSize = 0, pltKind = 0;
    bool hasPltKind = false;
};

class Walk
{
public:
    Walk(std::uintptr_t module, std::span<ImportRewrite> rewrites) : m_module(module), m_rewrites(rewrites)
    {
        for (const ImportRewrite& rewrite : rewrites) {
            m_longestWanted = std::max(m_longestWanted, rewrite.function.size());
            m_wantedLengths.resize(m_longestWanted + 1);
            m_wantedLengths[rewrite.function.size()] = true;
        }
    }
    ~Walk()
    {
        if (m_lookupHandle)
            dlclose(m_lookupHandle);
    }

    void Run()
    {
        Ehdr header{};
        if (!m_memory.Read(m_module, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
            header.e_ident[EI_CLASS] != kNativeClass || header.e_phentsize != sizeof(Phdr))
            return;
        bool anyLoad = false;
        std::uintptr_t lowest = 0, dynamicAt = 0, dynamicSize = 0;
        for (unsigned i = 0; i < header.e_phnum; ++i) {
            Phdr ph{};
            if (!m_memory.Read(m_module + header.e_phoff + i * sizeof(Phdr), ph))
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
        // Symbols and names are looked up all over their tables: one copy of each serves them all.
        // The symbol table's size is not recorded; linkers place the string table right after it.
        if (d.stringsSize <= kLargestCopiedTable)
            m_stringCopy = TableBytes(d.strings, d.stringsSize);
        if (d.strings > d.symbols && d.strings - d.symbols <= kLargestCopiedTable)
            m_symbolCopy = TableBytes(d.symbols, d.strings - d.symbols);
        if (m_symbolCopy.size() > 0)
            FindWantedImports();

        // Jump slots first: a global-data slot of the same function is bound at load time, so when
        // both exist the answer is the function's real address rather than a lazy-binding stub.
        Guarded([&] {
            if (d.plt == 0)
                return;
            if (!d.hasPltKind || (d.pltKind != DT_RELA && d.pltKind != DT_REL))
                throw std::runtime_error("procedure linkage relocations of unknown kind");
            WalkTable(d.plt, d.pltSize, d.pltKind == DT_RELA, 0, 0, 0, {});
        });
        Guarded([&] {
            WalkTable(d.rela, d.relaSize, true, d.relaEntry, sizeof(Rela), d.relaRelative,
                      {d.plt, d.pltSize});
        });
        Guarded([&] {
            WalkTable(d.rel, d.relSize, false, d.relEntry, sizeof(Rel), d.relRelative, {d.plt, d.pltSize});
        });
        Apply();
    }

private:
    struct WantedImport
    {
        unsigned symbol = 0;
        ImportRewrite* rewrite = nullptr;
        std::string name;
    };

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
            if (!m_memory.Read(at + i * sizeof(Dyn), e) || e.d_tag == DT_NULL)
                break;
            const std::uintptr_t v = e.d_un.d_val;
            switch (e.d_tag) {
            case DT_SYMTAB:
                d.symbols = Address(v);
                break;
            case DT_STRTAB:
                d.strings = Address(v);
                break;
            case DT_STRSZ:
                d.stringsSize = v;
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
            case DT_RELACOUNT:
                d.relaRelative = v;
                break;
            case DT_RELCOUNT:
                d.relRelative = v;
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

    // `relative`: how many leading entries the linker declared to be relative relocations, which
    // name no symbol and are passed over unread.
    void WalkTable(std::uintptr_t table, std::uintptr_t size, bool withAddend, std::uintptr_t declaredEntry,
                   std::uintptr_t expectedEntry, std::uintptr_t relative, Range skip)
    {
        if (table == 0 || (m_wantedKnown && m_wanted.empty()))
            return;
        if (declaredEntry != 0 && declaredEntry != expectedEntry)
            throw std::runtime_error("relocation entries of " + std::to_string(declaredEntry) + " bytes");
        const std::uintptr_t entry = withAddend ? sizeof(Rela) : sizeof(Rel);
        const std::uintptr_t first = relative < size / entry ? relative * entry : 0;
        table += first;
        size -= first;
        // The walk ends where the table stops being readable.
        const TableBytes copy(table, std::min(size, kLargestCopiedTable));
        for (std::uintptr_t offset = 0; offset + entry <= copy.size(); offset += entry) {
            // Some linkers count the procedure linkage relocations into the general table too.
            if (skip.Contains(table + offset))
                continue;
            Rela r{};
            if (withAddend) {
                std::memcpy(&r, copy.data() + offset, sizeof r);
            } else {
                Rel plain{};
                std::memcpy(&plain, copy.data() + offset, sizeof plain);
                r.r_offset = plain.r_offset;
                r.r_info = plain.r_info;
            }
            // Nearly every relocation names a symbol outside the few wanted ones' index range.
            if (m_wantedKnown && !WantedRangeHolds(RelocationSymbol(r.r_info)))
                continue;
            const unsigned type = RelocationType(r.r_info);
            // A pointer to the function itself stored in data (a virtual table's entry, say).
            const bool stored = type == kAbsolute && withAddend && r.r_addend == 0;
            if (type != kJumpSlot && type != kGlobalData && !stored)
                continue;
            try {
                const unsigned symbol = RelocationSymbol(r.r_info);
                if (m_wantedKnown)
                    RewriteWanted(m_wanted, symbol, m_bias + r.r_offset, stored);
                else
                    Entry(symbol, m_bias + r.r_offset, stored);
            } catch (const std::exception& e) {
                Report("RdApiHook err1:", e.what());
            } catch (...) {
                Report("RdApiHook err1:", "unknown error");
            }
        }
    }

    // Without a copy of the symbol table: the relocation's symbol is read and compared on its own.
    void Entry(unsigned symbolIndex, std::uintptr_t slot, bool stored)
    {
        Sym symbol{};
        if (symbolIndex == 0 || !m_memory.Read(m_symbols + std::uintptr_t(symbolIndex) * sizeof(Sym), symbol))
            return;
        std::vector<WantedImport> wanted;
        AddWanted(symbolIndex, symbol, wanted);
        RewriteWanted(wanted, symbolIndex, slot, stored);
    }

    // The symbol indexes of the imports the rewrites want. Relocations are many and nearly all name
    // other symbols: with these few indexes known they are passed over without reading a symbol or
    // a name. (Imports are not all in front of the hashed symbols, so the whole table is read.)
    void FindWantedImports()
    {
        const std::uintptr_t count = m_symbolCopy.size() / sizeof(Sym);
        for (std::uintptr_t i = 1; i < count; ++i) {
            Sym symbol{};
            std::memcpy(&symbol, m_symbolCopy.data() + i * sizeof(Sym), sizeof symbol);
            if (symbol.st_shndx == SHN_UNDEF) // most are the module's own definitions
                AddWanted(unsigned(i), symbol, m_wanted);
        }
        m_wantedKnown = true;
        for (const WantedImport& w : m_wanted) {
            m_lowestWanted = std::min(m_lowestWanted, w.symbol);
            m_highestWanted = std::max(m_highestWanted, w.symbol);
        }
    }

    bool WantedRangeHolds(unsigned symbol) const
    {
        return symbol >= m_lowestWanted && symbol <= m_highestWanted;
    }

    // The rewrites that want the symbol at `index`: none for the module's own definitions.
    void AddWanted(unsigned index, const Sym& symbol, std::vector<WantedImport>& into)
    {
        if (symbol.st_shndx != SHN_UNDEF || !NameLengthMayBeWanted(symbol.st_name))
            return;
        for (ImportRewrite& rewrite : m_rewrites) {
            std::string name; // as the module spells it
            if (NameIs(symbol.st_name, rewrite.function, name))
                into.push_back({index, &rewrite, std::move(name)});
        }
    }

    void RewriteWanted(const std::vector<WantedImport>& wanted, unsigned symbol, std::uintptr_t slot,
                       bool stored)
    {
        for (const WantedImport& w : wanted)
            if (w.symbol == symbol && (!stored || w.rewrite->alsoStoredPointers))
                Rewrite(*w.rewrite, w.name, slot);
    }

    void Rewrite(ImportRewrite& rewrite, const std::string& name, std::uintptr_t slot)
    {
        // Fresh, not from a table copy: the slot may have changed. Where the write scope shows it
        // readable it is loaded in place, as a virtual table's hundreds of slots would otherwise
        // cost a system call each.
        std::uintptr_t previous = 0;
        if (slot % alignof(std::uintptr_t) == 0 && ReadableInScope(slot, sizeof previous) == sizeof previous)
            previous = std::atomic_ref<std::uintptr_t>(*reinterpret_cast<std::uintptr_t*>(slot)).load();
        else if (!ReadProcessBytes(slot, &previous, sizeof previous))
            return;
        if ((rewrite.replacing == 0 || previous != rewrite.replacing) &&
            !LiesInLibrary(previous, rewrite.library) && !LookUpFindsIn(name, rewrite.library))
            return;
        m_writes.push_back({slot, rewrite.newAddress, &rewrite, previous});
    }

    // Writes what the walk found, then answers each rewrite's previous content in the walk's order.
    void Apply()
    {
        WriteSlots(m_writes);
        for (const SlotWrite& write : m_writes)
            if (write.done)
                write.rewrite->previous = write.previous;
    }

    // A first test before the names are compared: nearly every import, C++ names above all, is
    // longer than the few functions wanted, and most others have none of their lengths.
    bool NameLengthMayBeWanted(std::uintptr_t offset) const
    {
        if (offset + m_longestWanted + 1 > m_stringCopy.size())
            return true; // compared name by name
        const auto* at = m_stringCopy.data() + offset;
        const auto* end = static_cast<const unsigned char*>(std::memchr(at, '\0', m_longestWanted + 1));
        return end && m_wantedLengths[std::size_t(end - at)];
    }

    // Whether the name at `offset` of the string table is `wanted`, ignoring ASCII case; `name` gets
    // it as the table spells it.
    bool NameIs(std::uintptr_t offset, std::string_view wanted, std::string& name)
    {
        if (offset + wanted.size() < m_stringCopy.size()) { // compared in place: most names differ
            const char* at = reinterpret_cast<const char*>(m_stringCopy.data()) + offset;
            if (at[wanted.size()] != '\0' || !EqualsIgnoringCase(std::string_view(at, wanted.size()), wanted))
                return false;
            name.assign(at, wanted.size());
            return true;
        }
        name.assign(wanted.size() + 1, '\0');
        if (offset + name.size() <= m_stringCopy.size())
            std::memcpy(name.data(), m_stringCopy.data() + offset, name.size());
        else if (!m_memory.Bytes(m_strings + offset, name.data(), name.size()))
            return false;
        if (name.back() != '\0')
            return false;
        name.pop_back();
        return EqualsIgnoringCase(name, wanted);
    }

    // Whether the module's own lookup finds `name` in `library`: never for a module the loader does
    // not know. The global scope answers cheaply for nearly every module; where it finds the name
    // elsewhere (an interposing library), the module's own scope (a dlopen of it) is asked too.
    bool LookUpFindsIn(const std::string& name, std::string_view library)
    {
        if (!m_lookupTried) {
            m_lookupTried = true;
            // The loader's address-to-object map, not dladdr: that also searches the whole symbol
            // table for the nearest symbol.
            dl_find_object self{};
            const bool isMain = m_module == MainModuleHandle();
            m_known = isMain || (_dl_find_object(reinterpret_cast<void*>(m_module), &self) == 0 &&
                                 reinterpret_cast<std::uintptr_t>(self.dlfo_map_start) == m_module &&
                                 self.dlfo_link_map && self.dlfo_link_map->l_name);
            m_fileName = m_known && !isMain ? self.dlfo_link_map->l_name : nullptr;
        }
        if (!m_known)
            return false;
        if (LiesInLibrary(reinterpret_cast<std::uintptr_t>(dlsym(RTLD_DEFAULT, name.c_str())), library))
            return true;
        if (!m_lookupHandle && m_fileName)
            m_lookupHandle = dlopen(m_fileName, RTLD_LAZY | RTLD_NOLOAD);
        return m_lookupHandle &&
               LiesInLibrary(reinterpret_cast<std::uintptr_t>(dlsym(m_lookupHandle, name.c_str())), library);
    }

    const std::uintptr_t m_module;
    const std::span<ImportRewrite> m_rewrites;
    std::size_t m_longestWanted = 0;
    std::vector<bool> m_wantedLengths;
    std::vector<WantedImport> m_wanted;
    bool m_wantedKnown = false; // else each relocation's symbol is read and compared
    unsigned m_lowestWanted = ~0u, m_highestWanted = 0;
    std::vector<SlotWrite> m_writes;
    std::uintptr_t m_bias = 0;
    std::uintptr_t m_symbols = 0;
    std::uintptr_t m_strings = 0;
    TableBytes m_stringCopy;
    TableBytes m_symbolCopy;
    CheckedReader m_memory;
    bool m_lookupTried = false;
    bool m_known = false;
    const char* m_fileName = nullptr;
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

ImportSlotWriteScope::ImportSlotWriteScope()
{
    if (!t_scopeMappings)
        m_mappings = t_scopeMappings = new std::vector<Mapping>(ReadMappings());
}

ImportSlotWriteScope::~ImportSlotWriteScope()
{
    if (m_mappings) {
        delete static_cast<std::vector<Mapping>*>(m_mappings);
        t_scopeMappings = nullptr;
    }
}

void ReplaceImportSlots(ModuleHandle module, std::span<ImportRewrite> rewrites) noexcept
{
    try {
        if (module == 0)
            module = MainModuleHandle();
        if (module == 0 || rewrites.empty())
            return;
        Walk(module, rewrites).Run();
        // Only data changed: no instruction cache needs flushing.
    } catch (const std::exception& e) {
        Report("RdApiHook err3:", e.what());
    } catch (...) {
        Report("RdApiHook err3:", "unknown error");
    }
}

std::uintptr_t ReplaceImportSlots(ModuleHandle module, std::string_view function, std::string_view library,
                                  std::uintptr_t newAddress) noexcept
{
    ImportRewrite rewrite{function, library, newAddress};
    ReplaceImportSlots(module, std::span(&rewrite, 1));
    return rewrite.previous;
}

} // namespace platform
