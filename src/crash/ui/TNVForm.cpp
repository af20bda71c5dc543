#include "crash/ui/TNVForm.h"

#include "crash/ui/DialogFonts.h"
#include "crash/ui/FormHandlers.h"
#include "crash/ui/TNVAssistant.h"
#include "crash/ui/TNVButton.h"
#include "crash/ui/TNVCheckBox.h"
#include "crash/ui/TNVEdit.h"
#include "crash/ui/TNVImage.h"
#include "crash/ui/TNVLabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <mutex>

namespace crash::ui {

namespace {

constexpr int ItemsTop = 40;
constexpr int Margin = 8;
constexpr int ButtonHeight = 23;
constexpr int StepMarkWidth = 19;

std::mutex resolverLock;
std::function<FormHandler(const QString&)>& Resolver()
{
    static std::function<FormHandler(const QString&)> resolver;
    return resolver;
}

bool IsStandardButton(const QString& name)
{
    return name == QLatin1String("ContinueBtn") || name == QLatin1String("SkipBtn") ||
           name == QLatin1String("CancelBtn");
}

} // namespace

void TNVForm::setHandlerResolver(std::function<FormHandler(const QString&)> resolver)
{
    std::lock_guard lock(resolverLock);
    Resolver() = std::move(resolver);
}

TNVForm::TNVForm(TNVAssistant* assistant, const QString& title, std::span<const std::byte> stream, int number,
                 int formCount, std::shared_ptr<ExceptionReport> report)
    : QWidget(nullptr,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_assistant(assistant), m_title(title), m_number(number), m_formCount(formCount),
      m_report(std::move(report))
{
    setFont(DialogFonts::text());
    addItem(std::make_unique<TNVButton>(QStringLiteral("ContinueBtn"), QStringLiteral("Next >")));
    addItem(std::make_unique<TNVButton>(QStringLiteral("SkipBtn"), QStringLiteral("Skip")));
    addItem(std::make_unique<TNVButton>(QStringLiteral("CancelBtn"), QStringLiteral("Cancel")));
    if (const auto root = ReadFormStream(stream))
        build(*root, true);
    linkItems();
    m_tick.setTimerType(Qt::CoarseTimer);
    connect(&m_tick, &QTimer::timeout, this, [this] { fire(FormAction::ItemEvent); });
    fire(FormAction::Created);
}

TNVForm::~TNVForm()
{
    for (auto& item : m_items)
        item->forgetWidget();
    if (m_loop)
        m_loop->quit();
}

void TNVForm::addItem(std::unique_ptr<TNVItem> item)
{
    item->index = int(m_items.size());
    item->onEvent = [this](TNVItem* source) { itemEvent(source); };
    m_items.push_back(std::move(item));
}

void TNVForm::linkItems()
{
    const size_t count = m_items.size();
    for (size_t i = 0; i < count; ++i) {
        m_items[i]->next = m_items[(i + 1) % count].get();
        m_items[i]->previous = m_items[(i + count - 1) % count].get();
    }
}

void TNVForm::build(const FormObject& object, bool isRoot)
{
    QString className = object.className;
    if (!className.isEmpty())
        className[0] = QLatin1Char('T');
    QString name = object.name;
    if (name == QLatin1String("AbortBtn"))
        name = QStringLiteral("CancelBtn");

    TNVItem* target = nullptr;
    if (className == QLatin1String("TNVButton") && IsStandardButton(name)) {
        target = item(name);
    } else if (className == QLatin1String("TNVButton") || className == QLatin1String("TNVLabel") ||
               className == QLatin1String("TNVEdit") || className == QLatin1String("TNVCheckBox") ||
               className == QLatin1String("TNVImage")) {
        std::unique_ptr<TNVItem> created;
        if (className == QLatin1String("TNVButton"))
            created = std::make_unique<TNVButton>(name, QString());
        else if (className == QLatin1String("TNVLabel"))
            created = std::make_unique<TNVLabel>(name);
        else if (className == QLatin1String("TNVEdit"))
            created = std::make_unique<TNVEdit>(name);
        else if (className == QLatin1String("TNVCheckBox"))
            created = std::make_unique<TNVCheckBox>(name);
        else
            created = std::make_unique<TNVImage>(name);
        target = created.get();
        addItem(std::move(created));
    } else if (m_name.isEmpty()) {
        m_name = object.name;
    }
    for (const auto& [property, value] : object.properties) {
        if (target)
            target->applyProperty(property, value);
        else if (isRoot || m_name == object.name)
            applyFormProperty(property, value);
    }
    for (const FormObject& child : object.children)
        build(child, false);
}

void TNVForm::applyFormProperty(const QString& name, const QVariant& value)
{
    if (name == QLatin1String("Message"))
        m_message = value.toString();
    else if (name == QLatin1String("MinWidth"))
        m_minWidth = std::clamp(value.toInt(), 0, 4000);
    else if (name == QLatin1String("Timer"))
        m_timer = std::max(0, value.toInt());
    else if (name == QLatin1String("ActiveControl"))
        m_activeControl = value.toString();
    else if (name == QLatin1String("OnAction")) {
        m_handler = BuiltInFormHandler(value.toString());
        if (!m_handler) {
            std::lock_guard lock(resolverLock);
            if (Resolver())
                m_handler = Resolver()(value.toString());
        }
    }
}

TNVItem* TNVForm::item(const QString& name) const
{
    for (const auto& i : m_items)
        if (i->name().compare(name, Qt::CaseInsensitive) == 0)
            return i.get();
    return nullptr;
}

template <typename T> static T* ItemAs(TNVItem* item, TNVItem::Kind kind)
{
    return item && item->kind() == kind ? static_cast<T*>(item) : nullptr;
}

TNVButton* TNVForm::nvButton(const QString& name) const
{
    return ItemAs<TNVButton>(item(name), TNVItem::Kind::Button);
}
TNVLabel* TNVForm::nvLabel(const QString& name) const
{
    return ItemAs<TNVLabel>(item(name), TNVItem::Kind::Label);
}
TNVEdit* TNVForm::nvEdit(const QString& name) const
{
    return ItemAs<TNVEdit>(item(name), TNVItem::Kind::Edit);
}
TNVCheckBox* TNVForm::nvCheckBox(const QString& name) const
{
    return ItemAs<TNVCheckBox>(item(name), TNVItem::Kind::CheckBox);
}
TNVImage* TNVForm::nvImage(const QString& name) const
{
    return ItemAs<TNVImage>(item(name), TNVItem::Kind::Image);
}
TNVButton* TNVForm::continueButton() const
{
    return static_cast<TNVButton*>(m_items[0].get());
}
TNVButton* TNVForm::skipButton() const
{
    return static_cast<TNVButton*>(m_items[1].get());
}
TNVButton* TNVForm::cancelButton() const
{
    return static_cast<TNVButton*>(m_items[2].get());
}

void TNVForm::fire(FormAction action, TNVItem* source)
{
    if (m_handler)
        m_handler(*this, action, source, m_report);
    if (m_assistant)
        m_assistant->fireHandler(*this, action, source);
}

void TNVForm::createWindow()
{
    setWindowTitle(m_title);
    for (auto& i : m_items) {
        QWidget* w = i->createWidget(this);
        w->installEventFilter(this);
    }
    const QFontMetrics heading(DialogFonts::heading());
    int buttonsWidth = 0;
    for (TNVButton* b : {continueButton(), skipButton(), cancelButton()})
        buttonsWidth += b->isVisible() ? b->naturalWidth(font()) : 0;
    const int width = std::max({buttonsWidth + 32, 315, m_minWidth,
                                heading.horizontalAdvance(m_message) + StepMarkWidth * m_formCount + 36});
    const int itemWidth = width - 2 * Margin;
    int y = ItemsTop;
    for (size_t i = 3; i < m_items.size(); ++i) {
        TNVItem* it = m_items[i].get();
        y += it->spacing();
        const int h = it->heightFor(itemWidth);
        it->widget()->setGeometry(Margin, y, itemWidth, h);
        y += h + 4;
    }
    const int height = y + ButtonHeight + 33;
    const int buttonsTop = height - Margin - ButtonHeight;
    auto place = [&](TNVButton* b, int x) {
        b->widget()->setGeometry(x, buttonsTop, b->naturalWidth(font()), ButtonHeight);
    };
    const int cancelX = width - Margin - cancelButton()->naturalWidth(font());
    if (continueButton()->isVisible() && skipButton()->isVisible() && cancelButton()->isVisible()) {
        place(skipButton(), Margin);
        place(cancelButton(), cancelX);
        place(continueButton(), cancelX - Margin - continueButton()->naturalWidth(font()));
    } else {
        place(continueButton(), Margin);
        place(skipButton(), Margin + continueButton()->naturalWidth(font()) + Margin);
        place(cancelButton(), cancelX);
    }
    setFixedSize(width, height);
}

void TNVForm::paintEvent(QPaintEvent*)
{
    // Heading, and one mark per page of the assistant with this page's filled.
    QPainter painter(this);
    painter.setFont(DialogFonts::heading());
    painter.drawText(QRect(Margin, 8, width() - 2 * Margin, 24), Qt::AlignLeft | Qt::AlignVCenter, m_message);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < m_formCount; ++i) {
        const QPointF centre(width() - Margin - (m_formCount - i) * StepMarkWidth + StepMarkWidth / 2.0, 20);
        painter.setPen(palette().color(QPalette::Dark));
        painter.setBrush(i + 1 == m_number ? palette().color(QPalette::Highlight)
                                           : palette().color(QPalette::Base));
        painter.drawEllipse(centre, 5, 5);
    }
}

void TNVForm::updateContinue()
{
    bool allowed = true;
    for (const auto& i : m_items)
        allowed = allowed && i->allowsContinue();
    continueButton()->setForceDisabled(!allowed);
}

void TNVForm::itemEvent(TNVItem* source)
{
    if (!m_showing)
        return;
    if (source->kind() == TNVItem::Kind::Button) {
        if (source == continueButton())
            finish(Continued);
        else if (source == skipButton())
            finish(Skipped);
        else if (source == cancelButton())
            finish(Cancelled);
        else
            fire(FormAction::ItemEvent, source);
        return;
    }
    fire(FormAction::ItemEvent, source);
    updateContinue();
}

int TNVForm::showModal(QWidget* parent)
{
    m_parent = parent;
    const bool parentWasEnabled = parent && parent->isEnabled();
    if (parentWasEnabled)
        parent->setEnabled(false);
    createWindow();
    m_showing = true;
    updateContinue();
    TNVItem* focus = m_activeControl.isEmpty() ? nullptr : item(m_activeControl);
    if (!focus && m_items.size() > 3)
        focus = m_items[3].get();
    while (focus && m_items.size() > 3 && !focus->takesFocus() && focus->next != m_items[3].get())
        focus = focus->next;
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    fire(FormAction::AboutToShow);
    show();
    raise();
    activateWindow();
    if (focus && focus->widget() && focus->widget()->isEnabled())
        focus->widget()->setFocus(Qt::OtherFocusReason);
    if (m_timer > 0)
        m_tick.start(m_timer);
    if (m_result == NotShown) {
        QEventLoop loop;
        m_loop = &loop;
        loop.exec(QEventLoop::DialogExec);
        m_loop = nullptr;
    }
    if (parentWasEnabled && m_parent)
        m_parent->setEnabled(true);
    return m_result;
}

void TNVForm::finish(Result result)
{
    if (!m_showing || m_result != NotShown)
        return;
    m_tick.stop();
    m_result = result;
    if (result == Continued)
        for (auto& i : m_items) {
            if (i->kind() == TNVItem::Kind::Edit)
                static_cast<TNVEdit*>(i.get())->keepText();
            else if (i->kind() == TNVItem::Kind::CheckBox)
                static_cast<TNVCheckBox*>(i.get())->keepState();
        }
    fire(FormAction::Closing);
    m_showing = false;
    hide();
    if (m_loop)
        m_loop->quit();
}

void TNVForm::focusNextItem(TNVItem* from)
{
    for (TNVItem* i = from->next; i && i != from; i = i->next)
        if (i->takesFocus() && i->widget() && i->widget()->isEnabled() && i->widget()->isVisible()) {
            i->widget()->setFocus(Qt::TabFocusReason);
            return;
        }
}

bool TNVForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            for (auto& i : m_items) {
                if (i->widget() != watched)
                    continue;
                if (i->kind() == TNVItem::Kind::Button) {
                    static_cast<QAbstractButton*>(i->widget())->click();
                    return true;
                }
                if (i->kind() == TNVItem::Kind::Edit && static_cast<TNVEdit*>(i.get())->isMultiLine())
                    return false; // a line break in the memo
                focusNextItem(i.get());
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TNVForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        // Escape is Cancel, when Cancel can be used.
        TNVButton* cancel = cancelButton();
        if (cancel->isVisible() && cancel->isEnabled() && !cancel->isForceDisabled())
            finish(Cancelled);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TNVForm::closeEvent(QCloseEvent* event)
{
    // The close box acts as Escape does.
    if (m_showing) {
        event->ignore();
        TNVButton* cancel = cancelButton();
        if (cancel->isVisible() && cancel->isEnabled())
            finish(Cancelled);
    }
}

} // namespace crash::ui
