#pragma once
// The settings as one exception sees them: a private layer of overrides on top of the settings of
// the module that governs the exception, so per-exception decisions (the exception-class filters)
// change that exception only. Lookups go: overrides, the governing module's settings, the defaults.

#include "crash/core/settings/CrashSettings.h"

#include <QStringList>
#include <memory>
#include <typeinfo>

namespace crash {

enum class ExceptionType
{
    Exception = 0,
    Freeze = 1,
    ReportOnly = 2
};

// Presentation of an exception: 0 full dialog, 1 assistant, 2 small message with OK and Details,
// 3 small message with OK alone, 4 nothing shown.
struct ExceptionFilterResult
{
    int group = 0; // 1 = F1, 2 = F2, 0 = all other exceptions (Gn)
    bool buildReport = true;
    bool takeScreenshot = false;
    bool callHandlers = true;
    int presentation = 0;
    QString assistant; // for presentation 1
};

// The class names of `type` and of every class it derives from, most derived first, each without
// namespaces ("EDBEditError", "Exception", "exception").
QStringList ExceptionClassChain(const std::type_info& type);

// Whether one of the ","-separated class names of `list` is in `chain` (names compare without
// regard to case, as class names of the report do; a qualified name in the list matches too).
bool ClassListMatches(const QString& list, const QStringList& chain);

class ExceptionSettings : public CrashSettings
{
public:
    // `classChain` from ExceptionClassChain; empty for a freeze. `message` is the exception's text.
    ExceptionSettings(platform::ModuleHandle governingModule, ExceptionType type, QStringList classChain,
                      QString className, QString message);

    ExceptionType type() const { return m_type; }
    // "EFrozen" for a freeze.
    QString exceptionClass() const { return m_className; }
    // For a freeze the FrozenMsg text.
    QString exceptionMessage() const { return m_message; }
    const QStringList& classChain() const { return m_classChain; }
    const ExceptionFilterResult& filterResult() const { return m_filter; }

    // The list holding the "Error Details" field that %errorDetails% expands to.
    void setDetailsFields(std::shared_ptr<const ReportFields> fields);

protected:
    std::optional<QString> exceptionClassText() const override;
    std::optional<QString> exceptionMessageText() const override;
    std::optional<QString> errorDetailsText() const override;

private:
    void applyFilters();

    ExceptionType m_type;
    QStringList m_classChain;
    QString m_className;
    QString m_message;
    ExceptionFilterResult m_filter;
    mutable std::mutex m_detailsLock;
    std::shared_ptr<const ReportFields> m_details;
};

} // namespace crash
