#pragma once
// Nine-slice drawing of skin pictures: a design rectangle (four margins and a stretch mode) cuts a
// picture into corners, edges and a centre; the corners keep their size, the rest is stretched or
// tiled to fill the destination.

#include "controls/ControlTypes.h"
#include "controls/TGraphic.h"

#include <QObject>
#include <functional>

class QPainter;

namespace controls {

// The unit-wide mode that sdmDefault stands for.
extern TSuperStretchMode DefaultStretchMode;

class TDesignRect : public QObject
{
    Q_OBJECT
    Q_PROPERTY(controls::TSuperStretchMode StretchMode READ StretchMode WRITE SetStretchMode)
    Q_PROPERTY(bool Empty READ Empty WRITE SetEmpty STORED false)
    Q_PROPERTY(int Left READ Left WRITE SetLeft)
    Q_PROPERTY(int Top READ Top WRITE SetTop)
    Q_PROPERTY(int Right READ Right WRITE SetRight)
    Q_PROPERTY(int Bottom READ Bottom WRITE SetBottom)

public:
    using TNotifyEvent = std::function<void(QObject* sender)>;

    explicit TDesignRect(QObject* parent = nullptr);

    TSuperStretchMode StretchMode() const { return m_stretchMode; }
    void SetStretchMode(TSuperStretchMode mode);
    bool Empty() const { return m_left == 0 && m_top == 0 && m_right == 0 && m_bottom == 0; }
    // True clears the margins and always notifies; False keeps them and notifies with
    // WantDefaultMargins raised, so the owner can fill in its default margins.
    void SetEmpty(bool value);
    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Right() const { return m_right; }
    int Bottom() const { return m_bottom; }
    void SetLeft(int value) { SetMargin(0, value); }
    void SetTop(int value) { SetMargin(1, value); }
    void SetRight(int value) { SetMargin(2, value); }
    void SetBottom(int value) { SetMargin(3, value); }

    bool WantDefaultMargins() const { return m_wantDefaultMargins; }
    // Without notification. Right -1000 takes the left value, bottom -1000 the top value.
    void SetMargins(int left, int top, int right, int bottom);

    // Null empties the rectangle; another rectangle copies its margins (not its mode) and notifies
    // only if they differ; anything else cannot be assigned (platform::Exception).
    void Assign(const QObject* source);

    void SetOnChange(TNotifyEvent handler) { m_onChange = std::move(handler); }
    virtual void Changed();

    // Whether form data would carry the property: stored and not at its default.
    bool IsPropertyStored(const char* name) const;

private:
    void SetMargin(int index, int value);

    // Declaration order as the framework lays the fields out.
    qint32 m_right = 0;
    qint32 m_bottom = 0;
    qint32 m_top = 0;
    qint32 m_left = 0;
    TSuperStretchMode m_stretchMode = sdmDefault;
    bool m_wantDefaultMargins = false;
    TNotifyEvent m_onChange;
};

// A rectangle of inner's size centred in outer (a larger inner sticks out evenly).
void CenterRect(const TRect& outer, const TRect& inner, TRect& result);

// Draws `graphic` into `dest` cut by `design`, on `dc` or else on the canvas. A bitmap of 32 bits
// with ignored alpha is switched to defined alpha (premultiplied) by the drawing.
void DrawDesignRect(QPainter* canvas, TGraphic* graphic, const TRect& dest, const TDesignRect* design,
                    QPainter* dc = nullptr);

void DrawNineSlice(const TBlendFunction& blend, QPainter& dc, TGraphic& graphic, const TRect& dest, int left,
                   int top, int right, int bottom, TSuperStretchMode mode);

// Covers the destination with 1:1 copies of the source piece, column by column; the last row and
// column take the top and left parts of the piece.
void TileBlit(const TBlitOperation& operation, QPainter& dc, int destX, int destY, int destW, int destH,
              int sx, int sy, int sw, int sh);

} // namespace controls
