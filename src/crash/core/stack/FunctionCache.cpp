#include "crash/core/stack/FunctionCache.h"

#include "crash/core/stack/CapstoneLibrary.h"
#include "crash/core/stack/StackScanner.h"

#include <algorithm>

namespace crash::stack {
namespace {

// Larger parts are not decoded: no compiler emits them, and a wrong size must not cost seconds.
constexpr std::uint64_t MaxPartBytes = 256 * 1024;

// The target of a direct call (E8 rel32 after any prefixes); none for indirect forms.
std::optional<std::uint64_t> DirectTarget(const cs_insn& insn)
{
    std::size_t k = 0;
    while (k < insn.size && (insn.bytes[k] == 0x66 || insn.bytes[k] == 0x67 || insn.bytes[k] == 0xF2 ||
                             insn.bytes[k] == 0xF3 || (insn.bytes[k] & 0xF0) == 0x40))
        ++k;
    if (k + 5 != insn.size || insn.bytes[k] != 0xE8)
        return std::nullopt;
    std::int32_t relative = 0;
    for (int i = 0; i < 4; ++i)
        relative |= std::int32_t(std::uint32_t(insn.bytes[k + 1 + std::size_t(i)]) << (8 * i));
    return insn.address + insn.size + std::uint64_t(std::int64_t(relative));
}

// Decodes [part.start, part.end) linearly; approved when every byte belongs to an instruction.
void Decode(const crash::CapstoneLibrary& capstone, csh handle, CodeView& code, CodeFunction& function)
{
    const FunctionPart& part = function.part;
    std::vector<std::uint8_t> bytes(part.end - part.start);
    if (code.ReadCode(part.start, bytes.data(), bytes.size()) != bytes.size())
        return;
    cs_insn* insn = capstone.malloc(handle);
    const std::uint8_t* cursor = bytes.data();
    std::size_t left = bytes.size();
    std::uint64_t address = part.start;
    while (left > 0 && capstone.disasm_iter(handle, &cursor, &left, &address, insn)) {
        if (insn->id == X86_INS_CALL)
            function.calls.push_back({insn->address, int(insn->size), DirectTarget(*insn)});
    }
    function.approved = left == 0;
    if (!function.approved)
        function.calls.clear();
    capstone.free(insn, 1);
}

} // namespace

FunctionCache::~FunctionCache()
{
    if (decoder_ != 0)
        crash::Capstone()->close(&decoder_);
}

const CodeFunction* FunctionCache::Find(std::uint64_t address)
{
    const FunctionPart part = code_.PartOf(address);
    if (part.entry == 0 || part.start == 0 || address < part.start || address >= part.end)
        return nullptr;
    auto found = parts_.find(part.start);
    if (found != parts_.end())
        return &found->second;
    CodeFunction& function = parts_[part.start];
    function.part = part;
    const crash::CapstoneLibrary* capstone = crash::Capstone();
    if (capstone && decoder_ == 0 && capstone->open(CS_ARCH_X86, CS_MODE_64, &decoder_) != CS_ERR_OK)
        decoder_ = 0;
    if (decoder_ != 0 && part.end - part.start <= MaxPartBytes)
        Decode(*capstone, decoder_, code_, function);
    return &function;
}

CallLocation FunctionCache::LocateCall(std::uint64_t returnAddress)
{
    if (returnAddress <= 7)
        return {};
    const CodeFunction* function = Find(returnAddress - 1);
    if (function == nullptr || !function->approved)
        return {CallBefore(code_, returnAddress), false};
    const auto& calls = function->calls;
    const auto after = std::lower_bound(calls.begin(), calls.end(), returnAddress,
                                        [](const CallSite& c, std::uint64_t a) { return c.address < a; });
    if (after == calls.begin())
        return {std::nullopt, true};
    const CallSite& call = *std::prev(after);
    if (call.address + std::uint64_t(call.length) != returnAddress)
        return {std::nullopt, true};
    return {call, true};
}

} // namespace crash::stack
