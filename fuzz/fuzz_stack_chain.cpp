// Any code bytes and any stack: the scan, the deep checks, the frame-pointer walk and the chain
// choice must end, keep every anchor in order and add nothing that was not on the stack.
//
// Input: code length (2 bytes, little-endian), the code (split into two functions at its middle),
// then stack words. A word whose low two bits are 0 becomes an address inside the code, 1 an
// address inside the stack, anything else stays as it is.
#include "crash/core/stack/FramePointerChain.h"
#include "crash/core/stack/OptimalChains.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::uint64_t CodeBase = 0x400000;
constexpr std::uint64_t StackBase = 0x7ff000000000;

class FuzzCode : public crash::stack::CodeView
{
public:
    FuzzCode(const std::uint8_t* code, std::size_t size) : code_(code, code + size), middle_(size / 2) {}
    bool IsCode(std::uint64_t a) override { return a >= CodeBase && a - CodeBase < code_.size(); }
    std::uint64_t FunctionStart(std::uint64_t a) override { return IsCode(a) ? Part(a).entry : 0; }
    crash::stack::FunctionPart PartOf(std::uint64_t a) override
    {
        return IsCode(a) ? Part(a) : crash::stack::FunctionPart{};
    }
    bool HasLine(std::uint64_t a) override { return IsCode(a) && a - CodeBase < middle_; }
    std::size_t ReadCode(std::uint64_t a, std::uint8_t* buffer, std::size_t size) override
    {
        if (!IsCode(a))
            return 0;
        const std::size_t n = std::min(size, code_.size() - (a - CodeBase));
        std::memcpy(buffer, code_.data() + (a - CodeBase), n);
        return n;
    }

private:
    crash::stack::FunctionPart Part(std::uint64_t a) const
    {
        const bool first = a - CodeBase < middle_;
        const std::uint64_t start = first ? CodeBase : CodeBase + middle_;
        return {start, start, first ? CodeBase + middle_ : CodeBase + code_.size()};
    }
    std::vector<std::uint8_t> code_;
    std::size_t middle_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace crash::stack;
    if (size < 3)
        return 0;
    const std::size_t codeSize = std::min<std::size_t>((data[0] | data[1] << 8) % 4096, size - 2);
    if (codeSize == 0)
        return 0;
    FuzzCode code(data + 2, codeSize);
    const std::size_t words = std::min<std::size_t>((size - 2 - codeSize) / 8, 512);
    ThreadCapture capture;
    capture.accessible = true;
    capture.context.rsp = StackBase;
    capture.context.rip = CodeBase;
    capture.stack.resize(words * 8);
    for (std::size_t i = 0; i < words; ++i) {
        std::uint64_t w = 0;
        std::memcpy(&w, data + 2 + codeSize + 8 * i, 8);
        if ((w & 3) == 0)
            w = CodeBase + (w >> 2) % codeSize;
        else if ((w & 3) == 1)
            w = StackBase + ((w >> 2) % (words * 8 + 8) & ~std::uint64_t(7));
        std::memcpy(capture.stack.data() + 8 * i, &w, 8);
        if (i == 0)
            capture.context.rbp = w;
    }

    FunctionCache functions(code);
    std::vector<StackItem> items = WalkFramePointers(functions, capture, capture.context.rbp, StackBase);
    for (const StackItem& c : ScanCandidates(code, capture, StackBase, nullptr))
        if (std::none_of(items.begin(), items.end(), [&](const StackItem& a) { return a.slot == c.slot; }))
            items.push_back(c);
    std::sort(items.begin(), items.end(),
              [](const StackItem& a, const StackItem& b) { return a.slot < b.slot; });
    items.insert(items.begin(), StackItem{CodeBase, 0, true, true, std::nullopt});
    ConfirmCalls(functions, items, nullptr, {});
    const std::vector<StackItem> chain = RealizeOptimalLinkChains(functions, items, nullptr);

    // The chain is a subsequence of the items and holds every anchor.
    std::size_t k = 0;
    for (const StackItem& item : items) {
        if (k < chain.size() && chain[k].slot == item.slot && chain[k].address == item.address)
            ++k;
        else if (item.strong)
            std::abort();
    }
    if (k != chain.size())
        std::abort();
    return 0;
}
