#include "crash/ui/ReportTabs.h"

namespace crash::ui {

namespace {

QString BareName(QString name)
{
    name = name.trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

} // namespace

QString TabTitleForSection(const QString& sectionName)
{
    const QString name = BareName(sectionName);
    if (name.compare(QLatin1String("cpu registers"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("cpu regs");
    if (name.compare(QLatin1String("disassembling"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("disasm");
    return name;
}

QList<ReportTab> BuildReportTabs(const NamedTexts& header, const NamedTexts& sections)
{
    QList<ReportTab> tabs;
    const bool leakReport =
        !header.isEmpty() &&
        BareName(header.first().first).compare(QLatin1String("allocation number"), Qt::CaseInsensitive) == 0;
    if (!leakReport)
        tabs.append({QStringLiteral("general"), true, {}});
    if (sections.isEmpty())
        return tabs;

    const bool moreThreads = sections.size() > 1 && sections[1].first.contains(QLatin1Char('$'));
    QString stackTitle = QStringLiteral("call stack");
    if (leakReport &&
        BareName(sections.first().first).startsWith(QLatin1String("memory dump"), Qt::CaseInsensitive))
        stackTitle = QStringLiteral("memory dump");
    else if (moreThreads)
        stackTitle += QLatin1Char('s');
    ReportTab stacks{stackTitle, false, {sections.first().first}};
    qsizetype next = 1;
    while (next < sections.size() && sections[next].first.contains(QLatin1Char('$')))
        stacks.sections.append(sections[next++].first);
    tabs.append(stacks);

    for (; next < sections.size(); ++next)
        tabs.append({TabTitleForSection(sections[next].first), false, {sections[next].first}});
    return tabs;
}

} // namespace crash::ui
