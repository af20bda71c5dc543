#pragma once
// The single entry every interception point, the freeze watchdog and explicit requests use.
//
// The caller (any thread, possibly inside a signal handler) fills a fixed-size request, writes it
// into the handler thread's pipe and waits for the completion event; the main thread keeps
// pumping Qt events meanwhile so dialogs and main-thread handlers can run. All policy runs on the
// handler thread (HandlingFlow). Only when the process is blocked (the loader or allocator may be
// locked), or the handler thread does not move on a request that cannot continue, does the flow run
// in the calling thread, under a deadline that ends the process rather than letting it hang. A
// handling that waits inside the allocator without progress (here or on the handler thread) ends
// with the report written without the allocator (EmergencyReport).

#include "crash/core/handler/ExceptionHistory.h"
#include "crash/core/handler/HandleExceptionRequest.h"

namespace crash {

void HandleException(HandleExceptionRequest request);

// Starts and stops the handler thread ("Halvorn - HandleExceptionThread").
bool StartHandlerThread();
void StopHandlerThread();
// For the process's normal end: waits while the handler thread still makes a report and makes
// progress; a report that cannot finish (stalled, or waiting for the ending main thread) ends the
// process at once, so the handler thread never works on objects the exit has destroyed. Then the
// report sends still running are waited for (bounded).
void FinishHandlingAtExit();
// True once the program has begun its normal end: a presentation that waits for an answer outside
// this process gives up then, so the report can still be finished and saved.
bool ProgramIsEnding();
bool IsHandlerThread();

// The process's exception history (written by the handler thread only).
ExceptionHistory& History();

// The freeze watchdog's pause: nested, atomic; a pause resets its miss counter.
void PauseFreezeWatchdog();
void ResumeFreezeWatchdog();
bool FreezeWatchdogPaused();
void ClearFreezeCounter();
// Bumped at every pause so the watchdog restarts its count.
unsigned FreezePauseGeneration();

} // namespace crash
