#pragma once
// The report's three call-stack checksums. They identify a crash by where it happened, not by the
// addresses (which move when the program is loaded elsewhere): the tracer gives each thread's first
// entry value and its running CRC over all entries; here they are combined across threads.

#include "crash/core/report/ThreadRecord.h"

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace crash {

// The zip CRC-32 step (reflected polynomial) over `size` bytes, without initial or final inversion.
std::uint32_t CrcStep(std::uint32_t value, const void* data, std::size_t size);
// The step over the 4 little-endian bytes of `word`.
std::uint32_t CrcStepWord(std::uint32_t value, std::uint32_t word);

// From the traced records: first value and running CRC of the crashed thread (of the main thread
// for a freeze), then every further traced thread with line information folded in, in listing
// order. Empty when the thread that counts was not traced.
std::optional<std::array<std::uint32_t, 3>>
ComputeCallStackChecksums(const std::vector<ThreadRecord>& threads, bool freeze, std::int64_t mainThreadId);

// "$0123abcd, $..., $..." (31 characters).
QString FormatCallStackChecksums(const std::array<std::uint32_t, 3>& values);

} // namespace crash
