#pragma once
// Which tabs the details view shows for a report: "general" (the header) and "call stack(s)"
// first, then one tab per further section. A leak report (first header field "allocation number")
// has no general tab. The sections of further threads ("$" in their names) join the call stack tab.

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

namespace crash::ui {

struct ReportTab
{
    QString title;
    bool isHeader = false;
    QStringList sections; // the names of the report sections shown in this tab, in order

    bool operator==(const ReportTab&) const = default;
};

using NamedTexts = QList<std::pair<QString, QString>>;

QList<ReportTab> BuildReportTabs(const NamedTexts& header, const NamedTexts& sections);

// A section name as a tab shows it: without the trailing colon, "cpu registers" as "cpu regs"
// and "disassembling" as "disasm".
QString TabTitleForSection(const QString& sectionName);

} // namespace crash::ui
