#include "platform/ReadOnlyFile.h"

#include <fcntl.h>

namespace platform {

int OpenReadOnlyDescriptor(const std::string& path)
{
    return open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

} // namespace platform
