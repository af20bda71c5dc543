#include "crash/ui/ScreenCapture.h"

#include "platform/X11Windows.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

namespace crash::ui {

QRegion ScreenCapture::ownRegion(const QList<platform::StackedWindow>& bottomToTop, const QRect& screen)
{
    QRegion region;
    for (qsizetype i = 0; i < bottomToTop.size(); ++i) {
        if (!bottomToTop[i].own)
            continue;
        QRegion visible(bottomToTop[i].geometry.intersected(screen));
        for (qsizetype above = i + 1; above < bottomToTop.size() && !visible.isEmpty(); ++above)
            if (!bottomToTop[above].own)
                visible -= bottomToTop[above].geometry;
        region += visible;
    }
    return region;
}

QImage ScreenCapture::maskToRegion(const QImage& shot, const QRect& screen, const QRegion& region)
{
    const QRect bounds = region.boundingRect().intersected(screen);
    if (bounds.isEmpty())
        return {};
    QImage result(bounds.size(), QImage::Format_RGB32);
    result.fill(Qt::white);
    QPainter painter(&result);
    painter.setClipRegion(region.translated(-bounds.topLeft()));
    painter.drawImage(QPoint(0, 0), shot, bounds.translated(-screen.topLeft()));
    return result;
}

QImage ScreenCapture::capture(bool ownWindowsOnly)
{
    if (!platform::X11Available())
        return {};
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect virtualScreen = screen->virtualGeometry();
    const QImage shot = screen
                            ->grabWindow(0, virtualScreen.x(), virtualScreen.y(), virtualScreen.width(),
                                         virtualScreen.height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
    QSet<quint64> ownIds;
    if (ownWindowsOnly)
        for (QWindow* window : QGuiApplication::topLevelWindows())
            if (window->isVisible() && window->handle())
                ownIds.insert(window->winId());
    return finish(shot, virtualScreen, ownWindowsOnly, ownIds);
}

QImage ScreenCapture::captureOffGuiThread(bool ownWindowsOnly)
{
    platform::X11PrivateConnection connection;
    if (!connection.isOpen())
        return {};
    QRect screen;
    const QImage shot = platform::X11GrabScreen(&screen);
    // The windows are told apart by their process, as the GUI thread's list is not to be read here.
    return finish(shot, screen, ownWindowsOnly, {});
}

QImage ScreenCapture::finish(QImage shot, const QRect& screen, bool ownWindowsOnly, const QSet<quint64>& ownIds)
{
    if (shot.isNull())
        return {};
    QPoint origin = screen.topLeft();
    if (ownWindowsOnly) {
        const QRegion region = ownRegion(platform::X11StackedWindows(ownIds), screen);
        if (region.isEmpty())
            return {};
        shot = maskToRegion(shot, screen, region);
        origin = region.boundingRect().intersected(screen).topLeft();
    }
    if (const auto cursor = platform::X11Cursor()) {
        QPainter painter(&shot);
        painter.drawImage(cursor->topLeft - origin, cursor->image);
    }
    return shot;
}

} // namespace crash::ui
