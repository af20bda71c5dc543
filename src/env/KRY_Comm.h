#pragma once
// Where the product is installed, whether it is the beta edition, where its per-user settings
// live, and the standard Windows folders with fallbacks for when the shell gives no answer.
// Paths are Windows paths of the product's prefix (map them with WinePrefix::toNativePath); the
// product folders end in "\", the special folders do not. Nothing here raises.

#include <QString>
#include <cstdint>

class QWidget;

namespace env {

// Indexed by the beta flag.
extern const QString ProductFolderName[2];
extern const QString UninstallKey[2];

// -1 until the update settings have been read; then the value found there (0 after a failed
// read). Final once set.
extern int32_t BetaState;

// Shell folder ids.
constexpr int32_t CSIDL_DESKTOP = 0x0000;
constexpr int32_t CSIDL_PERSONAL = 0x0005;
constexpr int32_t CSIDL_APPDATA = 0x001A;
constexpr int32_t CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int32_t CSIDL_COMMON_APPDATA = 0x0023;
constexpr int32_t CSIDL_PROGRAM_FILES = 0x0026;
constexpr int32_t CSIDL_PROFILE = 0x0028;
constexpr int32_t CSIDL_PROGRAM_FILES_COMMON = 0x002B;

// The folder of the product's Main.ini: application data + "\Orlix\Mirelune\" (or "Mirelune Beta").
QString GetProductDataFolder();
// From the uninstall keys (beta edition of that major version first), else the 32-bit program
// files folder + "\Orlix\Mirelune\". Never empty.
QString GetProductInstallFolder(int32_t majorVersion);
bool IsBetaProduct();
// The shell's answer; when it is 2 characters or fewer, for the six common folders, the
// environment variable, else a path built from the system drive and the user name.
QString GetSpecialFolder(QWidget* ownerWindow, int32_t folderId);
// Whether this program stands for a 32-bit one on 64-bit Windows: true on a 64-bit prefix.
bool IsWow64();
QString GetCurrentUserName();

} // namespace env
