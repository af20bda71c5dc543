// The hardware section from a prepared /sys tree laid out as the kernel lays it out (device
// folders under devices/, the bus and class folders as links to them, drivers and modules as
// links), named from small id files in the hwdata format.
#include "crash/core/plugins/HardwarePlugin.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

using crash::HardwarePlugin;
using platform::HardwareDatabase;
using platform::SysfsDevices;

namespace {

const QByteArray kPciIds = "# pci.ids in little\n"
                           "8086  Intel Corporation\n"
                           "\t100e  82540EM Gigabit Ethernet Controller\n"
                           "\t\t8086 001e  PRO/1000 MT Mobile Connection\n"
                           "\t1237  440FX - 82441FX PMC [Natoma]\n"
                           "\t7000  82371SB PIIX3 ISA [Natoma/Triton II]\n"
                           "1234  Technical Corp.\n"
                           "\t1111  QEMU Virtual Video Controller\n"
                           "C 02  Network controller\n"
                           "\t00  Ethernet controller\n"
                           "C 03  display controller\n"
                           "C 06  Bridge\n"
                           "C ff  Unassigned class\n";

const QByteArray kUsbIds = "1d6b  Linux Foundation\n"
                           "\t0002  2.0 root hub\n"
                           "C 03  Human Interface Device\n"
                           "C 09  Hub\n"
                           "HUT 01  Generic Desktop Controls\n"
                           "\t0002  Mouse\n";

class FakeSys
{
public:
    // A device folder with its attribute files, linked from `linkFolder` under its own name.
    QString device(const QString& path, const QString& linkFolder,
                   const QMap<QString, QByteArray>& attributes)
    {
        for (auto it = attributes.begin(); it != attributes.end(); ++it)
            m_dir.write(path + QLatin1Char('/') + it.key(), it.value() + "\n");
        QDir().mkpath(m_dir.file(path));
        if (!linkFolder.isEmpty())
            link(path, linkFolder + QLatin1Char('/') + QFileInfo(path).fileName());
        return path;
    }

    // Binds `devicePath` to `driver` of `bus`, whose module is loaded (`loaded`) or built in.
    void bind(const QString& devicePath, const QString& bus, const QString& driver, const QString& module,
              bool loaded, const QByteArray& version = {})
    {
        const QString driverPath = QStringLiteral("bus/") + bus + QStringLiteral("/drivers/") + driver;
        const QString modulePath = QStringLiteral("module/") + module;
        QDir().mkpath(m_dir.file(modulePath));
        if (loaded)
            m_dir.write(modulePath + QStringLiteral("/initstate"), "live\n");
        if (!version.isEmpty())
            m_dir.write(modulePath + QStringLiteral("/version"), version + "\n");
        QDir().mkpath(m_dir.file(driverPath));
        if (!QFileInfo(m_dir.file(driverPath + QStringLiteral("/module"))).isSymLink())
            link(modulePath, driverPath + QStringLiteral("/module"));
        link(driverPath, devicePath + QStringLiteral("/driver"));
    }

    void link(const QString& target, const QString& linkPath)
    {
        QDir().mkpath(QFileInfo(m_dir.file(linkPath)).absolutePath());
        ASSERT_TRUE(QFile::link(m_dir.file(target), m_dir.file(linkPath))) << linkPath.toStdString();
    }

    QString root() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.file(relative); }
    QString write(const QString& relative, const QByteArray& content) const
    {
        return m_dir.write(relative, content);
    }

private:
    testsupport::TempDir m_dir;
};

QString HardwareText(const FakeSys& sys, const QString& kernelRelease = QStringLiteral("6.1.0-test"))
{
    const HardwareDatabase names(sys.write(QStringLiteral("ids/pci.ids"), kPciIds),
                                 sys.write(QStringLiteral("ids/usb.ids"), kUsbIds));
    const std::vector<platform::DeviceRecord> devices = SysfsDevices(sys.root()).devices();
    return HardwarePlugin::text(devices, names.lookup(devices), kernelRelease);
}

// A small virtual machine: PCI bridges, graphics, network, an odd device; a USB hub with a
// tablet; the input, network and sound class devices on top; and what must not be listed.
void BuildMachine(FakeSys& sys)
{
    const QString pciBus = QStringLiteral("bus/pci/devices");
    const QString pci = QStringLiteral("devices/pci0000:00/");
    // Folder order differs from name order within "Bridge".
    sys.device(pci + "0000:00:00.0", pciBus,
               {{"vendor", "0x8086"}, {"device", "0x7000"}, {"class", "0x060100"}});
    const QString host = sys.device(pci + "0000:00:01.0", pciBus,
                                    {{"vendor", "0x8086"}, {"device", "0x1237"}, {"class", "0x060000"}});
    sys.bind(host, "pci", "piix4_smbus", "i2c_piix4", false); // built in
    const QString vga = sys.device(pci + "0000:00:02.0", pciBus,
                                   {{"vendor", "0x1234"}, {"device", "0x1111"}, {"class", "0x030000"}});
    sys.bind(vga, "pci", "bochs-drm", "bochs", true); // no version of its own
    const QString nic = sys.device(pci + "0000:00:03.0", pciBus,
                                   {{"vendor", "0x8086"}, {"device", "0x100e"}, {"class", "0x020000"}});
    sys.bind(nic, "pci", "e1000", "e1000", true, "7.3.21-k8-NAPI");
    sys.device(pci + "0000:00:05.0", pciBus,
               {{"vendor", "0xabcd"}, {"device", "0x0001"}, {"class", "0xff0000"}});

    const QString usbBus = QStringLiteral("bus/usb/devices");
    const QString hub = sys.device(pci + "0000:00:04.0/usb1", usbBus,
                                   {{"idVendor", "1d6b"},
                                    {"idProduct", "0002"},
                                    {"bDeviceClass", "09"},
                                    {"product", "EHCI Host Controller"},
                                    {"manufacturer", "Linux 6.1.0 ehci_hcd"}});
    sys.bind(hub, "usb", "usb", "usbcore", false);
    const QString hubPort = sys.device(hub + "/1-0:1.0", usbBus, {{"bInterfaceClass", "09"}});
    sys.bind(hubPort, "usb", "hub", "usbcore", false);
    const QString tablet = sys.device(hub + "/1-1", usbBus,
                                      {{"idVendor", "0627"},
                                       {"idProduct", "0001"},
                                       {"bDeviceClass", "00"},
                                       {"product", "QEMU USB Tablet"},
                                       {"manufacturer", "QEMU"}});
    sys.bind(tablet, "usb", "usb", "usbcore", false);
    const QString tabletInterface = sys.device(tablet + "/1-1:1.0", usbBus, {{"bInterfaceClass", "03"}});
    sys.bind(tabletInterface, "usb", "usbhid", "usbhid", true);

    const QString input = sys.device(tabletInterface + "/0003:0627:0001.0001/input/input3",
                                     QStringLiteral("class/input"), {{"name", "QEMU QEMU USB Tablet"}});
    sys.link(tabletInterface + "/0003:0627:0001.0001", input + "/device");
    const QString event = sys.device(input + "/event3", QStringLiteral("class/input"), {{"dev", "13:67"}});
    sys.link(input, event + "/device");
    sys.device("devices/virtual/input/input9", QStringLiteral("class/input"), {{"name", "uinput keyboard"}});

    const QString eth =
        sys.device(nic + "/net/eth0", QStringLiteral("class/net"), {{"address", "52:54:00:12:34:56"}});
    sys.link(nic, eth + "/device");
    sys.device("devices/virtual/net/lo", QStringLiteral("class/net"), {{"address", "00:00:00:00:00:00"}});

    const QString card =
        sys.device(pci + "0000:00:06.0/sound/card0", QStringLiteral("class/sound"), {{"id", "Intel"}});
    sys.link(pci + "0000:00:03.0", card + "/device");
    const QString control =
        sys.device(card + "/controlC0", QStringLiteral("class/sound"), {{"dev", "116:0"}});
    sys.link(card, control + "/device");

    // Disks and partitions have a parent device but are not hardware of their own here.
    const QString disk =
        sys.device(pci + "0000:00:07.0/block/sda", QStringLiteral("class/block"), {{"size", "8"}});
    sys.link(pci + "0000:00:00.0", disk + "/device");
}

} // namespace

TEST(HardwarePlugin, ClassesAndDevicesAreSortedByNameIgnoringCaseWithLoadableDriversNamed)
{
    FakeSys sys;
    BuildMachine(sys);
    EXPECT_EQ(
        HardwareText(sys),
        QStringLiteral(
            "+ Bridge\r\n"
            "  - Intel Corporation 440FX - 82441FX PMC [Natoma]\r\n"
            "  - Intel Corporation 82371SB PIIX3 ISA [Natoma/Triton II]\r\n"
            "+ display controller\r\n"
            "  - Technical Corp. QEMU Virtual Video Controller (driver bochs 6.1.0-test)\r\n"
            "+ Hub\r\n"
            "  - Linux Foundation 2.0 root hub\r\n"
            "+ Human Interface Device\r\n"
            "  - QEMU QEMU USB Tablet (driver usbhid 6.1.0-test)\r\n"
            "+ Input devices\r\n"
            "  - QEMU QEMU USB Tablet\r\n"
            "+ Network controller\r\n"
            "  - Intel Corporation 82540EM Gigabit Ethernet Controller (driver e1000 7.3.21-k8-NAPI)\r\n"
            "+ Network interfaces\r\n"
            "  - eth0 (driver e1000 7.3.21-k8-NAPI)\r\n"
            "+ Sound cards\r\n"
            "  - Intel (driver e1000 7.3.21-k8-NAPI)\r\n"
            "+ Unassigned class\r\n"
            "  - Vendor abcd Device 0001"));
}

TEST(HardwarePlugin, VirtualDevicesChildNodesInterfacesAndDisksAreSkipped)
{
    FakeSys sys;
    BuildMachine(sys);
    const std::vector<platform::DeviceRecord> devices = SysfsDevices(sys.root()).devices();
    QStringList listed;
    for (const platform::DeviceRecord& d : devices)
        listed.append(d.subsystem + QLatin1Char(':') + d.sysName);
    EXPECT_EQ(listed, (QStringList{"pci:0000:00:00.0", "pci:0000:00:01.0", "pci:0000:00:02.0",
                                   "pci:0000:00:03.0", "pci:0000:00:05.0", "usb:1-1", "usb:usb1",
                                   "input:input3", "sound:card0", "net:eth0"}));
}

TEST(HardwarePlugin, WithoutIdFilesDevicesAreNamedByTheirIdsAndOwnStrings)
{
    FakeSys sys;
    BuildMachine(sys);
    const std::vector<platform::DeviceRecord> devices = SysfsDevices(sys.root()).devices();
    const HardwareDatabase none(sys.file("no/pci.ids"), sys.file("no/usb.ids"));
    const QString text = HardwarePlugin::text(devices, none.lookup(devices), QString());
    EXPECT_TRUE(text.startsWith(QStringLiteral("+ Input devices\r\n"
                                               "  - QEMU QEMU USB Tablet\r\n"
                                               "+ Network interfaces\r\n"
                                               "  - eth0 (driver e1000 7.3.21-k8-NAPI)\r\n"
                                               "+ PCI class 02\r\n"
                                               "  - Vendor 8086 Device 100e (driver e1000 7.3.21-k8-NAPI)\r\n"
                                               "+ PCI class 03\r\n"
                                               "  - Vendor 1234 Device 1111 (driver bochs)\r\n")))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains(QStringLiteral("+ USB class 03\r\n  - QEMU QEMU USB Tablet (driver usbhid)\r\n")));
    EXPECT_TRUE(
        text.contains(QStringLiteral("+ USB class 09\r\n  - Linux 6.1.0 ehci_hcd EHCI Host Controller")));
}

TEST(HardwarePlugin, AContainerWithoutBusesGivesAnEmptySection)
{
    FakeSys sys;
    sys.device(QStringLiteral("devices/virtual/net/eth0"), QStringLiteral("class/net"), {{"address", "x"}});
    sys.link(QStringLiteral("devices/virtual/net/eth0"), QStringLiteral("devices/virtual/net/eth0/device"));
    EXPECT_FALSE(SysfsDevices(sys.root()).hasBuses());
    EXPECT_EQ(HardwareText(sys), QString());
}
