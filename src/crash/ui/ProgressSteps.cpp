#include "crash/ui/ProgressSteps.h"

#include <algorithm>

namespace crash::ui {

void ProgressSteps::add(const QString& text, qint64 weight)
{
    weight = std::max<qint64>(0, weight);
    const QString stepText = text.isEmpty() && !m_steps.isEmpty() ? m_steps.last().text : text;
    m_steps.append({stepText, weight, m_total});
    m_total += weight;
}

void ProgressSteps::clear()
{
    m_steps.clear();
    m_total = 0;
    m_current = 0;
    m_position = 0;
}

void ProgressSteps::setCurrent(int step)
{
    if (step == m_current || step < 0 || step > count())
        return;
    if (step == count()) {
        m_current = std::max(0, count() - 1);
        m_position = Full;
    } else {
        m_current = step;
        m_position = 0;
    }
}

void ProgressSteps::setPosition(int thousandths)
{
    m_position = std::clamp(thousandths, 0, Full);
}

int ProgressSteps::barPosition() const
{
    if (m_total <= 0 || m_current >= count())
        return 0;
    const Step& step = m_steps[m_current];
    const qint64 done = step.before + step.weight * m_position / Full;
    return int(std::clamp<qint64>(done * Full / m_total, 0, Full));
}

QString ProgressSteps::currentText() const
{
    return m_current < count() ? m_steps[m_current].text : QString();
}

QStringList ProgressSteps::remainingTexts() const
{
    QStringList texts;
    for (int i = m_current; i < count(); ++i)
        texts.append(m_steps[i].text);
    return texts;
}

} // namespace crash::ui
