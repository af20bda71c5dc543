#pragma once
// The progress window itself: title, the current step's text and one bar. It lives on the GUI
// thread and only draws what TIProgressAlert's shared state says (refresh()).

#include "crash/ui/ProgressSteps.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <memory>
#include <mutex>

class QLabel;
class QProgressBar;

namespace platform {
class ScreenSlot;
}

namespace crash::ui {

// What the driving thread and the window share, under `lock`.
struct ProgressState
{
    std::mutex lock;
    ProgressSteps steps;
    bool closing = false;
};

class ProgressWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int WrapWidth = 420;
    static constexpr int MinimumLabelWidth = 220;
    static constexpr int SlotCount = 8;
    static inline const QString SlotName = QStringLiteral("qelProgressAlertPos");

    ProgressWindow(std::shared_ptr<ProgressState> state, const QString& title, const QPixmap& icon);
    ~ProgressWindow() override;

    // Sizes the window for the remaining steps and shows it: centred and active in the
    // foreground, else at the bottom right, above the progress windows of other processes.
    // An enabled `owner` is disabled until the window closes.
    void showAlert(bool foreground, QWidget* owner = nullptr);
    void refresh();
    int slot() const;
    QLabel* label() const { return m_label; }
    QProgressBar* bar() const { return m_bar; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void layoutFor(const QStringList& texts);
    void releaseOwner();

    std::shared_ptr<ProgressState> m_state;
    QLabel* m_label;
    QProgressBar* m_bar;
    QWidget* m_icon = nullptr;
    std::unique_ptr<platform::ScreenSlot> m_slot;
    QPointer<QWidget> m_disabledOwner;
};

} // namespace crash::ui
