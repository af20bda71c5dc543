#pragma once
// This process's standard input read to its end without blocking past a bound: a helper process
// (the crash dialog) receives later news from the process that started it there.

#include <QByteArray>
#include <functional>
#include <optional>

namespace platform {

// Reads standard input until its end, at most `limit` bytes, waiting in slices of `sliceMs`;
// `keepWaiting` is asked after every quiet slice, and false gives up. Nothing when it gave up,
// the input failed or it passed the limit.
std::optional<QByteArray> ReadStandardInputToEnd(qsizetype limit, int sliceMs,
                                                 const std::function<bool()>& keepWaiting);

} // namespace platform
