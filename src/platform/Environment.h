#pragma once
// The process environment as a Windows program of the prefix reads it (GetEnvironmentVariableW):
// Wine passes the variables of the starting shell through, so they are read from here.

#include <QString>

namespace platform {

// The variable's value, or "" when it is not set.
QString GetEnvironmentVariable(const QString& name);

} // namespace platform
