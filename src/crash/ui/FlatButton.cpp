#include "crash/ui/FlatButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace crash::ui {

FlatButton::FlatButton(const QString& caption, bool flat, QWidget* parent)
    : QPushButton(caption, parent), m_flatDrawn(flat)
{
    setAutoDefault(false);
    m_release.setSingleShot(true);
    connect(&m_release, &QTimer::timeout, this, &FlatButton::releasePressed);
}

void FlatButton::showPressed(int releaseAfterMs)
{
    m_shownPressed = true;
    if (releaseAfterMs >= 0)
        m_release.start(releaseAfterMs);
    else
        m_release.stop();
    repaint(); // the caller's action may keep the event loop busy for a while
}

void FlatButton::releasePressed()
{
    m_release.stop();
    if (!m_shownPressed)
        return;
    m_shownPressed = false;
    update();
}

bool FlatButton::focusArrivedWithin(int ms) const
{
    return hasFocus() && m_focusClock.isValid() && !m_focusClock.hasExpired(ms);
}

void FlatButton::focusInEvent(QFocusEvent* event)
{
    m_focusClock.start();
    QPushButton::focusInEvent(event);
}

void FlatButton::setCountdown(double share)
{
    if (share == m_countdown)
        return;
    m_countdown = share;
    update();
}

void FlatButton::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        animateClick();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void FlatButton::paintEvent(QPaintEvent* event)
{
    if (!m_flatDrawn)
        QPushButton::paintEvent(event);
    QPainter painter(this);
    const QRect face = rect().adjusted(2, 2, -2, -2);
    const bool down = isDown() || m_shownPressed;
    if (m_flatDrawn) {
        const bool focused = hasFocus();
        QColor background = focused ? QColor(64, 64, 64) : palette().color(QPalette::Button);
        if (down)
            background = focused ? QColor(32, 32, 32) : palette().color(QPalette::Mid);
        if (!isEnabled())
            background = palette().color(QPalette::Button);
        painter.fillRect(face, background);
        painter.setPen(focused ? QColor(64, 64, 64) : palette().color(QPalette::Dark));
        painter.drawRect(face.adjusted(0, 0, -1, -1));
    }
    if (m_countdown >= 0) {
        const QRect bar(face.left() + 2, face.bottom() - 3,
                        int((face.width() - 4) * std::min(1.0, m_countdown)), 2);
        painter.fillRect(bar, m_flatDrawn && hasFocus() ? QColor(255, 200, 64) : QColor(0, 120, 215));
    }
    if (m_flatDrawn) {
        QColor textColour = hasFocus() ? Qt::white : palette().color(QPalette::ButtonText);
        if (!isEnabled())
            textColour = palette().color(QPalette::Disabled, QPalette::ButtonText);
        painter.setPen(textColour);
        painter.setFont(font());
        const QPoint shift = down ? QPoint(1, 1) : QPoint();
        painter.drawText(face.translated(shift), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
}

} // namespace crash::ui
