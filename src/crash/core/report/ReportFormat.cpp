#include "crash/core/report/ReportFormat.h"

namespace crash {
namespace {

QString Unit(std::int64_t count, const char* name)
{
    if (count == 0)
        return {};
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(name) +
           (count != 1 ? QLatin1String("s ") : QLatin1String(" "));
}

QString Hundredths(std::uint64_t bytes, std::uint64_t unit, const QString& separator, const char* name)
{
    // bytes * 100 cannot overflow below the GB unit; above it divide first to stay in range.
    const std::uint64_t value = bytes < (std::uint64_t(1) << 56) ? bytes * 100 / unit : bytes / unit * 100;
    const QString digits = QString::number(value).rightJustified(3, QLatin1Char('0'));
    return digits.left(digits.size() - 2) + separator + digits.right(2) + QLatin1Char(' ') +
           QLatin1String(name);
}

} // namespace

QString FormatDuration(std::int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const std::int64_t days = seconds / 86400;
    const std::int64_t hours = seconds / 3600 % 24;
    const std::int64_t minutes = seconds / 60 % 60;
    const std::int64_t rest = seconds % 60;
    if (days > 0)
        return Unit(days, "day") + Unit(hours, "hour");
    if (hours > 0)
        return Unit(hours, "hour") + Unit(minutes, "minute");
    return Unit(minutes, "minute") + Unit(rest, "second");
}

QString FormatProgramUpTime(std::int64_t milliseconds)
{
    if (milliseconds < 1000)
        return QString::number(std::max<std::int64_t>(milliseconds, 0)) + QLatin1String(" milliseconds");
    return FormatDuration(milliseconds / 1000);
}

QString FormatSize(std::uint64_t bytes, const QString& decimalSeparator)
{
    constexpr std::uint64_t KB = 1024, MB = KB * 1024, GB = MB * 1024;
    if (bytes < KB)
        return QString::number(bytes) + QLatin1String(" Bytes");
    if (bytes < MB)
        return Hundredths(bytes, KB, decimalSeparator, "KB");
    if (bytes < GB)
        return Hundredths(bytes, MB, decimalSeparator, "MB");
    return Hundredths(bytes, GB, decimalSeparator, "GB");
}

QString FormatReportTime(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyy-MM-dd, hh:mm:ss, ")) + QString::number(time.time().msec()) +
           QLatin1String("ms");
}

QString HexId(std::uint64_t id)
{
    return QLatin1Char('$') + QString::number(id, 16);
}

QString OneLine(QString text)
{
    text.replace(QLatin1String("\r\n"), QLatin1String(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    while (text.contains(QLatin1String("  ")))
        text.replace(QLatin1String("  "), QLatin1String(" "));
    return text;
}

} // namespace crash
