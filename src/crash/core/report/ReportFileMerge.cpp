#include "crash/core/report/ReportFileMerge.h"

namespace crash {
namespace {

const QByteArray DateTime = QByteArrayLiteral("date/time");
const QByteArray ReportSeparator = QByteArrayLiteral("\r\ndate/time");
const QByteArray Utf8Bom = QByteArrayLiteral("\xEF\xBB\xBF");
constexpr int ChecksumsLength = 31;

// Where the report holding `hit` starts: at the last "date/time" line before it.
qsizetype ReportStart(const QByteArray& content, qsizetype hit)
{
    const qsizetype separator = hit > 0 ? content.lastIndexOf(ReportSeparator, hit - 1) : -1;
    if (separator >= 0)
        return separator + 2;
    return content.startsWith(DateTime) ? 0 : -1;
}

// Where the next report starts (the empty line between the two goes with this one), or the end.
qsizetype ReportEnd(const QByteArray& content, qsizetype from)
{
    const qsizetype separator = content.indexOf(ReportSeparator, from);
    return separator < 0 ? content.size() : separator + 2;
}

QString DuplicateKey(const NewReport& report, const ReportFileRules& rules)
{
    // Only a finished checksum identifies a crash; placeholders of unfinished reports all look alike.
    if (report.checksums.size() != ChecksumsLength)
        return {};
    const bool exception = report.hasExceptionClass;
    if (!(exception ? rules.noDupExcepts : rules.noDupFreezes))
        return {};
    const int definition = exception ? rules.dupExceptDef : rules.dupFreezeDef;
    return report.checksums.left(definition == 0 ? 9 : definition == 1 ? 20 : ChecksumsLength);
}

bool SameProgramAndCrash(const QByteArray& old, const NewReport& report)
{
    auto same = [&](const char* name, const QString& value) {
        return ReportHeaderValue(old, QLatin1String(name)) == value.simplified();
    };
    if (!same("executable", report.executable) || !same("current module", report.currentModule) ||
        !same("exception class", report.exceptionClass) || !same("version", report.version))
        return false;
    return !report.version.isEmpty() ||
           (same("exec. date/time", report.execDateTime) && same("module date/time", report.moduleDateTime));
}

QString WithCount(const NewReport& report, int count)
{
    QString text = report.text;
    const QString line = QStringLiteral("count").leftJustified(report.nameWidth) + QLatin1String(": ") +
                         QString::number(count);
    const QString name = QStringLiteral("callstack crc");
    qsizetype at = text.startsWith(name) ? 0 : text.indexOf(QLatin1String("\r\n") + name);
    if (at < 0)
        return text;
    const qsizetype end = text.indexOf(QLatin1String("\r\n"), at + 2);
    text.insert(end < 0 ? text.size() : end, QLatin1String("\r\n") + line);
    return text;
}

} // namespace

QString ReportHeaderValue(const QByteArray& report, const QString& name)
{
    const QByteArray key = name.toUtf8();
    qsizetype pos = 0;
    while (pos < report.size()) {
        qsizetype end = report.indexOf("\r\n", pos);
        if (end < 0)
            end = report.size();
        if (end == pos)
            break; // the empty line that ends the header
        const QByteArrayView line(report.constData() + pos, end - pos);
        if (line.startsWith(key)) {
            qsizetype i = key.size();
            while (i < line.size() && line[i] == ' ')
                ++i;
            // The name is padded with at least one space before ": ".
            if (i > key.size() && line.sliced(i).startsWith(':'))
                return QString::fromUtf8(line.sliced(i + 1)).simplified();
        }
        pos = end + 2;
    }
    return {};
}

QByteArray MergeReportFile(const QByteArray& existing, const NewReport& report, const ReportFileRules& rules)
{
    QString text = report.text;
    if (!rules.append || existing.isEmpty())
        return text.toUtf8() + "\r\n\r\n";

    QByteArray content = existing.startsWith(Utf8Bom) ? existing.mid(Utf8Bom.size()) : existing;
    const bool trim = rules.sizeLimit > 0 && rules.sizeLimit < existing.size();

    const QString key = DuplicateKey(report, rules);
    if (!key.isEmpty()) {
        const QByteArray needle = ": " + key.toUtf8();
        qsizetype from = content.size();
        while (from >= 0) {
            const qsizetype hit = content.lastIndexOf(needle, from);
            if (hit < 0)
                break;
            from = hit - 1;
            const qsizetype start = ReportStart(content, hit);
            if (start < 0)
                continue;
            const qsizetype end = ReportEnd(content, hit + needle.size());
            const QByteArray old = content.mid(start, end - start);
            if (!SameProgramAndCrash(old, report))
                continue;
            bool counted = false;
            const int oldCount = ReportHeaderValue(old, QStringLiteral("count")).toInt(&counted);
            text = WithCount(report, (counted && oldCount > 0 ? oldCount : 1) + 1);
            content.remove(start, end - start);
            break;
        }
    }

    if (trim) {
        const std::int64_t bound = rules.sizeLimit - rules.sizeLimit / 4;
        for (qsizetype at = content.indexOf(ReportSeparator); at >= 0;
             at = content.indexOf(ReportSeparator, at + 1)) {
            if (content.size() - at < bound) {
                content.remove(0, at + 2);
                break;
            }
        }
    }
    // Keep the new report on a line of its own even after content that is not a report.
    if (!content.isEmpty() && !content.endsWith("\r\n\r\n"))
        content += content.endsWith("\r\n") ? "\r\n" : "\r\n\r\n";
    return content + text.toUtf8() + "\r\n\r\n";
}

} // namespace crash
