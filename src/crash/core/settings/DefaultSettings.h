#pragma once
// The built-in default table: consulted for keys that a module's settings resource does not hold.

#include "crash/core/settings/SettingsProperty.h"

#include <cstddef>
#include <span>
#include <string_view>

namespace crash {

struct DefaultSetting
{
    const char* name;
    SettingsKind kind;
    bool flagValue;
    std::int32_t numberValue;
    const char16_t* textValue;
};

inline constexpr std::size_t DefaultSettingsCount = 137;

std::span<const DefaultSetting> DefaultSettings();
const DefaultSetting* FindDefaultSetting(std::string_view name);

} // namespace crash
