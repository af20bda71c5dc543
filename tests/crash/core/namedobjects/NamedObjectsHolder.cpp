// Starts the crash reporter, which opens this process's named objects (the settings buffer and its
// mutex, the thread registry), prints "ready" and whether its settings could be read, and ends
// normally at the first line on its input (or after 60 s).
#include "crash/core/intercept/CrashReporter.h"
#include "crash/core/settings/CrashSettings.h"

#include <cstdio>
#include <poll.h>

int main()
{
    crash::StartCrashReporter();
    std::printf("ready %s\n", crash::CrashSettings(0).isValid() ? "with-settings" : "without-settings");
    std::fflush(stdout);
    pollfd input{0, POLLIN, 0};
    poll(&input, 1, 60000);
    return 0;
}
