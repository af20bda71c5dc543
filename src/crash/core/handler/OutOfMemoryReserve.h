#pragma once
// Address space held back while the program runs and given up while an exception is handled, so
// the handling finds room even when the program ran out: four 4 MB and four 512 KB regions,
// mapped inaccessible.

namespace crash {

void ReserveOutOfMemoryRegions();
void ReleaseOutOfMemoryRegions();
bool OutOfMemoryRegionsReserved();

} // namespace crash
