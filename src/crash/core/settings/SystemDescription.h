#pragma once
// The description of the system the program runs on, as the bug report header and the %os%
// placeholder give it: the distribution's name, " x64" on a 64-bit x86 system; the build is the
// kernel's release.

#include <QString>

namespace crash {

QString OperatingSystemDescription();
QString OperatingSystemBuild();

} // namespace crash
