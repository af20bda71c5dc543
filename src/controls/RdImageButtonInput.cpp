// Input and states of the image button: hit tests, hover, cursors, hints, clicks and the
// check box.
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

} // namespace

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
