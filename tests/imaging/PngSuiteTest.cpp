// Every valid PngSuite picture against its reference pixels, on the plain and the shared path, and
// through a save and reload; every x* picture refused.

#include "PngTestSupport.h"

#include "imaging/EPNGError.h"

#include <QBuffer>
#include <QFileInfo>

using imaging::TPngImage;
using namespace imagingtest;

namespace {

void CheckWholeSuite(bool shared)
{
    SharingScope scope(shared);
    const QStringList names = SuiteNames(false);
    ASSERT_GE(names.size(), 150) << "PngSuite not found in " << SuiteDir().toStdString();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const std::vector<int> ref = ReferencePixels(name);
        ASSERT_FALSE(ref.empty());
        TPngImage image;
        ASSERT_NO_THROW(image.LoadFromFile(SuitePng(name)));
        EXPECT_EQ(image.IsDecoded(), !shared) << "loading decodes only without the list";
        EXPECT_EQ(image.ShareImageData() != nullptr, shared);
        std::string first;
        EXPECT_EQ(CompareWithReference(image, ref, first), 0) << first;
        EXPECT_TRUE(image.DecodeError().isEmpty()) << image.DecodeError().toStdString();
    }
}

} // namespace

TEST(PngSuite, ValidPicturesDecodeToTheReferencePixelsWithoutSharing)
{
    CheckWholeSuite(false);
}

TEST(PngSuite, ValidPicturesDecodeToTheReferencePixelsWithSharing)
{
    CheckWholeSuite(true);
}

TEST(PngSuite, BrokenPicturesAreRefusedAndLeaveTheImageAsItWas)
{
    for (bool shared : {false, true}) {
        SharingScope scope(shared);
        const QStringList names = SuiteNames(true);
        ASSERT_EQ(names.size(), 14);
        TPngImage image;
        image.LoadFromFile(SuitePng(QStringLiteral("basn6a08")));
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            try {
                image.LoadFromFile(SuitePng(name));
                ADD_FAILURE() << "accepted";
            } catch (const imaging::EPNGError& e) {
                EXPECT_FALSE(e.message().isEmpty());
                EXPECT_EQ(e.className(), QStringLiteral("EPNGError"));
            }
            EXPECT_EQ(image.Width(), 32);
        }
        std::string first;
        EXPECT_EQ(CompareWithReference(image, ReferencePixels(QStringLiteral("basn6a08")), first), 0)
            << first;
    }
}

TEST(PngSuite, ReencodedPicturesReloadToTheSamePixels)
{
    SharingScope scope(false);
    for (const QString& name : SuiteNames(false)) {
        SCOPED_TRACE(name.toStdString());
        TPngImage image;
        image.LoadFromFile(SuitePng(name));
        const QByteArray saved = image.SaveToData();
        TPngImage again;
        ASSERT_NO_THROW(again.LoadFromData(saved));
        std::string first;
        EXPECT_EQ(CompareWithReference(again, ReferencePixels(name), first), 0) << first;
    }
}

TEST(PngSuite, TruncatedPicturesAreRefusedAtEveryLength)
{
    for (bool shared : {false, true}) {
        SharingScope scope(shared);
        for (const char* name : {"basn3p02", "basi6a16", "tbrn2c08"}) {
            const QByteArray whole = testsupport::ReadAll(SuitePng(QString::fromLatin1(name)));
            ASSERT_FALSE(whole.isEmpty());
            for (qsizetype n = 0; n < whole.size(); ++n) {
                TPngImage image;
                EXPECT_THROW(image.LoadFromData(whole.left(n)), imaging::EPNGError)
                    << name << " cut at " << n;
                EXPECT_TRUE(image.Empty());
            }
        }
    }
}
