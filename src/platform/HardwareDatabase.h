#pragma once
// Names for PCI and USB ids: vendor, model and device class, as lspci and lsusb show them. The
// system's database is udev's compiled hardware database when the machine has one, then the
// hwdata id files (pci.ids, usb.ids); tests hand in id files of their own.

#include "platform/SysfsDevices.h"

#include <QString>
#include <vector>

namespace platform {

struct DeviceNames
{
    QString vendor;
    QString model;
    QString className;
};

class HardwareDatabase
{
public:
    // Either file may be missing; then those names stay empty.
    HardwareDatabase(QString pciIdsFile, QString usbIdsFile, bool useUdevDatabase = false);
    static HardwareDatabase system();

    // One entry per device, in the same order; empty names for what is not known (and for
    // class devices, which have no ids). Reads each id file at most once.
    std::vector<DeviceNames> lookup(const std::vector<DeviceRecord>& devices) const;

private:
    QString m_pciIds;
    QString m_usbIds;
    bool m_useUdev;
};

} // namespace platform
