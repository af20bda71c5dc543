#include "crash/send/MailFields.h"

#include "crash/core/settings/CrashSettings.h"
#include "crash/send/MailAddress.h"

#include <QRegularExpression>

namespace crash::send {
namespace {

QStringList ReportLines(const QString& reportText)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    return reportText.split(lineBreak);
}

} // namespace

QString ReportHeaderValue(const QString& reportText, const QString& name)
{
    for (const QString& line : ReportLines(reportText)) {
        if (!line.startsWith(name, Qt::CaseInsensitive))
            continue;
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        return colon < 0 ? QString() : line.mid(colon + 1).trimmed();
    }
    return {};
}

QString ReportErrorDetails(const QString& reportText)
{
    const QStringList lines = ReportLines(reportText);
    qsizetype start = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed().compare(QLatin1String("error details:"), Qt::CaseInsensitive) == 0) {
            start = i + 1;
            break;
        }
    }
    if (start < 0)
        return {};
    QStringList block;
    for (qsizetype i = start; i < lines.size() && !lines[i].trimmed().isEmpty(); ++i)
        block.append(lines[i]);
    return block.join(QLatin1String("\r\n"));
}

QString ExpandExceptionPlaceholders(QString text, const QString& reportText)
{
    if (!text.contains(QLatin1Char('%')))
        return text;
    const std::pair<const char*, QString> placeholders[] = {
        {"%exceptClass%", ReportHeaderValue(reportText, QStringLiteral("exception class"))},
        {"%exceptMsg%", ReportHeaderValue(reportText, QStringLiteral("exception message"))},
        {"%errorDetails%", ReportErrorDetails(reportText)},
    };
    for (const auto& [name, value] : placeholders)
        text.replace(QLatin1String(name), value, Qt::CaseInsensitive);
    return text;
}

QString ExpandBugReportPlaceholder(const QString& text, const QString& reportText)
{
    const QString marker = QStringLiteral("%bugReport%");
    QString result;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(marker, from, Qt::CaseInsensitive);
        if (at < 0)
            break;
        result += text.mid(from, at - from) + reportText;
        from = at + marker.size();
    }
    return result + text.mid(from);
}

QString ExpandReportPlaceholders(const QString& text, const QString& reportText)
{
    return ExpandBugReportPlaceholder(ExpandExceptionPlaceholders(text, reportText), reportText);
}

QString ExpandSettingForReport(const CrashSettings& settings, const char* key, const QString& reportText)
{
    // The report's values first, from its text; then the general placeholders; the report text
    // itself goes in last so nothing inside it is taken for a placeholder.
    const QString own = ExpandExceptionPlaceholders(settings.getRawText(key), reportText);
    return ExpandBugReportPlaceholder(settings.expandPlaceholders(own), reportText);
}

MailFields ComposeMailFields(const CrashSettings& settings, const QString& reportText)
{
    MailFields fields;
    fields.to = settings.MailAddr();
    auto expand = [&](const char* key) { return ExpandSettingForReport(settings, key, reportText); };
    fields.subject = expand("MailSubj");
    fields.body = expand("MailBody");
    fields.from = settings.MailFrom();
    if (fields.from.isEmpty()) {
        const QStringList to = SplitAddresses(fields.to);
        if (!to.isEmpty())
            fields.from = QStringLiteral("Halvorn <") + BareAddress(to.first()) + QLatin1Char('>');
    }
    return fields;
}

} // namespace crash::send
