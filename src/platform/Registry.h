#pragma once
// Read-only registry, as the program sees it through the Wine prefix: HKEY_LOCAL_MACHINE is the
// prefix's system.reg, HKEY_CURRENT_USER its user.reg. A parsed hive is reused while its file
// stays the same (same file, size and times); a change made by an installer shows at the next
// open. A missing or damaged hive simply has no keys.

#include "platform/RegistryHive.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

enum class RootKey
{
    LocalMachine,
    CurrentUser
};

// Access flags with their Windows values.
constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr uint32_t KEY_READ = 0x20019;
constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
constexpr uint32_t KEY_WOW64_32KEY = 0x0200;

enum class RegStatus
{
    Ok,
    NotFound,
    WrongType
};

class RegistryKey
{
public:
    // Opens `path` (leading "\" allowed; case-insensitive) under `root`. With KEY_WOW64_32KEY on a
    // 64-bit prefix, keys below "Software\" are read from "Software\Wow6432Node\".
    static std::optional<RegistryKey> open(RootKey root, const QString& path, uint32_t access = KEY_READ);

    // REG_SZ and REG_EXPAND_SZ only; any other type is WrongType, as a typed read on Windows.
    RegStatus readString(const QString& name, QString& out) const;
    // REG_DWORD only.
    RegStatus readDword(const QString& name, uint32_t& out) const;
    std::optional<RegistryValue> value(const QString& name) const;
    QStringList valueNames() const;
    QStringList subKeyNames() const;

private:
    RegistryKey(std::shared_ptr<const RegistryHive> hive, QString path);
    std::shared_ptr<const RegistryHive> m_hive;
    QString m_path; // as stored in the hive
};

// Parses the hive behind `root` on the calling thread into the parsed hives that opens reuse, so
// that a later open (on any thread) finds it ready while the file is unchanged. A large hive takes
// tens of milliseconds; the start-up does this on a helper thread.
void PreloadRegistryHive(RootKey root);

// The key path a 32-bit program is given on this prefix for `path` (Wow6432Node redirection).
QString RedirectTo32BitView(const QString& path, bool prefixIs64Bit);

} // namespace platform
