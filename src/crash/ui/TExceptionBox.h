#pragma once
// The exception dialog: the configured message, up to seven action buttons and, on request, the
// bug report in tabs.
//
// Two forms share the class: the full dialog (mode 0) and the small box (modes 2 and 3: OK, and in
// mode 2 Details). The dialog only decides; the report's actions (send, save, print) go through
// DialogActions, and the choice between continuing, restarting and closing the program is its
// result. Asking for the details closes the dialog and present() opens it again, larger, in mode 0
// without countdown.
//
// Other threads talk to the dialog only by posting the three events below; the report's change
// callback posts ReportChanged. The countdown of the automatic action is a 10 ms timer that grows
// a bar inside the auto-action button and clicks it when the bar is full.

#include "crash/core/report/ExceptionReport.h"
#include "crash/ui/DialogActions.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

class QLabel;
class QTabBar;
class QTableView;
class QPlainTextEdit;
class QEventLoop;
class QAbstractButton;

namespace crash::ui {

class FlatButton;
class SectionTableModel;
class ReportChangeRelay;
struct ReportTab;

class TExceptionBox : public QWidget
{
    Q_OBJECT
public:
    enum Mode
    {
        FullDialog = 0,
        SmallWithDetails = 2,
        SmallBox = 3,
    };
    // The buttons in the order of FocusedBtn's numbers.
    enum Button
    {
        SendButton = 0,
        SaveButton,
        PrintButton,
        ShowButton,
        ContinueButton,
        RestartButton,
        CloseButton,
        ButtonCount
    };
    static constexpr QEvent::Type ReportChanged = QEvent::Type(QEvent::User + 1801);
    static constexpr QEvent::Type ShowDetails = QEvent::Type(QEvent::User + 1802);
    static constexpr QEvent::Type CloseDialog = QEvent::Type(QEvent::User + 1803);
    static constexpr int CountdownTick = 10; // ms
    // A clicked flat button is drawn pressed this long, unless the focus came to it within
    // FocusSettleMs (the click that brought the focus already showed it).
    static constexpr int PressedFlashMs = 10;
    static constexpr int FocusSettleMs = 200;

    // Layout constants.
    static constexpr int WrapWidth = 664;
    static constexpr int DetailsGrowth = 491;
    static constexpr QPoint IconPosition{10, 9};

    // Shows the dialog until the user decides, reopening it with the details when asked.
    static UserChoice present(const std::shared_ptr<ExceptionReport>& report, int mode, bool beep,
                              const DialogActions& actions);

    TExceptionBox(std::shared_ptr<ExceptionReport> report, int mode, DialogActions actions,
                  QWidget* parent = nullptr);
    ~TExceptionBox() override;

    // Shows the window (with a beep when asked) and starts the countdown; open() returns at once,
    // exec() runs the dialog's loop until it is closed.
    void open(bool beep);
    UserChoice exec();
    bool isFinished() const { return m_finished; }
    UserChoice choice() const { return m_choice; }
    bool reshowRequested() const { return m_reshow; }

    bool isSmallBox() const { return m_small; }
    bool detailsShown() const { return m_details; }
    FlatButton* button(Button which) const { return m_buttons[which]; }
    FlatButton* autoActionButton() const { return m_autoButton; }
    bool countdownRunning() const { return m_countdown.isActive(); }
    QLabel* messageLabel() const { return m_message; }
    QTabBar* tabBar() const { return m_tabs; }
    QTableView* reportList() const { return m_list; }
    QPlainTextEdit* rawView() const { return m_raw; }
    QAbstractButton* iconButton() const { return m_icon; }
    int buttonHeight() const { return m_buttonHeight; }
    QString messageText() const { return m_messageText; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void createButtons();
    void chooseAutoAction();
    void layoutDialog();
    void placeDetails(const QRect& area);
    void rememberAnchors();
    void startCountdown();
    void stopCountdown();
    void countdownTick();
    void buttonClicked(Button which);
    void closeRequested();
    void finish(UserChoice choice);
    void continueApplication();
    void drawPressed(Button which);
    void runReportAction(const DialogActions::ReportAction& action, bool refusedWhileBlocked);
    void copyToClipboard();
    void requestDetails();
    void rebuildTabs();
    void showTab(int index);
    void stepTab(int step);
    bool autoRule(int value) const;

    std::shared_ptr<ExceptionReport> m_report;
    DialogActions m_actions;
    int m_mode;
    bool m_small;
    bool m_details;
    bool m_ugly;
    int m_buttonHeight;
    QString m_messageText;

    QLabel* m_message = nullptr;
    QAbstractButton* m_icon = nullptr;
    std::array<FlatButton*, ButtonCount> m_buttons{};
    QTabBar* m_tabs = nullptr;
    QTableView* m_list = nullptr;
    QPlainTextEdit* m_raw = nullptr;
    QList<ReportTab> m_tabList;
    std::unique_ptr<SectionTableModel> m_model;

    FlatButton* m_autoButton = nullptr;
    QTimer m_countdown;
    QElapsedTimer m_countdownClock;
    int m_autoDelayMs = 0;
    bool m_watchingFocus = false;

    struct Anchor
    {
        QPointer<QWidget> widget;
        QRect initial;
        bool followRight = false;
        bool followBottom = false;
        bool stretch = false;
    };
    QList<Anchor> m_anchors;
    QSize m_layoutSize;
    bool m_layoutDone = false;

    std::shared_ptr<ReportChangeRelay> m_relay;
    int m_callbackId = 0;
    QEventLoop* m_loop = nullptr;
    bool m_finished = false;
    bool m_reshow = false;
    UserChoice m_choice = UserChoice::None;
};

} // namespace crash::ui
