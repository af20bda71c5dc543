#pragma once
// The screenshot for the bug report: the whole virtual screen, or only this program's windows
// with everything else white, and the mouse cursor drawn in.
//
// On X11 the screen comes from QScreen::grabWindow(0), or, on a thread that must not wait for the
// GUI thread (which may be frozen), from a connection of that thread's own. For "own windows only" the X stacking
// order says which parts of the program's windows are covered by other programs' windows: each
// own window counts minus every window above it, and pixels outside that region become white.
// Without X11 (Wayland, offscreen) there is no screenshot.

#include <QImage>
#include <QList>
#include <QRect>
#include <QRegion>
#include <QSet>

namespace platform {
struct StackedWindow;
}

namespace crash::ui {

class ScreenCapture
{
public:
    // Null when there is nothing to capture.
    static QImage capture(bool ownWindowsOnly);
    // The same from any thread, without the GUI thread's help.
    static QImage captureOffGuiThread(bool ownWindowsOnly);

    // The visible region of the own windows given the stacking order (bottom to top), clipped to
    // `screen`; empty when no own window shows.
    static QRegion ownRegion(const QList<platform::StackedWindow>& bottomToTop, const QRect& screen);
    // The part of `shot` (taken of `screen`) inside `region`, cropped to its bounds, white elsewhere.
    static QImage maskToRegion(const QImage& shot, const QRect& screen, const QRegion& region);

private:
    static QImage finish(QImage shot, const QRect& screen, bool ownWindowsOnly, const QSet<quint64>& ownIds);
};

} // namespace crash::ui
