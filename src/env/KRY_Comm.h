#pragma once
// Where the product is installed, whether it is the beta edition, where its per-user settings
// live, and the standard Windows folders with fallbacks for when the shell gives no answer.
// Paths are Windows paths of the product's prefix (map them with WinePrefix::toNativePath); the
// product folders end in "\", the special folders do not. Nothing here raises.

#include "platform/Registry.h"
#include "platform/WinTypes.h"

#include <QString>
#include <cstdint>
#include <optional>

class QWidget;

namespace env {

// Indexed by the beta flag.
extern const QString ProductFolderName[2];
extern const QString UninstallKey[2];

// -1 until the update settings have been read; then the value found there (0 after a failed
// read). Final once set.
extern int32_t BetaState;

// The one way the product's uninstall keys are read. Opens `keyPath` below HKEY_LOCAL_MACHINE
// read-only in the 32-bit view (unless Windows reports exactly 5.0), with full read rights and
// else query rights.
std::optional<platform::RegistryKey> OpenUninstallKey(const QString& keyPath);
// The key's InstallLocation with a trailing "" ensured ("" when missing or empty); nullopt when
// the value has another type, which ends a lookup as the failed typed read does on Windows.
std::optional<QString> ReadInstallLocation(const platform::RegistryKey& key);

// The folder of the product's Main.ini: application data + "\Orlix\Mirelune\" (or "Mirelune Beta").
QString GetProductDataFolder();
// From the uninstall keys (beta edition of that major version first), else the 32-bit program
// files folder + "\Orlix\Mirelune\". Never empty.
QString GetProductInstallFolder(int32_t majorVersion);
bool IsBetaProduct();
// The shell's answer for a platform::CSIDL_* folder id; when it is 2 characters or fewer, for the six common
// folders, the environment variable, else a path built from the system drive and the user name.
QString GetSpecialFolder(QWidget* ownerWindow, int32_t folderId);
// Whether this program stands for a 32-bit one on 64-bit Windows: true on a 64-bit prefix.
bool IsWow64();
QString GetCurrentUserName();

} // namespace env
