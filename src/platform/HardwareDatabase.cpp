// The id files are large (pci.ids is over a megabyte) and a report needs a few dozen names, so
// each file is scanned once, line by line, for the ids that were asked for; no table is built.
// Format: a vendor line is four hex digits and the name; its devices follow on lines with one
// tab; "C xx  name" starts a device class. Other sections (languages, HID usages) are skipped.
#include "platform/HardwareDatabase.h"

#include "platform/SharedLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstring>
#include <libudev.h>

namespace platform {
namespace {

struct Wanted
{
    QHash<quint16, QString> vendors;
    QHash<quint32, QString> models; // vendor << 16 | product
    QHash<int, QString> classes;
};

int HexValue(const char* p, int digits)
{
    int value = 0;
    for (int i = 0; i < digits; ++i) {
        const char c = p[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

// The name after an id of `digits` characters: the rest of the line, blanks trimmed.
QString NameAfter(const char* p, const char* end, int digits)
{
    if (end - p <= digits || (p[digits] != ' ' && p[digits] != '\t'))
        return {};
    return QString::fromUtf8(p + digits, end - p - digits).trimmed();
}

void ScanIdsFile(const QString& path, Wanted& wanted)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.readAll();
    const char* p = text.constData();
    const char* const end = p + text.size();
    enum class Context
    {
        None,
        Vendor,
        Class
    } context = Context::None;
    int vendor = -1;
    while (p < end) {
        const char* lineEnd = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        if (p < lineEnd && *p != '#') {
            if (*p != '\t') {
                context = Context::None;
                if (const int id = HexValue(p, 4); id >= 0 && NameAfter(p, lineEnd, 4).size() > 0) {
                    context = Context::Vendor;
                    vendor = id;
                    if (auto it = wanted.vendors.find(quint16(id)); it != wanted.vendors.end())
                        *it = NameAfter(p, lineEnd, 4);
                } else if (lineEnd - p > 4 && p[0] == 'C' && p[1] == ' ') {
                    context = Context::Class;
                    if (const int id = HexValue(p + 2, 2); id >= 0)
                        if (auto it = wanted.classes.find(id); it != wanted.classes.end())
                            *it = NameAfter(p + 2, lineEnd, 2);
                }
            } else if (context == Context::Vendor && lineEnd - p > 5 && p[1] != '\t') {
                if (const int id = HexValue(p + 1, 4); id >= 0) {
                    const quint32 key = quint32(vendor) << 16 | quint32(id);
                    if (auto it = wanted.models.find(key); it != wanted.models.end())
                        *it = NameAfter(p + 1, lineEnd, 4);
                }
            }
        }
        p = lineEnd + 1;
    }
}

// libudev is opened at the first lookup (a report's hardware section), not with the program.
struct UdevLibrary
{
    decltype(&::udev_new) context_new = nullptr;
    decltype(&::udev_unref) context_unref = nullptr;
    decltype(&::udev_hwdb_new) hwdb_new = nullptr;
    decltype(&::udev_hwdb_unref) hwdb_unref = nullptr;
    decltype(&::udev_hwdb_get_properties_list_entry) properties = nullptr;
    decltype(&::udev_list_entry_get_next) next = nullptr;
    decltype(&::udev_list_entry_get_name) name = nullptr;
    decltype(&::udev_list_entry_get_value) value = nullptr;
};

const UdevLibrary* LoadUdev()
{
    return BoundOnce<UdevLibrary>(SKINTOOL_UDEV_LIBRARY, [](SharedLibrary& library, UdevLibrary& udev) {
        return library.bind(udev.context_new, "udev_new") && library.bind(udev.context_unref, "udev_unref") &&
               library.bind(udev.hwdb_new, "udev_hwdb_new") &&
               library.bind(udev.hwdb_unref, "udev_hwdb_unref") &&
               library.bind(udev.properties, "udev_hwdb_get_properties_list_entry") &&
               library.bind(udev.next, "udev_list_entry_get_next") &&
               library.bind(udev.name, "udev_list_entry_get_name") &&
               library.bind(udev.value, "udev_list_entry_get_value");
    });
}

// Fills what udev's compiled database knows; false when the machine has none (or no libudev).
bool LookupUdev(const std::vector<DeviceRecord>& devices, std::vector<DeviceNames>& names)
{
    const UdevLibrary* const lib = LoadUdev();
    if (!lib)
        return false;
    udev* context = lib->context_new();
    if (!context)
        return false;
    udev_hwdb* hwdb = lib->hwdb_new(context);
    if (!hwdb) {
        lib->context_unref(context);
        return false;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].modalias.isEmpty())
            continue;
        const QByteArray key = devices[i].modalias.toLatin1();
        udev_list_entry* entry = lib->properties(hwdb, key.constData(), 0);
        for (; entry; entry = lib->next(entry)) {
            const QByteArray property = lib->name(entry);
            const QString value = QString::fromUtf8(lib->value(entry));
            if (property == "ID_VENDOR_FROM_DATABASE")
                names[i].vendor = value;
            else if (property == "ID_MODEL_FROM_DATABASE")
                names[i].model = value;
            else if (property == "ID_PCI_CLASS_FROM_DATABASE" || property == "ID_USB_CLASS_FROM_DATABASE")
                names[i].className = value;
        }
    }
    lib->hwdb_unref(hwdb);
    lib->context_unref(context);
    return true;
}

QString FirstExisting(std::initializer_list<const char*> paths)
{
    for (const char* path : paths)
        if (QFileInfo::exists(QString::fromLatin1(path)))
            return QString::fromLatin1(path);
    return {};
}

} // namespace

HardwareDatabase::HardwareDatabase(QString pciIdsFile, QString usbIdsFile, bool useUdevDatabase)
    : m_pciIds(std::move(pciIdsFile)), m_usbIds(std::move(usbIdsFile)), m_useUdev(useUdevDatabase)
{
}

HardwareDatabase HardwareDatabase::system()
{
    return HardwareDatabase(
        FirstExisting({"/usr/share/hwdata/pci.ids", "/usr/share/misc/pci.ids"}),
        FirstExisting({"/usr/share/hwdata/usb.ids", "/usr/share/misc/usb.ids", "/var/lib/usbutils/usb.ids"}),
        true);
}

std::vector<DeviceNames> HardwareDatabase::lookup(const std::vector<DeviceRecord>& devices) const
{
    std::vector<DeviceNames> names(devices.size());
    if (m_useUdev)
        LookupUdev(devices, names);

    for (const bool pci : {true, false}) {
        const QLatin1String bus(pci ? "pci" : "usb");
        Wanted wanted;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const DeviceRecord& d = devices[i];
            if (d.subsystem != bus)
                continue;
            if (names[i].vendor.isEmpty())
                wanted.vendors.insert(d.vendorId, {});
            if (names[i].model.isEmpty())
                wanted.models.insert(quint32(d.vendorId) << 16 | d.productId, {});
            if (names[i].className.isEmpty() && d.classCode >= 0)
                wanted.classes.insert(d.classCode, {});
        }
        if (wanted.vendors.isEmpty() && wanted.models.isEmpty() && wanted.classes.isEmpty())
            continue;
        ScanIdsFile(pci ? m_pciIds : m_usbIds, wanted);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            const DeviceRecord& d = devices[i];
            if (d.subsystem != bus)
                continue;
            if (names[i].vendor.isEmpty())
                names[i].vendor = wanted.vendors.value(d.vendorId);
            if (names[i].model.isEmpty())
                names[i].model = wanted.models.value(quint32(d.vendorId) << 16 | d.productId);
            if (names[i].className.isEmpty() && d.classCode >= 0)
                names[i].className = wanted.classes.value(d.classCode);
        }
    }
    return names;
}

} // namespace platform
