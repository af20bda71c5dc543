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

// The framework's stock cursors by number; unknown numbers show the arrow.
Qt::CursorShape CursorShape(TCursor cursor)
{
    switch (cursor) {
    case -1:
        return Qt::BlankCursor;
    case -3:
        return Qt::CrossCursor;
    case -4:
        return Qt::IBeamCursor;
    case -5:
    case -22:
        return Qt::SizeAllCursor;
    case -6:
        return Qt::SizeBDiagCursor;
    case -7:
        return Qt::SizeVerCursor;
    case -8:
        return Qt::SizeFDiagCursor;
    case -9:
        return Qt::SizeHorCursor;
    case -10:
        return Qt::UpArrowCursor;
    case -11:
    case -17:
        return Qt::WaitCursor;
    case -12:
        return Qt::DragMoveCursor;
    case -13:
    case -18:
        return Qt::ForbiddenCursor;
    case -14:
        return Qt::SplitHCursor;
    case -15:
        return Qt::SplitVCursor;
    case -16:
        return Qt::DragCopyCursor;
    case -19:
        return Qt::BusyCursor;
    case -20:
        return Qt::WhatsThisCursor;
    case crHandPoint:
        return Qt::PointingHandCursor;
    default:
        return Qt::ArrowCursor;
    }
}

// The part of a hint before "|"; the rest is the long hint for a status bar.
QString ShortHint(const QString& hint)
{
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QByteArray UnqualifiedClassName(const QObject* object)
{
    const QByteArray name = object->metaObject()->className();
    const qsizetype colon = name.lastIndexOf("::");
    return colon < 0 ? name : name.mid(colon + 2);
}

// Right and Bottom are exclusive, as everywhere in TRect.
bool Contains(const TRect& r, int x, int y)
{
    return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom;
}

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

TRdImageButton::TRdImageButton(QWidget* parent)
    : QWidget(parent), m_rangeMask(imaging::TPngImage(imaging::PngColorType::Rgb, 8, 1, 1))
{
    // No size of its own until the form gives one.
    setGeometry(0, 0, 0, 0);
    // Icon hover and cursors follow the pointer without a pressed button.
    setMouseTracking(true);
    m_imageRange = NewPicture(nullptr);
    m_imageNormal = NewPicture(&TRdImageButton::StateImageChanged);
    m_imageDown = NewPicture(&TRdImageButton::StateImageChanged);
    m_imageOver = NewPicture(&TRdImageButton::StateImageChanged);
    m_imageDisabled = NewPicture(&TRdImageButton::StateImageChanged);
    m_imageSelected = NewPicture(&TRdImageButton::StateImageChanged);
    m_expandImage = NewPicture(&TRdImageButton::OverlayImageChanged);
    for (auto& set : m_icons)
        for (auto& icon : set)
            icon = NewPicture(&TRdImageButton::OverlayImageChanged);
    m_checkBoxNormalImage = NewPicture(&TRdImageButton::OverlayImageChanged);
    m_checkBoxCheckedImage = NewPicture(&TRdImageButton::OverlayImageChanged);
    m_checkBoxGrayedImage = NewPicture(&TRdImageButton::OverlayImageChanged);
    m_checkBoxCheckedGrayedImage = NewPicture(&TRdImageButton::OverlayImageChanged);
    m_imageOption = new TDesignRect(this);
    m_imageOption->SetOnChange([this](QObject* sender) { StateImageChanged(sender); });
}

TRdImageButton::~TRdImageButton()
{
    // The pictures are children and go with the widget; their handlers must not run meanwhile.
    for (QObject* child : children())
        if (auto picture = qobject_cast<TPicture*>(child))
            picture->SetOnChange(nullptr);
    m_imageOption->SetOnChange(nullptr);
}

TPicture* TRdImageButton::NewPicture(void (TRdImageButton::*handler)(QObject*))
{
    auto picture = new TPicture(this);
    if (handler)
        picture->SetOnChange([this, handler](QObject* sender) { (this->*handler)(sender); });
    else
        picture->SetOnChange([](QObject*) {});
    return picture;
}

void TRdImageButton::Loaded()
{
    m_loading = false;
    AdjustSizeByText();
}

bool TRdImageButton::IsPropertyStored(const char* name) const
{
    static const QHash<QByteArray, QVariant> defaults = {
        {"Align", QVariant::fromValue(alNone)},
        {"Anchors", QVariant::fromValue(TAnchors(akLeft) | akTop)},
        {"AutoSize", false},
        {"EllipsisByHeight", false},
        {"AutoSizeByText", false},
        {"ShowAccelChar", true},
        {"AutoShowHint", false},
        {"FontDisabledColor", cl3DDkShadow},
        {"FontHoverColor", clDefault},
        {"FontSelectedColor", clDefault},
        {"FontDownColor", clDefault},
        {"FontColor", clWindowText},
        {"Visible", true},
        {"Caption", QString()},
        {"Expand", false},
        {"Enabled", true},
        {"ParentShowHint", true},
        {"ShowHint", false},
        {"Hint", QString()},
        {"ParentFont", true},
        {"ButtonCaptionAlignment", QVariant::fromValue(taCenter)},
        {"TextLeftMargin", 0},
        {"TextRightMargin", 0},
        {"TextTopMargin", 0},
        {"TextOffset", 20},
        {"IconOffset", 10},
        {"IconOffsetY", 0},
        {"TextTopOffset", 0},
        {"IconVisible", true},
        {"IconAlign", QVariant::fromValue(taRightJustify)},
        {"IconAlignY", QVariant::fromValue(taVerticalCenter)},
        {"IconCursor", int(crDefault)},
        {"IconLockBySelected", true},
        {"IconFullClick", false},
        {"ShowCheckBox", false},
        {"Checked", false},
        {"CheckBoxCursor", int(crDefault)},
        {"CheckBoxFullClick", true},
        {"CheckBoxAlignX", QVariant::fromValue(taLeftJustify)},
        {"CheckBoxAlignY", QVariant::fromValue(taVerticalCenter)},
        {"CheckBoxOffset", 10},
        {"CheckBoxOffsetY", 0},
        {"SubCaption", QString()},
        {"SubCaptionOffset", 50},
        {"SubCaptionData", QString()},
        {"WordWrap", false},
        {"TextWarpAlign", QVariant::fromValue(taLeftJustify)},
    };
    const QByteArray key(name);
    if (key == "FoundTextEllipsis" || key == "FoundTextWordBreak")
        return false;
    // Checked and unchecked travel as Checked; only the grayed state needs CheckState itself.
    if (key == "CheckState")
        return m_checkState == cbGrayed;
    if (key == "Font")
        return !ParentFont();
    if (key == "SubCaptionFont")
        return m_subCaptionFont != QFont();
    if (key == "SubCaptionDataFont")
        return m_subCaptionDataFont != QFont();
    if (key == "PopupMenu")
        return m_popupMenu != nullptr;
    if (key == "ImageOption") {
        for (const char* p : {"StretchMode", "Left", "Top", "Right", "Bottom"})
            if (m_imageOption->IsPropertyStored(p))
                return true;
        return false;
    }
    const QVariant value = property(name);
    if (auto picture = value.value<TPicture*>())
        return picture->HasGraphic();
    const auto it = defaults.find(key);
    if (it == defaults.end())
        return false;
    if (it->metaType().flags() & QMetaType::IsEnumeration)
        return value.toInt() != it->toInt();
    return value != *it;
}

void TRdImageButton::SetAlign(TAlign value)
{
    m_align = value;
}

void TRdImageButton::SetAutoSize(bool value)
{
    if (m_autoSize == value)
        return;
    m_autoSize = value;
    if (value && !m_loading)
        SetBounds(x(), y(), width(), height());
}

void TRdImageButton::SetEllipsisByHeight(bool value)
{
    SetRepaint(m_ellipsisByHeight, value);
}

void TRdImageButton::SetAutoSizeByText(bool value)
{
    if (m_autoSizeByText == value)
        return;
    m_autoSizeByText = value;
    AdjustSizeByText();
}

void TRdImageButton::SetAutoShowHint(bool value)
{
    if (m_autoShowHint == value)
        return;
    m_autoShowHint = value;
    // Hints are wanted either way: the automatic rule only decides what they say.
    SetShowHint(true);
}

void TRdImageButton::SetShowHint(bool value)
{
    if (m_showHint == value)
        return;
    m_showHint = value;
    m_parentShowHint = false;
}

void TRdImageButton::SetFontColor(TColor value)
{
    if (m_fontColor == value)
        return;
    m_fontColor = value;
    AdjustSizeByText();
    Invalidate();
}

void TRdImageButton::SetParentFont(bool value)
{
    if (value == ParentFont())
        return;
    if (value) {
        setFont(QFont());
        return;
    }
    // Keep the current font, now as the control's own.
    QFont own = font();
    own.setFamilies(own.families().isEmpty() ? QStringList{own.family()} : own.families());
    own.setWeight(own.weight());
    setFont(own);
}

void TRdImageButton::SetCaption(const QString& value)
{
    if (m_caption == value)
        return;
    m_caption = value;
    AdjustSizeByText();
    emit OnCaptionChanged(this);
    Invalidate();
}

void TRdImageButton::SetImageDisabled(TPicture* value)
{
    m_imageDisabled->Assign(value);
    if (!isEnabled())
        Invalidate();
}

void TRdImageButton::SetCheckState(TCheckBoxState value)
{
    if (m_checkState == value)
        return;
    m_checkState = value;
    emit OnCheckedChanged(this);
    if (m_showCheckBox)
        Invalidate();
}

void TRdImageButton::SetSubCaptionFont(const QFont& value)
{
    m_subCaptionFont = value;
    Invalidate();
}

void TRdImageButton::SetSubCaptionDataFont(const QFont& value)
{
    m_subCaptionDataFont = value;
    Invalidate();
}

void TRdImageButton::SetButtonState(TImageButtonState value)
{
    const TImageButtonState old = m_buttonState;
    bool changed = value != old;
    m_buttonState = value;
    if (value == TImageButtonState::Selected) {
        changed = changed || m_hover;
        m_hover = false;
        if (m_iconLockBySelected && m_iconFullClick && m_iconState != TIconState::Disabled)
            SetIconState(TIconState::Selected);
    } else if (value == TImageButtonState::Normal && old == TImageButtonState::Selected &&
               m_iconLockBySelected && m_iconFullClick && m_iconState == TIconState::Selected) {
        SetIconState(TIconState::Normal);
    }
    if (changed)
        Invalidate();
}

void TRdImageButton::SetHover(bool value)
{
    if (m_hover == value)
        return;
    m_hover = value;
    if (!isEnabled() || m_imageOver->HasGraphic() || m_fontHoverColor != clDefault)
        Invalidate();
}

void TRdImageButton::SetIconState(TIconState value)
{
    if (m_iconState == value)
        return;
    if (!m_iconVisible) {
        m_iconState = value;
        return;
    }
    const bool oldShown = IconPicture(m_iconState)->HasGraphic();
    const bool normalShown = IconPicture(TIconState::Normal)->HasGraphic();
    m_iconState = value;
    if (oldShown && normalShown && IconPicture(value)->HasGraphic())
        Invalidate();
}

TPicture* TRdImageButton::IconPicture(TIconState state) const
{
    return m_icons[m_expand ? Up : Dn][int(state)];
}

bool TRdImageButton::IsCheckBoxPicture(const QObject* sender) const
{
    return sender == m_checkBoxNormalImage || sender == m_checkBoxCheckedImage ||
           sender == m_checkBoxGrayedImage || sender == m_checkBoxCheckedGrayedImage;
}

void TRdImageButton::SetBounds(int left, int top, int w, int h)
{
    if (m_autoSize)
        CanAutoSize(w, h);
    setGeometry(left, top, std::max(w, 0), std::max(h, 0));
}

bool TRdImageButton::CanAutoSize(int& newWidth, int& newHeight)
{
    if (m_imageNormal->Width() > 0 && m_imageNormal->Height() > 0) {
        if (m_align == alNone || m_align == alLeft || m_align == alRight)
            newWidth = m_imageNormal->Width();
        if (m_align == alNone || m_align == alTop || m_align == alBottom)
            newHeight = m_imageNormal->Height();
    }
    return true;
}

void TRdImageButton::StateImageChanged(QObject* sender)
{
    if (m_imageOption->WantDefaultMargins()) {
        m_imageOption->SetMargins(m_imageNormal->Width() / 3, m_imageNormal->Height() / 3, -1000, -1000);
    } else {
        if (sender == m_imageNormal)
            m_normalImageCache.Assign(m_imageNormal->Graphic());
        else if (sender == m_imageOver)
            m_overImageCache.Assign(m_imageOver->Graphic());
        if (m_autoSize && m_imageNormal->Width() > 0 && m_imageNormal->Height() > 0)
            SetBounds(x(), y(), m_imageNormal->Width(), m_imageNormal->Height());
    }
    if (!m_loading && sender != m_imageDisabled)
        Invalidate();
}

void TRdImageButton::OverlayImageChanged(QObject* sender)
{
    if ((sender == m_expandImage && !m_expand) || (!m_showCheckBox && IsCheckBoxPicture(sender)) ||
        !m_iconVisible)
        return;
    AdjustSizeByText();
    try {
        Invalidate();
    } catch (...) {
    }
}

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

// ---- input and states ------------------------------------------------------------------------

void TRdImageButton::SetCursor(TCursor value)
{
    m_cursor = value;
    if (value == crDefault)
        unsetCursor();
    else
        setCursor(CursorShape(value));
}

bool TRdImageButton::IconHitTest(int x, int y) const
{
    if (!m_iconVisible)
        return false;
    const TPicture* picture = IconPicture(m_iconState);
    if (!picture->HasGraphic())
        picture = IconPicture(TIconState::Normal);
    return Contains(CalcIconRect(picture->Width(), picture->Height()), x, y);
}

bool TRdImageButton::CheckBoxHitClick(int x, int y, bool testOnly)
{
    if (!m_showCheckBox)
        return false;
    // The box is measured by the unchecked picture whatever the state, placed as it is drawn.
    const bool inside =
        Contains(CheckBoxRect(m_checkBoxNormalImage->Width(), m_checkBoxNormalImage->Height()), x, y);
    if (!inside) {
        // A fold panel's header only toggles on the box itself; the icon has its own click.
        if (parentWidget() && UnqualifiedClassName(parentWidget()) == "TRdFoldPanel")
            return false;
        if (IconHitTest(x, y))
            return false;
    }
    if (testOnly)
        return inside;
    if (!m_checkBoxFullClick && !inside)
        return false;
    // Stored directly: a toggle by the mouse is not a change of Checked by code.
    m_checkState = m_checkState == cbChecked ? cbUnchecked : cbChecked;
    if (inside && !m_checkBoxFullClick)
        m_clicked = false;
    emit CheckBoxOnClick(this);
    Invalidate();
    return inside;
}

bool TRdImageButton::RangeHitTest(int x, int y)
{
    auto* range = dynamic_cast<TPngGraphic*>(m_imageRange->Graphic());
    if (!range || range->Png().Empty())
        return true;
    if (!m_imageOption->Empty())
        UpdateRangeMask();
    const imaging::TPngImage& mask = m_imageOption->Empty() ? range->Png() : m_rangeMask.Png();
    if (x < 0 || x >= mask.Width() || y < 0 || y >= mask.Height())
        return false;
    const std::array<uint16_t, 4> pixel = mask.Pixel16(x, y);
    if (mask.HasTransparency() && pixel[3] == 0)
        return false;
    return pixel[0] != 0 || pixel[1] != 0 || pixel[2] != 0;
}

bool TRdImageButton::HitTest(const QPoint& p)
{
    return rect().contains(p) && RangeHitTest(p.x(), p.y());
}

QWidget* TRdImageButton::WidgetBeneath(const QPoint& p) const
{
    QWidget* parent = parentWidget();
    if (!parent)
        return nullptr;
    const QPoint inParent = mapToParent(p);
    // Siblings later in the list are stacked higher: look at those below this control only.
    const QObjectList& siblings = parent->children();
    for (qsizetype i = siblings.indexOf(const_cast<TRdImageButton*>(this)) - 1; i >= 0; --i) {
        auto* w = qobject_cast<QWidget*>(siblings[i]);
        if (!w || w->isWindow() || w->isHidden() || w->testAttribute(Qt::WA_TransparentForMouseEvents) ||
            !w->geometry().contains(inParent))
            continue;
        const QPoint inSibling = inParent - w->pos();
        if (!w->mask().isEmpty() && !w->mask().contains(inSibling))
            continue;
        QWidget* inner = w->childAt(inSibling);
        return inner ? inner : w;
    }
    return parent;
}

bool TRdImageButton::PassPressOn(QMouseEvent* event)
{
    const QPoint p = event->position().toPoint();
    // The first button down decides where the press belongs; later ones follow it.
    if (!(m_forwarding || (event->buttons() == event->button() && !HitTest(p))))
        return false;
    if (!m_forwarding) {
        m_forwarding = true;
        m_forwardTarget = WidgetBeneath(p);
    }
    ForwardToTarget(event);
    return true;
}

void TRdImageButton::ForwardToTarget(QMouseEvent* event)
{
    if (m_forwardTarget)
        Forward(m_forwardTarget, event);
    event->accept();
}

void TRdImageButton::Forward(QWidget* target, QMouseEvent* event)
{
    QWidget* top = window();
    const QPointF local = target->mapFrom(top, mapTo(top, event->position()));
    QMouseEvent copy(event->type(), local, event->scenePosition(), event->globalPosition(), event->button(),
                     event->buttons(), event->modifiers(), event->pointingDevice());
    copy.setTimestamp(event->timestamp());
    QCoreApplication::sendEvent(target, &copy);
}

void TRdImageButton::SetPointerInside(bool inside)
{
    if (m_pointerInside == inside)
        return;
    m_pointerInside = inside;
    if (inside)
        MouseEnter();
    else
        MouseLeave();
}

bool TRdImageButton::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (!HitTest(help->pos())) {
            if (QWidget* beneath = WidgetBeneath(help->pos())) {
                QWidget* top = window();
                QHelpEvent copy(QEvent::ToolTip, beneath->mapFrom(top, mapTo(top, help->pos())),
                                help->globalPos());
                QCoreApplication::sendEvent(beneath, &copy);
            }
            return true;
        }
        if (!EffectiveShowHint()) {
            // Without hints of its own the control leaves the hint to its parent.
            event->ignore();
            return false;
        }
        HintShow(help);
        return true;
    }
    return QWidget::event(event);
}

bool TRdImageButton::EffectiveShowHint() const
{
    if (m_parentShowHint && parentWidget()) {
        const QVariant parentValue = parentWidget()->property("ShowHint");
        if (parentValue.isValid())
            return parentValue.toBool();
    }
    return m_showHint;
}

void TRdImageButton::HintShow(QHelpEvent* event)
{
    THintInfo info{event->pos(), rect(), ShortHint(m_hint)};
    if (m_autoShowHint) {
        // Only a caption cut short by its rectangle needs a hint, and then it is the caption.
        if (!m_foundTextEllipsis)
            info.HintStr.clear();
        else if (m_hint.isEmpty())
            info.HintStr = m_caption;
    }
    int result = 0;
    if (m_onShowHint) {
        bool canShow = result == 0;
        m_onShowHint(info.HintStr, canShow, info);
        result = canShow ? 0 : 1;
    }
    if (result == 0 && !info.HintStr.isEmpty())
        QToolTip::showText(mapToGlobal(info.CursorPos), info.HintStr, this, info.CursorRect);
    else
        QToolTip::hideText();
}

void TRdImageButton::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    if (!m_forwarding)
        SetPointerInside(HitTest(event->position().toPoint()));
}

void TRdImageButton::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    SetPointerInside(false);
}

void TRdImageButton::mousePressEvent(QMouseEvent* event)
{
    if (PassPressOn(event))
        return;
    const QPoint p = event->position().toPoint();
    m_lastMousePos = p;
    if (event->button() == Qt::LeftButton)
        m_clicked = true;
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TRdImageButton::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (PassPressOn(event))
        return;
    const QPoint p = event->position().toPoint();
    m_lastMousePos = p;
    // The second press of a double click is no click of its own.
    if (event->button() == Qt::LeftButton)
        DblClick();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TRdImageButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_forwarding) {
        ForwardToTarget(event);
        if (event->buttons() == Qt::NoButton) {
            m_forwarding = false;
            m_forwardTarget = nullptr;
        }
        return;
    }
    const QPoint p = event->position().toPoint();
    m_lastMousePos = p;
    if (event->button() == Qt::LeftButton && m_clicked) {
        m_clicked = false;
        if (rect().contains(p))
            Click();
    }
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TRdImageButton::mouseMoveEvent(QMouseEvent* event)
{
    if (m_forwarding) {
        ForwardToTarget(event);
        return;
    }
    const QPoint p = event->position().toPoint();
    // While a button is held the control keeps the pointer, but still learns when it leaves and
    // comes back, so a pressed button shows whether a release would click.
    const bool inside = HitTest(p);
    SetPointerInside(inside);
    if (!inside && event->buttons() == Qt::NoButton) {
        if (QWidget* beneath = WidgetBeneath(p))
            Forward(beneath, event);
        event->accept();
        return;
    }
    m_lastMousePos = p;
    MouseMove(event->modifiers(), p.x(), p.y());
}

void TRdImageButton::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse && !HitTest(event->pos())) {
        event->ignore();
        return;
    }
    bool handled = false;
    emit OnContextPopup(this, event->pos(), &handled);
    if (!handled && m_popupMenu) {
        m_popupMenu->popup(event->globalPos());
        handled = true;
    }
    event->setAccepted(handled);
}

void TRdImageButton::MouseEnter()
{
    m_iconStateAtEnter = quint8(m_iconState);
    if (isEnabled()) {
        const bool wasHover = m_hover;
        if (m_buttonState != TImageButtonState::Selected)
            m_hover = true;
        emit OnMouseEnter(this);
        m_iconStateAtEnter = quint8(m_iconState);
        if (m_buttonState == TImageButtonState::Selected) {
            if (m_hover)
                SetHover(false);
            if (m_iconFullClick && m_iconState == TIconState::Normal)
                SetIconState(TIconState::Hover);
        } else if (m_hover && !wasHover) {
            if (m_iconFullClick && m_iconState == TIconState::Normal)
                SetIconState(TIconState::Hover);
            if (m_imageOver->HasGraphic() || m_fontHoverColor != clDefault)
                Invalidate();
        }
    } else {
        emit OnMouseEnter(this);
    }
}

void TRdImageButton::MouseLeave()
{
    RestoreCursor(m_savedCheckBoxCursor);
    if (m_iconState == TIconState::Normal || m_iconState == TIconState::Hover) {
        SetIconState(TIconState::Normal);
        RestoreCursor(m_savedIconCursor);
    }
    if (m_buttonState == TImageButtonState::Selected) {
        if (m_imageOver->HasGraphic() || m_fontHoverColor != clDefault)
            Invalidate();
    } else if (m_hover) {
        SetHover(false);
    }
    emit OnMouseExit(this);
    m_iconStateAtEnter = quint8(m_iconState);
}

void TRdImageButton::RestoreCursor(TCursor& saved)
{
    if (saved == -1)
        return;
    SetCursor(saved);
    saved = -1;
}

void TRdImageButton::FollowIconCursor(bool onIcon)
{
    if (!onIcon) {
        RestoreCursor(m_savedIconCursor);
        return;
    }
    if (m_iconCursor != crDefault && m_cursor != m_iconCursor) {
        m_savedIconCursor = m_cursor;
        SetCursor(m_iconCursor);
    }
}

void TRdImageButton::MouseMove(Qt::KeyboardModifiers shift, int x, int y)
{
    if (m_checkBoxCursor != crDefault) {
        const bool overBox = CheckBoxHitClick(x, y, true);
        if (overBox && m_cursor != m_checkBoxCursor) {
            m_savedCheckBoxCursor = m_cursor;
            SetCursor(m_checkBoxCursor);
        } else if (!overBox) {
            RestoreCursor(m_savedCheckBoxCursor);
        }
    }
    if (!(m_buttonState == TImageButtonState::Selected && m_iconLockBySelected) &&
        m_iconState != TIconState::Down && m_iconState != TIconState::Disabled &&
        m_iconStateAtEnter != quint8(TIconState::Selected)) {
        const bool onIcon = IconHitTest(x, y);
        if (m_iconStateAtEnter == quint8(TIconState::Hover)) {
            if (m_iconCursor != crDefault)
                FollowIconCursor(onIcon);
        } else if (onIcon) {
            SetIconState(TIconState::Hover);
            FollowIconCursor(true);
        } else {
            if (!m_iconFullClick)
                SetIconState(TIconState::Normal);
            RestoreCursor(m_savedIconCursor);
        }
    }
    emit OnMouseMove(this, shift, x, y);
}

void TRdImageButton::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    bool pressesButton = true;
    try {
        if (button == Qt::LeftButton && CheckBoxHitClick(x, y, false)) {
            pressesButton = false; // the press toggled the box and is not the button's
        } else if (m_buttonState == TImageButtonState::Selected && m_iconLockBySelected) {
            pressesButton = false;
        } else if (button == Qt::LeftButton && m_iconState != TIconState::Disabled &&
                   m_iconState != TIconState::Selected && (m_iconFullClick || IconHitTest(x, y))) {
            SetIconState(TIconState::Down);
            // Without IconFullClick a press on the icon is the icon's alone.
            pressesButton = m_iconFullClick;
        }
    } catch (...) {
        emit OnMouseDown(this, button, shift, x, y);
        throw;
    }
    emit OnMouseDown(this, button, shift, x, y);
    if (pressesButton && button == Qt::LeftButton && m_buttonState == TImageButtonState::Normal)
        SetButtonState(TImageButtonState::Pressed);
}

void TRdImageButton::LiftPress()
{
    SetButtonState(TImageButtonState::Normal);
    if (m_iconFullClick && m_iconState == TIconState::Down)
        SetIconState(m_hover ? TIconState::Hover : TIconState::Normal);
}

void TRdImageButton::Click()
{
    if (m_buttonState == TImageButtonState::Pressed)
        LiftPress();
    if (m_iconVisible && (m_iconState == TIconState::Down || m_iconState == TIconState::Selected) &&
        !m_iconFullClick) {
        const bool onIcon = IconHitTest(m_lastMousePos.x(), m_lastMousePos.y());
        if (m_iconState == TIconState::Selected) {
            if (onIcon) {
                emit IconOnClick(this);
                return;
            }
        } else if (onIcon) {
            SetIconState(TIconState::Hover);
            emit IconOnClick(this);
            return;
        } else {
            SetIconState(TIconState::Normal);
        }
    }
    emit OnClick(this);
}

void TRdImageButton::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    emit OnMouseUp(this, button, shift, x, y);
    if (m_buttonState == TImageButtonState::Selected && m_iconLockBySelected)
        return;
    const bool outside = !rect().contains(x, y);
    if (outside)
        SetHover(false);
    if (m_buttonState == TImageButtonState::Pressed) {
        LiftPress();
    } else if (m_buttonState == TImageButtonState::Selected && m_iconFullClick &&
               m_iconState == TIconState::Down) {
        SetIconState(TIconState::Hover);
    }
    // An icon pressed on its own and released off the control got no click to lift it.
    if (button == Qt::LeftButton && outside && !m_iconFullClick && m_iconState == TIconState::Down)
        SetIconState(TIconState::Normal);
}

void TRdImageButton::DblClick()
{
    if (!m_checkBoxFullClick && CheckBoxHitClick(m_lastMousePos.x(), m_lastMousePos.y(), true))
        return;
    emit OnDblClick(this);
}

} // namespace controls
