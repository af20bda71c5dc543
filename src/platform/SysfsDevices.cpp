// A device's driver is the "driver" link of its folder, and the driver's kernel module the
// "module" link of the driver. Only modules that were loaded (they have an "initstate") count:
// drivers built into the kernel carry a module folder too but no version of their own. A USB
// device is bound to the generic "usb" driver, so its first interface with a loadable driver
// (usbhid, snd-usb-audio, ...) names it instead.
#include "platform/SysfsDevices.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <sys/utsname.h>

namespace platform {
namespace {

QString ReadAttribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(4096)).trimmed();
}

int ReadHex(const QString& path, bool* ok = nullptr)
{
    QString text = ReadAttribute(path);
    if (text.startsWith(QLatin1String("0x")))
        text = text.mid(2);
    bool parsed = false;
    const int value = text.toInt(&parsed, 16);
    if (ok)
        *ok = parsed;
    return parsed ? value : 0;
}

QStringList SortedEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
}

} // namespace

SysfsDevices::SysfsDevices(QString sysRoot) : m_root(std::move(sysRoot))
{
    while (m_root.size() > 1 && m_root.endsWith(QLatin1Char('/')))
        m_root.chop(1);
}

bool SysfsDevices::hasBuses() const
{
    return QFileInfo(m_root + QStringLiteral("/bus")).isDir();
}

std::vector<DeviceRecord> SysfsDevices::devices() const
{
    std::vector<DeviceRecord> out;
    if (!hasBuses())
        return out;
    addPci(out);
    addUsb(out);
    for (const char* className : {"input", "sound", "video4linux", "net"})
        addClassDevices(out, QString::fromLatin1(className));
    return out;
}

void SysfsDevices::setDriver(DeviceRecord& record, const QString& deviceFolder) const
{
    const QString moduleLink = QFileInfo(deviceFolder + QStringLiteral("/driver/module")).symLinkTarget();
    if (moduleLink.isEmpty())
        return;
    const QString module = QFileInfo(moduleLink).fileName();
    const QString moduleFolder = m_root + QStringLiteral("/module/") + module;
    if (!QFileInfo::exists(moduleFolder + QStringLiteral("/initstate")))
        return; // built into the kernel
    record.driverModule = module;
    record.moduleVersion = ReadAttribute(moduleFolder + QStringLiteral("/version"));
}

void SysfsDevices::addPci(std::vector<DeviceRecord>& out) const
{
    const QString bus = m_root + QStringLiteral("/bus/pci/devices/");
    for (const QString& name : SortedEntries(bus)) {
        const QString folder = bus + name;
        bool ok = false;
        DeviceRecord record;
        record.subsystem = QStringLiteral("pci");
        record.sysName = name;
        record.vendorId = quint16(ReadHex(folder + QStringLiteral("/vendor"), &ok));
        if (!ok)
            continue; // ended while listed, or not a device folder
        record.productId = quint16(ReadHex(folder + QStringLiteral("/device")));
        const int classValue = ReadHex(folder + QStringLiteral("/class"), &ok);
        record.classCode = ok ? (classValue >> 16) & 0xff : -1;
        record.modalias = ReadAttribute(folder + QStringLiteral("/modalias"));
        setDriver(record, folder);
        out.push_back(std::move(record));
    }
}

void SysfsDevices::addUsb(std::vector<DeviceRecord>& out) const
{
    const QString bus = m_root + QStringLiteral("/bus/usb/devices/");
    const QStringList names = SortedEntries(bus);
    for (const QString& name : names) {
        if (name.contains(QLatin1Char(':')))
            continue; // an interface of a device
        const QString folder = bus + name;
        bool ok = false;
        DeviceRecord record;
        record.subsystem = QStringLiteral("usb");
        record.sysName = name;
        record.vendorId = quint16(ReadHex(folder + QStringLiteral("/idVendor"), &ok));
        if (!ok)
            continue;
        record.productId = quint16(ReadHex(folder + QStringLiteral("/idProduct")));
        record.classCode = ReadHex(folder + QStringLiteral("/bDeviceClass"), &ok);
        if (!ok)
            record.classCode = -1;
        record.label = ReadAttribute(folder + QStringLiteral("/product"));
        record.manufacturer = ReadAttribute(folder + QStringLiteral("/manufacturer"));
        setDriver(record, folder);

        const QString interfacePrefix = name + QLatin1Char(':');
        for (const QString& interfaceName : names) {
            if (!interfaceName.startsWith(interfacePrefix))
                continue;
            const QString interfaceFolder = bus + interfaceName;
            if (record.classCode <= 0) {
                const int interfaceClass = ReadHex(interfaceFolder + QStringLiteral("/bInterfaceClass"), &ok);
                if (ok)
                    record.classCode = interfaceClass;
            }
            if (record.driverModule.isEmpty())
                setDriver(record, interfaceFolder);
        }
        record.modalias =
            QString::asprintf("usb:v%04Xp%04Xd%04Xdc%02Xdsc%02Xdp%02X", record.vendorId, record.productId,
                              ReadHex(folder + QStringLiteral("/bcdDevice")), std::max(record.classCode, 0),
                              ReadHex(folder + QStringLiteral("/bDeviceSubClass")),
                              ReadHex(folder + QStringLiteral("/bDeviceProtocol")));
        out.push_back(std::move(record));
    }
}

void SysfsDevices::addClassDevices(std::vector<DeviceRecord>& out, const QString& className) const
{
    const QString classFolder = m_root + QStringLiteral("/class/") + className + QLatin1Char('/');
    for (const QString& name : SortedEntries(classFolder)) {
        // Event, mouse and joystick nodes are children of an "inputN" device; controls and PCM
        // streams are children of a "cardN".
        if ((className == QLatin1String("input") && !name.startsWith(QLatin1String("input"))) ||
            (className == QLatin1String("sound") && !name.startsWith(QLatin1String("card"))))
            continue;
        const QString folder = classFolder + name;
        if (!QFileInfo(folder + QStringLiteral("/device")).exists())
            continue; // virtual: no parent device
        DeviceRecord record;
        record.subsystem = className;
        record.sysName = name;
        if (className == QLatin1String("sound"))
            record.label = ReadAttribute(folder + QStringLiteral("/id"));
        else if (className != QLatin1String("net"))
            record.label = ReadAttribute(folder + QStringLiteral("/name"));
        setDriver(record, folder + QStringLiteral("/device"));
        out.push_back(std::move(record));
    }
}

QString KernelRelease()
{
    utsname names{};
    return ::uname(&names) == 0 ? QString::fromUtf8(names.release) : QString();
}

} // namespace platform
