// Listing columns, the single-address form and the checksum values of entries.

#include "crash/core/stack/StackListing.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace crash::stack {
namespace {

StackEntry Entry(std::uint64_t address, std::uint64_t start, const char* module, const char* unit, int line,
                 int relative, const char* function)
{
    StackEntry e;
    e.address = address;
    e.functionStart = start;
    e.module = QString::fromLatin1(module);
    e.unit = QString::fromLatin1(unit);
    e.line = line;
    e.relativeLine = relative;
    e.function = QString::fromLatin1(function);
    return e;
}

std::vector<StackEntry> TwoEntries()
{
    return {Entry(0x401234, 0x401200, "MireluneSkinTool", "uMain", 1234, 5, "app::TfrmMain::Button_MakeClick"),
            Entry(0x7f0000001000, 0, "libc.so.6", "", 0, -1, "")};
}

TEST(StackListing, ColumnsAlignAcrossLines)
{
    const QStringList lines = ComposeListing(TwoEntries(), false, false).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("0000000000401234 MireluneSkinTool uMain 1234 app::TfrmMain::Button_MakeClick"));
    EXPECT_EQ(lines[1], QStringLiteral("00007f0000001000 libc.so.6"));
}

TEST(StackListing, RelativeAddressAndLineColumns)
{
    auto entries = TwoEntries();
    entries.push_back(Entry(0x402345, 0x402000, "MireluneSkinTool", "RdImageButton", 77, 12, "TRdImageButton::Paint"));
    const QStringList lines = ComposeListing(entries, true, true).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 3);
    // Offsets zero-padded to the widest ("+345"), blank where the function start is unknown.
    EXPECT_EQ(lines[0], QStringLiteral("0000000000401234 +034 MireluneSkinTool uMain         1234 +5  "
                                       "app::TfrmMain::Button_MakeClick"));
    EXPECT_EQ(lines[1], QStringLiteral("00007f0000001000      libc.so.6")); // trailing blanks trimmed
    EXPECT_EQ(lines[2], QStringLiteral("0000000000402345 +345 MireluneSkinTool RdImageButton   77 +12 "
                                       "TRdImageButton::Paint"));
}

TEST(StackListing, SingleAddressForms)
{
    const StackEntry e = TwoEntries()[0];
    EXPECT_EQ(FormatSingle(e, true, false, false),
              QStringLiteral("0000000000401234 MireluneSkinTool uMain 1234 app::TfrmMain::Button_MakeClick"));
    EXPECT_EQ(FormatSingle(e, true, true, true),
              QStringLiteral("0000000000401234 +34 MireluneSkinTool uMain 1234 +5 app::TfrmMain::Button_MakeClick"));
    StackEntry noFirstLine = e;
    noFirstLine.relativeLine = -1;
    EXPECT_TRUE(FormatSingle(noFirstLine, true, false, true).contains(QLatin1String(" 1234 +0 app::")));
    EXPECT_EQ(FormatSingle(e, false, true, false), QStringLiteral("0000000000401234 +0 ???"));
    EXPECT_EQ(FormatSingle(e, false, false, false), QStringLiteral("0000000000401234 ???"));
}

// zlib's CRC-32 inverts before and after; the checksum step does neither.
std::uint32_t ReferenceStep(std::uint32_t value, const QString& text)
{
    const QByteArray bytes(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    return ~std::uint32_t(crc32(~value, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
}

TEST(StackListing, EntryChecksumUsesOffsetAndLowerCasedNames)
{
    const StackEntry e = TwoEntries()[0];
    std::uint32_t expected = ReferenceStep(0x34, QStringLiteral("mireluneskintool"));
    expected = ReferenceStep(expected, QStringLiteral("umain"));
    expected = ReferenceStep(expected, QStringLiteral("app::tfrmmain::button_makeclick"));
    EXPECT_EQ(EntryChecksum(e), expected);

    StackEntry moved = e; // loaded elsewhere: same offset, same names
    moved.address += 0x10000;
    moved.functionStart += 0x10000;
    EXPECT_EQ(EntryChecksum(moved), EntryChecksum(e));

    StackEntry umlaut = e;
    umlaut.unit = QString::fromUtf8("\xC3\x84nderung"); // Ä
    StackEntry lower = umlaut;
    lower.unit = QString::fromUtf8("\xC3\xA4nderung"); // ä
    EXPECT_EQ(EntryChecksum(umlaut), EntryChecksum(lower));

    EXPECT_EQ(EntryChecksum(TwoEntries()[1]), 0x00001000u); // no names: the address's low 32 bits
}

TEST(StackListing, RunningChecksumContinuesOverLaterEntries)
{
    const auto entries = TwoEntries();
    std::uint32_t first = 0, running = 0;
    bool lines = false;
    ChecksumEntries(entries, first, running, lines);
    EXPECT_EQ(first, EntryChecksum(entries[0]));
    const std::uint32_t second = EntryChecksum(entries[1]);
    const std::uint8_t bytes[4] = {std::uint8_t(second), std::uint8_t(second >> 8), std::uint8_t(second >> 16),
                                   std::uint8_t(second >> 24)};
    EXPECT_EQ(running, ~std::uint32_t(crc32(~first, bytes, 4)));
    EXPECT_TRUE(lines);
    ChecksumEntries({entries[1]}, first, running, lines);
    EXPECT_FALSE(lines);
}

} // namespace
} // namespace crash::stack
