#include "controls/RdScrollBar.h"

#include "controls/TBitmap.h"
#include "platform/Exception.h"

#include <QPainter>
#include <cstdlib>
#include <cstring>

namespace controls {

TSuperStretchMode DefaultStretchMode = sdmStretch;

TDesignRect::TDesignRect(QObject* parent) : QObject(parent)
{
    SetStretchMode(sdmDefault);
}

void TDesignRect::SetStretchMode(TSuperStretchMode mode)
{
    if (mode == m_stretchMode)
        return;
    m_stretchMode = mode;
    Changed();
}

void TDesignRect::SetEmpty(bool value)
{
    if (value) {
        m_left = m_top = m_right = m_bottom = 0;
        Changed();
        return;
    }
    m_wantDefaultMargins = true;
    try {
        Changed();
    } catch (...) {
        m_wantDefaultMargins = false;
        throw;
    }
    m_wantDefaultMargins = false;
}

void TDesignRect::SetMargin(int index, int value)
{
    qint32* margins[] = {&m_left, &m_top, &m_right, &m_bottom};
    if (*margins[index] == value)
        return;
    *margins[index] = value;
    Changed();
}

void TDesignRect::SetMargins(int left, int top, int right, int bottom)
{
    m_left = left;
    m_top = top;
    m_right = right == -1000 ? left : right;
    m_bottom = bottom == -1000 ? top : bottom;
}

void TDesignRect::Assign(const QObject* source)
{
    if (!source) {
        SetEmpty(true);
        return;
    }
    if (auto other = qobject_cast<const TDesignRect*>(source)) {
        if (other->m_left == m_left && other->m_top == m_top && other->m_right == m_right &&
            other->m_bottom == m_bottom)
            return;
        m_left = other->m_left;
        m_top = other->m_top;
        m_right = other->m_right;
        m_bottom = other->m_bottom;
        Changed();
        return;
    }
    throw platform::Exception(
        QStringLiteral("Cannot assign a %1 to a %2")
            .arg(QString::fromLatin1(source->metaObject()->className()).section(u':', -1),
                 QStringLiteral("TDesignRect")));
}

void TDesignRect::Changed()
{
    if (m_onChange)
        m_onChange(this);
}

bool TDesignRect::IsPropertyStored(const char* name) const
{
    if (std::strcmp(name, "StretchMode") == 0)
        return m_stretchMode != sdmDefault;
    if (std::strcmp(name, "Left") == 0)
        return m_left != 0;
    if (std::strcmp(name, "Top") == 0)
        return m_top != 0;
    if (std::strcmp(name, "Right") == 0)
        return m_right != 0;
    if (std::strcmp(name, "Bottom") == 0)
        return m_bottom != 0;
    return false;
}

void CenterRect(const TRect& outer, const TRect& inner, TRect& result)
{
    const int w = inner.Width();
    const int h = inner.Height();
    // Integer division truncates toward zero, so an inner rectangle larger than the outer one
    // overhangs by the same amount on both sides.
    result.Left = outer.Left + (outer.Width() - w) / 2;
    result.Top = outer.Top + (outer.Height() - h) / 2;
    result.Right = result.Left + w;
    result.Bottom = result.Top + h;
}

void DrawDesignRect(QPainter* canvas, TGraphic* graphic, const TRect& dest, const TDesignRect* design,
                    QPainter* dc)
{
    if (!graphic || graphic->Width() == 0 || graphic->Height() == 0)
        return;
    const TSuperStretchMode mode = design ? design->StretchMode() : sdmDefault;
    if ((!design || design->Empty()) && canvas && mode != sdmFill) {
        graphic->Draw(*canvas, dest);
        return;
    }
    if (!dc) {
        if (!canvas)
            return;
        dc = canvas;
    }
    const TBlendFunction blend;
    const int left = design ? design->Left() : 0, top = design ? design->Top() : 0;
    const int right = design ? design->Right() : 0, bottom = design ? design->Bottom() : 0;
    if (graphic->CanDrawPieces()) {
        DrawNineSlice(blend, *dc, *graphic, dest, left, top, right, bottom, mode);
        return;
    }
    // Other kinds are drawn through a bitmap rendering of them.
    TBitmap rendered;
    rendered.Assign(graphic);
    DrawNineSlice(blend, *dc, rendered, dest, left, top, right, bottom, mode);
}

void DrawNineSlice(const TBlendFunction& blend, QPainter& dc, TGraphic& graphic, const TRect& dest, int L,
                   int T, int R, int B, TSuperStretchMode mode)
{
    const int X0 = dest.Left, Y0 = dest.Top, DW = dest.Width(), DH = dest.Height();
    const int W = graphic.Width(), H = graphic.Height();
    if (mode == sdmDefault)
        mode = DefaultStretchMode;
    // Within a pixel of the picture's own size there is nothing to slice along that axis.
    if (std::abs(DH - H) <= 1)
        T = B = 0;
    if (std::abs(DW - W) <= 1)
        L = R = 0;

    const TBlitOperation blit = graphic.PieceBlit(dc, blend);
    if (!blit)
        return;
    const int MW = W - L - R, MH = H - T - B, DMW = DW - L - R, DMH = DH - T - B;

    // A piece whose extents are not all positive is skipped (margins larger than the picture or
    // the destination make some extents negative).
    auto piece = [&](int dx, int dy, int dw, int dh, int sx, int sy, int sw, int sh, bool fitted) {
        if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
            return;
        if (fitted && mode == sdmFill && sw > 3 && sh > 3)
            TileBlit(blit, dc, dx, dy, dw, dh, sx, sy, sw, sh);
        else
            blit(dx, dy, dw, dh, sx, sy, sw, sh);
    };
    piece(X0, Y0, L, T, 0, 0, L, T, false);
    piece(X0 + L, Y0, DMW, T, L, 0, MW, T, true);
    piece(X0 + DW - R, Y0, R, T, W - R, 0, R, T, false);
    piece(X0, Y0 + T, L, DMH, 0, T, L, MH, true);
    piece(X0 + DW - R, Y0 + T, R, DMH, W - R, T, R, MH, true);
    piece(X0, Y0 + DH - B, L, B, 0, H - B, L, B, false);
    piece(X0 + L, Y0 + DH - B, DMW, B, L, H - B, MW, B, true);
    piece(X0 + DW - R, Y0 + DH - B, R, B, W - R, H - B, R, B, false);
    if (mode != sdmFrame)
        piece(X0 + L, Y0 + T, DMW, DMH, L, T, MW, MH, true);
}

void TileBlit(const TBlitOperation& operation, QPainter& dc, int destX, int destY, int destW, int destH,
              int sx, int sy, int sw, int sh)
{
    (void)dc;
    if (sw <= 0 || sh <= 0)
        return;
    auto column = [&](int x, int w) {
        if (w <= 0)
            return;
        int y = destY;
        for (; y < destY + destH - sh; y += sh)
            operation(x, y, w, sh, sx, sy, w, sh);
        const int rest = destY + destH - y;
        if (rest > 0)
            operation(x, y, w, rest, sx, sy, w, rest);
    };
    int x = destX;
    for (; x < destX + destW - sw; x += sw)
        column(x, sw);
    column(x, destX + destW - x);
}

} // namespace controls
