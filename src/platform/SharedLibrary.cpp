#include "platform/SharedLibrary.h"

#include <dlfcn.h>

namespace platform {

SharedLibrary SharedLibrary::open(const char* fileName, QString* error)
{
    SharedLibrary library;
    library.m_handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!library.m_handle && error) {
        const char* reason = dlerror();
        *error =
            reason ? QString::fromLocal8Bit(reason) : QStringLiteral("%1 could not be loaded").arg(fileName);
    }
    return library;
}

void* SharedLibrary::symbol(const char* name) const
{
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

} // namespace platform
