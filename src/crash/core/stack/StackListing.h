#pragma once
// The text forms of call-stack entries: the aligned listing (one line per entry, columns padded
// across the listing, an entry's note on a line of its own before it), the single-address form,
// and the checksum value of an entry.

#include "crash/core/stack/StackTrace.h"

namespace crash::stack {

QString ComposeListing(const std::vector<StackEntry>& entries, bool showRelAddrs, bool showRelLines);

// The single-address form; `known` false gives the address and "???".
QString FormatSingle(const StackEntry& entry, bool known, bool showRelAddrs, bool showRelLines);

// One CRC-32 step per byte (zip polynomial, reflected, no inversion).
std::uint32_t CrcBytes(std::uint32_t crc, const void* data, std::size_t size);

// The checksum value of one entry: offset and lower-cased names when they are known, else the
// address's low 32 bits.
std::uint32_t EntryChecksum(const StackEntry& entry);

// First value, running CRC and line-information flag over listed entries.
void ChecksumEntries(const std::vector<StackEntry>& entries, std::uint32_t& first, std::uint32_t& running,
                     bool& hasLineInfo);

} // namespace crash::stack
