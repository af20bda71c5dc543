#pragma once
// The account this process runs under, as Wine reports it to programs of the prefix.

#include <QString>

namespace platform {

// The login name (Wine's user name); empty when it cannot be found.
QString LoginName();

} // namespace platform
