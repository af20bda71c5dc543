#pragma once
// The progress window of the delivery code and the please-wait box, drivable from any thread.
//
// The steps and the bar position live in a state shared with the window; every call updates the
// state and then has the window redraw. Widgets belong to the GUI thread, so from the GUI thread
// the window is updated at once (and pending events are processed, so the bar moves during long
// work there), from any other thread the update is posted. The window is created on the GUI
// thread when it is first shown.

#include "crash/core/report/ReportServices.h"
#include "crash/ui/ProgressWindow.h"

#include <QPixmap>
#include <QPointer>
#include <memory>

namespace crash::ui {

class TIProgressAlert : public ProgressAlert
{
public:
    explicit TIProgressAlert(const QString& title, const QPixmap& icon = {});
    ~TIProgressAlert() override;

    void addStep(const QString& text, qint64 weight) override;
    void clearSteps() override;
    void show(bool foreground) override;
    void close() override;
    void setCurrentStep(int step) override;
    void stepDone() override;
    void setStepPosition(int thousandths) override;
    int currentStep() const override;
    int stepPosition() const override;

    int barPosition() const;
    // The window once it exists on the GUI thread; for tests.
    ProgressWindow* window() const;

private:
    template <typename Change> void update(Change change);
    void refreshWindow();
    bool onGuiThread() const;

    QString m_title;
    QPixmap m_icon;
    std::shared_ptr<ProgressState> m_state;
    std::shared_ptr<QPointer<ProgressWindow>> m_window; // set on the GUI thread
};

// While one exists on the GUI thread, progress windows shown there in the foreground belong to
// `owner`: it is disabled while they show, then enabled and activated again.
class ScopedProgressOwner
{
public:
    explicit ScopedProgressOwner(QWidget* owner);
    ~ScopedProgressOwner();
    ScopedProgressOwner(const ScopedProgressOwner&) = delete;
    ScopedProgressOwner& operator=(const ScopedProgressOwner&) = delete;

private:
    QPointer<QWidget> m_previous;
};

} // namespace crash::ui
