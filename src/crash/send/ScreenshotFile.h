#pragma once
// The screenshot attachment: the picture written as a PNG file, its size chosen by ScrShotDepth.

#include <QImage>
#include <QString>

namespace crash::send {

// ScrShotDepth to the writer's size code: 4 -> 1 (grey), 51200 -> 2, 102400 -> 3, 204800 -> 4,
// 307200 -> 5, anything else 0.
int ScreenshotSizeCode(int scrShotDepth);

// Writes `image` as PNG; code 1 writes it in grey. True when the file was written.
bool WriteScreenshotPng(const QImage& image, const QString& path, int sizeCode);

} // namespace crash::send
