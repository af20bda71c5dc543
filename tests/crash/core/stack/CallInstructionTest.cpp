// The call-instruction check that decides whether a stack value can be a return address.

#include "crash/core/stack/CallInstruction.h"

#include <gtest/gtest.h>
#include <vector>

namespace crash::stack {
namespace {

constexpr std::uint64_t ReturnAddress = 0x401000;

// `code` ends right at the return address; padded in front to the 8 bytes the scan reads.
std::optional<CallSite> Decode(std::vector<std::uint8_t> code)
{
    while (code.size() < 8)
        code.insert(code.begin(), 0x90);
    return DecodeCallBefore(ReturnAddress, code);
}

TEST(CallInstruction, RelativeCallGivesItsTarget)
{
    const auto site = Decode({0xE8, 0x10, 0x00, 0x00, 0x00}); // call +0x10
    ASSERT_TRUE(site);
    EXPECT_EQ(site->length, 5);
    EXPECT_EQ(site->address, ReturnAddress - 5);
    EXPECT_EQ(site->target, ReturnAddress + 0x10);
}

TEST(CallInstruction, IndirectCallsThroughMemoryAndRegistersAreAccepted)
{
    // call [rip+disp32]
    auto site = Decode({0xFF, 0x15, 0x78, 0x56, 0x34, 0x12});
    ASSERT_TRUE(site);
    EXPECT_EQ(site->length, 6);
    EXPECT_FALSE(site->target);
    // call [disp32]: a 32-bit memory address through a SIB byte without base
    site = Decode({0xFF, 0x14, 0x25, 0x00, 0x10, 0x40, 0x00});
    ASSERT_TRUE(site);
    EXPECT_EQ(site->length, 7);
    // call r11 (REX prefix), call rax, call [rax+8]
    EXPECT_EQ(Decode({0x41, 0xFF, 0xD3})->length, 3);
    EXPECT_EQ(Decode({0xFF, 0xD0})->length, 2);
    EXPECT_EQ(Decode({0xFF, 0x50, 0x08})->length, 3);
    // far call through memory (FF /3)
    EXPECT_TRUE(Decode({0xFF, 0x18}));
}

TEST(CallInstruction, ValuesAfterNoCallAreRejected)
{
    EXPECT_FALSE(Decode({0x48, 0x89, 0xC7, 0x48, 0x83, 0xC4, 0x08})); // mov rdi, rax; add rsp, 8
    EXPECT_FALSE(Decode({0xFF, 0xE0}));                               // jmp rax (FF /4)
    EXPECT_FALSE(Decode({0xFF, 0x25, 0x00, 0x00, 0x00, 0x00}));       // jmp [rip]
    EXPECT_FALSE(Decode({0xE8, 0x00, 0x00, 0x00}));                   // a relative call one byte short
    EXPECT_FALSE(DecodeCallBefore(ReturnAddress, {}));
}

TEST(CallInstruction, ByteTestAllowsOnlyLengthsThatEndAtTheAddress)
{
    const std::uint8_t relative[] = {0x90, 0x90, 0x90, 0xE8, 0, 0, 0, 0};
    EXPECT_EQ(PossibleCallLengths(relative), 1u << 5);
    const std::uint8_t viaRegister[] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0xD2};
    EXPECT_EQ(PossibleCallLengths(viaRegister), 1u << 2);
    const std::uint8_t wrongModRm[] = {0x90, 0x90, 0x90, 0x90, 0x90, 0xFF, 0x15, 0x00}; // disp32 cut short
    EXPECT_EQ(PossibleCallLengths(wrongModRm), 0u);
}

} // namespace
} // namespace crash::stack
