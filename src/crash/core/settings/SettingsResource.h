#pragma once
// The crash reporter's settings resource "THALVORN": a serialised component whose properties are
// the settings keys.
//
//   "TPF0", length-prefixed class name "THalvorn", length-prefixed object name "Halvorn",
//   then per property: length byte, name, value-type byte, value; a zero length byte ends the list.
//
// Value types: 2/3/4 signed 8/16/32-bit integers, 6 and 7 short 8-bit texts (length byte),
// 8 false, 9 true, 12 long 8-bit text (32-bit length), 18 UTF-16 text (32-bit length in code units),
// 20 UTF-8 text (32-bit length in bytes). Numbers are little-endian; 8-bit texts are Latin-1.

#include "crash/core/settings/SettingsProperty.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace crash {

inline constexpr char SettingsResourceName[] = "THALVORN";
inline constexpr char SettingsCaption[] = "Halvorn";

enum class SettingsValueType : std::uint8_t
{
    Int8 = 2,
    Int16 = 3,
    Int32 = 4,
    String = 6,
    Ident = 7,
    False = 8,
    True = 9,
    LString = 12,
    WString = 18,
    Utf8String = 20,
};

enum class SettingsParseStatus
{
    Complete,     // end marker reached
    BadSignature, // not a settings stream: no properties
    UnknownType,  // stopped at a value type outside the table (the user was told)
    Truncated,    // the data ended inside the stream
};

struct SettingsParseResult
{
    SettingsPropertyList properties; // what was read before the parse stopped
    SettingsParseStatus status = SettingsParseStatus::Complete;
    std::uint8_t unknownType = 0;
};

// Never reads outside `data`. An unknown value type shows "Internal error: Invalid settings
// resource (<type in hex>)." with the caption "Halvorn".
SettingsParseResult ParseSettingsResource(std::span<const std::byte> data);

// Replaces the three enciphered passwords by their plain text (each keyed by its account and
// server); a password that does not decipher becomes empty.
void DecipherSettingsPasswords(SettingsPropertyList& properties);

} // namespace crash
