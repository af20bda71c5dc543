#pragma once
// Typed access to the crash reporter's settings of one module.
//
// A key is looked up in the object's own overrides (what was set on it), then in the module's
// parsed settings resource, then, for the module whose settings are the process's main settings
// (or while none are registered), in the built-in default table; any other module asks the main
// settings object, which answers with what was set on it too. A key found nowhere reads false, 0
// or empty. Texts come back with their placeholders expanded, FrozenMsg excepted. Sets only ever
// change the object's own overrides, never the module's shared list, and are refused on an object
// without settings resource or when the key exists with another kind.

#include "crash/core/settings/ModuleSettings.h"
#include "crash/core/settings/ReportAttachments.h"
#include "crash/core/settings/ReportFields.h"
#include "crash/core/settings/SettingsKeys.h"
#include "crash/core/settings/SettingsStore.h"
#include "platform/ModuleHandle.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

namespace crash {

struct AssistantDefinition
{
    QString name;
    QString title;
    QStringList pages; // in order
};

// One field of an assistant page, as the form cache stores and restores it.
struct FormFieldValue
{
    QString name;
    bool isCheckBox = false;
    QString text;         // edit fields
    bool checked = false; // check boxes
};

class CrashSettings
{
public:
    // The settings of `module` (its load address; 0 = the executable). Takes a reference on the
    // module's parsed settings, parsing its resource on the first one.
    explicit CrashSettings(platform::ModuleHandle module = 0);
    virtual ~CrashSettings();
    CrashSettings(const CrashSettings&) = delete;
    CrashSettings& operator=(const CrashSettings&) = delete;

    platform::ModuleHandle module() const { return m_module; }
    // True exactly when the module carries a settings resource.
    bool isValid() const { return m_settings != nullptr; }
    // Valid and not NoSettings: this module's settings are the ones that count for it.
    bool settingsInForce() const;
    // Whether this object answers from the default table (it belongs to the main settings' module,
    // or none is registered) rather than from the main settings.
    bool isMainSettings() const;

    bool getFlag(std::string_view key) const;
    std::int32_t getNumber(std::string_view key) const;
    std::uint32_t getUnsigned(std::string_view key) const;
    // Placeholders expanded, except in FrozenMsg.
    QString getText(std::string_view key) const;
    QString getRawText(std::string_view key) const;
    bool hasKey(std::string_view key) const;

    bool setFlag(std::string_view key, bool value);
    bool setNumber(std::string_view key, std::int32_t value);
    bool setUnsigned(std::string_view key, std::uint32_t value);
    bool setText(std::string_view key, const QString& value);

#define HALVORN_DECLARE_FLAG(key, value)                                                                     \
    bool key() const                                                                                         \
    {                                                                                                        \
        return getFlag(#key);                                                                                \
    }                                                                                                        \
    bool set##key(bool v)                                                                                    \
    {                                                                                                        \
        return setFlag(#key, v);                                                                             \
    }
#define HALVORN_DECLARE_NUMBER(key, value)                                                                   \
    std::int32_t key() const                                                                                 \
    {                                                                                                        \
        return getNumber(#key);                                                                              \
    }                                                                                                        \
    bool set##key(std::int32_t v)                                                                            \
    {                                                                                                        \
        return setNumber(#key, v);                                                                           \
    }
#define HALVORN_DECLARE_TEXT(key, value)                                                                     \
    QString key() const                                                                                      \
    {                                                                                                        \
        return getText(#key);                                                                                \
    }                                                                                                        \
    bool set##key(const QString& v)                                                                          \
    {                                                                                                        \
        return setText(#key, v);                                                                             \
    }
    HALVORN_DEFAULT_SETTINGS(HALVORN_DECLARE_FLAG, HALVORN_DECLARE_NUMBER, HALVORN_DECLARE_TEXT)
    HALVORN_DECLARE_FLAG(CrashOnBuffer, false)
    HALVORN_DECLARE_TEXT(MinDebugInfo, u"")
#undef HALVORN_DECLARE_FLAG
#undef HALVORN_DECLARE_NUMBER
#undef HALVORN_DECLARE_TEXT

    // The assistant definition AssistantN (1-based), expanded.
    QString Assistant(int number) const;

    bool overrunChecking() const
    {
        return CrashOnBuffer() && !CrashOnUnderrun();
    }
    bool underrunChecking() const
    {
        return CrashOnBuffer() && CrashOnUnderrun();
    }

    bool pluginEnabled(const QString& name) const;
    // Enabling puts the name in front of Plugins; disabling takes every occurrence out.
    bool setPluginEnabled(const QString& name, bool enabled);

    // AddFields as report fields and AddAttachs as attachments, each built once per object.
    std::shared_ptr<ReportFields> additionalFields() const;
    std::shared_ptr<ReportAttachments> additionalAttachments() const;

    // The first AssistantN whose name matches. "ScrShotForm" leaves the pages when there is no
    // screenshot to show or ScrShotDepth is 0.
    std::optional<AssistantDefinition> findAssistant(const QString& name, bool withScreenshot = true) const;
    // The in-memory form cache: fields of the pages closed with OK go in, a new assistant's fields
    // of the same names get their values back. Nothing is written to disk.
    void fillFormCache(const QList<FormFieldValue>& fieldsOfOkPages);
    void readFormCache(QList<FormFieldValue>& fields) const;

    // The text VersionVar points at, read when the object was made; empty without one.
    QString versionText() const
    {
        return m_versionText;
    }

    QString expandPlaceholders(const QString& text) const;

protected:
    enum class Fallback
    {
        MainSettings,
        Defaults
    };
    CrashSettings(platform::ModuleHandle module, Fallback fallback);

    // What an exception puts in for %exceptClass%, %exceptMsg% and %errorDetails%; nothing leaves
    // the placeholder in place.
    virtual std::optional<QString> exceptionClassText() const
    {
        return std::nullopt;
    }
    virtual std::optional<QString> exceptionMessageText() const
    {
        return std::nullopt;
    }
    virtual std::optional<QString> errorDetailsText() const
    {
        return std::nullopt;
    }

private:
    struct Value
    {
        SettingsKind kind = SettingsKind::Text;
        bool flag = false;
        std::int32_t number = 0;
        QString text;
    };
    std::optional<Value> lookup(std::string_view key) const;
    // The main settings object's lookup as the store hands it to other modules.
    static bool lookupForOtherModules(const void* object, std::string_view key, SettingsProperty& out);
    std::optional<SettingsKind> existingKind(std::string_view key) const;
    bool set(std::string_view key, const Value& value);
    struct ExpansionState;
    std::optional<QString> placeholder(QStringView name, ExpansionState& state) const;
    QString appVersion() const;
    QString modVersion() const;

    friend void RegisterMainSettings(std::shared_ptr<CrashSettings> settings);

    SettingsStore m_store;
    platform::ModuleHandle m_module;
    ModuleSettings* m_settings;
    Fallback m_fallback;
    QString m_versionText;

    mutable std::mutex m_lock; // the overrides and the lazily built lists
    SettingsPropertyList m_overrides;
    mutable std::shared_ptr<ReportFields> m_fields;
    mutable std::shared_ptr<ReportAttachments> m_attachments;
    ReportFields m_formCache;
};

// The settings of a module (0 = the executable); the registered main settings for their module.
std::shared_ptr<CrashSettings> SettingsForModule(platform::ModuleHandle module);
// The settings that govern code at `address`: its module's when that is not the executable and its
// settings are in force; else the executable's when in force; else those of the first module, by
// load address, whose settings are in force; else the executable's.
std::shared_ptr<CrashSettings> SettingsForAddress(const void* address);
// The settings governing the code that calls this.
std::shared_ptr<CrashSettings> SettingsForCaller();

// The process's main settings, chosen at start-up for the executable. Null clears the choice.
void RegisterMainSettings(std::shared_ptr<CrashSettings> settings);
std::shared_ptr<CrashSettings> MainSettings();

// The zero-terminated 8-bit text that the pointer at `offset` from the module's load address points
// at. Both the pointer and the text must lie in the module's image; anything else reads as empty.
QString ReadVersionVariable(platform::ModuleHandle module, std::int32_t offset);

} // namespace crash
