#pragma once
// Text built in a buffer the caller owns, for code that may not allocate: a signal handler, or a
// report written while the allocator is unusable. Text that does not fit is cut off; nothing here
// allocates, locks or calls the C library's formatting.

#include <cstddef>
#include <cstdint>

namespace platform {

class SignalSafeText
{
public:
    SignalSafeText(char* buffer, std::size_t capacity) noexcept : m_data(buffer), m_capacity(capacity) {}

    SignalSafeText& append(const char* text) noexcept;
    SignalSafeText& append(const char* text, std::size_t length) noexcept;
    SignalSafeText& append(char c) noexcept;
    // Upper-case hexadecimal, zero-padded to `digits` (0: as few as needed).
    SignalSafeText& appendHex(std::uint64_t value, int digits = 0, bool upper = true) noexcept;
    // Decimal, zero-padded to `digits`.
    SignalSafeText& appendDecimal(std::uint64_t value, int digits = 0) noexcept;
    // `text` and blanks up to `width`.
    SignalSafeText& appendPadded(const char* text, std::size_t width) noexcept;
    // "2026-12-07, 11:05:03, 42ms" for a time in milliseconds since 1970 (already shifted to the
    // wanted zone).
    SignalSafeText& appendDateTime(std::int64_t milliseconds) noexcept;

    const char* data() const noexcept { return m_data; }
    std::size_t size() const noexcept { return m_size; }
    bool endsWith(const char* text) const noexcept;
    // Terminates the text with a NUL (cutting its last character when full).
    const char* c_str() noexcept;

private:
    SignalSafeText& appendNumber(std::uint64_t value, unsigned base, int digits, const char* set) noexcept;

    char* m_data;
    std::size_t m_capacity;
    std::size_t m_size = 0;
};

} // namespace platform
