#pragma once
// Copying a file over another so that no reader ever sees it half-written: the copy is made as
// a temporary file in the target's folder and renamed over the target in one step. Paths may be
// Windows paths of the prefix or native ones.

#include <QString>

namespace platform {

// Returns false when the copy failed; the target is then as it was.
bool CopyFileReplacing(const QString& from, const QString& to);

} // namespace platform
