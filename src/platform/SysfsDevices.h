#pragma once
// The devices of a /sys tree: the real one, or a prepared copy handed in by a test. Lists every
// device of the PCI and USB buses and the input, sound, video and network class devices that sit
// on a real parent device (virtual ones such as the loopback interface are left out).

#include <QString>
#include <vector>

namespace platform {

struct DeviceRecord
{
    QString subsystem;     // "pci", "usb", "input", "sound", "video4linux" or "net"
    QString sysName;       // "0000:00:02.0", "1-1", "input3", "eth0"
    quint16 vendorId = 0;  // PCI and USB only
    quint16 productId = 0; // PCI and USB only
    int classCode = -1;    // PCI base class; USB device class, else its first interface's; -1 unknown
    QString modalias;      // the hardware database's key for the device
    QString label;         // what the device calls itself: input/video name, sound card id, USB product
    QString manufacturer;  // the USB manufacturer string
    QString driverModule;  // the loadable kernel module driving it; empty when none or built in
    QString moduleVersion; // that module's own version, when it declares one
};

class SysfsDevices
{
public:
    explicit SysfsDevices(QString sysRoot = QStringLiteral("/sys"));

    // False in a container that shows no buses at all.
    bool hasBuses() const;
    // In bus order (PCI, USB, then the class devices), each folder sorted by name.
    std::vector<DeviceRecord> devices() const;

private:
    void addPci(std::vector<DeviceRecord>& out) const;
    void addUsb(std::vector<DeviceRecord>& out) const;
    void addClassDevices(std::vector<DeviceRecord>& out, const QString& className) const;
    void setDriver(DeviceRecord& record, const QString& deviceFolder) const;

    QString m_root;
};

// The running kernel's release ("6.1.0-13-amd64").
QString KernelRelease();

} // namespace platform
