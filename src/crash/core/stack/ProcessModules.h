#pragma once
// This process's modules as libdw reports them, each with its chain of symbol sources, tried in
// order: the embedded symbol resource, a ".jdbg" file beside the module, DWARF (in the module or a
// separate debug file), a linker map file beside the module, the ELF symbol table. Sources are set
// up on a module's first use and kept, so a later trace in the same process is cheap.
//
// Not thread-safe: the tracer's process-wide lock serialises all use.

#include "crash/core/stack/SymbolFrame.h"

#include <elfutils/libdwfl.h>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

namespace crash::stack {

struct ResolvedAddress
{
    bool inModule = false;
    std::string module;           // file name without folder
    std::uint64_t moduleBias = 0; // add to module-relative addresses
    std::vector<SymbolFrame> frames; // empty when no source names the address
};

class ProcessModules
{
public:
    ProcessModules();
    ~ProcessModules();
    ProcessModules(const ProcessModules&) = delete;
    ProcessModules& operator=(const ProcessModules&) = delete;

    Dwfl* dwfl() const { return dwfl_; }

    // The module holding `address`; reports modules again once when none does (a library loaded
    // since the last look).
    Dwfl_Module* ModuleOf(std::uint64_t address);

    // Module and frames of a code address; `address` is looked up as given (pass a return address
    // minus one for caller frames).
    ResolvedAddress Resolve(std::uint64_t address);

    // Whether the address lies in an executable part of a module.
    bool IsCode(std::uint64_t address);

    // Refreshes the module list (libraries loaded or unloaded since).
    void Report();

    // Allows one more refresh on a miss; called at the start of each trace.
    void BeginTrace() { mayReport_ = true; }

private:
    struct Entry
    {
        std::string fileName;
        std::uint64_t bias = 0;
        std::vector<std::unique_ptr<SymbolSource>> sources;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> code; // executable ranges, module-relative
    };
    Entry& EntryOf(Dwfl_Module* module);

    Dwfl* dwfl_ = nullptr;
    std::map<Dwfl_Module*, Entry> entries_;
    std::unordered_map<std::uint64_t, ResolvedAddress> resolved_; // answers kept for later traces
    bool mayReport_ = false;
};

// The process-wide instance; created on first use.
ProcessModules& Modules();

} // namespace crash::stack
