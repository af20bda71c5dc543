#include "controls/RdScrollBarHook.h"

#include "platform/ImportSlots.h"

namespace controls {
namespace {

void* g_savedFlatSBSetScrollInfo = nullptr;
platform::ModuleHandle g_hookedModule = platform::ModuleHandle(-1);

} // namespace

void* ReplaceImportEntry(platform::ModuleHandle module, const char* functionName, const char* libraryName,
                         void* newAddress)
{
    if (!functionName || !libraryName)
        return nullptr;
    return reinterpret_cast<void*>(platform::ReplaceImportSlots(
        module, functionName, libraryName, reinterpret_cast<std::uintptr_t>(newAddress)));
}

void RecordFlatScrollBarRedirection(platform::ModuleHandle module, void* savedAddress)
{
    g_hookedModule = module;
    g_savedFlatSBSetScrollInfo = savedAddress;
}

void FinalizeRdScrollBar()
{
    if (!g_savedFlatSBSetScrollInfo)
        return;
    ReplaceImportEntry(g_hookedModule, "FlatSB_SetScrollInfo", "comctl32.dll", g_savedFlatSBSetScrollInfo);
    g_savedFlatSBSetScrollInfo = nullptr;
    g_hookedModule = platform::ModuleHandle(-1);
}

} // namespace controls
