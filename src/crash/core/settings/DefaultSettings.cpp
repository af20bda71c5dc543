#include "crash/core/settings/DefaultSettings.h"

#include "crash/core/settings/SettingsKeys.h"

#include <array>

namespace crash {
namespace {

#define HALVORN_FLAG_ENTRY(key, value) DefaultSetting{#key, SettingsKind::Flag, value, 0, u""},
#define HALVORN_NUMBER_ENTRY(key, value) DefaultSetting{#key, SettingsKind::Number, false, value, u""},
#define HALVORN_TEXT_ENTRY(key, value) DefaultSetting{#key, SettingsKind::Text, false, 0, value},

constexpr DefaultSetting Table[] = {
    HALVORN_DEFAULT_SETTINGS(HALVORN_FLAG_ENTRY, HALVORN_NUMBER_ENTRY, HALVORN_TEXT_ENTRY)};

static_assert(std::size(Table) == DefaultSettingsCount, "the default table has one entry per key");

} // namespace

std::span<const DefaultSetting> DefaultSettings()
{
    return Table;
}

const DefaultSetting* FindDefaultSetting(std::string_view name)
{
    for (const DefaultSetting& entry : Table) {
        if (name == entry.name)
            return &entry;
    }
    return nullptr;
}

} // namespace crash
