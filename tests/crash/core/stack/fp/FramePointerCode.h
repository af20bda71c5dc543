#pragma once
// Three functions built with frame pointers (FpOuter calls FpMiddle calls FpInner); the innermost
// takes a capture of the calling thread as the snapshot would: registers there and a copy of the
// stack above its stack pointer.

#include "crash/core/stack/StackTrace.h"

namespace fpcode {

void FpOuter(crash::stack::ThreadCapture& capture);

} // namespace fpcode
