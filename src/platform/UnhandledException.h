#pragma once
// The application's single point where an exception that escaped an event handler lands. The
// application object routes every such exception here; the crash reporter replaces the handler
// when it starts. Until then the exception's message is shown and the program goes on.

#include <exception>
#include <functional>

namespace platform {

using ApplicationExceptionHandler = std::function<void(std::exception_ptr)>;

// Returns the handler in force before; an empty handler restores the message box.
ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

} // namespace platform
