#pragma once
// The crash dialog's buttons. Flat ones are painted by the dialog (white on dark grey when
// focused, dark text on the button face otherwise); system-drawn ones (UglyBtns) keep the style's
// look. Either kind can show the countdown bar of the automatic action, and Enter clicks them.

#include <QPushButton>

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_flatDrawn;
    double m_countdown = -1;
};

} // namespace crash::ui
