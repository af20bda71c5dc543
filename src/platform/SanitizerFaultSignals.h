#pragma once
// A program whose crash reporter takes the processor faults and abort itself, built with
// AddressSanitizer: the sanitizer reads its defaults before main, and these keep it from
// installing its own handlers for those signals, so the reporter's handlers are the only ones.
// The sanitizer still reports the memory errors it detects itself. ASAN_OPTIONS in the
// environment is read after these defaults and can change them again.
//
// Use once, at namespace scope, in the file that holds the program's main:
//     PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()
// Outside an AddressSanitizer build it expands to nothing.

#if defined(__SANITIZE_ADDRESS__)
#define PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()                                                       \
    extern "C" __attribute__((used, visibility("default"), no_sanitize_address)) const char*                 \
    __asan_default_options()                                                                                 \
    {                                                                                                        \
        return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_abort=0:handle_sigill=0:"               \
               "allow_user_segv_handler=1";                                                                  \
    }
#else
#define PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()
#endif
