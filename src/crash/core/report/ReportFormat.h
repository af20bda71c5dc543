#pragma once
// The small text forms of the report header: durations, sizes, times and ids.

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace crash {

// The two largest non-zero units among day, hour, minute and second: "3 days 1 hour".
QString FormatDuration(std::int64_t seconds);
// The program's up time: a duration, or "250 milliseconds" below one second.
QString FormatProgramUpTime(std::int64_t milliseconds);
// "512 Bytes", "1.50 KB", "12.34 MB", "2.00 GB" (hundredths truncated, the given separator).
QString FormatSize(std::uint64_t bytes, const QString& decimalSeparator);
// "2026-12-07, 11:05:03, 42ms".
QString FormatReportTime(const QDateTime& time);
// "$1a2b".
QString HexId(std::uint64_t id);
// `text` on one line: line breaks become blanks and runs of blanks one blank.
QString OneLine(QString text);

} // namespace crash
