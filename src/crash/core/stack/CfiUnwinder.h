#pragma once
// Call frames of a captured thread from the call-frame information (.eh_frame / .debug_frame) of
// the modules, through libdw's unwinder. The unwinder reads registers from the capture and memory
// from the captured stack copy (other addresses through the guarded reader).

#include "crash/core/stack/ProcessModules.h"
#include "crash/core/stack/StackTrace.h"

namespace crash::stack {

struct CfiFrame
{
    std::uint64_t pc = 0;
    bool activation = false;                   // the interrupted instruction itself (not a return address)
    std::uint64_t stackPointer = 0;            // the frame's stack pointer (where its caller's slots begin)
    std::optional<std::uint64_t> framePointer; // the frame's rbp, when the unwinder recovered it
};

struct CfiResult
{
    std::vector<CfiFrame> frames; // innermost first
    bool complete = false;        // reached the outermost frame (thread start) cleanly
};

CfiResult UnwindWithCfi(ProcessModules& modules, const ThreadCapture& capture, std::size_t maxFrames = 256);

// The stack copy reader shared with the scan: 8 bytes at `address`, from the copy when it holds
// them, else through the guarded reader.
bool ReadStackWord(const ThreadCapture& capture, std::uint64_t address, std::uint64_t& value);

} // namespace crash::stack
