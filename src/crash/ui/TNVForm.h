#pragma once
// One page of an assistant, built from a form stream.
//
// The three buttons ContinueBtn, SkipBtn and CancelBtn always exist and come first; the stream
// configures them and adds labels, edits, check boxes and images below a bold heading. The form
// shows as a modal window with a loop of its own and ends with 1 (Continue), 2 (Skip) or
// 3 (Cancel). Continue stays disabled while a required edit is empty. Action handlers hear of the
// form's creation (0), showing (1), closing (2) and of item events and timer ticks (3).

#include "crash/core/report/ExceptionReport.h"
#include "crash/ui/FormStream.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QEventLoop;

namespace crash::ui {

class TNVItem;
class TNVButton;
class TNVLabel;
class TNVEdit;
class TNVCheckBox;
class TNVImage;
class TNVAssistant;
class TNVForm;

enum class FormAction
{
    Created = 0,
    AboutToShow = 1,
    Closing = 2,
    ItemEvent = 3,
};

using FormHandler = std::function<void(TNVForm& form, FormAction action, TNVItem* item,
                                       const std::shared_ptr<ExceptionReport>& report)>;

class TNVForm : public QWidget
{
    Q_OBJECT
public:
    enum Result
    {
        NotShown = 0,
        Continued = 1,
        Skipped = 2,
        Cancelled = 3,
    };

    // `stream` may be empty or not a form: the form then has its three buttons only.
    TNVForm(TNVAssistant* assistant, const QString& title, std::span<const std::byte> stream, int number,
            int formCount, std::shared_ptr<ExceptionReport> report);
    ~TNVForm() override;

    // Shows the form modally over `parent` (disabled meanwhile) until a button ends it.
    int showModal(QWidget* parent);
    // Ends a showing form as that button would.
    void finish(Result result);
    int result() const { return m_result; }

    const QString& formName() const { return m_name; }
    const QString& message() const { return m_message; }
    const QString& title() const { return m_title; }
    int number() const { return m_number; }
    int timerPeriod() const { return m_timer; }
    const QString& activeControlName() const { return m_activeControl; }
    const std::shared_ptr<ExceptionReport>& report() const { return m_report; }
    TNVAssistant* assistant() const { return m_assistant; }
    bool hasHandler() const { return bool(m_handler); }

    const std::vector<std::unique_ptr<TNVItem>>& items() const { return m_items; }
    TNVItem* item(const QString& name) const;
    TNVButton* nvButton(const QString& name) const;
    TNVLabel* nvLabel(const QString& name) const;
    TNVEdit* nvEdit(const QString& name) const;
    TNVCheckBox* nvCheckBox(const QString& name) const;
    TNVImage* nvImage(const QString& name) const;
    TNVButton* continueButton() const;
    TNVButton* skipButton() const;
    TNVButton* cancelButton() const;

    // Looks up a handler named in OnAction besides the two built-in ones.
    static void setHandlerResolver(std::function<FormHandler(const QString& name)> resolver);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build(const FormObject& object, bool isRoot);
    void applyFormProperty(const QString& name, const QVariant& value);
    void addItem(std::unique_ptr<TNVItem> item);
    void linkItems();
    void createWindow();
    void itemEvent(TNVItem* item);
    void updateContinue();
    void fire(FormAction action, TNVItem* item = nullptr);
    void focusNextItem(TNVItem* from);

    TNVAssistant* m_assistant;
    QString m_title;
    QString m_name;
    QString m_message;
    int m_number;
    int m_formCount;
    std::shared_ptr<ExceptionReport> m_report;
    std::vector<std::unique_ptr<TNVItem>> m_items;
    QString m_activeControl;
    int m_timer = 0;
    int m_minWidth = 0;
    FormHandler m_handler;
    int m_result = NotShown;
    bool m_showing = false;
    QTimer m_tick;
    QEventLoop* m_loop = nullptr;
    QPointer<QWidget> m_parent;
};

} // namespace crash::ui
