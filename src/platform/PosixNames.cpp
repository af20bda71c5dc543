#include "platform/PosixNames.h"

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool ToPosixName(const QString& name, QByteArray& out)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.size() > 200)
        return false;
    out = "/" + name.toUtf8();
    return true;
}

bool PrivateToThisUser(const struct stat& st)
{
    return st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace platform
