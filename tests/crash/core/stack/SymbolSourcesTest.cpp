// Symbol sources other than DWARF: a library's exported symbols, a linker map file and a ".jdbg"
// file beside it; and the names they give.

#include "crash/core/stack/MapFileSymbols.h"
#include "crash/core/stack/StackTrace.h"
#include "crash/core/stack/SymbolNames.h"

#include <gtest/gtest.h>

extern "C" {
void* ExportLibExported();
void* ExportLibHiddenAddress();
void* MapLibHiddenAddress();
void* JdbgLibHiddenAddress();
}

namespace crash::stack {
namespace {

std::uint64_t Inside(void* function)
{
    return reinterpret_cast<std::uint64_t>(function) + 2;
}

TEST(SymbolSources, StrippedLibraryNamesTheNearestExport)
{
    const QString text = FormatAddress(Inside(ExportLibExported()), false, false);
    EXPECT_TRUE(text.contains(QLatin1String(" libstack_lib_Export.so ")));
    EXPECT_TRUE(text.endsWith(QLatin1String(" ExportLibExported"))) << text.toStdString();
}

TEST(SymbolSources, AddressOutsideEveryExportIsUnnamed)
{
    const std::uint64_t hidden = Inside(ExportLibHiddenAddress());
    const QString text = FormatAddress(hidden, true, false);
    EXPECT_EQ(text, QStringLiteral("%1 +0 ???").arg(hidden, 16, 16, QLatin1Char('0')));
}

TEST(SymbolSources, LinkerMapBesideTheLibraryNamesHiddenFunctions)
{
    const QString text = FormatAddress(Inside(MapLibHiddenAddress()), true, false);
    EXPECT_TRUE(text.endsWith(QLatin1String(" MapLibHidden"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String(" +2 "))) << text.toStdString();
}

TEST(SymbolSources, JdbgBesideTheLibraryGivesUnitAndLine)
{
    const QString text = FormatAddress(Inside(JdbgLibHiddenAddress()), false, false);
    EXPECT_TRUE(text.contains(QLatin1String(" libstack_lib_Jdbg.so StackLib "))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QLatin1String(" JdbgLibHidden"))) << text.toStdString();
}

TEST(SymbolSources, LinkerMapReaderTakesSymbolLinesOfCodeSectionsOnly)
{
    const char* map = "Archive member included to satisfy reference by file (symbol)\n"
                      "\n"
                      "Linker script and memory map\n"
                      "\n"
                      ".text           0x0000000000001100      0x200\n"
                      " .text          0x0000000000001100       0x40 /tmp/a.o\n"
                      "                0x0000000000001100                first\n"
                      "                0x0000000000001120                _ZN2ns6secondEi\n"
                      " .text.startup\n"
                      "                0x0000000000001140       0x22 /tmp/b.o\n"
                      "                0x0000000000001180                third\n"
                      "                0x0000000000001190                PROVIDE (etext = .)\n"
                      ".data           0x0000000000004000       0x10\n"
                      "                0x0000000000004000                some_data\n"
                      "garbage line 0xZZ\n";
    const auto symbols = ParseLinkerMap(map);
    ASSERT_EQ(symbols.size(), 3u);
    EXPECT_EQ(symbols[0].name, "first");
    EXPECT_EQ(symbols[1].start, 0x1120u);
    EXPECT_EQ(symbols[2].name, "third");
    EXPECT_TRUE(ParseLinkerMap("").empty());
}

TEST(SymbolNames, FunctionNamesLoseParametersReturnTypesAndCloneSuffixes)
{
    EXPECT_EQ(FunctionDisplayName("_ZN3app8TfrmMain16Button_MakeClickEPv"), "app::TfrmMain::Button_MakeClick");
    EXPECT_EQ(FunctionDisplayName("_ZNK2ns1C3getEv"), "ns::C::get");
    EXPECT_EQ(FunctionDisplayName("_Z3fooi.constprop.0"), "foo");
    EXPECT_EQ(FunctionDisplayName("_ZN2ns4pickIiEET_S1_"), "ns::pick<int>");
    EXPECT_EQ(FunctionDisplayName("_ZN1AclEv"), "A::operator()");
    EXPECT_EQ(FunctionDisplayName("main"), "main");
    EXPECT_EQ(UnitOfPath("/src/app/uMain.cpp"), "uMain");
    EXPECT_EQ(UnitOfPath("RdImageButton.h"), "RdImageButton");
}

} // namespace
} // namespace crash::stack
