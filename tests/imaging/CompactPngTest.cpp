// The screenshot's PNG: Wu's palette against a uniform one, the 8-bit and 4-bit files as libpng
// writes them, and the choice between colour and grey by size code.
#include "imaging/CompactPng.h"
#include "imaging/WuQuantizer.h"
#include "support/ImageQuality.h"
#include "support/TempDir.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

using imaging::CompactPng;
using imaging::WuQuantizer;

namespace {

QImage Decode(const QByteArray& png)
{
    QImage image;
    image.loadFromData(png, "PNG");
    return image;
}

// The colour picture PngSuite's colour images composite onto white, as a screen would show them.
QImage OnWhite(const QImage& image)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter(&flat).drawImage(0, 0, image);
    return flat;
}

// A uniform 6×7×6 palette: what a quantizer must clearly beat.
QImage UniformPalette(const QImage& image)
{
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            auto level = [](int v, int n) { return (v * (n - 1) + 127) / 255 * 255 / (n - 1); };
            row[x] = qRgb(level(qRed(row[x]), 6), level(qGreen(row[x]), 7), level(qBlue(row[x]), 6));
        }
    }
    return out;
}

QImage Gradients(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x + y) % 256));
    return image;
}

} // namespace

TEST(WuQuantizer, BeatsAUniformPaletteOnPngSuiteColourImages)
{
    const QDir suite(testsupport::TestDataDir() + "/pngsuite/png");
    QStringList names = suite.entryList({"???n2c*.png", "???n6a*.png"});
    names.removeIf([](const QString& n) { return n.startsWith('x'); }); // the broken ones
    ASSERT_GE(names.size(), 10) << suite.path().toStdString();
    for (const QString& name : names) {
        const QImage original = OnWhite(QImage(suite.filePath(name)));
        ASSERT_FALSE(original.isNull()) << name.toStdString();
        const QByteArray png = CompactPng::encodeColour(original);
        const QImage decoded = Decode(png);
        ASSERT_EQ(decoded.format(), QImage::Format_Indexed8) << name.toStdString();
        EXPECT_LE(decoded.colorCount(), 256);
        const double wu = crashtest::Psnr(original, decoded);
        const double uniform = crashtest::Psnr(original, UniformPalette(original));
        EXPECT_GT(wu, uniform + 3.0) << name.toStdString() << ": " << wu << " dB vs uniform " << uniform;
        EXPECT_GT(wu, 30.0) << name.toStdString();
    }
}

TEST(WuQuantizer, FewColoursComeBackExactly)
{
    QImage image(64, 48, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(64, 64, 64), qRgb(212, 208, 200),
                            qRgb(0, 120, 215)};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, colours[(x / 7 + y / 5) % 5]);
    const QList<QRgb> palette = WuQuantizer::buildPalette(image, 256);
    EXPECT_EQ(palette.size(), 5);
    EXPECT_TRUE(std::isinf(crashtest::Psnr(image, WuQuantizer::quantize(image))));
    // One colour only, and a palette limited to two.
    QImage flat(10, 10, QImage::Format_RGB32);
    flat.fill(qRgb(1, 2, 3));
    EXPECT_EQ(WuQuantizer::buildPalette(flat, 256), QList<QRgb>({qRgb(1, 2, 3)}));
    EXPECT_EQ(WuQuantizer::buildPalette(image, 2).size(), 2);
    EXPECT_TRUE(WuQuantizer::buildPalette(QImage(), 256).isEmpty());
}

TEST(CompactPng, GreyPictureHasSixteenLevelsPackedInFourBits)
{
    const QImage image = Gradients(101, 37); // odd width: the last byte of a row holds one pixel
    const QByteArray png = CompactPng::encodeGrey(image);
    ASSERT_FALSE(png.isEmpty());
    EXPECT_EQ(png.at(24), 4) << "bit depth";
    EXPECT_EQ(png.at(25), 3) << "palette colour type";
    const QImage decoded = Decode(png);
    ASSERT_EQ(decoded.size(), image.size());
    for (int y = 0; y < image.height(); y += 5)
        for (int x = 0; x < image.width(); x += 3) {
            const QRgb p = image.pixel(x, y);
            const int brightness = (77 * qRed(p) + 151 * qGreen(p) + 28 * qBlue(p)) / 256;
            int nearest = 0;
            for (int level : CompactPng::GreyLevels)
                if (std::abs(level - brightness) < std::abs(nearest - brightness))
                    nearest = level;
            ASSERT_EQ(qGray(decoded.pixel(x, y)), nearest) << x << "," << y;
            ASSERT_EQ(qRed(decoded.pixel(x, y)), qBlue(decoded.pixel(x, y)));
        }
}

TEST(CompactPng, SizeCodeChoosesBetweenColourAndGrey)
{
    EXPECT_EQ(CompactPng::sizeCodeForDepth(4), 1);
    EXPECT_EQ(CompactPng::sizeCodeForDepth(102400), 3);
    EXPECT_EQ(CompactPng::sizeCodeForDepth(8), 0);
    EXPECT_EQ(CompactPng::sizeCodeForDepth(24), 0);

    // Noise makes a colour PNG far over 100 KB; its grey version is smaller.
    QImage noise(400, 400, QImage::Format_RGB32);
    auto* random = QRandomGenerator::global();
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, random->generate() | 0xff000000u);
    const QByteArray colour = CompactPng::encodeColour(noise);
    const QByteArray grey = CompactPng::encodeGrey(noise);
    ASSERT_GT(colour.size(), 102400);
    ASSERT_LT(grey.size(), colour.size());
    EXPECT_EQ(CompactPng::encode(noise, 3), grey);
    EXPECT_EQ(CompactPng::encode(noise, 0), colour) << "code 0 keeps colour whatever its size";
    EXPECT_EQ(CompactPng::encode(noise, 1), grey);

    // Under the limit the colour picture stays even when grey would be smaller.
    const QImage small = Gradients(64, 64);
    EXPECT_EQ(CompactPng::encode(small, 3), CompactPng::encodeColour(small));
    EXPECT_TRUE(CompactPng::encode(QImage(), 0).isEmpty());

    testsupport::TempDir dir;
    EXPECT_TRUE(CompactPng::write(small, dir.file("shot.png"), 0));
    EXPECT_EQ(QImageReader(dir.file("shot.png")).size(), QSize(64, 64));
    EXPECT_FALSE(CompactPng::write(small, dir.file("missing/folder/shot.png"), 0));
}
