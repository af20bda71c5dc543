// The image button: construction, the published properties and their change handling.
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

// A default as its property carries it: cursors are published as int.
template <typename T> QVariant StoredForm(const T& value)
{
    return QVariant::fromValue(value);
}
QVariant StoredForm(TCursor value)
{
    return int(value);
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
#define SKINTOOL_DEFAULT_ENTRY(name, type, value) {#name, StoredForm(TImageButtonDefaults::name)},
        SKINTOOL_IMAGE_BUTTON_DEFAULTS(SKINTOOL_DEFAULT_ENTRY)
#undef SKINTOOL_DEFAULT_ENTRY
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

} // namespace controls
