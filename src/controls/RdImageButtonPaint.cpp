// Painting and layout of the image button: the measure pass, the background, icon, check box and
// caption.
#include "controls/RdImageButton.h"

#include "controls/TBitmap.h"
#include "platform/DrawText.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFontInfo>
#include <QHash>
#include <QHelpEvent>
#include <QMetaProperty>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QVariant>

namespace controls {

using namespace platform;

namespace {

// The canvas text height of this sample is the caption's line height.
const QString kLineSample = QStringLiteral("\u0060ghj_");

unsigned AlignmentFlag(TAlignment alignment)
{
    switch (alignment) {
    case taRightJustify:
        return DT_RIGHT;
    case taCenter:
        return DT_CENTER;
    default:
        return DT_LEFT;
    }
}

} // namespace

void TRdImageButton::AdjustSizeByText()
{
    if (m_loading || m_measuring)
        return;
    MeasurePass(m_autoSizeByText);
}

void TRdImageButton::MeasurePass(bool sizeToContent)
{
    // A scratch canvas stands in for the memory device context.
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    // Same resolution as the control, so point-sized fonts measure as they will paint.
    scratch.setDotsPerMeterX(qRound(logicalDpiX() / 0.0254));
    scratch.setDotsPerMeterY(qRound(logicalDpiY() / 0.0254));
    QPainter canvas(&scratch);
    if (!canvas.isActive())
        return;
    canvas.setFont(font());
    m_measuring = true;
    struct ClearMeasuring
    {
        bool& flag;
        ~ClearMeasuring() { flag = false; }
    } clear{m_measuring};

    if (sizeToContent) {
        TRect r = ClientRect();
        const int clientRight = r.Right;
        unsigned flags = 0;
        TPicture* icon = nullptr;
        TRect t;
        CalcTextRect(canvas, r, true, flags, icon, t);
        const int capRight = t.Right + (clientRight - r.Right);
        int needBottom = t.Bottom;
        int needWidth = 0;
        if (m_showCheckBox) {
            needBottom = std::max(needBottom, m_checkBoxNormalImage->Height() + m_checkBoxOffsetY);
            needWidth = m_checkBoxNormalImage->Width() + m_checkBoxOffset;
        }
        if (m_iconVisible) {
            const int iconWidth = icon ? icon->Width() : 0;
            const int iconHeight = icon ? icon->Height() : 0;
            needBottom = std::max(needBottom, iconHeight + m_iconOffsetY);
            needWidth = std::max(needWidth, iconWidth + m_iconOffset);
        }
        int newWidth = width();
        int newHeight = height();
        if (m_align == alNone || m_align == alLeft || m_align == alRight)
            newWidth = std::max(needWidth, capRight);
        if (m_align == alNone || m_align == alTop || m_align == alBottom)
            newHeight = m_textTopOffset + needBottom;
        SetBounds(x(), y(), newWidth, newHeight);
    }
    Paint(canvas);
}

void TRdImageButton::paintEvent(QPaintEvent*)
{
    QPainter canvas(this);
    Paint(canvas);
}

void TRdImageButton::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Resize();
}

void TRdImageButton::Resize()
{
    emit OnResize(this);
    if (!m_loading && !m_measuring)
        MeasurePass(false);
}

void TRdImageButton::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange)
        SetButtonState(isEnabled() ? TImageButtonState::Normal : TImageButtonState::Disabled);
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        AdjustSizeByText();
}

void TRdImageButton::Paint(QPainter& canvas)
{
    const TRect CR = ClientRect();
    TRect R = CR;
    canvas.setFont(font());

    TGraphic* background = nullptr;
    if (m_buttonState == TImageButtonState::Pressed && m_hover && m_imageDown->Width() > 0)
        background = m_imageDown->Graphic();
    else if (m_hover && m_overImageCache.Width() > 0 && isEnabled() &&
             m_buttonState != TImageButtonState::Selected)
        background = &m_overImageCache;
    else if (m_buttonState == TImageButtonState::Disabled && m_imageDisabled->Width() > 0)
        background = m_imageDisabled->Graphic();
    else if (m_buttonState == TImageButtonState::Selected && m_imageSelected->Width() > 0)
        background = m_imageSelected->Graphic();
    else if (m_expand && m_expandImage->Width() > 0)
        background = m_expandImage->Graphic();
    else
        background = &m_normalImageCache;

    TColor color = m_fontColor;
    TColor stateColor = clDefault;
    switch (m_buttonState) {
    case TImageButtonState::Normal:
        stateColor = m_hover ? m_fontHoverColor : clDefault;
        break;
    case TImageButtonState::Pressed:
        stateColor = m_fontDownColor;
        break;
    case TImageButtonState::Disabled:
        stateColor = m_fontDisabledColor;
        break;
    case TImageButtonState::Selected:
        stateColor = m_fontSelectedColor;
        break;
    }
    if (stateColor != clDefault)
        color = stateColor;
    canvas.setPen(ToQColor(color));

    if (!m_measuring) {
        if (m_designing && (!m_imageNormal->HasGraphic() || m_imageNormal->Graphic()->Empty())) {
            canvas.save();
            canvas.setPen(QPen(Qt::black, 1, Qt::DashLine));
            canvas.setCompositionMode(QPainter::RasterOp_NotDestination);
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(QRect(0, 0, width(), height()).adjusted(0, 0, -1, -1));
            canvas.restore();
        }
        DrawDesignRect(&canvas, background, R, m_imageOption);
        if (!m_designing)
            UpdateRangeMask();
        emit OnPaintImage(this);
    }

    unsigned flags = 0;
    TPicture* icon = nullptr;
    TRect T;
    CalcTextRect(canvas, R, false, flags, icon, T);

    switch (m_buttonCaptionAlignment) {
    case taLeftJustify:
        CenterRect(R, T, T);
        T.Left = R.Left;
        T.Right = R.Right;
        break;
    case taRightJustify: {
        CenterRect(R, T, T);
        const int w = T.Width();
        T.Left = std::max(R.Right - w, R.Left);
        T.Right = R.Right;
        break;
    }
    case taCenter:
        CenterRect(R, T, T);
        break;
    }

    const int minLeft = std::max(CR.Left + m_textLeftMargin, R.Left);
    const int maxRight = std::min(CR.Right - m_textRightMargin, R.Right);
    const int minTop = std::max(CR.Top + m_textTopMargin, R.Top);
    auto remeasure = [&] {
        TRect S = T;
        S.Top = R.Top;
        S.Bottom = R.Bottom;
        DrawText(canvas, m_caption, S, flags | DT_CALCRECT);
        S.Offset(0, (R.Height() - S.Height()) / 2);
        T.Top = S.Top;
        T.Bottom = S.Bottom;
    };
    if (T.Left < minLeft) {
        T.Offset(minLeft - T.Left, 0);
        if (T.Right > maxRight) {
            T.Right = maxRight;
            remeasure();
        }
    } else if (T.Right > maxRight) {
        T.Offset(maxRight - T.Right, 0);
        if (T.Left < minLeft) {
            T.Left = minLeft;
            remeasure();
        }
    }
    if (T.Top < minTop)
        T.Offset(0, minTop - T.Top);

    flags &= ~DT_NOCLIP;
    m_foundTextEllipsis = false;

    if (m_wordWrap && m_ellipsisByHeight) {
        TRect S = T.Moved(0, 1000);
        const int h = DrawText(canvas, m_caption, S, flags | DT_END_ELLIPSIS);
        S = T.Moved(0, m_textTopOffset);
        S.Bottom = S.Top + h;
        if (S.Bottom > CR.Bottom) {
            m_foundTextEllipsis = true;
            int L = TextHeight(canvas, kLineSample);
            if (L == 0)
                L = std::abs(QFontInfo(font()).pixelSize()) + 3;
            // Whole lines only, at least one, centred in the text area.
            auto fitLines = [&](const TRect& s) {
                const int n = std::max((std::min(CR.Bottom, s.Bottom) - std::max(s.Top, CR.Top)) / L, 1);
                T.Top = R.Top + (R.Height() - n * L) / 2;
                T.Bottom = T.Top + n * L;
            };
            fitLines(S);
            S = T.Moved(0, m_textTopOffset);
            if (S.Bottom > CR.Bottom || S.Top < CR.Top)
                fitLines(S);
            if (T.Top < minTop)
                T.Offset(0, minTop - T.Top);
        }
    }

    T.Offset(0, m_textTopOffset);
    canvas.setBackgroundMode(Qt::TransparentMode);
    flags |= AlignmentFlag(m_textWarpAlign);

    R = T;
    TRect S = T;
    DrawText(canvas, m_caption, S, flags | DT_END_ELLIPSIS | DT_CALCRECT);
    if (m_textWarpAlign == taRightJustify)
        S.Offset(T.Width() - S.Width(), 0);
    else if (m_textWarpAlign == taCenter)
        CenterRect(T, S, S);

    TRect drawn = T;
    DrawText(canvas, m_caption, drawn, flags | DT_END_ELLIPSIS);

    DrawText(canvas, m_caption, R, (flags & ~DT_WORDBREAK) | DT_CALCRECT | DT_NOCLIP);
    m_foundTextEllipsis = m_foundTextEllipsis || (!m_wordWrap && R.Width() > T.Width());
    m_foundTextWordBreak = R.Height() < T.Height();

    if (m_measuring)
        return;
    DrawIcon(canvas, icon);
    DrawCheckBox(canvas, S);
    emit OnPaintEnd(this);
}

void TRdImageButton::UpdateRangeMask()
{
    if (!m_imageRange->HasGraphic() || m_imageOption->Empty() || width() <= 0 || height() <= 0 ||
        (m_rangeMask.Width() == width() && m_rangeMask.Height() == height()))
        return;
    imaging::TPngImage& mask = m_rangeMask.Png();
    mask.SetSize(width(), height());
    QPainter& maskCanvas = mask.Canvas();
    maskCanvas.fillRect(QRect(0, 0, width(), height()), Qt::black);
    DrawDesignRect(&maskCanvas, m_imageRange->Graphic(), ClientRect(), m_imageOption);
    mask.ReleaseCanvas();
}

void TRdImageButton::CalcTextRect(QPainter& canvas, TRect& r, bool applyMargins, unsigned& flags,
                                  TPicture*& icon, TRect& t)
{
    flags = m_showAccelChar ? 0u : unsigned(DT_NOPREFIX);
    const int L0 = r.Left;
    const int R0 = r.Right;
    if (m_buttonCaptionAlignment == taLeftJustify)
        r.Left = L0 + m_textOffset;
    else if (m_buttonCaptionAlignment == taRightJustify)
        r.Right = R0 - m_textOffset;
    if (applyMargins) {
        r.Left = std::max(L0 + m_textLeftMargin, r.Left);
        r.Right = std::min(R0 - m_textRightMargin, r.Right);
        r.Top += m_textTopMargin;
    }
    flags |= m_wordWrap ? (DT_WORDBREAK | DT_EDITCONTROL | DT_NOCLIP) : (DT_SINGLELINE | DT_NOCLIP);

    icon = nullptr;
    if (m_iconVisible) {
        icon = IconPicture(m_iconState);
        const TPicture* normal = IconPicture(TIconState::Normal);
        const TRect IR = CalcIconRect(normal->Width(), normal->Height());
        if (IR.Width() != 0) {
            if (m_iconAlign == taLeftJustify)
                r.Left = std::max(IR.Right + (m_buttonCaptionAlignment == taLeftJustify ? m_textOffset : 0),
                                  r.Left);
            else if (m_iconAlign == taRightJustify)
                r.Right = std::min(IR.Left - (m_buttonCaptionAlignment == taRightJustify ? m_textOffset : 0),
                                   r.Right);
        }
    }
    t = r;
    DrawText(canvas, m_caption, t, flags | DT_CALCRECT);
}

TRect TRdImageButton::CalcIconRect(int w, int h) const
{
    if (!m_iconVisible)
        return {};
    TRect r = ClientRect();
    int y = 0;
    switch (m_iconAlignY) {
    case taAlignTop:
        y = m_iconOffsetY;
        break;
    case taAlignBottom:
        y = height() - h - m_iconOffsetY;
        break;
    case taVerticalCenter:
        y = (height() - h) / 2 + m_iconOffsetY;
        break;
    }
    r.Top = r.Top + y;
    r.Bottom = r.Top + h;
    switch (m_iconAlign) {
    case taLeftJustify:
        r.Left = m_iconOffset;
        r.Right = m_iconOffset + w;
        break;
    case taRightJustify:
        r.Left = width() - w - m_iconOffset;
        r.Right = width() - m_iconOffset;
        break;
    case taCenter:
        r.Left = r.Left + (width() - w) / 2 + m_iconOffset;
        r.Right = r.Left + w;
        break;
    }
    return r;
}

void TRdImageButton::DrawIcon(QPainter& canvas, TPicture* picture)
{
    if (!m_iconVisible)
        return;
    const TPicture* normal = IconPicture(TIconState::Normal);
    TGraphic* chosen = nullptr;
    std::unique_ptr<TBitmap> grey;
    if (!isEnabled()) {
        const TPicture* disabled = IconPicture(TIconState::Disabled);
        if (disabled->Width() > 0) {
            chosen = disabled->Graphic();
        } else if (normal->Width() > 0) {
            grey = std::make_unique<TBitmap>();
            grey->Assign(normal->Graphic());
            MakeGrayscale(*grey);
            chosen = grey.get();
        }
    } else if (picture && picture->Width() > 0) {
        chosen = picture->Graphic();
    } else if (normal->Width() > 0) {
        chosen = normal->Graphic();
    }
    if (!chosen)
        return;
    chosen->Draw(canvas, CalcIconRect(chosen->Width(), chosen->Height()));
}

void TRdImageButton::DrawCheckBox(QPainter& canvas, const TRect& s)
{
    m_textRect = s;
    if (!m_showCheckBox)
        return;
    TPicture* picture = m_checkBoxNormalImage;
    switch (m_checkState) {
    case cbUnchecked:
        if (!isEnabled() && m_checkBoxGrayedImage->HasGraphic())
            picture = m_checkBoxGrayedImage;
        break;
    case cbChecked:
        picture = m_checkBoxCheckedImage;
        if (!isEnabled() && m_checkBoxCheckedGrayedImage->HasGraphic())
            picture = m_checkBoxCheckedGrayedImage;
        break;
    case cbGrayed:
        if (m_checkBoxGrayedImage->HasGraphic())
            picture = m_checkBoxGrayedImage;
        break;
    }
    const int w = picture->Width();
    const int h = picture->Height();
    if (w < 1 || h < 1)
        return;
    picture->Graphic()->Draw(canvas, CheckBoxRect(w, h));
}

TRect TRdImageButton::CheckBoxRect(int w, int h) const
{
    int left = 0;
    switch (m_checkBoxAlignX) {
    case taLeftJustify:
        left = m_checkBoxOffset;
        break;
    case taRightJustify:
        left = width() - w - m_checkBoxOffset;
        break;
    case taCenter:
        left = (width() - w) / 2 + m_checkBoxOffset;
        break;
    }
    int top = 0;
    switch (m_checkBoxAlignY) {
    case taAlignTop:
        top = m_textRect.Top + m_checkBoxOffsetY;
        break;
    case taAlignBottom:
        top = m_textRect.Bottom - h - m_checkBoxOffsetY;
        break;
    case taVerticalCenter:
        top = (height() - h) / 2 + m_checkBoxOffsetY;
        break;
    }
    return TRect::Bounds(left, top, w, h);
}

} // namespace controls
