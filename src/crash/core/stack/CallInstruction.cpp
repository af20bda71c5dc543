#include "crash/core/stack/CallInstruction.h"

#include "crash/core/stack/CapstoneLibrary.h"

#include <mutex>

namespace crash::stack {
namespace {

// Length of the ModRM-addressed operand (ModRM, SIB, displacement) starting at `modrm`, in
// 64-bit mode.
int ModRmOperandLength(std::uint8_t modrm, std::optional<std::uint8_t> sib)
{
    const int mod = modrm >> 6;
    const int rm = modrm & 7;
    if (mod == 3)
        return 1;
    int length = 1;
    bool hasSib = rm == 4;
    if (hasSib) {
        if (!sib)
            return -1;
        ++length;
    }
    if (mod == 0) {
        if (rm == 5)
            length += 4; // rip-relative
        else if (hasSib && (*sib & 7) == 5)
            length += 4; // no base, disp32
    } else if (mod == 1) {
        length += 1;
    } else {
        length += 4;
    }
    return length;
}

} // namespace

unsigned PossibleCallLengths(std::span<const std::uint8_t> before)
{
    const std::size_t n = before.size();
    unsigned lengths = 0;
    if (n >= 5 && before[n - 5] == 0xE8)
        lengths |= 1u << 5;
    // FF /2 or /3: ModRM reg field 2 or 3; the operand must end exactly at the return address.
    for (int length = 2; length <= 7; ++length) {
        if (std::size_t(length) > n)
            break;
        const std::size_t op = n - std::size_t(length);
        if (before[op] != 0xFF)
            continue;
        const std::uint8_t modrm = before[op + 1];
        const int reg = (modrm >> 3) & 7;
        if (reg != 2 && reg != 3)
            continue;
        std::optional<std::uint8_t> sib;
        if (op + 2 < n)
            sib = before[op + 2];
        if (1 + ModRmOperandLength(modrm, sib) == length)
            lengths |= 1u << length;
        // With a REX prefix (40..4F) in front, the instruction is one byte longer.
        if (op > 0 && (before[op - 1] & 0xF0) == 0x40 && 2 + ModRmOperandLength(modrm, sib) == length + 1 &&
            length + 1 <= 7)
            lengths |= 1u << (length + 1);
    }
    return lengths;
}

std::optional<CallSite> DecodeCallBefore(std::uint64_t returnAddress, std::span<const std::uint8_t> before)
{
    const unsigned lengths = PossibleCallLengths(before);
    if (lengths == 0)
        return std::nullopt;
    static std::once_flag once;
    static csh handle = 0;
    static const crash::CapstoneLibrary* capstone = nullptr;
    std::call_once(once, [] {
        capstone = crash::Capstone();
        if (capstone && capstone->open(CS_ARCH_X86, CS_MODE_64, &handle) == CS_ERR_OK)
            capstone->option(handle, CS_OPT_DETAIL, CS_OPT_ON);
        else
            capstone = nullptr;
    });
    if (!capstone)
        return std::nullopt;
    for (int length = 7; length >= 2; --length) {
        if (!(lengths & (1u << length)))
            continue;
        const std::uint8_t* code = before.data() + before.size() - std::size_t(length);
        std::uint64_t address = returnAddress - std::uint64_t(length);
        cs_insn* insn = nullptr;
        const std::size_t count = capstone->disasm(handle, code, std::size_t(length), address, 1, &insn);
        std::optional<CallSite> site;
        if (count == 1 && insn[0].size == std::uint16_t(length) && (insn[0].id == X86_INS_CALL || insn[0].id == X86_INS_LCALL)) {
            site = CallSite{address, length, std::nullopt};
            const cs_x86& x86 = insn[0].detail->x86;
            if (x86.op_count == 1 && x86.operands[0].type == X86_OP_IMM)
                site->target = std::uint64_t(x86.operands[0].imm);
        }
        if (count > 0)
            capstone->free(insn, count);
        if (site)
            return site;
    }
    return std::nullopt;
}

} // namespace crash::stack
