#pragma once
// What the X server knows about the screen's windows, for the screenshot: the mapped top-level
// windows bottom to top, and the mouse cursor. Empty answers when the program does not run on X11
// (Wayland without X11, offscreen).

#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <optional>

namespace platform {

struct StackedWindow
{
    QRect geometry; // in root (virtual screen) coordinates, frame included
    bool own = false;
};

// Whether the application talks to an X server.
bool X11Available();

// The viewable top-level windows, bottom to top: _NET_CLIENT_LIST_STACKING when a window manager
// keeps it, else the root window's children. A window is this program's when its _NET_WM_PID is
// this process or its id is one of `ownWindowIds`.
QList<StackedWindow> X11StackedWindows(const QSet<quint64>& ownWindowIds);

struct CursorPicture
{
    QImage image;   // ARGB32 premultiplied
    QPoint topLeft; // on the virtual screen
};

// The mouse cursor as XFixes reports it; none without X11 or XFixes.
std::optional<CursorPicture> X11Cursor();

// While one is alive, the X11 functions on this thread talk to the application's X server through
// a connection of their own instead of the GUI thread's, which belongs to that thread and may be
// blocked (a frozen program).
class X11PrivateConnection
{
public:
    X11PrivateConnection();
    ~X11PrivateConnection();
    X11PrivateConnection(const X11PrivateConnection&) = delete;
    X11PrivateConnection& operator=(const X11PrivateConnection&) = delete;

    bool isOpen() const { return m_display != nullptr; }

private:
    void* m_display = nullptr; // Display*
    void* m_outer = nullptr;   // the thread's connection before this one
};

// The pixels of the whole root window (RGB32) and, in `area`, where it lies; null when they
// cannot be read.
QImage X11GrabScreen(QRect* area);

} // namespace platform
