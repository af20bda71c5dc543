#pragma once
// The application's single point where an exception that escaped an event handler lands. The
// application object routes every such exception here; the crash reporter replaces the handler
// when it starts. Until then the exception's message is shown and the program goes on.

#include <exception>
#include <functional>

namespace platform {

// Where an unhandled exception was caught.
struct ExceptionOrigin
{
    enum class Kind
    {
        EventHandler,       // escaped an event handler; `receiver` got the event
        MarshalledCall,     // escaped a call queued from another thread (a meta-call event)
        ApplicationShow,    // the application was asked to show an exception's message
        RuntimeShow,        // the same with no application object
    };
    Kind kind = Kind::EventHandler;
    const void* receiver = nullptr;
};

using ApplicationExceptionHandler = std::function<void(std::exception_ptr, const ExceptionOrigin&)>;

// Returns the handler in force before; an empty handler restores the message box.
ApplicationExceptionHandler SetApplicationExceptionHandler(ApplicationExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error, const ExceptionOrigin& origin = {});

// Shows an exception's message the way the program does; the crash reporter takes it over too.
void ShowException(std::exception_ptr error);

// Marks the code between construction and destruction as running inside a frame that catches
// exceptions and can continue (an event handler, a wrapped thread function): a processor fault in
// the program's own code there is turned into a C++ exception. Read from the signal handler.
class ExceptionFrame
{
public:
    ExceptionFrame() noexcept;
    ~ExceptionFrame();
    ExceptionFrame(const ExceptionFrame&) = delete;
    ExceptionFrame& operator=(const ExceptionFrame&) = delete;
    static bool active() noexcept;
};

} // namespace platform
