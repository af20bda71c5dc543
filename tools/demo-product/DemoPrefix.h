#pragma once
// Lays out a Wine prefix as one with the product installed: its uninstall keys, its program,
// its skin bundles, its update settings and the user's Main.ini. The program installed as
// Kry.exe is whatever the caller names (the demo uses the stand-in product).

#include <QString>

namespace demo {

struct DemoPrefixOptions
{
    QString toolFolder; // holds rcc.exe (and classic/ and public/ when stockFolder is empty)
    // Holds the pristine classic/ and public/ the stock bundles are built from; a tool folder's
    // copies carry what earlier Makes stamped into them.
    QString stockFolder;
    QString productProgram; // installed as Kry.exe
    bool beta = false;      // the beta edition's key, Update.ini ver11=1 and its own data folder
    QString arch = QStringLiteral("win64");
    QString userName; // default: the login name, as Wine uses it
};

class DemoPrefix
{
public:
    // Returns an empty string on success, else what went wrong.
    static QString create(const QString& prefixPath, const DemoPrefixOptions& options);

    // "C:\Program Files (x86)\Orlix\Mirelune" on a 64-bit prefix, without "(x86)" on a 32-bit one.
    static QString installLocation(const QString& arch);
    static QString loginName();
};

} // namespace demo
