#include "env/KRY_Comm.h"

#include "env/Orlix_Routine_New.h"
#include "env/PSafeIniFile.h"
#include "platform/Environment.h"
#include "platform/Registry.h"
#include "platform/UserAccount.h"
#include "platform/WinePrefix.h"

#include <QFileInfo>

namespace env {

using platform::RegistryKey;
using platform::RegStatus;
using platform::RootKey;

const QString ProductFolderName[2] = {QStringLiteral("\\Orlix\\Mirelune\\"),
                                      QStringLiteral("\\Orlix\\Mirelune Beta\\")};
const QString UninstallKey[2] = {
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1"),
    QStringLiteral("\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune Beta_is1")};

int32_t BetaState = -1;

namespace {

// A typed read that finds another type ends the registry lookup, as a raised error would.
struct RegistryTypeError
{
};

QString withBackslash(QString path)
{
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('\\');
    return path;
}

QString readLocation(const RegistryKey& key)
{
    const std::optional<QString> location = ReadInstallLocation(key);
    if (!location)
        throw RegistryTypeError{};
    return *location;
}

QString registryText(RootKey root, const QString& path, const QString& name,
                     uint32_t access = platform::KEY_READ)
{
    QString text;
    if (auto key = RegistryKey::open(root, path, access))
        if (key->readString(name, text) == RegStatus::Ok)
            return text;
    return QString();
}

// The user's profile folder as the prefix records it.
QString profileFolder()
{
    const QString list = QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList");
    auto profiles = RegistryKey::open(RootKey::LocalMachine, list);
    if (!profiles)
        return QString();
    const QString user = GetCurrentUserName();
    QString fallback;
    for (const QString& sid : profiles->subKeyNames()) {
        const QString path = registryText(RootKey::LocalMachine, list + QLatin1Char('\\') + sid,
                                          QStringLiteral("ProfileImagePath"));
        const QString leaf = path.mid(path.lastIndexOf(QLatin1Char('\\')) + 1);
        if (!user.isEmpty() && leaf.compare(user, Qt::CaseInsensitive) == 0)
            return path;
        if (fallback.isEmpty() && sid.startsWith(QLatin1String("S-1-5-21-")))
            fallback = path;
    }
    return fallback;
}

// What the shell answers for the folder: the prefix's own records.
QString shellFolder(int32_t folderId)
{
    const QString userFolders =
        QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    const QString currentVersion = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion");
    // As a 32-bit program sees it, and so the "(x86)" folders on a 64-bit prefix.
    const uint32_t view32 = platform::KEY_READ | platform::KEY_WOW64_32KEY;
    QString path;
    switch (folderId) {
    case platform::CSIDL_DESKTOP:
        path = registryText(RootKey::CurrentUser, userFolders, QStringLiteral("Desktop"));
        break;
    case platform::CSIDL_PERSONAL:
        path = registryText(RootKey::CurrentUser, userFolders, QStringLiteral("Personal"));
        break;
    case platform::CSIDL_APPDATA:
        path = registryText(RootKey::CurrentUser, userFolders, QStringLiteral("AppData"));
        break;
    case platform::CSIDL_LOCAL_APPDATA:
        path = registryText(RootKey::CurrentUser, userFolders, QStringLiteral("Local AppData"));
        break;
    case platform::CSIDL_COMMON_APPDATA:
        path = registryText(RootKey::LocalMachine, userFolders, QStringLiteral("Common AppData"));
        break;
    case platform::CSIDL_PROGRAM_FILES:
        path = registryText(RootKey::LocalMachine, currentVersion, QStringLiteral("ProgramFilesDir"), view32);
        break;
    case platform::CSIDL_PROGRAM_FILES_COMMON:
        path = registryText(RootKey::LocalMachine, currentVersion, QStringLiteral("CommonFilesDir"), view32);
        break;
    case platform::CSIDL_PROFILE:
        path = profileFolder();
        break;
    default:
        break;
    }
    // The shell's buffer holds 260 characters and a terminator; a longer answer is a failure.
    return path.size() > 260 ? QString() : path;
}

// The drive of the system folder, where kernel32.dll is loaded from.
QString systemDrive()
{
    const QString kernel = platform::WinePrefix::toWindowsPath(
        platform::WinePrefix::path() + QStringLiteral("/drive_c/windows/system32/kernel32.dll"));
    return kernel.size() >= 2 && kernel.at(1) == QLatin1Char(':') ? kernel.left(2) : QStringLiteral("C:");
}

} // namespace

std::optional<RegistryKey> OpenUninstallKey(const QString& keyPath)
{
    const platform::WindowsVersion version = platform::WinePrefix::windowsVersion();
    uint32_t viewFlag = 0;
    if (!(version.major == 5 && version.minor == 0))
        viewFlag = platform::KEY_WOW64_32KEY; // the 32-bit view on 64-bit Windows
    if (auto key = RegistryKey::open(RootKey::LocalMachine, keyPath, platform::KEY_READ | viewFlag))
        return key;
    return RegistryKey::open(RootKey::LocalMachine, keyPath, platform::KEY_QUERY_VALUE | viewFlag);
}

std::optional<QString> ReadInstallLocation(const RegistryKey& key)
{
    QString location;
    if (key.readString(QStringLiteral("InstallLocation"), location) == RegStatus::WrongType)
        return std::nullopt;
    return withBackslash(location);
}

QString GetProductDataFolder()
{
    const QString base = GetSpecialFolder(nullptr, platform::CSIDL_APPDATA);
    return base + ProductFolderName[IsBetaProduct() ? 1 : 0];
}

QString GetProductInstallFolder(int32_t majorVersion)
{
    QString result;
    try {
        if (auto beta = OpenUninstallKey(UninstallKey[1])) {
            if (beta->value(QStringLiteral("MajorVersion"))) {
                uint32_t stored = 0;
                if (beta->readDword(QStringLiteral("MajorVersion"), stored) != RegStatus::Ok)
                    throw RegistryTypeError{};
                if (int32_t(stored) == majorVersion)
                    result = readLocation(*beta);
            }
        }
        if (result.isEmpty())
            if (auto normal = OpenUninstallKey(UninstallKey[0]))
                result = readLocation(*normal);
    } catch (const RegistryTypeError&) {
    }
    if (result.isEmpty())
        result = GetSpecialFolder(nullptr, platform::CSIDL_PROGRAM_FILES) + ProductFolderName[0];
    return result;
}

bool IsBetaProduct()
{
    if (BetaState != -1)
        return BetaState == 1;
    const QString name = GetProductInstallFolder(11) + QStringLiteral("Update\\Update.ini");
    const QString native = platform::WinePrefix::toNativePath(name);
    if (native.isEmpty() || !QFileInfo(native).isFile())
        return false; // looked for again at the next call
    try {
        PSafeIniFile::TIniFile settings(native);
        BetaState = settings.ReadInteger(QStringLiteral("Beta"), QStringLiteral("ver11"), 0);
    } catch (...) {
        if (BetaState == -1)
            BetaState = 0;
    }
    return BetaState == 1;
}

QString GetSpecialFolder(QWidget* ownerWindow, int32_t folderId)
{
    Q_UNUSED(ownerWindow);
    const QString answer = shellFolder(folderId);
    if (answer.size() > 2)
        return answer;

    const char* variable = nullptr;
    switch (folderId) {
    case platform::CSIDL_APPDATA:
        variable = "APPDATA";
        break;
    case platform::CSIDL_LOCAL_APPDATA:
        variable = "LOCALAPPDATA";
        break;
    case platform::CSIDL_COMMON_APPDATA:
        variable = "ProgramData";
        break;
    case platform::CSIDL_PROGRAM_FILES:
        variable = IsWow64() ? "ProgramFiles(x86)" : "ProgramFiles";
        break;
    case platform::CSIDL_PROFILE:
        variable = "USERPROFILE";
        break;
    case platform::CSIDL_PROGRAM_FILES_COMMON:
        variable = IsWow64() ? "CommonProgramFiles(x86)" : "CommonProgramFiles";
        break;
    default:
        return answer;
    }
    const QString fromEnvironment = TrimBlanks(platform::GetEnvironmentVariable(QLatin1String(variable)));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;

    const QString drive = systemDrive();
    const bool modern = platform::WinePrefix::windowsVersion().major > 5;
    switch (folderId) {
    case platform::CSIDL_APPDATA:
        return modern ? drive + QStringLiteral("\\Users\\") + GetCurrentUserName() +
                            QStringLiteral("\\AppData\\Roaming")
                      : drive + QStringLiteral("\\Documents and Settings\\") + GetCurrentUserName() +
                            QStringLiteral("\\Application Data");
    case platform::CSIDL_LOCAL_APPDATA:
        return modern ? drive + QStringLiteral("\\Users\\") + GetCurrentUserName() +
                            QStringLiteral("\\AppData\\Local")
                      : drive + QStringLiteral("\\Documents and Settings\\") + GetCurrentUserName() +
                            QStringLiteral("\\Local Settings\\Application Data");
    case platform::CSIDL_COMMON_APPDATA:
        return modern ? drive + QStringLiteral("\\ProgramData")
                      : drive + QStringLiteral("\\Documents and Settings\\All Users\\Application Data");
    case platform::CSIDL_PROGRAM_FILES:
        return drive +
               (IsWow64() ? QStringLiteral("\\Program Files (x86)") : QStringLiteral("\\Program Files"));
    case platform::CSIDL_PROFILE:
        return modern ? drive + QStringLiteral("\\Users\\") + GetCurrentUserName()
                      : drive + QStringLiteral("\\Documents and Settings\\") + GetCurrentUserName();
    case platform::CSIDL_PROGRAM_FILES_COMMON:
        return drive + (IsWow64() ? QStringLiteral("\\Program Files (x86)\\Common Files")
                                  : QStringLiteral("\\Program Files\\Common Files"));
    default:
        return answer;
    }
}

bool IsWow64()
{
    return platform::WinePrefix::is64Bit();
}

QString GetCurrentUserName()
{
    const QString name = platform::LoginName();
    // The name must fit a buffer of 255 characters with its terminator.
    return name.size() >= 255 ? QString() : name;
}

} // namespace env
