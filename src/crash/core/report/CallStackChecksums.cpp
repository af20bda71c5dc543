#include "crash/core/report/CallStackChecksums.h"

#include <zlib.h>

namespace crash {

std::uint32_t CrcStep(std::uint32_t value, const void* data, std::size_t size)
{
    // zlib inverts before and after; inverting around its call leaves the bare table step.
    uLong crc = ~value & 0xffffffffu;
    const auto* bytes = static_cast<const Bytef*>(data);
    while (size > 0) {
        const uInt chunk = size > 0x40000000u ? 0x40000000u : static_cast<uInt>(size);
        crc = crc32(crc, bytes, chunk);
        bytes += chunk;
        size -= chunk;
    }
    return ~static_cast<std::uint32_t>(crc);
}

std::uint32_t CrcStepWord(std::uint32_t value, std::uint32_t word)
{
    const unsigned char bytes[4] = {static_cast<unsigned char>(word), static_cast<unsigned char>(word >> 8),
                                    static_cast<unsigned char>(word >> 16),
                                    static_cast<unsigned char>(word >> 24)};
    return CrcStep(value, bytes, sizeof bytes);
}

std::optional<std::array<std::uint32_t, 3>>
ComputeCallStackChecksums(const std::vector<ThreadRecord>& threads, bool freeze, std::int64_t mainThreadId)
{
    std::size_t counted = threads.size();
    for (std::size_t i = 0; i < threads.size(); ++i) {
        const ThreadRecord& record = threads[i];
        if (record.innerLevel == 0 && (freeze ? record.threadId == mainThreadId : record.crashed)) {
            counted = i;
            break;
        }
    }
    if (counted == threads.size() || !threads[counted].traced)
        return std::nullopt;
    const stack::TraceResult& first = threads[counted].trace;
    std::array<std::uint32_t, 3> values{first.firstEntryValue, first.runningCrc, first.runningCrc};
    for (std::size_t i = counted + 1; i < threads.size(); ++i) {
        const ThreadRecord& record = threads[i];
        if (record.innerLevel == 0 && record.traced && record.trace.hasLineInfo)
            values[2] = CrcStepWord(values[2], record.trace.runningCrc);
    }
    return values;
}

QString FormatCallStackChecksums(const std::array<std::uint32_t, 3>& values)
{
    QStringList parts;
    for (std::uint32_t value : values)
        parts.append(QLatin1Char('$') + QString::number(value, 16).rightJustified(8, QLatin1Char('0')));
    return parts.join(QLatin1String(", "));
}

} // namespace crash
