#include "platform/X11Windows.h"

#include <QGuiApplication>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

namespace platform {

namespace {

Display* CurrentDisplay()
{
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

// A CARDINAL/WINDOW list property; empty when absent.
QList<unsigned long> ListProperty(Display* display, Window window, const char* name, Atom type)
{
    QList<unsigned long> values;
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None)
        return values;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, atom, 0, 1 << 16, False, type, &actualType, &format, &count,
                           &remaining, &data) == Success &&
        data && format == 32) {
        const auto* items = reinterpret_cast<const unsigned long*>(data); // 32-bit items arrive as longs
        for (unsigned long i = 0; i < count; ++i)
            values.append(items[i]);
    }
    if (data)
        XFree(data);
    return values;
}

// The process id a window names, searching its first child too (a reparenting window manager's
// frame holds the client inside).
unsigned long WindowPid(Display* display, Window window, const QSet<quint64>& own, bool& isOwn)
{
    isOwn = own.contains(window);
    const QList<unsigned long> pid = ListProperty(display, window, "_NET_WM_PID", XA_CARDINAL);
    if (!pid.isEmpty())
        return pid.first();
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    unsigned long found = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count && !found; ++i) {
            isOwn = isOwn || own.contains(children[i]);
            const QList<unsigned long> childPid =
                ListProperty(display, children[i], "_NET_WM_PID", XA_CARDINAL);
            if (!childPid.isEmpty())
                found = childPid.first();
        }
        if (children)
            XFree(children);
    }
    return found;
}

} // namespace

bool X11Available()
{
    return CurrentDisplay() != nullptr;
}

QList<StackedWindow> X11StackedWindows(const QSet<quint64>& ownWindowIds)
{
    QList<StackedWindow> windows;
    Display* display = CurrentDisplay();
    if (!display)
        return windows;
    const Window root = DefaultRootWindow(display);
    QList<unsigned long> order = ListProperty(display, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    if (order.isEmpty()) {
        Window rootReturn = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display, root, &rootReturn, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count; ++i)
                order.append(children[i]);
            if (children)
                XFree(children);
        }
    }
    const unsigned long self = static_cast<unsigned long>(getpid());
    for (unsigned long id : std::as_const(order)) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(display, id, &attributes) || attributes.map_state != IsViewable ||
            attributes.c_class == InputOnly)
            continue;
        int x = 0, y = 0;
        Window child = 0;
        XTranslateCoordinates(display, id, root, 0, 0, &x, &y, &child);
        bool own = false;
        const unsigned long pid = WindowPid(display, id, ownWindowIds, own);
        const int border = attributes.border_width;
        windows.append(
            {QRect(x - border, y - border, attributes.width + 2 * border, attributes.height + 2 * border),
             own || pid == self});
    }
    return windows;
}

std::optional<CursorPicture> X11Cursor()
{
    Display* display = CurrentDisplay();
    if (!display)
        return std::nullopt;
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(display, &eventBase, &errorBase))
        return std::nullopt;
    XFixesCursorImage* cursor = XFixesGetCursorImage(display);
    if (!cursor)
        return std::nullopt;
    CursorPicture picture;
    picture.image = QImage(cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
    // Each pixel is an unsigned long holding one ARGB32 value.
    for (int y = 0; y < cursor->height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture.image.scanLine(y));
        for (int x = 0; x < cursor->width; ++x)
            row[x] = QRgb(cursor->pixels[size_t(y) * cursor->width + size_t(x)] & 0xffffffffu);
    }
    picture.topLeft = QPoint(cursor->x - cursor->xhot, cursor->y - cursor->yhot);
    XFree(cursor);
    return picture;
}

} // namespace platform
