#include "crash/ui/ProgressWindow.h"

#include "crash/ui/DialogFonts.h"
#include "platform/ScreenSlot.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QStyle>

namespace crash::ui {

namespace {

constexpr int LabelTop = 12;
constexpr int LabelLeft = 11;
constexpr int LabelLeftWithIcon = 51;
constexpr int IconSize = 32;
constexpr int ScreenEdgeGap = 2;

class IconView : public QWidget
{
public:
    IconView(const QPixmap& icon, QWidget* parent) : QWidget(parent), m_icon(icon) {}

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).drawPixmap(rect(), m_icon); }

private:
    QPixmap m_icon;
};

} // namespace

ProgressWindow::ProgressWindow(std::shared_ptr<ProgressState> state, const QString& title,
                               const QPixmap& icon)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_state(std::move(state))
{
    setObjectName(QStringLiteral("prgrAlertWndClass"));
    setWindowTitle(title);
    setFont(DialogFonts::text());
    m_label = new QLabel(this);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, ProgressSteps::Full);
    m_bar->setTextVisible(false);
    if (!icon.isNull()) {
        m_icon = new IconView(icon, this);
        m_icon->setGeometry(9, 9, IconSize, IconSize);
    }
}

ProgressWindow::~ProgressWindow()
{
    releaseOwner();
}

void ProgressWindow::releaseOwner()
{
    QWidget* owner = m_disabledOwner;
    m_disabledOwner = nullptr;
    if (!owner)
        return;
    owner->setEnabled(true);
    owner->activateWindow();
}

int ProgressWindow::slot() const
{
    return m_slot ? m_slot->number() : -1;
}

void ProgressWindow::layoutFor(const QStringList& texts)
{
    const QFontMetrics metrics(font());
    int width = MinimumLabelWidth, height = metrics.height();
    for (const QString& text : texts) {
        const QRect r = metrics.boundingRect(QRect(0, 0, WrapWidth, 100000), Qt::TextWordWrap, text);
        width = std::max(width, r.width());
        height = std::max(height, r.height());
    }
    const int left = m_icon ? LabelLeftWithIcon : LabelLeft;
    int top = LabelTop;
    if (m_icon && height < 26) {
        height = 26;
        top = 9 + (IconSize - height) / 2;
    }
    m_label->setGeometry(left, top, width, height);
    const int barHeight = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int clientWidth = left + width + LabelLeft;
    m_bar->setGeometry(LabelLeft, top + height + 12, clientWidth - 2 * LabelLeft, barHeight);
    setFixedSize(clientWidth, top + height + 12 + barHeight + 12);
}

void ProgressWindow::showAlert(bool foreground, QWidget* owner)
{
    if (owner && owner->isEnabled()) {
        owner->setEnabled(false);
        m_disabledOwner = owner;
    }
    QStringList texts;
    {
        std::lock_guard lock(m_state->lock);
        if (m_state->steps.count() == 0)
            m_state->steps.add(QStringLiteral("Please wait..."), 1000);
        texts = m_state->steps.remainingTexts();
    }
    layoutFor(texts);
    refresh();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    if (foreground) {
        move(area.center() - rect().center());
        show();
        raise();
        activateWindow();
        return;
    }
    m_slot = platform::ScreenSlot::take(SlotName, SlotCount);
    const int slotNumber = m_slot ? m_slot->number() : 0;
    setAttribute(Qt::WA_ShowWithoutActivating);
    move(area.right() + 1 - ScreenEdgeGap - width(),
         area.bottom() + 1 - ScreenEdgeGap - height() - slotNumber * height());
    show();
}

void ProgressWindow::refresh()
{
    QString text;
    int position = 0;
    {
        std::lock_guard lock(m_state->lock);
        text = m_state->steps.currentText();
        position = m_state->steps.barPosition();
    }
    m_label->setText(text);
    m_bar->setValue(position);
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    bool closing = false;
    {
        std::lock_guard lock(m_state->lock);
        closing = m_state->closing;
    }
    // The close box does nothing until the driver closes the window.
    if (!closing) {
        event->ignore();
        return;
    }
    m_slot.reset();
    releaseOwner();
    event->accept();
}

} // namespace crash::ui
