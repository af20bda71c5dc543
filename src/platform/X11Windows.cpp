#include "platform/X11Windows.h"

#include <QGuiApplication>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <unistd.h>

#include <cstring>

namespace platform {

namespace {

thread_local Display* t_privateDisplay = nullptr;

// The GUI thread's connection.
Display* ApplicationDisplay()
{
    auto* app = qGuiApp;
    if (!app)
        return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

Display* CurrentDisplay()
{
    return t_privateDisplay ? t_privateDisplay : ApplicationDisplay();
}

// One colour channel of a pixel in the server's format, scaled to 0..255.
int Channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0)
        return 0;
    const int shift = __builtin_ctzl(mask);
    const unsigned long top = mask >> shift;
    return int(((pixel & mask) >> shift) * 255 / top);
}

// The colour of each pixel of an image in the server's format.
QImage ToRgb32(XImage* image)
{
    QImage out(image->width, image->height, QImage::Format_RGB32);
    const bool plain = image->bits_per_pixel == 32 && image->red_mask == 0xff0000 &&
                       image->green_mask == 0xff00 && image->blue_mask == 0xff &&
                       image->byte_order == LSBFirst;
    for (int y = 0; y < image->height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        if (plain) {
            std::memcpy(row, image->data + std::ptrdiff_t(y) * image->bytes_per_line, size_t(image->width) * 4);
            for (int x = 0; x < image->width; ++x)
                row[x] |= 0xff000000u;
            continue;
        }
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            row[x] = qRgb(Channel(pixel, image->red_mask), Channel(pixel, image->green_mask),
                          Channel(pixel, image->blue_mask));
        }
    }
    return out;
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

X11PrivateConnection::X11PrivateConnection() : m_outer(t_privateDisplay)
{
    // Reading the name makes no request on the GUI thread's connection.
    Display* application = ApplicationDisplay();
    if (!application)
        return;
    m_display = XOpenDisplay(DisplayString(application));
    if (m_display)
        t_privateDisplay = static_cast<Display*>(m_display);
}

X11PrivateConnection::~X11PrivateConnection()
{
    if (!m_display)
        return;
    t_privateDisplay = static_cast<Display*>(m_outer);
    XCloseDisplay(static_cast<Display*>(m_display));
}

QImage X11GrabScreen(QRect* area)
{
    Display* display = CurrentDisplay();
    if (!display)
        return {};
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, root, &attributes) || attributes.width <= 0 || attributes.height <= 0)
        return {};
    XImage* image = XGetImage(display, root, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    if (!image)
        return {};
    QImage shot = ToRgb32(image);
    XDestroyImage(image);
    if (area)
        *area = QRect(attributes.x, attributes.y, attributes.width, attributes.height);
    return shot;
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
