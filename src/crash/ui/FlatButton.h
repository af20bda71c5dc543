#pragma once
// The crash dialog's buttons. Flat ones are painted by the dialog (white on dark grey when
// focused, dark text on the button face otherwise); system-drawn ones (UglyBtns) keep the style's
// look. Either kind can show the countdown bar of the automatic action, and Enter clicks them.

#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

namespace crash::ui {

class FlatButton : public QPushButton
{
    Q_OBJECT
public:
    FlatButton(const QString& caption, bool flat, QWidget* parent = nullptr);

    // Share of the countdown drawn inside the button, 0 to 1; negative hides the bar.
    void setCountdown(double share);
    double countdown() const { return m_countdown; }
    bool isFlatDrawn() const { return m_flatDrawn; }

    // Draws the button pressed, released again after `releaseAfterMs` (never when negative).
    void showPressed(int releaseAfterMs = -1);
    void releasePressed();
    bool isShownPressed() const { return m_shownPressed; }
    // Whether the focus came to the button within the last `ms` milliseconds.
    bool focusArrivedWithin(int ms) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool m_flatDrawn;
    double m_countdown = -1;
    bool m_shownPressed = false;
    QTimer m_release;
    QElapsedTimer m_focusClock;
};

} // namespace crash::ui
