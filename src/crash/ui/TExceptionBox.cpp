#include "crash/ui/TExceptionBox.h"

#include "crash/ui/DialogBeep.h"
#include "crash/ui/DialogFonts.h"
#include "crash/ui/DialogTexts.h"
#include "crash/ui/FlatButton.h"
#include "crash/ui/ReportChangeRelay.h"
#include "crash/ui/ReportTabs.h"
#include "crash/ui/SectionTableModel.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace crash::ui {

namespace {

constexpr int ButtonMargin = 4;
constexpr int UglyButtonHeight = 26;
constexpr int FlatButtonHeight = 22;
constexpr int SmallButtonHeight = 23;
constexpr int CaptionPadding = 39;
constexpr int MessageLeft = 11;
constexpr int MessageLeftWithIcon = 51;
constexpr int MessageTop = 11;
constexpr int IconSize = 32;

// The icon at the top left: a disabled button that shows the picture undimmed.
class IconButton : public QToolButton
{
public:
    IconButton(const QPixmap& icon, QWidget* parent) : QToolButton(parent), m_icon(icon)
    {
        setEnabled(false);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.drawPixmap(rect(), m_icon);
    }

private:
    QPixmap m_icon;
};

int CaptionHeight(const QWidget* widget)
{
    return std::max(18, widget->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, widget));
}

QRect ScreenArea(const QWidget* widget)
{
    const QScreen* screen = widget->screen() ? widget->screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

} // namespace

UserChoice TExceptionBox::present(const std::shared_ptr<ExceptionReport>& report, int mode, bool beep,
                                  const DialogActions& actions)
{
    for (;;) {
        TExceptionBox box(report, mode, actions);
        box.open(beep);
        const UserChoice choice = box.exec();
        // Mode 3 shows Details too when ShowBtnVis asks for it; its click gets the details as well.
        if (!box.reshowRequested())
            return choice;
        report->setAutoShowBugRep(true);
        report->setAutoContinue(false);
        report->setAutoRestart(0);
        report->setAutoClose(0);
        mode = FullDialog;
        beep = false;
    }
}

TExceptionBox::TExceptionBox(std::shared_ptr<ExceptionReport> report, int mode, DialogActions actions,
                             QWidget* parent)
    : QWidget(parent, Qt::Dialog), m_report(std::move(report)), m_actions(std::move(actions)), m_mode(mode),
      m_small(mode == SmallWithDetails || mode == SmallBox),
      m_details(!m_small && m_report->AutoShowBugRep()), m_ugly(m_report->UglyBtns()),
      m_buttonHeight(m_small ? SmallButtonHeight : (m_ugly ? UglyButtonHeight : FlatButtonHeight))
{
    setObjectName(QStringLiteral("HalvornWndClass"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                            Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (m_details)
        flags |= Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setFont(DialogFonts::text());

    const QString raw = m_report->isFreeze()
                            ? m_report->expandPlaceholders(m_report->FrozenMsg())
                            : (m_small ? m_report->exceptionMessage() : m_report->ExceptMsg());
    m_messageText = BreakSentences(raw);
    setWindowTitle(m_small ? ProgramBaseName() : m_report->TitleBar());

    m_message = new QLabel(QString(m_messageText).replace(QLatin1String("\r\n"), QLatin1String("\n")), this);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::NoTextInteraction);
    if (!m_actions.largeIcon.isNull()) {
        m_icon = new IconButton(m_actions.largeIcon, this);
        m_icon->setGeometry(QRect(IconPosition, QSize(IconSize, IconSize)));
    }
    createButtons();
    chooseAutoAction();
    if (m_details) {
        m_tabs = new QTabBar(this);
        m_tabs->setObjectName(QStringLiteral("tabs"));
        m_tabs->setExpanding(false);
        m_tabs->setDrawBase(true);
        m_list = new QTableView(this);
        m_list->setObjectName(QStringLiteral("reportList"));
        m_list->setSelectionMode(QAbstractItemView::SingleSelection);
        m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
        m_list->setSortingEnabled(false);
        m_list->setWordWrap(false);
        m_list->setShowGrid(false);
        m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_list->verticalHeader()->hide();
        m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        m_list->verticalHeader()->setDefaultSectionSize(QFontMetrics(DialogFonts::report()).height() + 3);
        m_list->horizontalHeader()->setStretchLastSection(true);
        m_list->horizontalHeader()->setSectionsClickable(false);
        m_raw = new QPlainTextEdit(this);
        m_raw->setObjectName(QStringLiteral("rawText"));
        m_raw->setReadOnly(true);
        m_raw->setLineWrapMode(QPlainTextEdit::NoWrap);
        m_raw->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        m_raw->hide();
        connect(m_tabs, &QTabBar::currentChanged, this, &TExceptionBox::showTab);
        rebuildTabs();
        // The tab bar takes the focus with Tab; the usual keys switch tabs from anywhere.
        m_tabs->setFocusPolicy(Qt::TabFocus);
        m_list->setTabKeyNavigation(false);
        setTabOrder(m_tabs, m_list);
        setTabOrder(m_list, m_raw);
        const std::pair<QKeySequence, int> tabKeys[] = {
            {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
            {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
            {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
            {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
        };
        for (const auto& [keys, step] : tabKeys) {
            auto* key = new QShortcut(keys, this);
            key->setContext(Qt::WindowShortcut);
            connect(key, &QShortcut::activated, this, [this, step = step] { stepTab(step); });
        }
    }
    layoutDialog();

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] { close(); });
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] {
        if (m_actions.fireHandlers)
            m_actions.fireHandlers(ActionCode::Help);
    });
    auto* copy = new QShortcut(QKeySequence::Copy, this);
    copy->setContext(Qt::WindowShortcut);
    connect(copy, &QShortcut::activated, this, &TExceptionBox::copyToClipboard);

    m_countdown.setInterval(CountdownTick);
    connect(&m_countdown, &QTimer::timeout, this, &TExceptionBox::countdownTick);

    m_relay = std::make_shared<ReportChangeRelay>(this, ReportChanged);
    m_callbackId = m_report->addCallback([relay = m_relay](bool, const QString&) { relay->post(); });
}

TExceptionBox::~TExceptionBox()
{
    m_relay->detach();
    m_report->removeCallback(m_callbackId);
    if (m_loop)
        m_loop->quit();
}

void TExceptionBox::createButtons()
{
    struct ButtonPlan
    {
        Button id;
        bool shown;
        QString caption;
    };
    const ExceptionReport& r = *m_report;
    std::array<ButtonPlan, ButtonCount> plans{{
        {SendButton, !m_small && r.SendBtnVis(), r.SendBtnTxt()},
        {SaveButton, !m_small && r.SaveBtnVis(), r.SaveBtnTxt()},
        {PrintButton, !m_small && r.PrintBtnVis(), r.PrintBtnTxt()},
        // The details view already shows what this button would open.
        {ShowButton,
         m_small ? (m_mode == SmallWithDetails || r.ShowBtnVis()) : (r.ShowBtnVis() && !m_details),
         m_small ? r.DetailsBtnTxt() : r.ShowBtnTxt()},
        {ContinueButton, m_small || r.ContinueBtnVis(), m_small ? r.OkBtnTxt() : r.ContinueBtnTxt()},
        {RestartButton, !m_small && r.RestartBtnVis(), r.RestartBtnTxt()},
        {CloseButton, !m_small && r.CloseBtnVis(), r.CloseBtnTxt()},
    }};
    static const char* const names[ButtonCount] = {"sendButton", "saveButton",     "printButton",
                                                   "showButton", "continueButton", "restartButton",
                                                   "closeButton"};
    for (const ButtonPlan& plan : plans) {
        if (!plan.shown)
            continue;
        auto* button = new FlatButton(plan.caption, !m_ugly && !m_small, this);
        button->setObjectName(QLatin1String(names[plan.id]));
        connect(button, &QPushButton::clicked, this, [this, id = plan.id] { buttonClicked(id); });
        m_buttons[plan.id] = button;
    }
    if (m_buttons[ContinueButton] && !m_report->canContinue() &&
        (m_buttons[RestartButton] || m_buttons[CloseButton]))
        m_buttons[ContinueButton]->setEnabled(false);
}

bool TExceptionBox::autoRule(int value) const
{
    if (m_actions.autoRuleApplies)
        return m_actions.autoRuleApplies(value);
    return value == 1;
}

void TExceptionBox::chooseAutoAction()
{
    if (m_buttons[CloseButton] && autoRule(m_report->AutoClose())) {
        m_autoButton = m_buttons[CloseButton];
        m_report->setFocusedBtn(CloseButton);
    } else if (m_buttons[RestartButton] && autoRule(m_report->AutoRestart())) {
        m_autoButton = m_buttons[RestartButton];
        m_report->setFocusedBtn(RestartButton);
    } else if (m_report->AutoContinue() && m_buttons[ContinueButton] && m_report->canContinue()) {
        m_autoButton = m_buttons[ContinueButton];
        m_report->setFocusedBtn(ContinueButton);
    }
    if (m_small)
        m_autoButton = nullptr; // the countdown runs in the full dialog only
}

void TExceptionBox::layoutDialog()
{
    const QFontMetrics metrics(font());
    auto captionWidth = [&](FlatButton* b) {
        return metrics.horizontalAdvance(VisibleCaption(b->text())) + CaptionPadding;
    };
    const int rowHeight = m_buttonHeight + ButtonMargin;

    // Button widths; the right-hand group shares the width of its widest member.
    std::array<int, ButtonCount> width{};
    for (int i = 0; i < ButtonCount; ++i)
        if (m_buttons[i])
            width[i] = captionWidth(m_buttons[i]);
    if (m_small) {
        for (Button b : {ContinueButton, ShowButton})
            if (m_buttons[b] && width[b] < 75)
                width[b] = 79;
    }
    int rightWidth = 0, rightCount = 0, leftCount = 0;
    for (Button b : {ContinueButton, RestartButton, CloseButton})
        if (m_buttons[b]) {
            rightWidth = std::max(rightWidth, width[b]);
            ++rightCount;
        }
    for (Button b : {ContinueButton, RestartButton, CloseButton})
        if (m_buttons[b] && !m_small)
            width[b] = rightWidth;
    for (Button b : {SendButton, SaveButton, PrintButton, ShowButton})
        if (m_buttons[b] && !m_small)
            ++leftCount;
    const bool twoGroups = !m_small && rightCount > 1 && leftCount > 0;

    int rowWidth = 0;
    if (m_small) {
        rowWidth = width[ContinueButton] + (m_buttons[ShowButton] ? width[ShowButton] + 28 : 26);
    } else {
        for (Button b : {SendButton, SaveButton, PrintButton, ShowButton})
            rowWidth += width[b];
        rowWidth += twoGroups ? rightWidth : rightWidth * rightCount;
        rowWidth += 8;
    }

    // The message, wrapped beside the room the buttons and the icon keep free.
    int room = twoGroups ? rightWidth + 34 : 20;
    if (m_icon)
        room += 40;
    const int wrap = std::max(rowWidth, WrapWidth) - room;
    const QRect textRect =
        metrics.boundingRect(QRect(0, 0, wrap, 100000), Qt::TextWordWrap, m_message->text());
    const int messageLeft = m_icon ? MessageLeftWithIcon : MessageLeft;
    int messageTop = MessageTop;
    int messageHeight = textRect.height();
    if (m_icon && messageHeight < 26)
        messageTop = IconPosition.y() + (IconSize - messageHeight) / 2;
    m_message->setGeometry(messageLeft, messageTop, textRect.width() + 1, messageHeight);

    const QRect screen = ScreenArea(this);
    const int caption = CaptionHeight(this);
    int clientWidth = std::max(rowWidth, textRect.width() + room);
    if (m_details)
        clientWidth = std::max(clientWidth, std::min(WrapWidth, screen.width() - 5 * caption));

    int messageBottom = std::max(messageTop + messageHeight, m_icon ? IconPosition.y() + IconSize : 0);
    int buttonsTop = messageBottom + 5;
    const int rows = twoGroups ? rightCount : 1;
    if (twoGroups && rightCount == 3 && !m_details)
        buttonsTop = std::max(7, buttonsTop - rowHeight);
    int growth = 0;
    if (m_details) {
        const int base = buttonsTop + rows * rowHeight + ButtonMargin;
        growth = std::max(0, std::min(DetailsGrowth, screen.height() - 5 * caption - base));
        // A list that would need less than twice the room gets all of it, without a scroll bar.
        const int natural = m_tabs->sizeHint().height() + 4 +
                            m_list->horizontalHeader()->sizeHint().height() +
                            m_list->verticalHeader()->defaultSectionSize() *
                                std::max(1, m_list->model() ? m_list->model()->rowCount() : 1) +
                            2 * m_list->frameWidth();
        if (natural > growth && natural <= 2 * growth)
            growth = std::min(natural, screen.height() - 5 * caption - base);
        placeDetails(QRect(MessageLeft - 4, buttonsTop, clientWidth - 2 * (MessageLeft - 4), growth - 5));
        buttonsTop += growth;
    }
    const int bottomRow = buttonsTop + (rows - 1) * rowHeight;
    const int clientHeight = bottomRow + rowHeight + ButtonMargin;

    auto place = [&](Button b, int x, int y) { m_buttons[b]->setGeometry(x, y, width[b], m_buttonHeight); };
    if (twoGroups) {
        int x = ButtonMargin;
        for (Button b : {SendButton, SaveButton, PrintButton, ShowButton})
            if (m_buttons[b]) {
                place(b, x, bottomRow);
                x += width[b];
            }
        int y = bottomRow - (rightCount - 1) * rowHeight;
        for (Button b : {ContinueButton, RestartButton, CloseButton})
            if (m_buttons[b]) {
                place(b, clientWidth - ButtonMargin - rightWidth, y);
                y += rowHeight;
            }
    } else {
        int total = 0;
        for (int i = 0; i < ButtonCount; ++i)
            total += width[i];
        int x = std::max(ButtonMargin, (clientWidth - total) / 2);
        // The small box puts OK first, Details beside it.
        const std::array<Button, ButtonCount> order =
            m_small ? std::array<Button, ButtonCount>{ContinueButton, ShowButton,    SendButton, SaveButton,
                                                      PrintButton,    RestartButton, CloseButton}
                    : std::array<Button, ButtonCount>{SendButton,     SaveButton,    PrintButton, ShowButton,
                                                      ContinueButton, RestartButton, CloseButton};
        for (Button b : order)
            if (m_buttons[b]) {
                place(b, x, bottomRow);
                x += width[b] + (m_small ? 2 : 0);
            }
    }

    resize(clientWidth, clientHeight);
    move(screen.center() - QPoint(clientWidth / 2, clientHeight / 2));
    m_layoutSize = QSize(clientWidth, clientHeight);
    if (m_details)
        setMinimumSize(m_layoutSize);
    else
        setFixedSize(m_layoutSize);
    rememberAnchors();
    m_layoutDone = true;
}

void TExceptionBox::placeDetails(const QRect& area)
{
    const int tabHeight = m_tabs->sizeHint().height();
    m_tabs->setGeometry(area.left(), area.top(), area.width(), tabHeight);
    const QRect content(area.left(), area.top() + tabHeight, area.width(), area.height() - tabHeight);
    m_list->setGeometry(content);
    m_raw->setGeometry(content);
}

void TExceptionBox::rememberAnchors()
{
    m_anchors.clear();
    const int rightEdge = m_layoutSize.width() / 2;
    for (FlatButton* b : m_buttons)
        if (b)
            m_anchors.append({b, b->geometry(), b->geometry().left() > rightEdge, m_details, false});
    if (m_details)
        for (QWidget* w : {static_cast<QWidget*>(m_list), static_cast<QWidget*>(m_raw)})
            m_anchors.append({w, w->geometry(), false, false, true});
    if (m_tabs)
        m_anchors.append({m_tabs, m_tabs->geometry(), false, false, false});
}

void TExceptionBox::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (!m_layoutDone)
        return;
    const int dx = width() - m_layoutSize.width();
    const int dy = height() - m_layoutSize.height();
    for (const Anchor& a : std::as_const(m_anchors)) {
        if (!a.widget)
            continue;
        QRect r = a.initial;
        if (a.stretch)
            r.adjust(0, 0, dx, dy);
        if (a.widget == m_tabs)
            r.setWidth(a.initial.width() + dx);
        if (a.followRight)
            r.translate(dx, 0);
        if (a.followBottom)
            r.translate(0, dy);
        a.widget->setGeometry(r);
    }
}

void TExceptionBox::open(bool beep)
{
    if (beep)
        DialogBeep();
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
    const int focused = m_report->FocusedBtn();
    FlatButton* focus = focused >= 0 && focused < ButtonCount ? m_buttons[focused] : nullptr;
    if (!focus || !focus->isEnabled())
        focus = m_buttons[ContinueButton];
    if (!focus || !focus->isEnabled())
        for (FlatButton* b : m_buttons)
            if (b && b->isEnabled()) {
                focus = b;
                break;
            }
    if (focus)
        focus->setFocus(Qt::OtherFocusReason);
    if (m_autoButton)
        startCountdown();
}

UserChoice TExceptionBox::exec()
{
    if (!m_finished) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_loop = nullptr;
    }
    return m_choice;
}

void TExceptionBox::startCountdown()
{
    m_autoDelayMs = std::max(0, m_report->AutoDelay()) * 1000;
    m_countdownClock.start();
    m_autoButton->setCountdown(0);
    m_countdown.start();
    // Focus arriving with the window's activation is not the user's doing.
    if (!m_watchingFocus) {
        m_watchingFocus = true;
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (old && now && old != now && isAncestorOf(now))
                stopCountdown();
        });
    }
}

void TExceptionBox::stopCountdown()
{
    if (!m_countdown.isActive())
        return;
    m_countdown.stop();
    if (m_autoButton)
        m_autoButton->setCountdown(-1);
}

void TExceptionBox::countdownTick()
{
    const double share = m_autoDelayMs > 0 ? double(m_countdownClock.elapsed()) / m_autoDelayMs : 1.0;
    m_autoButton->setCountdown(share);
    if (share >= 1.0) {
        m_countdown.stop();
        QMetaObject::invokeMethod(m_autoButton, &QAbstractButton::click, Qt::QueuedConnection);
    }
}

void TExceptionBox::mousePressEvent(QMouseEvent* event)
{
    stopCountdown();
    QWidget::mousePressEvent(event);
}

void TExceptionBox::drawPressed(Button which)
{
    FlatButton* button = m_buttons[which];
    if (!button || !button->isFlatDrawn())
        return;
    // The details close this dialog; the button stays pressed until they open.
    if (which == ShowButton)
        button->showPressed();
    else if (!button->focusArrivedWithin(FocusSettleMs))
        button->showPressed(PressedFlashMs);
}

void TExceptionBox::buttonClicked(Button which)
{
    stopCountdown();
    drawPressed(which);
    try {
        switch (which) {
        case ShowButton:
            requestDetails();
            break;
        case CloseButton:
            finish(UserChoice::Close);
            break;
        case ContinueButton:
            continueApplication();
            break;
        case RestartButton:
            finish(UserChoice::Restart);
            break;
        case SendButton:
            runReportAction(m_actions.send, false);
            break;
        case SaveButton:
            runReportAction(m_actions.save, true);
            break;
        case PrintButton:
            runReportAction(m_actions.print, true);
            break;
        case ButtonCount:
            break;
        }
    } catch (const std::exception& error) {
        // An error of an action must not end the dialog.
        std::fprintf(stderr, "crash dialog: %s\n", error.what());
    } catch (...) {
        std::fprintf(stderr, "crash dialog: unknown error in an action\n");
    }
}

void TExceptionBox::runReportAction(const DialogActions::ReportAction& action, bool refusedWhileBlocked)
{
    // The faulting thread of a blocked process may hold the locks a file or print dialog needs.
    if (refusedWhileBlocked && m_actions.processBlocked) {
        DialogBeep();
        return;
    }
    if (action)
        action(m_report, this);
}

void TExceptionBox::continueApplication()
{
    finish(m_report->canContinue() ? UserChoice::Continue : UserChoice::Close);
}

void TExceptionBox::requestDetails()
{
    if (m_actions.fireHandlers && m_actions.fireHandlers(ActionCode::ShowReport)) {
        if (m_buttons[ShowButton])
            m_buttons[ShowButton]->releasePressed(); // a handler took it; the dialog stays
        return;
    }
    m_reshow = true;
    finish(UserChoice::None);
}

void TExceptionBox::closeRequested()
{
    switch (m_report->FocusedBtn()) {
    case ContinueButton:
        continueApplication();
        return;
    case RestartButton:
        finish(UserChoice::Restart);
        return;
    case CloseButton:
        finish(UserChoice::Close);
        return;
    default:
        break;
    }
    if (m_buttons[ContinueButton] && m_report->canContinue())
        finish(UserChoice::Continue);
    else if (m_buttons[CloseButton])
        finish(UserChoice::Close);
    else if (m_buttons[RestartButton])
        finish(UserChoice::Restart);
    else if (m_small)
        continueApplication();
}

void TExceptionBox::closeEvent(QCloseEvent* event)
{
    if (m_finished) {
        event->accept();
        return;
    }
    event->ignore();
    stopCountdown();
    closeRequested();
}

void TExceptionBox::finish(UserChoice choice)
{
    if (m_finished)
        return;
    m_finished = true;
    m_choice = choice;
    stopCountdown();
    hide();
    if (m_loop)
        m_loop->quit();
}

bool TExceptionBox::event(QEvent* event)
{
    if (event->type() == ReportChanged) {
        m_relay->handled();
        if (m_details)
            rebuildTabs();
        return true;
    }
    if (event->type() == ShowDetails) {
        requestDetails();
        return true;
    }
    if (event->type() == CloseDialog) {
        finish(UserChoice::None);
        return true;
    }
    return QWidget::event(event);
}

void TExceptionBox::copyToClipboard()
{
    QString text = m_details ? m_report->reportText() : m_messageText;
    QGuiApplication::clipboard()->setText(text);
    if (QGuiApplication::clipboard()->supportsSelection())
        QGuiApplication::clipboard()->setText(text, QClipboard::Selection);
}

void TExceptionBox::rebuildTabs()
{
    const QList<ReportTab> tabs = BuildReportTabs(m_report->header().items(), m_report->sections().items());
    const QString current =
        m_tabs->currentIndex() >= 0 ? m_tabList.value(m_tabs->currentIndex()).title : QString();
    const QSignalBlocker block(m_tabs);
    // Tabs whose section went are removed; new ones are inserted where the report has them.
    for (int i = int(m_tabList.size()) - 1; i >= 0; --i)
        if (!tabs.contains(m_tabList[i])) {
            m_tabs->removeTab(i);
            m_tabList.removeAt(i);
        }
    for (int i = 0; i < tabs.size(); ++i)
        if (i >= m_tabList.size() || !(m_tabList[i] == tabs[i])) {
            m_tabs->insertTab(i, tabs[i].title);
            m_tabList.insert(i, tabs[i]);
        }
    int index = 0;
    for (int i = 0; i < m_tabList.size(); ++i)
        if (m_tabList[i].title == current)
            index = i;
    m_tabs->setCurrentIndex(m_tabList.isEmpty() ? -1 : index);
    showTab(m_tabs->currentIndex());
}

void TExceptionBox::stepTab(int step)
{
    const int count = m_tabs->count();
    if (count > 0)
        m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + count) % count);
}

void TExceptionBox::showTab(int index)
{
    if (index < 0 || index >= m_tabList.size()) {
        m_list->setModel(nullptr);
        m_model.reset();
        return;
    }
    const ReportTab& tab = m_tabList[index];
    SectionTable table;
    if (tab.isHeader) {
        table = SectionTable::fromHeader(m_report->header().items());
    } else {
        QList<std::pair<QString, QString>> parts;
        for (const QString& name : tab.sections)
            parts.append({name, m_report->sections().field(name)});
        table = SectionTable::fromSections(parts);
    }
    const QFont font = table.fixedWidth() ? DialogFonts::report() : DialogFonts::text();
    if (!table.hasColumns()) {
        m_raw->setFont(font);
        m_raw->setPlainText(table.rawText());
        m_list->hide();
        m_raw->show();
        m_list->setModel(nullptr);
        m_model.reset();
        return;
    }
    auto model = std::make_unique<SectionTableModel>(std::move(table));
    m_list->setFont(font);
    m_list->clearSpans();
    m_list->setModel(model.get());
    m_model = std::move(model);
    const SectionTable& shown = m_model->table();
    // A thread's name spans the row, so it does not widen the address column.
    for (int r = 0; r < shown.rowCount(); ++r)
        if (shown.isTitleRow(r))
            m_list->setSpan(r, 0, 1, shown.columnCount());
    // Column widths from the first rows only, so a huge section opens at once; the last column
    // takes the rest.
    const QFontMetrics metrics(font);
    const int sampleRows = std::min(200, shown.rowCount());
    for (int c = 0; c + 1 < shown.columnCount(); ++c) {
        int w = metrics.horizontalAdvance(shown.columnTitle(c)) + 16;
        for (int r = 0; r < sampleRows; ++r)
            if (!shown.isTitleRow(r))
                w = std::max(w, metrics.horizontalAdvance(shown.cells(r).value(c)) + 12);
        m_list->setColumnWidth(c, std::min(w, 400));
    }
    m_raw->hide();
    m_list->show();
}

} // namespace crash::ui
