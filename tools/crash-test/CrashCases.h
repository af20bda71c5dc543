#pragma once
// The failures crash-test can raise, each by name.

#include <QString>
#include <vector>

namespace crashtest {

struct CrashCase
{
    const char* name;
    const char* description;
    void (*raise)(int count);
};

const std::vector<CrashCase>& Cases();
const CrashCase* FindCase(const QString& name);

// The case that runs from main before the event loop, outside every event handler.
inline constexpr char kOutsideHandlerCase[] = "main-null-write-outside-handler";
// The case that runs once for N seconds instead of N times.
inline constexpr char kFreezeCase[] = "freeze";

} // namespace crashtest
