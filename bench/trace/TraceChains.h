#pragma once
// bench_trace's parked threads: 22 threads in call chains about 12 deep across 20 source files.

namespace tracebench {

extern volatile int sink;
void ParkThread(int thread);

} // namespace tracebench
