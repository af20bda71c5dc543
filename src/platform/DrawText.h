#pragma once
// Text drawing with the Windows DrawText contract, on Qt's text layout. The caller's QPainter plays
// the device context: its font, pen colour and background mode are the selected font, text colour
// and background mix mode.

#include <QRect>
#include <QString>

class QPainter;

namespace platform {

// A Windows RECT: Right and Bottom are exclusive, so Right - Left is the width.
struct TRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;

    void Offset(int dx, int dy)
    {
        Left += dx;
        Right += dx;
        Top += dy;
        Bottom += dy;
    }
    TRect Moved(int dx, int dy) const
    {
        TRect r = *this;
        r.Offset(dx, dy);
        return r;
    }
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    static TRect FromQRect(const QRect& r)
    {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    static TRect Bounds(int left, int top, int width, int height)
    {
        return {left, top, left + width, top + height};
    }
};

// Format flags, with the values Windows gives them.
enum : unsigned
{
    DT_LEFT = 0x0,
    DT_CENTER = 0x1,
    DT_RIGHT = 0x2,
    DT_VCENTER = 0x4,
    DT_BOTTOM = 0x8,
    DT_WORDBREAK = 0x10,
    DT_SINGLELINE = 0x20,
    DT_NOCLIP = 0x100,
    DT_CALCRECT = 0x400,
    DT_NOPREFIX = 0x800,
    DT_EDITCONTROL = 0x2000,
    DT_END_ELLIPSIS = 0x8000,
};

// Draws (or with DT_CALCRECT measures) `text` in `rect` and returns the height of the text laid out.
// With DT_CALCRECT nothing is drawn; Right becomes Left plus the widest line and Bottom becomes Top
// plus the height. Without DT_NOPREFIX "&x" underlines x and "&&" shows one "&". With DT_WORDBREAK
// lines break between words (inside a word too long for the line only with DT_EDITCONTROL). When
// drawing, the text is clipped to `rect` unless DT_NOCLIP; DT_EDITCONTROL then leaves out a last line
// that would be only partly visible (the first line always shows). DT_END_ELLIPSIS shortens a line that
// does not fit the width, and the last shown line when wrapped text was cut off below, with "...".
int DrawText(QPainter& dc, const QString& text, TRect& rect, unsigned format);

// The canvas's text height of `text` in the painter's font: the font's line height, 0 for no text.
int TextHeight(QPainter& dc, const QString& text);

} // namespace platform
