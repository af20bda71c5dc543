// Sharing of compressed and decoded data between PNG images through the process-wide list.

#include "PngTestSupport.h"

#include "imaging/Crc64.h"
#include "imaging/EPNGOutMemory.h"
#include "imaging/PngCodec.h"

#include <QPainter>

#include <zlib.h>

#include <memory>

using imaging::PngColorType;
using imaging::TPngImage;
using imaging::TPngImageData;
using imaging::TPngImageDataList;
using namespace imagingtest;

namespace {

TPngImageDataList& List()
{
    return *TPngImageDataList::Instance();
}

QByteArray Suite(const char* name)
{
    return testsupport::ReadAll(SuitePng(QString::fromLatin1(name)));
}

class PngSharing : public ::testing::Test
{
protected:
    SharingScope scope{true};
};

} // namespace

TEST_F(PngSharing, IdenticalPicturesAndTheirCopiesHoldOneEntryDecodedOnce)
{
    // Three step markers with byte-identical data, and the copies the image buttons keep of them.
    const QByteArray marker = Suite("basn6a08");
    std::vector<std::unique_ptr<TPngImage>> markers, copies;
    for (int i = 0; i < 3; ++i) {
        markers.push_back(std::make_unique<TPngImage>());
        markers.back()->LoadFromData(marker);
        copies.push_back(std::make_unique<TPngImage>(*markers.back()));
    }
    ASSERT_EQ(List().Count(), 1);
    TPngImageData* entry = markers[0]->ShareImageData();
    EXPECT_EQ(entry->RefCount.load(), 6);
    for (const auto& image : markers)
        EXPECT_EQ(image->ShareImageData(), entry);
    for (const auto& image : copies) {
        EXPECT_EQ(image->ShareImageData(), entry);
        EXPECT_FALSE(image->IsDecoded());
    }
    EXPECT_NE(entry->Stream.Get(), nullptr) << "nothing is decoded before the pixels are used";

    // The first use decodes into the entry; every other holder then finds the same buffer.
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(0);
    QPainter painter(&target);
    copies[1]->Draw(painter, QRect(0, 0, 32, 32));
    EXPECT_TRUE(entry->Stream.IsEmpty()) << "the stored data is freed once decoded";
    const uint8_t* pixels = copies[1]->Scanline(0);
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(pixels, entry->Pixels.Get());
    for (const auto& image : markers)
        EXPECT_EQ(image->Scanline(0), pixels);
    for (const auto& image : copies)
        EXPECT_EQ(image->Scanline(0), pixels);
    std::string first;
    EXPECT_EQ(CompareWithReference(*markers[2], ReferencePixels(QStringLiteral("basn6a08")), first), 0)
        << first;
}

TEST_F(PngSharing, TheLastOfTwoHoldersDestroysTheEntry)
{
    auto a = std::make_unique<TPngImage>();
    auto b = std::make_unique<TPngImage>();
    a->LoadFromFile(SuitePng(QStringLiteral("basn2c08")));
    b->LoadFromFile(SuitePng(QStringLiteral("basn2c08")));
    ASSERT_EQ(List().Count(), 1);
    TPngImageData* entry = a->ShareImageData();
    EXPECT_EQ(b->ShareImageData(), entry);
    EXPECT_EQ(entry->RefCount.load(), 2);

    a.reset();
    ASSERT_EQ(List().Count(), 1);
    EXPECT_EQ(List().Entries().front(), entry);
    EXPECT_FALSE(imaging::FinalizePngSharing()) << "a list with entries stays to the end";
    ASSERT_NE(TPngImageDataList::Instance(), nullptr);
    EXPECT_EQ(entry->RefCount.load(), 1);
    std::string first;
    EXPECT_EQ(CompareWithReference(*b, ReferencePixels(QStringLiteral("basn2c08")), first), 0) << first;

    // Reloading releases the old entry just as freeing does.
    const uint64_t oldKey = entry->Key;
    b->LoadFromFile(SuitePng(QStringLiteral("basn0g08")));
    ASSERT_EQ(List().Count(), 1);
    EXPECT_NE(List().Entries().front()->Key, oldKey);
    b.reset();
    EXPECT_EQ(List().Count(), 0);
}

TEST_F(PngSharing, DifferentCompressedBytesOfOnePictureGetTwoEntries)
{
    const QByteArray original = Suite("basn6a08");
    TPngImage decoded;
    decoded.LoadFromData(original);
    decoded.Canvas(); // private pixels: saving re-encodes them
    decoded.ReleaseCanvas();
    const QByteArray recompressed = decoded.SaveToData();
    ASSERT_NE(IdatChunks(recompressed), IdatChunks(original));

    TPngImage a, b;
    a.LoadFromData(original);
    b.LoadFromData(recompressed);
    EXPECT_NE(a.ShareImageData(), b.ShareImageData());
    EXPECT_EQ(List().Count(), 2);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(a.Pixel(x, y), b.Pixel(x, y));
    EXPECT_NE(a.Scanline(0), b.Scanline(0));
}

TEST_F(PngSharing, EqualImageBytesUnderDifferentHeadersAreNotShared)
{
    // One zlib stream is valid for a 1 x 2 and for a 3 x 1 grey picture; sharing its buffers would
    // hand a 4-byte buffer to an image that needs 8.
    const QByteArray raw("\x00\x11\x00\x22", 4);
    const QByteArray tall = MakePng(1, 2, 8, 0, raw);
    const QByteArray wide = MakePng(3, 1, 8, 0, raw);
    ASSERT_EQ(IdatChunks(tall), IdatChunks(wide));
    TPngImage a, b;
    a.LoadFromData(tall);
    b.LoadFromData(wide);
    EXPECT_NE(a.ShareImageData(), b.ShareImageData());
    EXPECT_EQ(qRed(a.Pixel(0, 0)), 0x11);
    EXPECT_EQ(qRed(a.Pixel(0, 1)), 0x22);
    EXPECT_EQ(qRed(b.Pixel(0, 0)), 0x11);
    EXPECT_EQ(qRed(b.Pixel(1, 0)), 0x00);
    EXPECT_EQ(qRed(b.Pixel(2, 0)), 0x22);
}

TEST_F(PngSharing, DrawingOnACopyMakesTheCopyPrivate)
{
    TPngImage source;
    source.LoadFromFile(SuitePng(QStringLiteral("basn6a08")));
    TPngImage copy(source);
    TPngImageData* entry = source.ShareImageData();
    ASSERT_EQ(copy.ShareImageData(), entry);
    const QRgb before = source.Pixel(5, 5);

    QPainter& canvas = copy.Canvas();
    canvas.setCompositionMode(QPainter::CompositionMode_Source);
    canvas.fillRect(QRect(0, 0, 10, 10), QColor(1, 2, 3, 4));
    copy.ReleaseCanvas();

    EXPECT_EQ(copy.ShareImageData(), nullptr);
    EXPECT_EQ(source.ShareImageData(), entry);
    EXPECT_EQ(entry->RefCount.load(), 1);
    EXPECT_EQ(copy.Pixel(5, 5), qRgba(1, 2, 3, 4));
    EXPECT_EQ(source.Pixel(5, 5), before);
    EXPECT_EQ(source.Scanline(0), entry->Pixels.Get());
    EXPECT_NE(copy.Scanline(0), source.Scanline(0));
    std::string first;
    EXPECT_EQ(CompareWithReference(source, ReferencePixels(QStringLiteral("basn6a08")), first), 0) << first;
}

TEST_F(PngSharing, WritesThroughOneHolderShowInAll)
{
    TPngImage a, b;
    a.LoadFromFile(SuitePng(QStringLiteral("basn2c16")));
    b.LoadFromFile(SuitePng(QStringLiteral("basn2c16")));
    TPngImage c(b);
    a.Scanline(3)[0] = 0x5A;
    a.ExtraScanline(3)[0] = 0xA5;
    a.SetPixel(7, 7, qRgb(9, 8, 7));
    for (const TPngImage* image : {&b, &c}) {
        EXPECT_EQ(image->Scanline(3)[0], 0x5A);
        EXPECT_EQ(image->Pixel16(0, 3)[0], 0x5AA5);
        EXPECT_EQ(image->Pixel(7, 7), qRgb(9, 8, 7));
    }
}

TEST_F(PngSharing, SavingAnUndrawnPictureWritesItsIdatChunksAsRead)
{
    for (const QString& name : SuiteNames(false)) {
        SCOPED_TRACE(name.toStdString());
        const QByteArray original = testsupport::ReadAll(SuitePng(name));
        TPngImage image;
        image.LoadFromData(original);
        const QByteArray saved = image.SaveToData();
        EXPECT_FALSE(image.IsDecoded());
        EXPECT_EQ(IdatChunks(saved), IdatChunks(original));
        TPngImage again;
        again.LoadFromData(saved);
        std::string first;
        EXPECT_EQ(CompareWithReference(again, ReferencePixels(name), first), 0) << first;
    }
    // With every chunk kept, a plain file comes back byte for byte.
    TPngImage image;
    image.LoadFromData(Suite("ccwn3p08"));
    EXPECT_EQ(image.SaveToData(), Suite("ccwn3p08"));
}

TEST_F(PngSharing, CopiesOfPrivatePicturesShareByDecodedContent)
{
    TPngImage drawn;
    drawn.LoadFromFile(SuitePng(QStringLiteral("basn6a08")));
    drawn.Canvas().fillRect(0, 0, 4, 4, Qt::red);
    drawn.ReleaseCanvas();
    ASSERT_EQ(drawn.ShareImageData(), nullptr);
    ASSERT_EQ(List().Count(), 0);

    // The copy of a canvas picture: one entry keyed by the pixels, holding the canvas memory.
    TPngImage copy(drawn);
    TPngImageData* entry = drawn.ShareImageData();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(copy.ShareImageData(), entry);
    EXPECT_EQ(entry->RefCount.load(), 2);
    EXPECT_EQ(entry->DibBits, drawn.Scanline(0));
    EXPECT_EQ(copy.Pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(copy.Pixel(20, 20), drawn.Pixel(20, 20));

    // A private plain-memory picture with the same pixels finds that entry; its copy uses the entry's
    // buffer while the picture itself keeps its own (its owner may still point into it).
    TPngImage twin;
    twin.Assign(copy.View());
    TPngImage third(twin);
    EXPECT_EQ(twin.ShareImageData(), entry);
    EXPECT_EQ(third.ShareImageData(), entry);
    EXPECT_EQ(third.Scanline(0), copy.Scanline(0));
    EXPECT_EQ(twin.Pixel(1, 1), qRgb(255, 0, 0));
    EXPECT_EQ(entry->RefCount.load(), 4);

    // The canvas memory outlives its first owner while the entry holds it.
    const QRgb expected = drawn.Pixel(1, 1);
    drawn.Clear();
    EXPECT_EQ(copy.Pixel(1, 1), expected);
}

// A picture with private pixels whose content matches an entry that already has pixels: copying it
// must not take away the buffer that its rows and views point into.
TEST_F(PngSharing, CopyingAPrivatePictureLeavesItsRowsAndViewsValid)
{
    QImage picture(6, 5, QImage::Format_ARGB32);
    picture.fill(qRgba(10, 20, 30, 255));
    TPngImage a, b, c, d;
    a.Assign(picture); // private
    c.Assign(a);       // entry keyed by the pixels, holding a's buffer
    b.Assign(picture); // private again, same content
    const uint8_t* row = b.Scanline(0);
    const QImage view = b.View();
    ASSERT_NE(row, nullptr);

    d.Assign(b); // finds the entry
    EXPECT_EQ(d.ShareImageData(), c.ShareImageData());
    EXPECT_EQ(b.Scanline(0), row) << "the picture's rows moved under its owner";
    EXPECT_EQ(row[0], 30); // B of B, G, R, A
    b.SetPixel(0, 0, qRgba(1, 2, 3, 255));
    EXPECT_EQ(view.pixel(0, 0), qRgba(1, 2, 3, 255)) << "an earlier view no longer shows the picture";
    EXPECT_EQ(d.Pixel(0, 0), qRgba(10, 20, 30, 255));
    EXPECT_EQ(d.Pixel(5, 4), qRgba(10, 20, 30, 255));
}

TEST_F(PngSharing, SixteenBitPicturesDifferingOnlyInLowBytesAreNotMerged)
{
    TPngImage a, b;
    a.LoadFromFile(SuitePng(QStringLiteral("basn2c16")));
    b.LoadFromFile(SuitePng(QStringLiteral("basn2c16")));
    a.Canvas(); // private copies, then make the low bytes differ
    a.ReleaseCanvas();
    TPngImage wideA(PngColorType::Rgb, 16, 4, 4), wideB(PngColorType::Rgb, 16, 4, 4);
    wideA.ExtraScanline(0)[0] = 1;
    wideB.ExtraScanline(0)[0] = 2;
    TPngImage copyA(wideA), copyB(wideB);
    EXPECT_NE(copyA.ShareImageData(), copyB.ShareImageData());
    EXPECT_EQ(copyA.Pixel16(0, 0)[0], 1);
    EXPECT_EQ(copyB.Pixel16(0, 0)[0], 2);
    EXPECT_EQ(wideB.Pixel16(0, 0)[0], 2);
}

TEST_F(PngSharing, ReleasingAnEntryWithoutHoldersRaisesAndFreesNothing)
{
    TPngImage image;
    image.LoadFromFile(SuitePng(QStringLiteral("basn0g08")));
    TPngImageData* entry = image.ShareImageData();
    entry->RefCount.store(0);
    try {
        image.LoadFromFile(SuitePng(QStringLiteral("basn2c08")));
        ADD_FAILURE() << "no error";
    } catch (const imaging::EPNGOutMemory& e) {
        EXPECT_EQ(e.message(), QStringLiteral("PNG, ShareImageData.RefCount <= 0"));
        EXPECT_EQ(e.className(), QStringLiteral("EPNGOutMemory"));
    }
    EXPECT_EQ(image.ShareImageData(), entry);
    EXPECT_EQ(List().Count(), 1);
    entry->RefCount.store(1);
    std::string first;
    EXPECT_EQ(CompareWithReference(image, ReferencePixels(QStringLiteral("basn0g08")), first), 0) << first;
}

TEST(PngSharingList, EntriesStayOrderedAndFindGivesTheInsertionPoint)
{
    TPngImageDataList list;
    std::vector<TPngImageData*> made;
    for (int i = 0; i < 200; ++i) {
        auto stream = std::make_unique<QByteArray>(QByteArray::number(i * 7919));
        made.push_back(list.ShareCompressedData(std::move(stream), QByteArrayView()));
    }
    // Sharing the same bytes again finds the existing entry and frees the new copy.
    EXPECT_EQ(list.ShareCompressedData(std::make_unique<QByteArray>(QByteArray::number(7919)), QByteArrayView()),
              made[1]);
    EXPECT_EQ(made[1]->RefCount.load(), 2);
    const auto entries = list.Entries();
    ASSERT_EQ(entries.size(), 200u);
    for (size_t i = 1; i < entries.size(); ++i)
        ASSERT_LT(entries[i - 1]->Key, entries[i]->Key);

    TPngImageData probe;
    int index = -1;
    for (size_t i = 0; i < entries.size(); ++i) {
        probe.Key = entries[i]->Key;
        ASSERT_TRUE(list.FindEntry(probe, index));
        ASSERT_EQ(index, int(i));
        probe.Key = entries[i]->Key + 1; // keys are sparse: this one is absent
        ASSERT_FALSE(list.FindEntry(probe, index));
        ASSERT_EQ(index, int(i + 1));
    }
    probe.Key = 0;
    EXPECT_FALSE(list.FindEntry(probe, index));
    EXPECT_EQ(index, 0);

    // Keys compare as unsigned numbers: keys with the top bit set sort last, not first.
    EXPECT_LT(entries.front()->Key, 0x8000000000000000ull);
    EXPECT_GE(entries.back()->Key, 0x8000000000000000ull);

    std::atomic<TPngImageData*> slot{made[1]};
    list.ReleaseShare(slot);
    EXPECT_EQ(slot.load(), nullptr);
    EXPECT_EQ(list.Count(), 200);
    for (TPngImageData* entry : made) {
        std::atomic<TPngImageData*> s{entry};
        list.ReleaseShare(s);
    }
    EXPECT_EQ(list.Count(), 0);
    std::atomic<TPngImageData*> empty{nullptr};
    list.ReleaseShare(empty); // nothing to release
}

TEST(PngSharingList, StreamLoansAndSharedBuffers)
{
    TPngImageData entry;
    auto owned = std::make_unique<QByteArray>("idat");
    const QByteArray* stream = owned.get();
    entry.Stream.Publish(std::move(owned), 4);

    std::unique_ptr<QByteArray> taken = TPngImageDataList::TakeStream(entry);
    EXPECT_EQ(taken.get(), stream);
    EXPECT_TRUE(entry.Stream.IsMarked());
    EXPECT_EQ(TPngImageDataList::TakeStream(entry), nullptr)
        << "the holder's own thread does not wait for itself";
    TPngImageDataList::ReturnStream(entry, std::move(taken));
    taken = TPngImageDataList::TakeStream(entry);
    EXPECT_EQ(taken.get(), stream);
    TPngImageDataList::ReturnStream(entry, nullptr);
    EXPECT_TRUE(entry.Stream.IsEmpty());
    EXPECT_EQ(TPngImageDataList::TakeStream(entry), nullptr);

    bool created = false;
    int fills = 0;
    uint8_t* a = TPngImageDataList::AcquireSharedBuffer(entry.Pixels, 16, &created, [&](uint8_t* b) {
        ++fills;
        b[3] = 7;
    });
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(created);
    EXPECT_EQ(a[0], 0);
    EXPECT_EQ(a[3], 7);
    EXPECT_EQ(TPngImageDataList::AcquireSharedBuffer(entry.Pixels, 16, &created, [&](uint8_t*) { ++fills; }),
              a);
    EXPECT_FALSE(created);
    EXPECT_EQ(fills, 1);
    EXPECT_EQ(TPngImageDataList::AcquireSharedBuffer(entry.Pixels, 32, &created), nullptr)
        << "a buffer of another size is never handed out";
    // The entry frees its buffer when it goes (RefCount is 0); ASan reports a leak otherwise.
}
