#include "crash/send/ScreenshotFile.h"

#include <QFile>

namespace crash::send {

int ScreenshotSizeCode(int scrShotDepth)
{
    switch (scrShotDepth) {
    case 4:
        return 1;
    case 51200:
        return 2;
    case 102400:
        return 3;
    case 204800:
        return 4;
    case 307200:
        return 5;
    default:
        return 0;
    }
}

bool WriteScreenshotPng(const QImage& image, const QString& path, int sizeCode)
{
    if (image.isNull())
        return false;
    const QImage picture = sizeCode == 1 ? image.convertToFormat(QImage::Format_Grayscale8) : image;
    if (picture.save(path, "PNG"))
        return true;
    QFile::remove(path);
    return false;
}

} // namespace crash::send
