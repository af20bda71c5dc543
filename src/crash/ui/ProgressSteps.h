#pragma once
// The weighted steps of a progress window and where the bar stands: thousandths of the whole,
// each step counting by its weight. Not thread-safe on its own; TIProgressAlert guards it.

#include <QList>
#include <QString>
#include <QtGlobal>

namespace crash::ui {

class ProgressSteps
{
public:
    static constexpr int Full = 1000;

    // An empty text repeats the text of the step before.
    void add(const QString& text, qint64 weight);
    void clear();
    int count() const { return int(m_steps.size()); }

    // Ignored when equal to the current step, negative or beyond the count; the count itself
    // means all done: the last step with position 1000.
    void setCurrent(int step);
    void stepDone() { setCurrent(m_current + 1); }
    void setPosition(int thousandths);
    int current() const { return m_current; }
    int position() const { return m_position; }

    // (weight before the current step + its weight × position / 1000) × 1000 / total weight.
    int barPosition() const;
    QString currentText() const;
    // The texts of the current and all later steps (the window is sized for the longest).
    QStringList remainingTexts() const;

private:
    struct Step
    {
        QString text;
        qint64 weight;
        qint64 before;
    };
    QList<Step> m_steps;
    qint64 m_total = 0;
    int m_current = 0;
    int m_position = 0;
};

} // namespace crash::ui
