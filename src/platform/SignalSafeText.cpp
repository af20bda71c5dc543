#include "platform/SignalSafeText.h"

namespace platform {

SignalSafeText& SignalSafeText::append(const char* text, std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length && m_size < m_capacity; ++i)
        m_data[m_size++] = text[i];
    return *this;
}

SignalSafeText& SignalSafeText::append(const char* text) noexcept
{
    while (text && *text && m_size < m_capacity)
        m_data[m_size++] = *text++;
    return *this;
}

SignalSafeText& SignalSafeText::append(char c) noexcept
{
    return append(&c, 1);
}

SignalSafeText& SignalSafeText::appendNumber(std::uint64_t value, unsigned base, int digits,
                                             const char* set) noexcept
{
    char out[20];
    int n = 0;
    do {
        out[n++] = set[value % base];
        value /= base;
    } while (value && n < 20);
    while (n < digits && n < 20)
        out[n++] = '0';
    while (n > 0)
        append(out[--n]);
    return *this;
}

SignalSafeText& SignalSafeText::appendHex(std::uint64_t value, int digits, bool upper) noexcept
{
    return appendNumber(value, 16, digits, upper ? "0123456789ABCDEF" : "0123456789abcdef");
}

SignalSafeText& SignalSafeText::appendDecimal(std::uint64_t value, int digits) noexcept
{
    return appendNumber(value, 10, digits, "0123456789");
}

SignalSafeText& SignalSafeText::appendPadded(const char* text, std::size_t width) noexcept
{
    const std::size_t start = m_size;
    append(text);
    while (m_size - start < width && m_size < m_capacity)
        m_data[m_size++] = ' ';
    return *this;
}

SignalSafeText& SignalSafeText::appendDateTime(std::int64_t milliseconds) noexcept
{
    std::int64_t seconds = milliseconds / 1000;
    std::int64_t millis = milliseconds % 1000;
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    std::int64_t days = seconds / 86400;
    std::int64_t ofDay = seconds % 86400;
    if (ofDay < 0) {
        ofDay += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian calendar, eras of 400 years).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    appendDecimal(static_cast<std::uint64_t>(year), 4).append('-');
    appendDecimal(static_cast<std::uint64_t>(month), 2).append('-');
    appendDecimal(static_cast<std::uint64_t>(day), 2).append(", ");
    appendDecimal(static_cast<std::uint64_t>(ofDay / 3600), 2).append(':');
    appendDecimal(static_cast<std::uint64_t>(ofDay / 60 % 60), 2).append(':');
    appendDecimal(static_cast<std::uint64_t>(ofDay % 60), 2).append(", ");
    return appendDecimal(static_cast<std::uint64_t>(millis)).append("ms");
}

bool SignalSafeText::endsWith(const char* text) const noexcept
{
    std::size_t length = 0;
    while (text[length])
        ++length;
    if (length > m_size)
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if (m_data[m_size - length + i] != text[i])
            return false;
    return true;
}

const char* SignalSafeText::c_str() noexcept
{
    if (m_capacity == 0)
        return "";
    if (m_size == m_capacity)
        --m_size;
    m_data[m_size] = '\0';
    return m_data;
}

} // namespace platform
