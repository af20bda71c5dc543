#pragma once
// A file opened for reading as a raw descriptor, for libraries that take one (libdw takes
// ownership and closes it).

#include <string>

namespace platform {

// The descriptor, or -1 when the file cannot be opened.
int OpenReadOnlyDescriptor(const std::string& path);

} // namespace platform
