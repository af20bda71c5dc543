// The stand-in product. Installed in a demo prefix as Kry.exe, it does what the skin tool relies
// on the real product doing at start: read `Skin` from Main.ini and load Skin/<skin>.rcc and
// Skin/public.rcc. It appends what it loaded (or why it could not) to Kry.log beside itself, then
// runs until it is stopped, as the product would. `--exit` makes it end after loading.
#include "platform/Registry.h"
#include "platform/WinePrefix.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QResource>
#include <QTextStream>

namespace {

QString logPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Kry.log");
}

void log(const QString& line)
{
    QFile f(logPath());
    if (f.open(QIODevice::Append | QIODevice::Text))
        f.write(QStringLiteral("%1 pid=%2 %3\n")
                    .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                    .arg(QCoreApplication::applicationPid())
                    .arg(line)
                    .toUtf8());
}

QString decode(const QByteArray& bytes)
{
    if (bytes.startsWith("\xff\xfe"))
        return QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                  (bytes.size() - 2) / 2);
    if (bytes.startsWith("\xef\xbb\xbf"))
        return QString::fromUtf8(bytes.mid(3));
    return QString::fromUtf8(bytes);
}

// The value of `key` in `section` of an ini text; section and key names ignore case.
QString iniValue(const QString& text, const QString& section, const QString& key)
{
    bool inSection = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line.mid(1, line.indexOf(QLatin1Char(']')) - 1)
                            .trimmed()
                            .compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (inSection && eq > 0 && line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

QString readText(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? decode(f.readAll()) : QString();
}

QString dataFolder(const QString& installFolder)
{
    using namespace platform;
    QString appData;
    if (auto key = RegistryKey::open(
            RootKey::CurrentUser,
            QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")))
        key->readString(QStringLiteral("AppData"), appData);
    const bool beta = iniValue(readText(installFolder + QStringLiteral("/Update/Update.ini")),
                               QStringLiteral("Beta"), QStringLiteral("ver11")) == QLatin1String("1");
    return WinePrefix::toNativePath(appData) +
           (beta ? QStringLiteral("/Orlix/Mirelune Beta") : QStringLiteral("/Orlix/Mirelune"));
}

bool loadSkin()
{
    const QString install = QCoreApplication::applicationDirPath();
    const QString mainIni = dataFolder(install) + QStringLiteral("/Main.ini");
    if (!QFile::exists(mainIni)) {
        log(QStringLiteral("error: no settings file %1").arg(mainIni));
        return false;
    }
    const QString skin = iniValue(readText(mainIni), QStringLiteral("Main"), QStringLiteral("Skin"));
    if (skin.isEmpty()) {
        log(QStringLiteral("error: %1 names no skin").arg(mainIni));
        return false;
    }
    const QString bundle = install + QStringLiteral("/Skin/") + skin + QStringLiteral(".rcc");
    if (!QResource::registerResource(bundle)) {
        log(QStringLiteral("error: cannot load skin bundle %1").arg(bundle));
        return false;
    }
    const QString publicBundle = install + QStringLiteral("/Skin/public.rcc");
    const bool publicLoaded = QResource::registerResource(publicBundle);

    const QString root = QStringLiteral(":/") + skin;
    const QString skinName = iniValue(readText(root + QStringLiteral("/color_setting.ini")),
                                      QStringLiteral("validate"), QStringLiteral("skinname"));
    QStringList pictures;
    QDirIterator it(root + QStringLiteral("/images"), QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().isFile())
            pictures << it.fileName();
    }
    pictures.sort();
    log(QStringLiteral("loaded skin=%1 root=%2 skinname=%3 pictures=%4 public=%5 preview=%6")
            .arg(skin, root, skinName, pictures.join(QLatin1Char(',')),
                 publicLoaded ? QStringLiteral("loaded") : QStringLiteral("missing"),
                 QFile::exists(QStringLiteral(":/public/preview/preview_%1.png").arg(skin))
                     ? QStringLiteral("yes")
                     : QStringLiteral("no")));
    return !pictures.isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool loaded = loadSkin();
    if (app.arguments().contains(QStringLiteral("--exit")))
        return loaded ? 0 : 1;
    return app.exec();
}
