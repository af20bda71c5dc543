#pragma once
// capstone, the instruction decoder of the call-instruction checks and the disassembly section.
// It is opened while the program runs, not by the loader with the program: loading it took over a
// millisecond of the window's start-up. The reporter opens it on a thread of its own once the event
// loop runs (see CrashReporter.cpp), so reports find it ready.
//
// A report is made in a broken process: a thread that crashed inside the loader (a library's
// constructor) holds the loader's lock, and opening a library would then wait forever. So a thread
// that finds another one opening capstone waits a bounded time for it and then goes without: the
// stack walk does without call-instruction checks, and the disassembly section stays empty.

#include <capstone/capstone.h>

namespace crash {

struct CapstoneLibrary
{
    decltype(&::cs_open) open = nullptr;
    decltype(&::cs_close) close = nullptr;
    decltype(&::cs_option) option = nullptr;
    decltype(&::cs_disasm) disasm = nullptr;
    decltype(&::cs_disasm_iter) disasm_iter = nullptr;
    decltype(&::cs_malloc) malloc = nullptr;
    decltype(&::cs_free) free = nullptr;
    decltype(&::cs_insn_group) insn_group = nullptr;
};

// The decoder's functions, opened by the first call from any thread; null when capstone cannot be
// loaded, or when another thread's opening has not finished within a few seconds.
const CapstoneLibrary* Capstone();

} // namespace crash
