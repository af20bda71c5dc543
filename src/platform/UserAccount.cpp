#include "platform/UserAccount.h"

#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

QString LoginName()
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return QString::fromLocal8Bit(found->pw_name);
    const QString fromEnv = qEnvironmentVariable("USER");
    return fromEnv.isEmpty() ? qEnvironmentVariable("LOGNAME") : fromEnv;
}

} // namespace platform
