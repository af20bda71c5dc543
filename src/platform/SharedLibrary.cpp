#include "platform/SharedLibrary.h"

#include <QFile>
#include <dlfcn.h>

namespace platform {

SharedLibrary SharedLibrary::open(const char* fileName, QString* error)
{
    SharedLibrary library;
    library.m_fileName = QFile::decodeName(fileName);
    library.m_handle = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (!library.m_handle && error) {
        const char* reason = dlerror();
        *error =
            reason ? QString::fromLocal8Bit(reason) : QStringLiteral("%1 could not be loaded").arg(fileName);
    }
    return library;
}

QString SharedLibrary::missingFunctionText() const
{
    return QStringLiteral("%1 has no function %2").arg(m_fileName, m_firstMissing);
}

void* SharedLibrary::symbol(const char* name) const
{
    return m_handle ? dlsym(m_handle, name) : nullptr;
}

} // namespace platform
