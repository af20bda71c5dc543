#include "crash/ui/FlatButton.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionButton>

namespace crash::ui {

FlatButton::FlatButton(const QString& caption, bool flat, QWidget* parent)
    : QPushButton(caption, parent), m_flatDrawn(flat)
{
    setAutoDefault(false);
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
    if (m_flatDrawn) {
        const bool focused = hasFocus();
        QColor background = focused ? QColor(64, 64, 64) : palette().color(QPalette::Button);
        if (isDown())
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
        const QPoint shift = isDown() ? QPoint(1, 1) : QPoint();
        painter.drawText(face.translated(shift), Qt::AlignCenter | Qt::TextShowMnemonic, text());
    }
}

} // namespace crash::ui
