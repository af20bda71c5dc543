#pragma once
// The background send threads of this process. Each runs one send to its end; the registry
// joins them, so none is cut off while it still holds a connection or a temporary file.

#include <functional>

namespace crash::send {

// Starts `work` on a thread of its own; false when no thread could be started.
bool StartBackgroundSend(std::function<void()> work);

// Waits up to `timeoutMs` until every background send has ended; true when none is running.
bool WaitForBackgroundSends(int timeoutMs);

} // namespace crash::send
