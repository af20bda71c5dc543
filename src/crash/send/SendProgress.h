#pragma once
// The progress window of one send, or nothing: every call is safe when no window could be made.

#include "crash/core/report/ReportServices.h"

#include <memory>

namespace crash::send {

class SendProgress
{
public:
    SendProgress() = default;
    explicit SendProgress(std::unique_ptr<ProgressAlert> window) : m_window(std::move(window)) {}

    ProgressAlert* window() const { return m_window.get(); }
    void addStep(const QString& text, qint64 weight);
    void show(bool foreground);
    void stepDone();
    void setPosition(int thousandths);
    void setCurrentStep(int step);
    int currentStep() const;
    void close();
    // Steps added through this object.
    int stepCount() const { return m_steps; }

private:
    std::unique_ptr<ProgressAlert> m_window;
    bool m_closed = false;
    int m_steps = 0;
};

} // namespace crash::send
