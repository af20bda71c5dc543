#include "crash/core/stack/ProcessModules.h"

#include "crash/core/stack/DwarfSymbols.h"
#include "crash/core/stack/ElfSymbols.h"
#include "crash/core/stack/MapFileSymbols.h"
#include "crash/core/stack/SymbolTable.h"
#include "platform/ProcessInfo.h"
#include "platform/ReadOnlyFile.h"

#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <cstring>
#include <elfutils/libdw.h>
#include <functional>
#include <gelf.h>

namespace crash::stack {
namespace {

char* debugInfoPath = nullptr;

constexpr const char* DebugRoot = "/usr/lib/debug";

int OpenDebugFile(const std::string& path, char** found)
{
    const int fd = platform::OpenReadOnlyDescriptor(path);
    if (fd >= 0)
        *found = strdup(path.c_str());
    return fd;
}

// Separate debug information from this machine only: by build-id under /usr/lib/debug (Debian's
// -dbgsym packages), then by debuglink beside the module, in its .debug folder and under
// /usr/lib/debug. The standard finder would also ask debuginfod servers when the environment names
// them, and a crash report must not wait for the network.
int FindLocalDebugInfo(Dwfl_Module* module, void**, const char*, Dwarf_Addr, const char* fileName,
                       const char* debugLink, GElf_Word, char** found)
{
    const unsigned char* bits = nullptr;
    GElf_Addr vaddr = 0;
    const int length = dwfl_module_build_id(module, &bits, &vaddr);
    if (length > 1) {
        static const char digits[] = "0123456789abcdef";
        std::string path = std::string(DebugRoot) + "/.build-id/";
        for (int i = 0; i < length; ++i) {
            path += digits[bits[i] >> 4];
            path += digits[bits[i] & 15];
            if (i == 0)
                path += '/';
        }
        path += ".debug";
        const int fd = OpenDebugFile(path, found);
        if (fd >= 0)
            return fd;
    }
    if (debugLink == nullptr || *debugLink == 0)
        return -1;
    if (debugLink[0] == '/') // an alternate debug file named by its full path
        return OpenDebugFile(debugLink, found);
    std::string folder = fileName != nullptr ? fileName : "";
    folder = folder.substr(0, folder.find_last_of('/') == std::string::npos ? 0 : folder.find_last_of('/'));
    for (const std::string& path : {folder + "/" + debugLink, folder + "/.debug/" + debugLink,
                                    std::string(DebugRoot) + folder + "/" + debugLink}) {
        const int fd = OpenDebugFile(path, found);
        if (fd >= 0)
            return fd;
    }
    return -1;
}

const Dwfl_Callbacks callbacks = {
    dwfl_linux_proc_find_elf,
    FindLocalDebugInfo,
    nullptr,
    &debugInfoPath,
};

// A file's content, when it exists and is of sane size.
std::optional<QByteArray> ReadSmallFile(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.exists() || file.size() > limit || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

std::unique_ptr<SymbolSource> TableFrom(std::span<const std::uint8_t> packed)
{
    if (auto table = SymbolTable::Unpack(packed))
        return std::make_unique<TableSymbols>(std::move(*table));
    return nullptr;
}

// The symbol resource: the "EXCEPT" note of the module file (not loaded, so read from the file).
std::unique_ptr<SymbolSource> EmbeddedTable(Dwfl_Module* module)
{
    Dwarf_Addr bias = 0;
    Elf* elf = dwfl_module_getelf(module, &bias);
    size_t names = 0;
    if (elf == nullptr || elf_getshdrstrndx(elf, &names) != 0)
        return nullptr;
    for (Elf_Scn* scn = elf_nextscn(elf, nullptr); scn != nullptr; scn = elf_nextscn(elf, scn)) {
        GElf_Shdr header;
        if (gelf_getshdr(scn, &header) == nullptr || header.sh_type != SHT_NOTE)
            continue;
        const char* name = elf_strptr(elf, names, header.sh_name);
        if (name == nullptr || std::strcmp(name, SymbolNoteSection) != 0)
            continue;
        Elf_Data* data = elf_getdata(scn, nullptr);
        if (data == nullptr)
            continue;
        GElf_Nhdr note;
        size_t nameOffset = 0, descOffset = 0;
        for (size_t offset = 0; (offset = gelf_getnote(data, offset, &note, &nameOffset, &descOffset)) > 0;) {
            const char* noteName = static_cast<const char*>(data->d_buf) + nameOffset;
            if (note.n_type == SymbolNoteType && note.n_namesz == std::strlen(SymbolNoteName) + 1 &&
                std::memcmp(noteName, SymbolNoteName, note.n_namesz) == 0)
                return TableFrom({static_cast<const std::uint8_t*>(data->d_buf) + descOffset, note.n_descsz});
        }
    }
    return nullptr;
}

// "libfoo.so" -> {"libfoo.so.jdbg", "libfoo.jdbg"}: beside the module, with or without its suffix.
QStringList BesideModule(const QString& path, const QString& extension)
{
    const QFileInfo info(path);
    QStringList names{path + extension};
    const QString base = info.fileName().section(QLatin1Char('.'), 0, 0);
    if (!base.isEmpty())
        names << info.path() + QLatin1Char('/') + base + extension;
    return names;
}

constexpr qint64 MaxSideFile = 512LL << 20;

// A source made on first use; answers nothing when there turns out to be none.
class LazySource : public SymbolSource
{
public:
    explicit LazySource(std::function<std::unique_ptr<SymbolSource>()> make) : make_(std::move(make)) {}
    bool Lookup(std::uint64_t address, std::vector<SymbolFrame>& frames) override
    {
        if (make_) {
            source_ = make_();
            make_ = nullptr;
        }
        return source_ != nullptr && source_->Lookup(address, frames);
    }

private:
    std::function<std::unique_ptr<SymbolSource>()> make_;
    std::unique_ptr<SymbolSource> source_;
};

constexpr std::size_t MaxCachedAddresses = 1 << 16;

} // namespace

ProcessModules::ProcessModules()
{
    dwfl_ = dwfl_begin(&callbacks);
    Report();
}

ProcessModules::~ProcessModules()
{
    if (dwfl_ != nullptr)
        dwfl_end(dwfl_);
}

void ProcessModules::Report()
{
    if (dwfl_ == nullptr)
        return;
    dwfl_report_begin_add(dwfl_);
    dwfl_linux_proc_report(dwfl_, pid_t(platform::CurrentProcessId()));
    dwfl_report_end(dwfl_, nullptr, nullptr);
}

Dwfl_Module* ProcessModules::ModuleOf(std::uint64_t address)
{
    if (dwfl_ == nullptr)
        return nullptr;
    Dwfl_Module* module = dwfl_addrmodule(dwfl_, address);
    if (module == nullptr && mayReport_) {
        mayReport_ = false;
        Report();
        module = dwfl_addrmodule(dwfl_, address);
    }
    return module;
}

ProcessModules::Entry& ProcessModules::EntryOf(Dwfl_Module* module)
{
    auto found = entries_.find(module);
    if (found != entries_.end())
        return found->second;
    Entry& entry = entries_[module];
    const char* mainFile = nullptr;
    const char* name =
        dwfl_module_info(module, nullptr, nullptr, nullptr, nullptr, nullptr, &mainFile, nullptr);
    Dwarf_Addr bias = 0;
    Elf* elf = dwfl_module_getelf(module, &bias);
    entry.bias = bias;
    const QString path = QString::fromLocal8Bit(mainFile != nullptr ? mainFile : name != nullptr ? name : "");
    entry.fileName = QFileInfo(path).fileName().toStdString();

    if (elf != nullptr) {
        size_t count = 0;
        if (elf_getphdrnum(elf, &count) == 0) {
            for (size_t i = 0; i < count; ++i) {
                GElf_Phdr ph;
                if (gelf_getphdr(elf, int(i), &ph) != nullptr && ph.p_type == PT_LOAD && (ph.p_flags & PF_X))
                    entry.code.emplace_back(ph.p_vaddr, ph.p_vaddr + ph.p_memsz);
            }
        }
    }
    if (auto table = EmbeddedTable(module))
        entry.sources.push_back(std::move(table));
    for (const QString& jdbg : BesideModule(path, QStringLiteral(".jdbg"))) {
        if (auto bytes = ReadSmallFile(jdbg, MaxSideFile)) {
            if (auto table = TableFrom({reinterpret_cast<const std::uint8_t*>(bytes->constData()),
                                        std::size_t(bytes->size())})) {
                entry.sources.push_back(std::move(table));
                break;
            }
        }
    }
    // The later sources cost a debug-file search or a table build; each is set up on its first
    // question, which most modules never get this far.
    entry.sources.push_back(std::make_unique<LazySource>([module, bias]() -> std::unique_ptr<SymbolSource> {
        if (!DwarfSymbols::Available(module))
            return nullptr;
        return std::make_unique<DwarfSymbols>(module, bias);
    }));
    entry.sources.push_back(std::make_unique<LazySource>([path]() -> std::unique_ptr<SymbolSource> {
        for (const QString& map : BesideModule(path, QStringLiteral(".map"))) {
            if (auto bytes = ReadSmallFile(map, MaxSideFile)) {
                auto symbols =
                    ParseLinkerMap(std::string_view(bytes->constData(), std::size_t(bytes->size())));
                if (!symbols.empty())
                    return std::make_unique<ElfSymbols>(std::move(symbols));
            }
        }
        return nullptr;
    }));
    entry.sources.push_back(std::make_unique<LazySource>([module, bias]() -> std::unique_ptr<SymbolSource> {
        return std::make_unique<ElfSymbols>(ElfSymbols::FromModule(module, bias));
    }));
    return entry;
}

ResolvedAddress ProcessModules::Resolve(std::uint64_t address)
{
    auto cached = resolved_.find(address);
    if (cached != resolved_.end())
        return cached->second;
    ResolvedAddress result;
    Dwfl_Module* module = ModuleOf(address);
    if (module == nullptr)
        return result; // not cached: a library may be loaded there later
    Entry& entry = EntryOf(module);
    result.inModule = true;
    result.module = entry.fileName;
    result.moduleBias = entry.bias;
    const std::uint64_t relative = address - entry.bias;
    for (auto& source : entry.sources) {
        if (source->Lookup(relative, result.frames))
            break;
    }
    if (resolved_.size() >= MaxCachedAddresses)
        resolved_.clear();
    resolved_.emplace(address, result);
    return result;
}

bool ProcessModules::IsCode(std::uint64_t address)
{
    Dwfl_Module* module = ModuleOf(address);
    if (module == nullptr)
        return false;
    const Entry& entry = EntryOf(module);
    const std::uint64_t relative = address - entry.bias;
    for (const auto& [start, end] : entry.code)
        if (relative >= start && relative < end)
            return true;
    return false;
}

ProcessModules& Modules()
{
    static ProcessModules& modules = *new ProcessModules; // outlives the static teardown
    return modules;
}

} // namespace crash::stack
