#pragma once
// A made-up code image for the scan's checks: functions of hand-assembled bytes at chosen
// addresses, each one part, with or without line information.

#include "crash/core/stack/CodeView.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

namespace stacktest {

// x86-64 bytes of one function; each call form returns the return address it leaves.
struct Asm
{
    explicit Asm(std::uint64_t at) : start(at) {}
    std::uint64_t Here() const { return start + bytes.size(); }
    std::uint64_t Call(std::uint64_t target) // E8 rel32
    {
        const auto rel = std::int32_t(std::int64_t(target) - std::int64_t(Here() + 5));
        bytes.push_back(0xE8);
        for (int i = 0; i < 4; ++i)
            bytes.push_back(std::uint8_t(std::uint32_t(rel) >> (8 * i)));
        return Here();
    }
    std::uint64_t CallRax() // FF D0: target unknown
    {
        bytes.insert(bytes.end(), {0xFF, 0xD0});
        return Here();
    }
    // movabs rax, imm64 whose immediate begins E8 00 00 00 00: the bytes before the address
    // returned look like a call, but it lies inside the instruction.
    std::uint64_t CallLookalike()
    {
        bytes.insert(bytes.end(), {0x48, 0xB8, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x90, 0x90, 0x90});
        return Here() - 3;
    }
    void Nops(int n) { bytes.insert(bytes.end(), std::size_t(n), 0x90); }
    void Ret() { bytes.push_back(0xC3); }

    std::uint64_t start;
    std::vector<std::uint8_t> bytes;
};

class FakeCode : public crash::stack::CodeView
{
public:
    void Add(const Asm& function, bool hasLine = true)
    {
        functions_[function.start] = {function.bytes, hasLine};
    }

    bool IsCode(std::uint64_t address) override { return Holding(address) != nullptr; }
    std::uint64_t FunctionStart(std::uint64_t address) override
    {
        const auto* f = Holding(address);
        return f != nullptr ? f->first : 0;
    }
    crash::stack::FunctionPart PartOf(std::uint64_t address) override
    {
        const auto* f = Holding(address);
        if (f == nullptr)
            return {};
        return {f->first, f->first, f->first + f->second.bytes.size()};
    }
    bool HasLine(std::uint64_t address) override
    {
        const auto* f = Holding(address);
        return f != nullptr && f->second.hasLine;
    }
    std::size_t ReadCode(std::uint64_t address, std::uint8_t* buffer, std::size_t size) override
    {
        const auto* f = Holding(address);
        if (f == nullptr)
            return 0;
        const std::size_t offset = address - f->first;
        const std::size_t n = std::min(size, f->second.bytes.size() - offset);
        std::memcpy(buffer, f->second.bytes.data() + offset, n);
        return n;
    }

private:
    struct Code
    {
        std::vector<std::uint8_t> bytes;
        bool hasLine = true;
    };
    const std::pair<const std::uint64_t, Code>* Holding(std::uint64_t address) const
    {
        auto it = functions_.upper_bound(address);
        if (it == functions_.begin())
            return nullptr;
        --it;
        return address - it->first < it->second.bytes.size() ? &*it : nullptr;
    }
    std::map<std::uint64_t, Code> functions_;
};

} // namespace stacktest
