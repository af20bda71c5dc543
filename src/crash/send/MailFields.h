#pragma once
// The mail's From, To, Subject and Body from the settings, with the report's own placeholders
// (%exceptClass%, %exceptMsg%, %errorDetails%, %bugReport%) filled from the report text.

#include <QString>

namespace crash {
class CrashSettings;
}

namespace crash::send {

struct MailFields
{
    QString from;
    QString to;
    QString subject;
    QString body;
};

MailFields ComposeMailFields(const CrashSettings& settings, const QString& reportText);

// %exceptClass%, %exceptMsg% and %errorDetails% from the report text.
QString ExpandExceptionPlaceholders(QString text, const QString& reportText);
// %bugReport%: the whole report text, put in without looking inside it.
QString ExpandBugReportPlaceholder(const QString& text, const QString& reportText);
// Both of the above.
QString ExpandReportPlaceholders(const QString& text, const QString& reportText);

// A text setting with the report's placeholders and the general ones filled in.
QString ExpandSettingForReport(const CrashSettings& settings, const char* key, const QString& reportText);

// The value of the first header line that starts with `name` (text after the first ":", trimmed).
QString ReportHeaderValue(const QString& reportText, const QString& name);

// The lines after the "error details:" line up to the next empty line.
QString ReportErrorDetails(const QString& reportText);

} // namespace crash::send
