#pragma once
// Writing a whole buffer to a descriptor: short writes are continued and interrupted ones retried.
// Allocates nothing, so writers that run where the heap cannot be trusted may use it too.

#include <cstddef>

namespace platform {

// False when a write failed or wrote nothing.
bool WriteAll(int fd, const char* data, std::size_t size);

} // namespace platform
