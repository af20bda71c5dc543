#pragma once
// CheckFileCrc: the executable's stored checksum against its file.

namespace crash {

// True when the file matches its stamp (or carries none); false when it is corrupt.
bool ExecutableMatchesItsChecksum();
// Shows BitFaultMsg when the executable does not match.
void CheckExecutableChecksum();

} // namespace crash
