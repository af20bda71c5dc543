#include "crash/core/stack/TailCallReach.h"

#include "crash/core/stack/CapstoneLibrary.h"

namespace crash::stack {
namespace {

// One decoder with operand details for the jump checks; used under the tracer's lock only. 0, and
// `capstone` null, without the decoder.
csh DetailHandle(const crash::CapstoneLibrary*& capstone)
{
    static csh handle = 0;
    static const crash::CapstoneLibrary* const opened = [] {
        const crash::CapstoneLibrary* library = crash::Capstone();
        return library && library->open(CS_ARCH_X86, CS_MODE_64, &handle) == CS_ERR_OK &&
                       library->option(handle, CS_OPT_DETAIL, CS_OPT_ON) == CS_ERR_OK
                   ? library
                   : nullptr;
    }();
    capstone = opened;
    return opened ? handle : 0;
}

} // namespace

bool TailCallReach::Reaches(std::uint64_t target, std::uint64_t function)
{
    if (target == function)
        return true;
    for (std::uint64_t first : TailJumps(target)) {
        if (first == function)
            return true;
        for (std::uint64_t second : TailJumps(first))
            if (second == function)
                return true;
    }
    return false;
}

const std::vector<std::uint64_t>& TailCallReach::TailJumps(std::uint64_t function)
{
    auto found = cache_.find(function);
    if (found != cache_.end())
        return found->second;
    std::vector<std::uint64_t>& jumps = cache_[function];
    const crash::CapstoneLibrary* capstone = nullptr;
    const csh handle = DetailHandle(capstone);
    std::uint8_t bytes[1024];
    const std::size_t n = handle != 0 ? code_.ReadCode(function, bytes, sizeof bytes) : 0;
    if (n == 0)
        return jumps;
    cs_insn* insn = capstone->malloc(handle);
    const std::uint8_t* cursor = bytes;
    std::size_t left = n;
    std::uint64_t address = function;
    while (capstone->disasm_iter(handle, &cursor, &left, &address, insn)) {
        const cs_x86& x86 = insn->detail->x86;
        if (insn->id != X86_INS_JMP || x86.op_count != 1 || x86.operands[0].type != X86_OP_IMM)
            continue;
        const auto destination = std::uint64_t(x86.operands[0].imm);
        if (destination >= function && destination < function + n)
            continue; // a jump inside this code
        // Only a jump that belongs to this function and lands on another function's start.
        if (code_.FunctionStart(insn->address) == function && code_.FunctionStart(destination) == destination)
            jumps.push_back(FollowJumps(code_, destination));
    }
    capstone->free(insn, 1);
    return jumps;
}

std::uint64_t FollowJumps(CodeView& code, std::uint64_t target)
{
    const crash::CapstoneLibrary* capstone = nullptr;
    const csh handle = DetailHandle(capstone);
    if (handle == 0)
        return target;
    for (int step = 0; step < 3; ++step) {
        std::uint8_t bytes[16];
        const std::size_t n = code.ReadCode(target, bytes, sizeof bytes);
        cs_insn* insn = nullptr;
        if (n == 0 || capstone->disasm(handle, bytes, n, target, 1, &insn) != 1)
            return target;
        std::uint64_t next = 0;
        // An IBT landing pad (endbr64) may stand first in a PLT entry.
        if (insn[0].id == X86_INS_ENDBR64 && n > insn[0].size) {
            const std::uint64_t after = target + insn[0].size;
            capstone->free(insn, 1);
            if (capstone->disasm(handle, bytes + (after - target), n - (after - target), after, 1, &insn) != 1)
                return target;
        }
        const cs_x86& x86 = insn[0].detail->x86;
        const bool isJump = insn[0].id == X86_INS_JMP && x86.op_count == 1;
        if (isJump && x86.operands[0].type == X86_OP_IMM) {
            next = std::uint64_t(x86.operands[0].imm);
        } else if (isJump && x86.operands[0].type == X86_OP_MEM && x86.operands[0].mem.base == X86_REG_RIP &&
                   x86.operands[0].mem.index == X86_REG_INVALID) {
            const std::uint64_t slotAddress =
                insn[0].address + insn[0].size + std::uint64_t(x86.operands[0].mem.disp);
            std::uint64_t value = 0;
            if (code.ReadCode(slotAddress, reinterpret_cast<std::uint8_t*>(&value), 8) == 8)
                next = value;
        }
        capstone->free(insn, 1);
        if (next == 0 || next == target)
            return target;
        target = next;
    }
    return target;
}

} // namespace crash::stack
