#include "platform/WindowsFonts.h"

#include "platform/WinePrefix.h"

#include <QDir>

namespace platform {

QStringList WindowsFontFolders()
{
    return {QStringLiteral("/usr/share/wine/fonts"), QStringLiteral("/usr/share/fonts/truetype/wine"),
            WinePrefix::path() + QStringLiteral("/drive_c/windows/Fonts")};
}

QString FindWindowsFont(const QString& fileName)
{
    for (const QString& folder : WindowsFontFolders()) {
        const QDir dir(folder);
        if (dir.exists(fileName))
            return dir.filePath(fileName);
        for (const QString& entry : dir.entryList(QDir::Files))
            if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
                return dir.filePath(entry);
    }
    return {};
}

} // namespace platform
