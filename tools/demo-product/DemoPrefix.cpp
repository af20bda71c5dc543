#include "demo-product/DemoPrefix.h"

#include "demo-product/HiveWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace demo {
namespace {

const QString kUninstall = QStringLiteral("Microsoft\\Windows\\CurrentVersion\\Uninstall\\");

bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

bool copyTree(const QString& from, const QString& to)
{
    QDir source(from);
    if (!source.exists() || !QDir().mkpath(to))
        return false;
    for (const QFileInfo& entry :
         source.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + QLatin1Char('/') + entry.fileName();
        if (entry.isDir() ? !copyTree(entry.filePath(), target) : !QFile::copy(entry.filePath(), target))
            return false;
    }
    return true;
}

QString runRcc(const QString& rcc, const QString& workingFolder, const QStringList& arguments)
{
    QProcess process;
    process.setWorkingDirectory(workingFolder);
    process.start(rcc, arguments);
    if (!process.waitForFinished(120000) || process.exitCode() != 0)
        return QStringLiteral("%1 %2 failed: %3")
            .arg(rcc, arguments.join(QLatin1Char(' ')),
                 QString::fromLocal8Bit(process.readAllStandardError()));
    return {};
}

// The stock bundle of one working folder, the way the tool itself builds them.
QString buildBundle(const QString& rcc, const QString& sourceFolder, const QString& name,
                    const QString& bundlePath)
{
    QTemporaryDir scratch;
    const QString copy = scratch.path() + QStringLiteral("/src");
    if (!copyTree(sourceFolder, copy))
        return QStringLiteral("cannot copy %1").arg(sourceFolder);
    const QString project = scratch.path() + QLatin1Char('/') + name + QStringLiteral(".qrc");
    QString error = runRcc(rcc, copy, {QStringLiteral("-o"), project, QStringLiteral("-project")});
    if (!error.isEmpty())
        return error;
    QFile::copy(project, copy + QLatin1Char('/') + name + QStringLiteral(".qrc"));
    QDir().mkpath(QFileInfo(bundlePath).absolutePath());
    return runRcc(rcc, copy,
                  {QStringLiteral("-binary"), copy + QLatin1Char('/') + name + QStringLiteral(".qrc"),
                   QStringLiteral("-o"), bundlePath, QStringLiteral("-no-compress"), QStringLiteral("-root"),
                   QLatin1Char('/') + name});
}

QString nativeOf(const QString& prefix, const QString& windowsPath)
{
    QString rest = windowsPath.mid(3); // after "C:\"
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return prefix + QStringLiteral("/drive_c/") + rest;
}

} // namespace

QString DemoPrefix::loginName()
{
    QString name = qEnvironmentVariable("USER");
    if (name.isEmpty())
        name = qEnvironmentVariable("LOGNAME");
    if (name.isEmpty())
        name = QDir::home().dirName();
    return name.isEmpty() ? QStringLiteral("root") : name;
}

QString DemoPrefix::installLocation(const QString& arch)
{
    return arch == QLatin1String("win32") ? QStringLiteral("C:\\Program Files\\Orlix\\Mirelune")
                                          : QStringLiteral("C:\\Program Files (x86)\\Orlix\\Mirelune");
}

QString DemoPrefix::create(const QString& prefixPath, const DemoPrefixOptions& options)
{
    const QString prefix = QDir(prefixPath).absolutePath();
    const QString user = options.userName.isEmpty() ? loginName() : options.userName;
    const bool win64 = options.arch != QLatin1String("win32");
    const QString location = installLocation(options.arch);
    const QString software = win64 ? QStringLiteral("Software\\Wow6432Node\\") : QStringLiteral("Software\\");
    const QString appData = QStringLiteral("C:\\users\\%1\\AppData\\Roaming").arg(user);

    if (!QDir().mkpath(prefix + QStringLiteral("/dosdevices")) ||
        !QDir().mkpath(prefix + QStringLiteral("/drive_c/windows/system32")))
        return QStringLiteral("cannot create %1").arg(prefix);
    QFile::remove(prefix + QStringLiteral("/dosdevices/c:"));
    QFile::remove(prefix + QStringLiteral("/dosdevices/z:"));
    QFile::link(QStringLiteral("../drive_c"), prefix + QStringLiteral("/dosdevices/c:"));
    QFile::link(QStringLiteral("/"), prefix + QStringLiteral("/dosdevices/z:"));
    writeFile(prefix + QStringLiteral("/drive_c/windows/system32/kernel32.dll"), QByteArray());

    HiveWriter system(QStringLiteral("REGISTRY\\\\Machine"), options.arch);
    system.key(QStringLiteral("Software\\Microsoft\\Windows NT\\CurrentVersion"))
        .string(QStringLiteral("CurrentVersion"), QStringLiteral("6.3"))
        .dword(QStringLiteral("CurrentMajorVersionNumber"), 10)
        .dword(QStringLiteral("CurrentMinorVersionNumber"), 0)
        .string(QStringLiteral("ProductName"), QStringLiteral("Windows 10 Pro"));
    system.key(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"))
        .string(QStringLiteral("Common AppData"), QStringLiteral("C:\\ProgramData"));
    system.key(software + kUninstall + QStringLiteral("Mirelune_is1"))
        .string(QStringLiteral("InstallLocation"), location)
        .string(QStringLiteral("DisplayName"), QStringLiteral("Mirelune 11"))
        .dword(QStringLiteral("MajorVersion"), 11);
    if (options.beta)
        system.key(software + kUninstall + QStringLiteral("Mirelune Beta_is1"))
            .string(QStringLiteral("InstallLocation"), location)
            .string(QStringLiteral("DisplayName"), QStringLiteral("Mirelune 11 Beta"))
            .dword(QStringLiteral("MajorVersion"), 11);
    if (!system.save(prefix + QStringLiteral("/system.reg")))
        return QStringLiteral("cannot write system.reg");

    HiveWriter userHive(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"), options.arch);
    userHive.key(QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"))
        .string(QStringLiteral("AppData"), appData)
        .string(QStringLiteral("Local AppData"), QStringLiteral("C:\\users\\%1\\AppData\\Local").arg(user))
        .string(QStringLiteral("Personal"), QStringLiteral("C:\\users\\%1\\Documents").arg(user))
        .string(QStringLiteral("Desktop"), QStringLiteral("C:\\users\\%1\\Desktop").arg(user));
    if (!userHive.save(prefix + QStringLiteral("/user.reg")))
        return QStringLiteral("cannot write user.reg");

    const QString install = nativeOf(prefix, location);
    if (!QDir().mkpath(install + QStringLiteral("/Skin")) ||
        !QDir().mkpath(install + QStringLiteral("/Update")))
        return QStringLiteral("cannot create %1").arg(install);
    if (!options.productProgram.isEmpty()) {
        QFile::remove(install + QStringLiteral("/Kry.exe"));
        if (!QFile::copy(options.productProgram, install + QStringLiteral("/Kry.exe")))
            return QStringLiteral("cannot install %1 as Kry.exe").arg(options.productProgram);
    }
    writeFile(install + QStringLiteral("/Update/Update.ini"),
              QStringLiteral("[Beta]\r\nver11=%1\r\n").arg(options.beta ? 1 : 0).toLatin1());

    if (!options.toolFolder.isEmpty()) {
        const QString rcc = options.toolFolder + QStringLiteral("/rcc.exe");
        const QString stock = options.stockFolder.isEmpty() ? options.toolFolder : options.stockFolder;
        for (const QString& name : {QStringLiteral("classic"), QStringLiteral("public")}) {
            QFile::remove(install + QStringLiteral("/Skin/") + name + QStringLiteral(".rcc"));
            const QString error =
                buildBundle(rcc, stock + QLatin1Char('/') + name, name,
                            install + QStringLiteral("/Skin/") + name + QStringLiteral(".rcc"));
            if (!error.isEmpty())
                return error;
        }
    }

    const QString dataFolder =
        nativeOf(prefix, appData) +
        (options.beta ? QStringLiteral("/Orlix/Mirelune Beta") : QStringLiteral("/Orlix/Mirelune"));
    if (!writeFile(dataFolder + QStringLiteral("/Main.ini"),
                   QByteArray("[Main]\r\nSkin=classic\r\nLanguage=en\r\n")))
        return QStringLiteral("cannot write Main.ini");
    return {};
}

} // namespace demo
