// The screenshot under a real X server: the whole screen, this program's windows only with other
// programs' windows masked white, the cursor, and the compact PNG of what the program shows.
#include "crash/ui/ScreenCapture.h"
#include "ReportFixture.h"
#include "WindowShots.h"
#include "crash/ui/FlatButton.h"
#include "crash/ui/TExceptionBox.h"
#include "imaging/CompactPng.h"
#include "platform/X11Windows.h"
#include "support/ImageQuality.h"

#include <QBuffer>
#include <QCursor>
#include <QProcess>
#include <gtest/gtest.h>
#include <thread>

using crash::ui::ScreenCapture;
using crash::ui::TExceptionBox;
using imaging::CompactPng;

TEST(ScreenCapture, OwnWindowsOnlyMasksOtherProgramsWindowsWhite)
{
    EXPECT_TRUE(ScreenCapture::capture(true).isNull()) << "no window of this program shows yet";

    auto report = crashtest::MakeReport();
    crashtest::FillReport(*report);
    report->setAutoShowBugRep(true);
    TExceptionBox box(report, TExceptionBox::FullDialog, {});
    box.open(false);
    crashtest::WaitUntilActive(&box);
    const QRect dialog = box.frameGeometry();

    // Another program's window over the dialog's top left quarter.
    const QRect cover(dialog.x() - 20, dialog.y() - 20, dialog.width() / 2, dialog.height() / 2);
    QProcess other;
    other.start(QStringLiteral(COVER_WINDOW_HELPER),
                {QString::number(cover.x()), QString::number(cover.y()), QString::number(cover.width()),
                 QString::number(cover.height())});
    ASSERT_TRUE(other.waitForReadyRead(10000));
    QTest::qWait(200);
    QCursor::setPos(dialog.right() - 5, dialog.bottom() - 5);
    QTest::qWait(100);

    const QImage whole = ScreenCapture::capture(false);
    whole.save(crashtest::ArtifactDir() + "/screenshot-whole-screen.png");
    EXPECT_EQ(whole.size(), QSize(1280, 1024));
    const QPoint inCover = cover.center();
    EXPECT_EQ(whole.pixelColor(inCover), QColor(Qt::red));

    const QImage own = ScreenCapture::capture(true);
    own.save(crashtest::ArtifactDir() + "/screenshot-own-windows.png");
    ASSERT_EQ(own.size(), dialog.size());
    const QPoint coveredPart = QPoint(cover.right(), cover.bottom()) - QPoint(5, 5) - dialog.topLeft();
    EXPECT_EQ(own.pixelColor(coveredPart), QColor(Qt::white)) << "covered by another program";
    auto* closeButton = box.button(TExceptionBox::CloseButton);
    const QPoint freePart = closeButton->mapTo(&box, QPoint(3, closeButton->height() / 2)) +
                            (box.geometry().topLeft() - dialog.topLeft());
    EXPECT_EQ(own.pixelColor(freePart), whole.pixelColor(freePart + dialog.topLeft()));
    EXPECT_NE(own.pixelColor(freePart), QColor(Qt::white));

    // From another thread while the GUI thread waits (as in a freeze): the same pictures.
    QImage wholeOffGui, ownOffGui;
    std::thread([&] {
        wholeOffGui = ScreenCapture::captureOffGuiThread(false);
        ownOffGui = ScreenCapture::captureOffGuiThread(true);
    }).join();
    EXPECT_EQ(wholeOffGui.size(), whole.size());
    EXPECT_EQ(wholeOffGui.pixelColor(inCover), QColor(Qt::red));
    ASSERT_EQ(ownOffGui.size(), own.size());
    EXPECT_EQ(ownOffGui.pixelColor(coveredPart), QColor(Qt::white));
    EXPECT_EQ(ownOffGui.pixelColor(freePart), own.pixelColor(freePart));

    // The cursor is drawn in: the shot differs from the screen's pixels around the pointer.
    const auto cursor = platform::X11Cursor();
    ASSERT_TRUE(cursor.has_value());
    EXPECT_FALSE(cursor->image.isNull());

    // The compact PNG of the program's own screen is small and close to the pixels.
    const QByteArray png = CompactPng::encodeColour(whole);
    QImage decoded;
    decoded.loadFromData(png, "PNG");
    const double psnr = crashtest::Psnr(whole, decoded);
    QByteArray truecolour;
    QBuffer buffer(&truecolour);
    buffer.open(QIODevice::WriteOnly);
    whole.save(&buffer, "PNG");
    std::printf("screen PNG: %lld bytes palette (%.1f dB), %lld bytes true colour\n", qlonglong(png.size()),
                psnr, qlonglong(truecolour.size()));
    EXPECT_GT(psnr, 35.0);
    EXPECT_LT(png.size(), truecolour.size());

    other.write("\n");
    other.waitForBytesWritten(2000);
    other.closeWriteChannel();
    if (!other.waitForFinished(10000))
        other.kill();
}

TEST(ScreenCapture, RegionArithmetic)
{
    const QRect screen(0, 0, 100, 100);
    QList<platform::StackedWindow> windows{
        {QRect(10, 10, 40, 40), true}, {QRect(30, 30, 40, 40), false}, {QRect(90, 90, 40, 40), true}};
    const QRegion region = ScreenCapture::ownRegion(windows, screen);
    EXPECT_TRUE(region.contains(QPoint(15, 15)));
    EXPECT_FALSE(region.contains(QPoint(35, 35)));
    EXPECT_TRUE(region.contains(QPoint(95, 95)));
    EXPECT_FALSE(region.contains(QPoint(105, 105))) << "clipped to the screen";
    EXPECT_TRUE(ScreenCapture::ownRegion({{QRect(0, 0, 10, 10), false}}, screen).isEmpty());
    // An own window above the other program's window shows.
    windows.append({QRect(30, 30, 10, 10), true});
    EXPECT_TRUE(ScreenCapture::ownRegion(windows, screen).contains(QPoint(35, 35)));
}
