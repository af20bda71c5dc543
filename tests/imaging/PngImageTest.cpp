// The PNG picture class itself: blank pictures, pixel and palette access, canvas, partial drawing,
// the QImage view, streams and saving.

#include "PngTestSupport.h"

#include "imaging/EPNGError.h"

#include <QBuffer>
#include <QPainter>

#include <zlib.h>

using imaging::PngColorType;
using imaging::TPngImage;
using namespace imagingtest;

TEST(PngImage, BlankPicturesHaveTheRequestedLayout)
{
    const TPngImage mask(PngColorType::Rgb, 8, 1, 1);
    EXPECT_EQ(mask.Size(), QSize(1, 1));
    EXPECT_EQ(mask.BitsPerPixel(), 24);
    EXPECT_EQ(mask.BytesPerRow(), 4);
    EXPECT_FALSE(mask.HasTransparency());
    EXPECT_EQ(mask.Pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_EQ(mask.Pixel(1, 0), 0u) << "outside the picture";
    EXPECT_EQ(mask.Scanline(1), nullptr);

    const TPngImage grey(PngColorType::Grayscale, 2, 5, 3);
    EXPECT_EQ(grey.BitsPerPixel(), 8);
    EXPECT_EQ(grey.BytesPerRow(), 8);
    EXPECT_EQ(grey.PaletteCount(), 4);
    EXPECT_EQ(grey.PaletteEntry(3), qRgb(255, 255, 255));
    EXPECT_EQ(grey.PaletteEntry(1), qRgb(85, 85, 85));

    EXPECT_THROW(TPngImage(PngColorType::Rgb, 4, 2, 2), imaging::EPNGError);
    EXPECT_THROW(TPngImage(PngColorType::Rgb, 8, 0, 2), imaging::EPNGError);

    TPngImage resized(PngColorType::RgbAlpha, 8, 2, 2);
    resized.SetPixel(0, 0, qRgba(1, 2, 3, 4));
    resized.SetSize(30, 20);
    EXPECT_EQ(resized.Size(), QSize(30, 20));
    EXPECT_EQ(resized.BytesPerRow(), 120);
    EXPECT_EQ(resized.Pixel(0, 0), 0u) << "resizing starts blank";
}

TEST(PngImage, PixelAlphaAndPaletteAccessFollowTheLayout)
{
    TPngImage rgba(PngColorType::RgbAlpha, 8, 3, 2);
    rgba.SetPixel(2, 1, qRgba(10, 20, 30, 40));
    EXPECT_EQ(rgba.Pixel(2, 1), qRgba(10, 20, 30, 40));
    const uint8_t* row = rgba.Scanline(1);
    EXPECT_EQ(row[8], 30) << "blue first: the bytes of QImage::Format_ARGB32";
    EXPECT_EQ(row[11], 40);
    rgba.SetAlpha(2, 1, 200);
    EXPECT_EQ(rgba.Alpha(2, 1), 200);

    TPngImage rgb(PngColorType::Rgb, 16, 2, 2);
    rgb.SetPixel(1, 1, qRgb(0x12, 0x34, 0x56));
    EXPECT_EQ(rgb.Pixel16(1, 1)[1], 0x3434);
    rgb.SetAlpha(1, 1, 0); // no alpha channel: ignored
    EXPECT_EQ(rgb.Alpha(1, 1), 255);

    TPngImage palette;
    palette.LoadFromFile(SuitePng(QStringLiteral("tbbn3p08")));
    ASSERT_EQ(palette.ColorType(), PngColorType::Palette);
    EXPECT_TRUE(palette.HasTransparency());
    const int count = palette.PaletteCount();
    ASSERT_GT(count, 2);
    // The nearest entry wins, alpha included.
    const QRgb wanted = palette.PaletteEntry(count - 1);
    palette.SetPixel(0, 0, qRgba(qRed(wanted), qGreen(wanted), qBlue(wanted) ^ 1, qAlpha(wanted)));
    EXPECT_EQ(palette.Scanline(0)[0], count - 1);
    palette.SetPaletteEntry(count - 1, qRgba(1, 2, 3, 128));
    EXPECT_EQ(palette.Pixel(0, 0), qRgba(1, 2, 3, 128));
    palette.SetPaletteEntry(count, qRgb(9, 9, 9)); // past the palette: ignored
    EXPECT_EQ(palette.PaletteEntry(count), qRgb(0, 0, 0));

    // A changed palette is what gets saved.
    TPngImage reloaded;
    reloaded.LoadFromData(palette.SaveToData());
    EXPECT_EQ(reloaded.Pixel(0, 0), qRgba(1, 2, 3, 128));
    EXPECT_EQ(reloaded.ColorType(), PngColorType::Palette);
    EXPECT_EQ(reloaded.BitDepth(), 8);
}

TEST(PngImage, TheViewIsTheDecodedPixelsWithoutACopy)
{
    for (const char* name : {"basn6a08", "basn2c08", "basn3p04", "basn0g16"}) {
        SCOPED_TRACE(name);
        TPngImage image;
        image.LoadFromFile(SuitePng(QString::fromLatin1(name)));
        const QImage view = image.View();
        ASSERT_FALSE(view.isNull());
        EXPECT_EQ(view.constBits(), image.Scanline(0));
        EXPECT_EQ(view.bytesPerLine(), image.BytesPerRow());
        for (int y = 0; y < image.Height(); y += 5)
            for (int x = 0; x < image.Width(); x += 3)
                ASSERT_EQ(view.pixel(x, y), image.Pixel(x, y)) << x << "," << y;
    }
    EXPECT_TRUE(TPngImage().View().isNull());
}

TEST(PngImage, PartialDrawScalesTheSourceAndBlendsByAlphaAndOpacity)
{
    // Left half opaque red, right half transparent.
    TPngImage image(PngColorType::RgbAlpha, 8, 4, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            image.SetPixel(x, y, qRgba(255, 0, 0, 255));
    QImage target(8, 8, QImage::Format_ARGB32);
    target.fill(qRgb(0, 0, 255));
    {
        QPainter painter(&target);
        image.Draw(painter, QRect(0, 0, 8, 4), QRect(0, 0, 4, 2));      // scaled 2x
        image.Draw(painter, QRect(0, 4, 4, 4), QRect(0, 0, 2, 2), 128); // half opacity
        image.Draw(painter, QRect(4, 4, -4, 4), QRect(0, 0, 2, 2));     // empty piece: nothing
    }
    EXPECT_EQ(target.pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(3, 3), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(6, 1), qRgb(0, 0, 255)) << "transparent source keeps the background";
    const QRgb half = target.pixel(2, 6);
    EXPECT_NEAR(qRed(half), 128, 2);
    EXPECT_NEAR(qBlue(half), 127, 2);
    EXPECT_EQ(target.pixel(6, 6), qRgb(0, 0, 255));

    // Palette transparency (tRNS) blends the same way.
    TPngImage palette;
    palette.LoadFromFile(SuitePng(QStringLiteral("tbbn3p08")));
    QImage onWhite(32, 32, QImage::Format_ARGB32);
    onWhite.fill(Qt::white);
    {
        QPainter painter(&onWhite);
        palette.DrawPartial(painter, QRect(0, 0, 32, 32), QRect(0, 0, 32, 32));
    }
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const QRgb p = palette.Pixel(x, y);
            if (qAlpha(p) == 0) {
                ASSERT_EQ(onWhite.pixel(x, y), qRgb(255, 255, 255));
            } else if (qAlpha(p) == 255) {
                ASSERT_EQ(onWhite.pixel(x, y), p);
            }
        }
}

TEST(PngImage, TheCanvasDrawsOnTheImageAndSavingKeepsIt)
{
    TPngImage palette;
    palette.LoadFromFile(SuitePng(QStringLiteral("basn3p02")));
    QPainter& canvas = palette.Canvas();
    canvas.fillRect(QRect(0, 0, 8, 8), QColor(10, 200, 30));
    EXPECT_TRUE(palette.HasCanvas());
    EXPECT_EQ(palette.ColorType(), PngColorType::Rgb) << "a palette picture becomes RGB to be drawn on";
    EXPECT_EQ(palette.Pixel(4, 4), qRgb(10, 200, 30));
    palette.ReleaseCanvas();
    EXPECT_FALSE(palette.HasCanvas());

    TPngImage reloaded;
    reloaded.LoadFromData(palette.SaveToData());
    EXPECT_EQ(reloaded.Pixel(4, 4), qRgb(10, 200, 30));
    EXPECT_EQ(reloaded.Pixel(20, 20), palette.Pixel(20, 20));

    // A 16-bit picture is drawn on at 8 bits per sample.
    TPngImage wide;
    wide.LoadFromFile(SuitePng(QStringLiteral("basn6a16")));
    wide.Canvas().fillRect(QRect(0, 0, 1, 1), Qt::black);
    wide.ReleaseCanvas();
    EXPECT_EQ(wide.BitDepth(), 8);
    EXPECT_EQ(wide.ExtraScanline(0), nullptr);
    EXPECT_EQ(wide.Pixel(0, 0), qRgb(0, 0, 0));

    EXPECT_THROW(TPngImage().Canvas(), imaging::EPNGError);
}

TEST(PngImage, AssignCopiesAndStreamsStopAfterTheirPicture)
{
    TPngImage source;
    source.LoadFromFile(SuitePng(QStringLiteral("basn4a08")));
    TPngImage copy;
    copy = source;
    EXPECT_NE(copy.Scanline(0), source.Scanline(0)) << "without the list a copy has its own pixels";
    std::string first;
    EXPECT_EQ(CompareWithReference(copy, ReferencePixels(QStringLiteral("basn4a08")), first), 0) << first;
    copy = TPngImage();
    EXPECT_TRUE(copy.Empty());
    EXPECT_THROW(copy.SaveToData(), imaging::EPNGError);

    QImage qimage(3, 2, QImage::Format_ARGB32);
    qimage.fill(qRgba(7, 8, 9, 10));
    copy.Assign(qimage);
    EXPECT_EQ(copy.ColorType(), PngColorType::RgbAlpha);
    EXPECT_EQ(copy.Pixel(2, 1), qRgba(7, 8, 9, 10));

    // Two pictures in one stream: each load stops after its IEND.
    QByteArray both = testsupport::ReadAll(SuitePng(QStringLiteral("basn0g01"))) +
                      testsupport::ReadAll(SuitePng(QStringLiteral("basn2c08")));
    QBuffer buffer(&both);
    buffer.open(QIODevice::ReadOnly);
    TPngImage a, b;
    a.LoadFromStream(buffer);
    b.LoadFromStream(buffer);
    EXPECT_TRUE(buffer.atEnd());
    EXPECT_EQ(a.BitDepth(), 1);
    EXPECT_EQ(b.ColorType(), PngColorType::Rgb);
    EXPECT_EQ(CompareWithReference(b, ReferencePixels(QStringLiteral("basn2c08")), first), 0) << first;
}

TEST(PngImage, FilesThatCannotBeReadOrWrittenRaiseClearErrors)
{
    TPngImage image;
    try {
        image.LoadFromFile(QStringLiteral("/nonexistent/picture.png"));
        ADD_FAILURE() << "no error";
    } catch (const imaging::EPNGError& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("/nonexistent/picture.png")));
    }
    image.LoadFromFile(SuitePng(QStringLiteral("basn0g08")));
    EXPECT_THROW(image.SaveToFile(QStringLiteral("/nonexistent/out.png")), imaging::EPNGError);

    testsupport::TempDir dir;
    image.SaveToFile(dir.file(QStringLiteral("out.png")));
    TPngImage again;
    again.LoadFromFile(dir.file(QStringLiteral("out.png")));
    std::string first;
    EXPECT_EQ(CompareWithReference(again, ReferencePixels(QStringLiteral("basn0g08")), first), 0) << first;

    // A stored picture whose compressed data is broken loads (nothing is decoded yet) and reports
    // the failure when its pixels are first used.
    QByteArray broken = testsupport::ReadAll(SuitePng(QStringLiteral("basn0g08")));
    const qsizetype idat = broken.indexOf("IDAT");
    broken[idat + 4] = char(0xFF); // bad zlib header; fix the CRC so only the data is wrong
    const auto* len = reinterpret_cast<const uint8_t*>(broken.constData() + idat - 4);
    const QByteArray body =
        broken.mid(idat, 4 + qsizetype(uint32_t(len[0]) << 24 | len[1] << 16 | len[2] << 8 | len[3]));
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()));
    for (int i = 0; i < 4; ++i)
        broken[idat + body.size() + i] = char(crc >> (24 - 8 * i));
    EXPECT_THROW(TPngImage().LoadFromData(broken), imaging::EPNGError);
    SharingScope shared(true);
    TPngImage deferred;
    deferred.LoadFromData(broken);
    EXPECT_TRUE(deferred.DecodeError().isEmpty());
    EXPECT_EQ(deferred.Pixel(0, 0), qRgb(0, 0, 0));
    EXPECT_FALSE(deferred.DecodeError().isEmpty());
}

// Indices past the end of the palette read as opaque black; such a picture must save and reload
// (libpng refuses to write indices its palette does not cover), with and without sharing.
TEST(PngImage, PalettePicturesWithIndicesPastThePaletteSaveAndReload)
{
    const QByteArray plte("\xFF\x00\x00\x00\xFF\x00", 6); // red, green
    const QByteArray raw("\x00\x00\x01\x05\xC8", 5);      // one row: 0, 1, 5, 200
    for (const bool sharing : {false, true}) {
        SharingScope scope(sharing);
        TPngImage image;
        image.LoadFromData(MakePng(4, 1, 8, 3, raw, plte));
        ASSERT_EQ(image.PaletteCount(), 2);
        EXPECT_EQ(image.Pixel(0, 0), qRgb(255, 0, 0));
        EXPECT_EQ(image.Pixel(2, 0), qRgb(0, 0, 0));
        // Decoded, so the save encodes the pixels.
        QByteArray saved;
        ASSERT_NO_THROW(saved = image.SaveToData());
        TPngImage again;
        ASSERT_NO_THROW(again.LoadFromData(saved));
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(again.Pixel(x, 0), image.Pixel(x, 0)) << "pixel " << x << (sharing ? " shared" : "");
    }
}
