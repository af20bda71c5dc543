#pragma once
// An assistant: a short sequence of forms (contact data, error details, screenshot) shown before
// a report is sent, saved or printed. It ends with 1 when every form ended with Continue or Skip,
// with 3 at the first Cancel. Completed forms put their outputs into the bug report; the fields of
// forms closed with Continue go into the settings' form cache, so the next assistant starts with
// them.

#include "crash/core/report/ExceptionReport.h"
#include "crash/ui/TNVForm.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QWidget;

namespace crash::ui {

class TNVAssistant
{
public:
    enum Result
    {
        Completed = 1,
        Cancelled = 3,
    };

    // Each stream is one form's stream, in order.
    TNVAssistant(const QString& title, const std::vector<std::span<const std::byte>>& streams,
                 std::shared_ptr<ExceptionReport> report);
    // The forms by name from the executable's form resources, as the settings' AssistantN names them.
    static std::unique_ptr<TNVAssistant> fromSettings(const QString& assistantName,
                                                      const std::shared_ptr<ExceptionReport>& report);
    ~TNVAssistant();

    int showModal(QWidget* parent);

    const QString& title() const { return m_title; }
    int formCount() const { return int(m_forms.size()); }
    TNVForm* form(int index) const { return m_forms.at(size_t(index)).get(); }
    TNVForm* form(const QString& name) const;
    const std::shared_ptr<ExceptionReport>& report() const { return m_report; }
    int result() const { return m_result; }

    FormHandler handler;
    void fireHandler(TNVForm& form, FormAction action, TNVItem* item);

    // Called with each new assistant, when set.
    static void setCreationHook(std::function<void(TNVAssistant&)> hook);

private:
    void restoreFromCache();
    void writeOutputs();
    void fillCache();

    QString m_title;
    std::shared_ptr<ExceptionReport> m_report;
    std::vector<std::unique_ptr<TNVForm>> m_forms;
    int m_result = 0;
};

// Runs the assistant `name` (SendAssis, SaveAssis or PrintAssis) when one is configured; false when
// the user cancelled it.
bool RunAssistant(const QString& name, const std::shared_ptr<ExceptionReport>& report, QWidget* parent);

} // namespace crash::ui
