#include "platform/FontConfiguration.h"

#include <QFile>
#include <fontconfig/fontconfig.h>

namespace platform {

void LoadFontConfiguration()
{
    // Thread-safe: when two threads start it together, one result is kept and the other freed.
    FcInit();
}

int AddFontFilesToConfiguration(const QStringList& files)
{
    LoadFontConfiguration();
    int added = 0;
    for (const QString& file : files) {
        const QByteArray path = QFile::encodeName(file);
        if (FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(path.constData())))
            ++added;
    }
    return added;
}

} // namespace platform
