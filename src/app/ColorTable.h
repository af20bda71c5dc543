#pragma once
// The skin's colour table, classic/color_setting.ini: the Make stamps the skin name into it and,
// with the hidden "rgb => bgr" option, exchanges red and blue in every colour value.

#include <QString>
#include <cstdint>
#include <optional>

namespace app {

// `toolFolder` ends with a separator. Raises "Unable to write to <file>" when the table cannot
// be written; shows one message per colour value that is not a hexadecimal number.
void WriteColorSettings(const QString& toolFolder, const QString& name, bool rgbToBgr);

// "$" followed by one to eight hexadecimal digits and nothing else, as a signed 32-bit value.
std::optional<int32_t> ParseDollarHex(const QString& text);
// Byte 0 and byte 2 exchanged, written as upper-case hexadecimal of at least six digits.
QString SwapRedBlue(int32_t colour);

} // namespace app
