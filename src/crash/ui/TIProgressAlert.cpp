#include "crash/ui/TIProgressAlert.h"

#include <QCoreApplication>
#include <QThread>

namespace crash::ui {

namespace {

// Touched on the GUI thread only.
QPointer<QWidget>& ForegroundOwner()
{
    static QPointer<QWidget> owner;
    return owner;
}

} // namespace

ScopedProgressOwner::ScopedProgressOwner(QWidget* owner) : m_previous(ForegroundOwner())
{
    ForegroundOwner() = owner;
}

ScopedProgressOwner::~ScopedProgressOwner()
{
    ForegroundOwner() = m_previous;
}

TIProgressAlert::TIProgressAlert(const QString& title, const QPixmap& icon)
    : m_title(title), m_icon(icon), m_state(std::make_shared<ProgressState>()),
      m_window(std::make_shared<QPointer<ProgressWindow>>())
{
}

TIProgressAlert::~TIProgressAlert()
{
    close();
}

bool TIProgressAlert::onGuiThread() const
{
    const auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

template <typename Change> void TIProgressAlert::update(Change change)
{
    {
        std::lock_guard lock(m_state->lock);
        change(m_state->steps);
    }
    refreshWindow();
}

void TIProgressAlert::refreshWindow()
{
    if (onGuiThread()) {
        if (ProgressWindow* window = *m_window) {
            window->refresh();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        return;
    }
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [window = m_window] {
            if (ProgressWindow* w = *window)
                w->refresh();
        });
}

void TIProgressAlert::addStep(const QString& text, qint64 weight)
{
    update([&](ProgressSteps& steps) { steps.add(text, weight); });
}

void TIProgressAlert::clearSteps()
{
    update([](ProgressSteps& steps) { steps.clear(); });
}

void TIProgressAlert::setCurrentStep(int step)
{
    update([&](ProgressSteps& steps) { steps.setCurrent(step); });
}

void TIProgressAlert::stepDone()
{
    update([](ProgressSteps& steps) { steps.stepDone(); });
}

void TIProgressAlert::setStepPosition(int thousandths)
{
    update([&](ProgressSteps& steps) { steps.setPosition(thousandths); });
}

int TIProgressAlert::currentStep() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->steps.current();
}

int TIProgressAlert::stepPosition() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->steps.position();
}

int TIProgressAlert::barPosition() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->steps.barPosition();
}

ProgressWindow* TIProgressAlert::window() const
{
    return *m_window;
}

void TIProgressAlert::show(bool foreground)
{
    auto create = [state = m_state, window = m_window, title = m_title, icon = m_icon, foreground] {
        if (*window)
            return;
        {
            std::lock_guard lock(state->lock);
            if (state->closing)
                return;
        }
        auto* w = new ProgressWindow(state, title, icon);
        w->setAttribute(Qt::WA_DeleteOnClose);
        *window = w;
        w->showAlert(foreground, foreground ? ForegroundOwner().data() : nullptr);
    };
    if (onGuiThread())
        create();
    else if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, create);
}

void TIProgressAlert::close()
{
    {
        std::lock_guard lock(m_state->lock);
        if (m_state->closing)
            return;
        m_state->closing = true;
    }
    auto destroy = [window = m_window] {
        if (ProgressWindow* w = *window)
            w->close();
    };
    if (onGuiThread())
        destroy();
    else if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, destroy);
}

} // namespace crash::ui
