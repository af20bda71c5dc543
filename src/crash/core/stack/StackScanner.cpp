// Scoring follows the ranking of link evidence: a call whose known target is the function of the
// item below weighs 2^28, plus 2^14 when that function's start is known for sure, plus 2^9 / 2^6 /
// 2^3 for line information at both ends / the caller / neither; a link through an indirect call
// (target unknown) weighs 1. The chain with the highest sum from the anchor wins; candidates off it
// are dropped. The links are scored once each (dynamic programming over the stack order).

#include "crash/core/stack/StackScanner.h"

#include "crash/core/stack/CfiUnwinder.h"

#include <capstone/capstone.h>
#include <cstring>
#include <unordered_map>

namespace crash::stack {

std::optional<CallSite> CallBefore(CodeView& code, std::uint64_t returnAddress)
{
    if (returnAddress <= 7)
        return std::nullopt;
    std::uint8_t bytes[8];
    if (code.ReadCode(returnAddress - 8, bytes, 8) != 8)
        return std::nullopt;
    return DecodeCallBefore(returnAddress, bytes);
}

std::vector<StackItem> ScanCandidates(CodeView& code, const ThreadCapture& capture, std::uint64_t fromSlot,
                                      const std::atomic<bool>* cancel)
{
    std::vector<StackItem> items;
    items.reserve(64);
    const std::uint64_t base = capture.context.rsp;
    const std::uint64_t end = base + capture.stack.size();
    std::uint64_t slot = std::max(fromSlot, base);
    slot += (8 - (slot - base) % 8) % 8;
    for (; slot + 8 <= end; slot += 8) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            break;
        std::uint64_t value = 0;
        std::memcpy(&value, capture.stack.data() + (slot - base), 8);
        if (value <= 7 || !code.IsCode(value))
            continue;
        if (auto call = CallBefore(code, value))
            items.push_back({value, slot, false, false, call});
    }
    return items;
}

std::uint64_t FollowJumps(CodeView& code, std::uint64_t target)
{
    static csh handle = 0;
    static bool ready = cs_open(CS_ARCH_X86, CS_MODE_64, &handle) == CS_ERR_OK &&
                        cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON) == CS_ERR_OK;
    if (!ready)
        return target;
    for (int step = 0; step < 3; ++step) {
        std::uint8_t bytes[16];
        const std::size_t n = code.ReadCode(target, bytes, sizeof bytes);
        cs_insn* insn = nullptr;
        if (n == 0 || cs_disasm(handle, bytes, n, target, 1, &insn) != 1)
            return target;
        std::uint64_t next = 0;
        // An IBT landing pad (endbr64) may stand first in a PLT entry.
        if (insn[0].id == X86_INS_ENDBR64 && n > insn[0].size) {
            const std::uint64_t after = target + insn[0].size;
            cs_free(insn, 1);
            if (cs_disasm(handle, bytes + (after - target), n - (after - target), after, 1, &insn) != 1)
                return target;
        }
        const cs_x86& x86 = insn[0].detail->x86;
        const bool isJump = insn[0].id == X86_INS_JMP && x86.op_count == 1;
        if (isJump && x86.operands[0].type == X86_OP_IMM) {
            next = std::uint64_t(x86.operands[0].imm);
        } else if (isJump && x86.operands[0].type == X86_OP_MEM && x86.operands[0].mem.base == X86_REG_RIP &&
                   x86.operands[0].mem.index == X86_REG_INVALID) {
            const std::uint64_t slotAddress = insn[0].address + insn[0].size + std::uint64_t(x86.operands[0].mem.disp);
            std::uint64_t value = 0;
            if (code.ReadCode(slotAddress, reinterpret_cast<std::uint8_t*>(&value), 8) == 8)
                next = value;
        }
        cs_free(insn, 1);
        if (next == 0 || next == target)
            return target;
        target = next;
    }
    return target;
}

namespace {

constexpr std::uint64_t KnownTarget = 1ull << 28;
constexpr std::uint64_t Approved = 1ull << 14;

struct Node
{
    std::uint64_t function = 0; // start of the function holding the item
    bool hasLine = false;
    std::optional<std::uint64_t> target; // followed call target
};

// Functions a call to `function` can end up in without a further call: the function itself and
// the targets of its tail jumps (a direct jmp from inside it to the start of another function),
// two levels deep. Cached per function for one chain choice.
class TailCallReach
{
public:
    explicit TailCallReach(CodeView& code) : code_(code) {}

    bool Reaches(std::uint64_t target, std::uint64_t function)
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

private:
    const std::vector<std::uint64_t>& TailJumps(std::uint64_t function)
    {
        auto found = cache_.find(function);
        if (found != cache_.end())
            return found->second;
        std::vector<std::uint64_t>& jumps = cache_[function];
        static csh handle = 0;
        static bool ready = cs_open(CS_ARCH_X86, CS_MODE_64, &handle) == CS_ERR_OK &&
                            cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON) == CS_ERR_OK;
        std::uint8_t bytes[1024];
        const std::size_t n = ready ? code_.ReadCode(function, bytes, sizeof bytes) : 0;
        if (n == 0)
            return jumps;
        cs_insn* insn = cs_malloc(handle);
        const std::uint8_t* cursor = bytes;
        std::size_t left = n;
        std::uint64_t address = function;
        while (cs_disasm_iter(handle, &cursor, &left, &address, insn)) {
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
        cs_free(insn, 1);
        return jumps;
    }

    CodeView& code_;
    std::unordered_map<std::uint64_t, std::vector<std::uint64_t>> cache_;
};

// Score of linking `lower` (callee side) to `higher` (its caller); 0 = no link.
std::uint64_t LinkScore(TailCallReach& reach, const Node& lower, const Node& higher)
{
    if (!higher.target)
        return 1;
    if (lower.function == 0 || !reach.Reaches(*higher.target, lower.function))
        return 0;
    std::uint64_t score = KnownTarget + Approved;
    if (lower.hasLine && higher.hasLine)
        score += 1u << 9;
    else if (higher.hasLine)
        score += 1u << 6;
    else
        score += 1u << 3;
    return score;
}

} // namespace

std::vector<StackItem> ChooseChain(CodeView& code, const StackItem& anchor, const std::vector<StackItem>& candidates,
                                   const std::atomic<bool>* cancel)
{
    const std::size_t n = candidates.size();
    std::vector<Node> nodes(n + 1);
    auto describe = [&](const StackItem& item, Node& node) {
        const std::uint64_t inside = item.activation ? item.address : item.address - 1;
        node.function = code.FunctionStart(inside);
        node.hasLine = code.HasLine(inside);
        if (item.call && item.call->target)
            node.target = FollowJumps(code, *item.call->target);
    };
    describe(anchor, nodes[0]);
    for (std::size_t i = 0; i < n; ++i)
        describe(candidates[i], nodes[i + 1]);

    // Link scores, each computed once. An item that a higher call reaches for sure (known target)
    // takes no link through an indirect call: that would be a guess beside a certainty, and it is
    // how chains of stale return addresses (an earlier call's leftovers) would attach.
    std::vector<std::vector<std::uint64_t>> scores(n + 1, std::vector<std::uint64_t>(n + 1, 0));
    TailCallReach reach(code);
    for (std::size_t j = 0; j <= n; ++j) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return {};
        bool sure = false;
        for (std::size_t i = j + 1; i <= n; ++i) {
            scores[j][i] = LinkScore(reach, nodes[j], nodes[i]);
            sure = sure || scores[j][i] >= KnownTarget;
        }
        if (sure)
            for (std::size_t i = j + 1; i <= n; ++i)
                if (scores[j][i] < KnownTarget)
                    scores[j][i] = 0;
    }

    // best[i]: highest chain score from the anchor ending at node i; unreachable = none.
    std::vector<std::optional<std::uint64_t>> best(n + 1);
    std::vector<std::size_t> previous(n + 1, 0);
    best[0] = 0;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (!best[j] || scores[j][i] == 0)
                continue;
            if (!best[i] || *best[j] + scores[j][i] > *best[i]) {
                best[i] = *best[j] + scores[j][i];
                previous[i] = j;
            }
        }
    }
    std::size_t end = 0;
    for (std::size_t i = 1; i <= n; ++i)
        if (best[i] && *best[i] >= *best[end])
            end = i;
    std::vector<StackItem> chain;
    for (std::size_t i = end; i != 0; i = previous[i])
        chain.push_back(candidates[i - 1]);
    std::reverse(chain.begin(), chain.end());
    return chain;
}

void RemoveRecursiveAreas(std::vector<StackItem>& items, int minRepeats, int keep)
{
    // For each run length, find a run repeated back to back at least minRepeats times and drop
    // the copies beyond the first `keep`.
    for (std::size_t length = 1; length <= 8; ++length) {
        for (std::size_t start = 0; start + length * std::size_t(minRepeats) <= items.size(); ++start) {
            std::size_t repeats = 1;
            while (start + (repeats + 1) * length <= items.size()) {
                bool same = true;
                for (std::size_t k = 0; k < length && same; ++k)
                    same = items[start + k].address == items[start + repeats * length + k].address;
                if (!same)
                    break;
                ++repeats;
            }
            if (repeats >= std::size_t(minRepeats)) {
                items.erase(items.begin() + std::ptrdiff_t(start + std::size_t(keep) * length),
                            items.begin() + std::ptrdiff_t(start + repeats * length));
            }
        }
    }
}

} // namespace crash::stack
