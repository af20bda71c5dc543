#pragma once
// The store of parsed settings shared by every module of the process that is linked with the crash
// reporter. Each module carries its own copy of this code, so the store cannot be a static: its
// block is published through the named shared memory section "HalvornSettingsBuf2$<pid>", created
// and released under the named mutex "HalvornSettingsMtx$<pid>". The first module to arrive creates
// it, later ones take a reference, the last one to leave takes it down.

#include "crash/core/settings/ModuleSettings.h"
#include "crash/core/settings/SettingsProperty.h"
#include "platform/ModuleHandle.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <string_view>

namespace crash {

struct SettingsStoreBlock;

// Replaces the settings resource of `module` (0 = the executable) for this process by `stream`, a
// settings stream as the resource holds it. For test programs that take their settings from the
// command line; call before the module's settings are first used.
void SetSettingsResourceOverride(platform::ModuleHandle module, QByteArray stream);

// One reference on the process's store.
class SettingsStore
{
public:
    // Takes a reference, creating the store for the first. When the section can be neither opened
    // nor created (also at the private fallback), or its mutex stays held past a bound, tells the
    // user "internal error (opening settings buffer)" and stays invalid.
    SettingsStore();
    ~SettingsStore();
    SettingsStore(SettingsStore&& other) noexcept;
    SettingsStore& operator=(SettingsStore&& other) noexcept;
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    bool isValid() const { return m_block != nullptr; }

    // A reference on the module's parsed settings, parsing its resource on the first one; null when
    // the module carries no settings resource (or the store is invalid).
    ModuleSettings* acquireModule(platform::ModuleHandle module);
    void releaseModule(ModuleSettings* settings);

    // The module whose settings are the process's main settings; 0 when none is registered.
    platform::ModuleHandle mainModule() const;
    void setMainModule(platform::ModuleHandle module);

    // How another module asks the main settings object for a key: true with `out` filled when found.
    using MainLookup = bool (*)(const void* object, std::string_view key, SettingsProperty& out);
    // Makes `object` the main settings object for every module; null withdraws it.
    void publishMainLookup(const void* object, MainLookup lookup);
    // Withdraws `object` when it is the one published (it is going away).
    void withdrawMainLookup(const void* object);
    // `key` as the published main settings object reads it; nullopt when none is published or it
    // has no value for the key.
    std::optional<SettingsProperty> findInMainSettings(std::string_view key) const;

    // The first entry `name` in the parsed settings of `module`, when that module has a record.
    std::optional<SettingsProperty> findInModule(platform::ModuleHandle module, std::string_view name) const;

    static QString sectionName();
    static QString mutexName();
    // The store block's address as published for this process, 0 when there is no store. Takes no
    // reference; for checking that modules share one store.
    static std::uintptr_t publishedBlock();

private:
    SettingsStoreBlock* m_block = nullptr;
};

} // namespace crash
