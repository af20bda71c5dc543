#include "crash/send/SendProgress.h"

namespace crash::send {

void SendProgress::addStep(const QString& text, qint64 weight)
{
    ++m_steps;
    if (m_window)
        m_window->addStep(text, weight);
}

void SendProgress::show(bool foreground)
{
    if (m_window)
        m_window->show(foreground);
}

void SendProgress::stepDone()
{
    if (m_window && !m_closed)
        m_window->stepDone();
}

void SendProgress::setPosition(int thousandths)
{
    if (m_window && !m_closed)
        m_window->setStepPosition(std::clamp(thousandths, 0, 1000));
}

void SendProgress::setCurrentStep(int step)
{
    if (m_window && !m_closed)
        m_window->setCurrentStep(step);
}

int SendProgress::currentStep() const
{
    return m_window ? m_window->currentStep() : 0;
}

void SendProgress::close()
{
    if (m_window && !m_closed)
        m_window->close();
    m_closed = true;
}

} // namespace crash::send
