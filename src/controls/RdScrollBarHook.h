#pragma once
// The scroll-bar unit's code hook: redirection of a function a module imports, by rewriting the
// module's import slots for it, and the unit's shutdown step, which puts a redirected flat
// scroll-bar function back. Nothing in this program installs that redirection, so the shutdown
// step normally has nothing to do.

#include "platform/ModuleHandle.h"

#include <cstdint>

namespace controls {

// Rewrites every slot through which `module` (0 = the executable) reaches `functionName` of
// `libraryName` with `newAddress`; answers the previous content of the last slot rewritten, or
// null when nothing was replaced. Never throws; problems are reported on the debug output.
void* ReplaceImportEntry(platform::ModuleHandle module, const char* functionName, const char* libraryName,
                         void* newAddress);

// Records an installed redirection of FlatSB_SetScrollInfo: the module whose slot was rewritten
// and the slot's previous content, which the shutdown step puts back.
void RecordFlatScrollBarRedirection(platform::ModuleHandle module, void* savedAddress);

// The unit's shutdown step: puts a recorded FlatSB_SetScrollInfo slot back and forgets it; does
// nothing when none was recorded.
void FinalizeRdScrollBar();

} // namespace controls
