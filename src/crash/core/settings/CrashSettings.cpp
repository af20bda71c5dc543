#include "crash/core/settings/CrashSettings.h"

#include "crash/core/settings/DefaultSettings.h"
#include "crash/core/settings/SettingsResource.h"
#include "crash/core/settings/SystemDescription.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>

#include <algorithm>
#include <cstring>

namespace crash {
namespace {

constexpr int MaxAssistants = 10000; // numbered keys end at the first gap; this only bounds a bad list

QString FileNameOf(platform::ModuleHandle module)
{
    return QFileInfo(platform::ModuleFileName(module)).fileName();
}

QString ExecutableFolder()
{
    return QFileInfo(platform::ModuleFileName(0)).absolutePath();
}

QString WithoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}

enum class Folder
{
    Desktop,
    UserAppData,
    CommonAppData
};

// The user's XDG folders stand in for the Windows special folders.
QString SpecialFolder(Folder folder)
{
    QString path;
    switch (folder) {
    case Folder::Desktop:
        path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        break;
    case Folder::UserAppData:
        path = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        break;
    case Folder::CommonAppData: {
        const QString own = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        for (const QString& candidate :
             QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
            if (candidate != own) {
                path = candidate;
                break;
            }
        }
        break;
    }
    }
    if (path.isEmpty())
        path = ExecutableFolder();
    return WithoutTrailingSeparator(path);
}

// This module's registration; the store knows it process-wide. Never destroyed: a report may be
// made while the process ends, after the static objects are gone.
std::mutex& g_mainLock = *new std::mutex;
std::shared_ptr<CrashSettings>& g_main = *new std::shared_ptr<CrashSettings>;

} // namespace

struct CrashSettings::ExpansionState
{
    std::optional<QDateTime> now;
    QDateTime time()
    {
        if (!now)
            now = QDateTime::currentDateTime();
        return *now;
    }
};

CrashSettings::CrashSettings(platform::ModuleHandle module) : CrashSettings(module, Fallback::MainSettings) {}

CrashSettings::CrashSettings(platform::ModuleHandle module, Fallback fallback)
    : m_module(module == 0 ? platform::MainModuleHandle() : module), m_fallback(fallback)
{
    m_settings = m_store.acquireModule(m_module);
    m_formCache.setAcceptingData(true);
    m_versionText = ReadVersionVariable(m_module, VersionVar());
}

CrashSettings::~CrashSettings()
{
    {
        std::lock_guard guard(m_lock);
        if (m_fields)
            m_fields->clearOwner();
        if (m_attachments)
            m_attachments->clearOwner();
    }
    m_store.withdrawMainLookup(this);
    m_store.releaseModule(m_settings);
}

bool CrashSettings::settingsInForce() const
{
    return isValid() && !NoSettings();
}

bool CrashSettings::isMainSettings() const
{
    const platform::ModuleHandle main = m_store.mainModule();
    return main == 0 || main == m_module;
}

std::optional<CrashSettings::Value> CrashSettings::lookup(std::string_view key) const
{
    auto fromProperty = [](const SettingsProperty& p) {
        return Value{p.kind, p.flagValue, p.numberValue, p.textValue};
    };
    {
        std::lock_guard guard(m_lock);
        if (const SettingsProperty* p = m_overrides.find(key))
            return fromProperty(*p);
    }
    if (m_settings) {
        if (const SettingsProperty* p = m_settings->properties.find(key))
            return fromProperty(*p);
    }
    if (m_fallback == Fallback::MainSettings && !isMainSettings()) {
        // The main settings object answers with what was set on it, its resource and its defaults.
        if (auto p = m_store.findInMainSettings(key))
            return fromProperty(*p);
        if (auto p = m_store.findInModule(m_store.mainModule(), key))
            return fromProperty(*p);
    }
    if (const DefaultSetting* d = FindDefaultSetting(key))
        return Value{d->kind, d->flagValue, d->numberValue, QString::fromUtf16(d->textValue)};
    return std::nullopt;
}

bool CrashSettings::hasKey(std::string_view key) const
{
    return lookup(key).has_value();
}

bool CrashSettings::getFlag(std::string_view key) const
{
    const auto v = lookup(key);
    return v && v->kind == SettingsKind::Flag && v->flag;
}

std::int32_t CrashSettings::getNumber(std::string_view key) const
{
    const auto v = lookup(key);
    return v && v->kind == SettingsKind::Number ? v->number : 0;
}

std::uint32_t CrashSettings::getUnsigned(std::string_view key) const
{
    return static_cast<std::uint32_t>(getNumber(key));
}

QString CrashSettings::getRawText(std::string_view key) const
{
    const auto v = lookup(key);
    return v && v->kind == SettingsKind::Text ? v->text : QString();
}

QString CrashSettings::getText(std::string_view key) const
{
    const QString raw = getRawText(key);
    // FrozenMsg is itself what %exceptMsg% gives for a freeze; it stays as written.
    return key == "FrozenMsg" ? raw : expandPlaceholders(raw);
}

std::optional<SettingsKind> CrashSettings::existingKind(std::string_view key) const
{
    if (m_settings) {
        if (const SettingsProperty* p = m_settings->properties.find(key))
            return p->kind;
    }
    if (const DefaultSetting* d = FindDefaultSetting(key))
        return d->kind;
    return std::nullopt;
}

bool CrashSettings::set(std::string_view key, const Value& value)
{
    if (!isValid() || key.empty() || key.size() > 255)
        return false;
    std::lock_guard guard(m_lock);
    SettingsProperty* own = m_overrides.find(key);
    const std::optional<SettingsKind> kind = own ? std::optional(own->kind) : existingKind(key);
    if (kind && *kind != value.kind)
        return false;
    if (!own) {
        SettingsProperty added;
        added.name = std::string(key);
        m_overrides.append(std::move(added));
        own = &m_overrides.at(m_overrides.count() - 1);
    }
    own->kind = value.kind;
    own->flagValue = value.flag;
    own->numberValue = value.number;
    own->textValue = value.text;
    return true;
}

bool CrashSettings::setFlag(std::string_view key, bool value)
{
    return set(key, Value{SettingsKind::Flag, value, 0, {}});
}

bool CrashSettings::setNumber(std::string_view key, std::int32_t value)
{
    return set(key, Value{SettingsKind::Number, false, value, {}});
}

bool CrashSettings::setUnsigned(std::string_view key, std::uint32_t value)
{
    return setNumber(key, static_cast<std::int32_t>(value));
}

bool CrashSettings::setText(std::string_view key, const QString& value)
{
    return set(key, Value{SettingsKind::Text, false, 0, value});
}

QString CrashSettings::Assistant(int number) const
{
    return getText(("Assistant" + std::to_string(number)));
}

bool CrashSettings::pluginEnabled(const QString& name) const
{
    return !name.isEmpty() && getRawText("Plugins").split(QLatin1Char('|')).contains(name);
}

bool CrashSettings::setPluginEnabled(const QString& name, bool enabled)
{
    if (name.isEmpty() || name.contains(QLatin1Char('|')))
        return false;
    QString list = getRawText("Plugins");
    if (enabled) {
        if (pluginEnabled(name))
            return isValid();
        list = list.isEmpty() ? name : name + QLatin1Char('|') + list;
    } else {
        QString wrapped = QLatin1Char('|') + list + QLatin1Char('|');
        const QString needle = QLatin1Char('|') + name + QLatin1Char('|');
        while (wrapped.contains(needle)) // "|a|a|" holds the name twice with one bar between
            wrapped.replace(needle, QStringLiteral("|"));
        if (wrapped.startsWith(QLatin1Char('|')))
            wrapped.remove(0, 1);
        if (wrapped.endsWith(QLatin1Char('|')))
            wrapped.chop(1);
        list = wrapped;
    }
    return setText("Plugins", list);
}

std::shared_ptr<ReportFields> CrashSettings::additionalFields() const
{
    {
        std::lock_guard guard(m_lock);
        if (m_fields)
            return m_fields;
    }
    // Split before expanding, so an expanded value cannot break the list apart.
    auto fields = std::make_shared<ReportFields>(this);
    fields->setAcceptingData(true);
    for (const QString& item : getRawText("AddFields").split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const qsizetype equals = item.indexOf(QLatin1Char('='));
        const QString name = expandPlaceholders(item.left(equals)).trimmed();
        if (equals > 0 && !name.isEmpty())
            fields->setField(name, expandPlaceholders(item.mid(equals + 1)));
    }
    std::lock_guard guard(m_lock);
    if (!m_fields)
        m_fields = std::move(fields);
    return m_fields;
}

std::shared_ptr<ReportAttachments> CrashSettings::additionalAttachments() const
{
    {
        std::lock_guard guard(m_lock);
        if (m_attachments)
            return m_attachments;
    }
    auto attachments = std::make_shared<ReportAttachments>(this);
    for (const QString& item : getRawText("AddAttachs").split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        const QStringList parts = item.split(QLatin1Char('>'));
        ReportAttachment a;
        a.file = expandPlaceholders(parts.value(0)).trimmed();
        a.sendAs = expandPlaceholders(parts.value(1)).trimmed();
        a.zip = expandPlaceholders(parts.value(2)).trimmed();
        a.field = expandPlaceholders(parts.value(3)).trimmed();
        if (!a.file.isEmpty())
            attachments->add(a);
    }
    std::lock_guard guard(m_lock);
    if (!m_attachments)
        m_attachments = std::move(attachments);
    return m_attachments;
}

std::optional<AssistantDefinition> CrashSettings::findAssistant(const QString& name,
                                                                bool withScreenshot) const
{
    for (int number = 1; number <= MaxAssistants; ++number) {
        const std::string key = "Assistant" + std::to_string(number);
        if (!hasKey(key))
            break;
        const QStringList items = getText(key).split(QLatin1Char('|'));
        if (items.value(0) != name)
            continue;
        AssistantDefinition definition{items.value(0), items.value(1), items.mid(2)};
        if (!withScreenshot || ScrShotDepth() == 0)
            definition.pages.removeAll(QStringLiteral("ScrShotForm"));
        return definition;
    }
    return std::nullopt;
}

void CrashSettings::fillFormCache(const QList<FormFieldValue>& fieldsOfOkPages)
{
    for (const FormFieldValue& f : fieldsOfOkPages) {
        if (!f.name.isEmpty())
            m_formCache.setField(f.name, f.isCheckBox ? QString::number(f.checked ? 1 : 0) : f.text);
    }
}

void CrashSettings::readFormCache(QList<FormFieldValue>& fields) const
{
    for (FormFieldValue& f : fields) {
        if (f.name.isEmpty() || !m_formCache.contains(f.name))
            continue;
        const QString value = m_formCache.field(f.name);
        if (f.isCheckBox)
            f.checked = value == QLatin1String("1");
        else
            f.text = value;
    }
}

QString CrashSettings::modVersion() const
{
    if (!m_versionText.isEmpty())
        return m_versionText;
    // ELF files carry no version resource; the executable's version is what the program declared.
    if (m_module == platform::MainModuleHandle() && !QCoreApplication::applicationVersion().isEmpty())
        return QCoreApplication::applicationVersion();
    return QStringLiteral("?");
}

QString CrashSettings::appVersion() const
{
    if (m_module == platform::MainModuleHandle())
        return modVersion();
    return CrashSettings(0).modVersion();
}

std::optional<QString> CrashSettings::placeholder(QStringView name, ExpansionState& state) const
{
    auto is = [&](const char* candidate) {
        return name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
    };
    auto date = [&] { return state.time().date().toString(QStringLiteral("yyyy-MM-dd")); };
    auto time = [&] {
        const QTime t = state.time().time();
        return t.toString(QStringLiteral("hh:mm:ss")) + QLatin1String(", ") + QString::number(t.msec()) +
               QLatin1String("ms");
    };
    if (is("appname"))
        return FileNameOf(0);
    if (is("modname"))
        return FileNameOf(m_module);
    if (is("appversion"))
        return appVersion();
    if (is("modversion"))
        return modVersion();
    if (is("exceptClass"))
        return exceptionClassText();
    if (is("exceptMsg"))
        return exceptionMessageText();
    if (is("errorDetails"))
        return errorDetailsText();
    if (is("LF"))
        return QStringLiteral("\r\n");
    if (is("date"))
        return date();
    if (is("time"))
        return time();
    if (is("datetime"))
        return date() + QLatin1String(", ") + time();
    if (is("computerName"))
        return QSysInfo::machineHostName();
    if (is("os"))
        return OperatingSystemDescription();
    if (is("desktop"))
        return SpecialFolder(Folder::Desktop);
    if (is("userappdata"))
        return SpecialFolder(Folder::UserAppData);
    if (is("commonappdata"))
        return SpecialFolder(Folder::CommonAppData);
    return std::nullopt; // %bugReport% and anything unknown stay as written
}

QString CrashSettings::expandPlaceholders(const QString& text) const
{
    // One pass from left to right: what a placeholder expands to is never scanned again, so an
    // exception message holding "%date%" stays as the exception said it.
    if (!text.contains(QLatin1Char('%')))
        return text;
    ExpansionState state;
    QString out;
    out.reserve(text.size());
    qsizetype pos = 0;
    while (pos < text.size()) {
        const qsizetype open = text.indexOf(QLatin1Char('%'), pos);
        if (open < 0) {
            out += QStringView(text).mid(pos);
            break;
        }
        out += QStringView(text).mid(pos, open - pos);
        const qsizetype close = text.indexOf(QLatin1Char('%'), open + 1);
        if (close < 0) {
            out += QStringView(text).mid(open);
            break;
        }
        if (auto value = placeholder(QStringView(text).mid(open + 1, close - open - 1), state)) {
            out += *value;
            pos = close + 1;
        } else {
            out += QLatin1Char('%'); // the closing "%" may open the next placeholder
            pos = open + 1;
        }
    }
    return out;
}

QString ReadVersionVariable(platform::ModuleHandle module, std::int32_t offset)
{
    if (offset == 0)
        return {};
    if (module == 0)
        module = platform::MainModuleHandle();
    const std::uintptr_t variable = module + static_cast<std::uint32_t>(offset);
    if (platform::ModuleReadableBytes(module, variable) < sizeof(const char*))
        return {};
    const char* text = nullptr;
    std::memcpy(&text, reinterpret_cast<const void*>(variable), sizeof text);
    const std::size_t readable = std::min<std::size_t>(
        platform::ModuleReadableBytes(module, reinterpret_cast<std::uintptr_t>(text)), 256);
    const void* end = readable ? std::memchr(text, 0, readable) : nullptr;
    if (!end)
        return {};
    return QString::fromLatin1(text, static_cast<const char*>(end) - text);
}

std::shared_ptr<CrashSettings> SettingsForModule(platform::ModuleHandle module)
{
    if (module == 0)
        module = platform::MainModuleHandle();
    if (auto main = MainSettings(); main && main->module() == module)
        return main;
    return std::make_shared<CrashSettings>(module);
}

std::shared_ptr<CrashSettings> SettingsForAddress(const void* address)
{
    const platform::ModuleHandle executable = platform::MainModuleHandle();
    const platform::ModuleHandle owner = platform::ModuleOfAddress(address);
    if (owner != 0 && owner != executable) {
        auto own = SettingsForModule(owner);
        if (own->settingsInForce())
            return own;
    }
    auto main = SettingsForModule(executable);
    if (main->settingsInForce())
        return main;
    for (platform::ModuleHandle module : platform::LoadedModules()) {
        if (module == executable || module == owner)
            continue;
        if (platform::FindModuleResource(module, SettingsResourceName).empty())
            continue; // no settings: not worth a settings object
        auto candidate = SettingsForModule(module);
        if (candidate->settingsInForce())
            return candidate;
    }
    return main;
}

__attribute__((noinline)) std::shared_ptr<CrashSettings> SettingsForCaller()
{
    return SettingsForAddress(__builtin_return_address(0));
}

bool CrashSettings::lookupForOtherModules(const void* object, std::string_view key, SettingsProperty& out)
{
    const auto value = static_cast<const CrashSettings*>(object)->lookup(key);
    if (!value)
        return false;
    out.kind = value->kind;
    out.flagValue = value->flag;
    out.numberValue = value->number;
    out.textValue = value->text;
    return true;
}

void RegisterMainSettings(std::shared_ptr<CrashSettings> settings)
{
    std::lock_guard guard(g_mainLock);
    if (g_main) {
        g_main->m_store.publishMainLookup(nullptr, nullptr);
        g_main->m_store.setMainModule(0);
    }
    g_main = std::move(settings);
    if (g_main) {
        g_main->m_store.setMainModule(g_main->module());
        g_main->m_store.publishMainLookup(g_main.get(), &CrashSettings::lookupForOtherModules);
    }
}

std::shared_ptr<CrashSettings> MainSettings()
{
    std::lock_guard guard(g_mainLock);
    return g_main;
}

} // namespace crash
