#pragma once
// The screenshot's compact PNG: a 256-colour picture (Wu's quantizer, 8-bit palette indices) or
// a 16-level grey picture (4-bit palette indices, two pixels per byte), whichever the size code
// asks for and whichever is smaller.
//
// Size codes: 0 colour only (grey when colour fails); 1 grey only; 2 to 5 colour unless it exceeds
// 51200, 102400, 204800 or 307200 bytes, then the smaller of colour and grey.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace imaging {

class CompactPng
{
public:
    static constexpr int GreyLevels[16] = {0,   28,  52,  73,  92,  109, 125, 140,
                                           155, 170, 185, 199, 213, 227, 241, 255};

    // The PNG bytes; empty when neither picture could be built.
    static QByteArray encode(const QImage& image, int sizeCode);
    static bool write(const QImage& image, const QString& fileName, int sizeCode);

    static QByteArray encodeColour(const QImage& image);
    static QByteArray encodeGrey(const QImage& image);
    // ScrShotDepth as a size code: 4 → 1, 51200 → 2, 102400 → 3, 204800 → 4, 307200 → 5, else 0.
    static int sizeCodeForDepth(int depth);
    // The size limit of a code; 0 for none.
    static int sizeLimit(int sizeCode);
};

} // namespace imaging
