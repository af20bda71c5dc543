// The packed symbol table: what goes in comes out, lookups expand inlined calls, and damaged
// tables are refused rather than read.

#include "crash/core/stack/SymbolTable.h"

#include <gtest/gtest.h>

namespace crash::stack {
namespace {

SymbolTable Sample()
{
    SymbolTable t;
    t.names = {"outer", "Unit", "helper", "Header"};
    // outer: 0x1000..0x1100, first line 10; helper inlined at 0x1010..0x1020 from Unit:14.
    t.functions.push_back({0x1000, 0x100, 0, 10, 0, 1, 0x1000});
    t.inlines.push_back({0x1010, 0x10, 2, 1, 1, 14, 3});
    t.lines = {{0x1000, 1, 10}, {0x1010, 3, 4}, {0x1020, 1, 15}, {0x1100, 1, 0}};
    return t;
}

TEST(SymbolTable, InlinedCallExpandsInnermostFirst)
{
    std::vector<SymbolFrame> frames;
    ASSERT_TRUE(Sample().Lookup(0x1014, frames));
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].function, "helper");
    EXPECT_EQ(frames[0].unit, "Header");
    EXPECT_EQ(frames[0].line, 4);
    EXPECT_TRUE(frames[0].inlined);
    EXPECT_EQ(frames[1].function, "outer");
    EXPECT_EQ(frames[1].unit, "Unit");
    EXPECT_EQ(frames[1].line, 14); // the call site
    EXPECT_EQ(frames[1].firstLine, 10);
    EXPECT_FALSE(frames[1].inlined);
}

TEST(SymbolTable, AddressesOutsideFunctionsAreUnknown)
{
    std::vector<SymbolFrame> frames;
    EXPECT_FALSE(Sample().Lookup(0xFFF, frames));
    EXPECT_FALSE(Sample().Lookup(0x1100, frames));
    EXPECT_TRUE(frames.empty());
    ASSERT_TRUE(Sample().Lookup(0x1024, frames));
    EXPECT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].line, 15);
}

TEST(SymbolTable, PackedTableReadsBackTheSame)
{
    const auto packed = Sample().Pack();
    const auto back = SymbolTable::Unpack(packed);
    ASSERT_TRUE(back);
    std::vector<SymbolFrame> original, restored;
    Sample().Lookup(0x1014, original);
    back->Lookup(0x1014, restored);
    ASSERT_EQ(restored.size(), original.size());
    for (std::size_t i = 0; i < original.size(); ++i) {
        EXPECT_EQ(restored[i].function, original[i].function);
        EXPECT_EQ(restored[i].line, original[i].line);
        EXPECT_EQ(restored[i].unit, original[i].unit);
    }
}

TEST(SymbolTable, DamagedTablesAreRefused)
{
    const auto packed = Sample().Pack();
    for (std::size_t cut = 0; cut < packed.size(); cut += 3)
        EXPECT_FALSE(SymbolTable::Unpack(std::span(packed).first(cut))) << "cut at " << cut;
    auto wrongMagic = packed;
    wrongMagic[0] ^= 0xFF;
    EXPECT_FALSE(SymbolTable::Unpack(wrongMagic));
    // A name index beyond the names, packed validly.
    SymbolTable bad = Sample();
    bad.functions[0].name = 99;
    EXPECT_FALSE(SymbolTable::Unpack(bad.Pack()));
    bad = Sample();
    bad.functions[0].inlineCount = 5;
    EXPECT_FALSE(SymbolTable::Unpack(bad.Pack()));
    // Flipped bytes anywhere: refused or read, never a crash.
    for (std::size_t i = 12; i < packed.size(); ++i) {
        auto flipped = packed;
        flipped[i] ^= 0x5A;
        (void)SymbolTable::Unpack(flipped);
    }
}

} // namespace
} // namespace crash::stack
