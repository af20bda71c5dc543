#pragma once
// A request from outside to end the program (the session ending, a service manager, "kill"),
// handled the way a user's close is: on the main thread, through the normal shutdown path, so
// destructors run and leak checkers see the end of the process.

#include <functional>

namespace platform {

// From now on SIGTERM, SIGINT and SIGHUP call `onRequest` from the event loop of the thread that
// called this instead of ending the process on the spot. Needs the application object, which
// owns what listens; a later call replaces `onRequest`.
void HandleTerminationRequests(std::function<void()> onRequest);

} // namespace platform
