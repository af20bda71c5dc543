#pragma once
// The interception points, each turning what it catches into a handle-exception request.

#include "crash/core/handler/HandleExceptionRequest.h"

#include <cstdint>
#include <exception>

namespace crash {

void InstallApplicationInterception();
void InstallFaultInterception();
void InstallTerminateInterception();
void InstallRuntimeRedirections();
void RemoveInterception();

// The raising stack recorded for the exception `error` of this thread, if it was seen when thrown.
// The pointer stays valid until the thread's next throws.
const std::uintptr_t* RaiseStackOf(const std::exception_ptr& error, int& depth);
// The same for each exception nested in `error`.
InnerRaiseStacks InnerRaiseStacksOf(const std::exception_ptr& error);

} // namespace crash
