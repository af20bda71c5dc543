#pragma once
// The product's Windows world as seen from here: a Wine prefix ($WINEPREFIX, else ~/.wine).
// Drive letters map through the prefix's dosdevices links (c: -> ../drive_c, z: -> /), and path
// components are matched case-insensitively when the exact spelling does not exist, as Windows
// and Wine do.

#include <QString>

namespace platform {

struct WindowsVersion
{
    int major = 10;
    int minor = 0;
};

class WinePrefix
{
public:
    // The prefix in force: $WINEPREFIX, else ~/.wine.
    static QString path();

    static QString systemHivePath(); // HKEY_LOCAL_MACHINE
    static QString userHivePath();   // HKEY_CURRENT_USER

    // True for a "#arch=win64" prefix (and for one that does not say, as Wine's default).
    static bool is64Bit();

    // The Windows version the prefix is configured to report; Wine's default is 10.0.
    static WindowsVersion windowsVersion();

    // "C:\Program Files (x86)\X" -> "<prefix>/drive_c/Program Files (x86)/X". A path that is
    // not a drive path (already native) is returned unchanged; an unknown drive gives "".
    static QString toNativePath(const QString& windowsPath);
    // The reverse, preferring a real drive over z:. Returns "" when no drive covers the path.
    static QString toWindowsPath(const QString& nativePath);
    static bool isWindowsPath(const QString& path);
    // A native path found the Windows way: each component missing in its exact spelling is
    // replaced by an existing entry that differs only in letter case. Where nothing matches, the
    // rest of the path is kept as given.
    static QString resolveNativePath(const QString& nativePath);
};

} // namespace platform
