#pragma once
// The "hardware" report section: the machine's devices grouped by class, as a device manager
// shows them:
//   + Network controller
//     - Intel Corporation 82540EM Gigabit Ethernet Controller (driver e1000 7.3.21-k8-NAPI)
// Classes sorted by name, devices by name within their class (both ignoring case). Only drivers
// that are loadable modules get the suffix; those built into the kernel have no version of their
// own to tell.

#include "platform/HardwareDatabase.h"
#include "platform/SysfsDevices.h"

#include <QString>
#include <vector>

namespace crash {

class HardwarePlugin
{
public:
    // The machine's devices now, named by the system's hardware database.
    static QString systemText();
    // `names` holds the database's names for `devices`, entry by entry. A module without a
    // version of its own is shown with `kernelRelease`, the version it was built for.
    static QString text(const std::vector<platform::DeviceRecord>& devices,
                        const std::vector<platform::DeviceNames>& names, const QString& kernelRelease);
};

} // namespace crash
