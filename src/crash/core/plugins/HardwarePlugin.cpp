#include "crash/core/plugins/HardwarePlugin.h"

#include <QStringList>
#include <algorithm>
#include <map>

namespace crash {
namespace {

struct CaseInsensitiveLess
{
    bool operator()(const QString& a, const QString& b) const
    {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    }
};

QString ClassDeviceGroup(const QString& subsystem)
{
    if (subsystem == QLatin1String("input"))
        return QStringLiteral("Input devices");
    if (subsystem == QLatin1String("sound"))
        return QStringLiteral("Sound cards");
    if (subsystem == QLatin1String("video4linux"))
        return QStringLiteral("Video devices");
    if (subsystem == QLatin1String("net"))
        return QStringLiteral("Network interfaces");
    return subsystem;
}

QString Hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

QString GroupOf(const platform::DeviceRecord& d, const platform::DeviceNames& n)
{
    const bool pci = d.subsystem == QLatin1String("pci");
    if (!pci && d.subsystem != QLatin1String("usb"))
        return ClassDeviceGroup(d.subsystem);
    if (!n.className.isEmpty())
        return n.className;
    const QString bus = pci ? QStringLiteral("PCI") : QStringLiteral("USB");
    if (d.classCode < 0)
        return bus + QStringLiteral(" devices");
    return bus + QStringLiteral(" class %1").arg(d.classCode, 2, 16, QLatin1Char('0'));
}

// "Vendor Model" from the database; a USB device's own strings when the database does not know
// it; else the ids, as lspci writes them ("Vendor 1af4 Device 1045").
QString NameOf(const platform::DeviceRecord& d, const platform::DeviceNames& n)
{
    if (d.subsystem != QLatin1String("pci") && d.subsystem != QLatin1String("usb"))
        return d.label.isEmpty() ? d.sysName : d.label;
    QString vendor = n.vendor.isEmpty() ? d.manufacturer : n.vendor;
    QString model = n.model.isEmpty() ? d.label : n.model;
    if (vendor.isEmpty())
        vendor = QStringLiteral("Vendor ") + Hex4(d.vendorId);
    if (model.isEmpty())
        model = QStringLiteral("Device ") + Hex4(d.productId);
    return vendor + QLatin1Char(' ') + model;
}

} // namespace

QString HardwarePlugin::text(const std::vector<platform::DeviceRecord>& devices,
                             const std::vector<platform::DeviceNames>& names, const QString& kernelRelease)
{
    std::map<QString, std::vector<QString>, CaseInsensitiveLess> groups;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const platform::DeviceRecord& d = devices[i];
        const platform::DeviceNames n = i < names.size() ? names[i] : platform::DeviceNames{};
        QString line = NameOf(d, n);
        if (!d.driverModule.isEmpty()) {
            const QString version = (d.moduleVersion.isEmpty() ? kernelRelease : d.moduleVersion).trimmed();
            line += QStringLiteral(" (driver ") + d.driverModule +
                    (version.isEmpty() ? QString() : QLatin1Char(' ') + version) + QLatin1Char(')');
        }
        groups[GroupOf(d, n)].push_back(std::move(line));
    }

    QStringList out;
    for (auto& [group, lines] : groups) {
        std::sort(lines.begin(), lines.end(), CaseInsensitiveLess());
        out.append(QStringLiteral("+ ") + group);
        for (const QString& line : lines)
            out.append(QStringLiteral("  - ") + line);
    }
    return out.join(QLatin1String("\r\n"));
}

QString HardwarePlugin::systemText()
{
    const std::vector<platform::DeviceRecord> devices = platform::SysfsDevices().devices();
    return text(devices, platform::HardwareDatabase::system().lookup(devices), platform::KernelRelease());
}

} // namespace crash
