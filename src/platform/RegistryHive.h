#pragma once
// One registry hive file in Wine's text format ("WINE REGISTRY Version 2"):
//
//   #arch=win64
//   [Software\\Wow6432Node\\Vendor\\Key] 1796629034
//   #time=1dd861dc71d5b56
//   "Name"="text with \\ and \" and \x00e9"
//   @="default value"
//   "Number"=dword:0000000b
//   "Path"=str(2):"%SystemRoot%"
//   "Blob"=hex:01,02,\  (continued on the next line)
//     03
//   "Typed"=hex(b):05,00,00,00,00,00,00,00
//
// Values keep their Windows type and raw data (strings as UTF-16LE with the terminating zero),
// so typed reads behave as on Windows. Parsing never fails: lines that cannot be understood are
// skipped, a key whose header is damaged is left out, and the rest of the file still counts.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

enum RegType : uint32_t
{
    REG_NONE = 0,
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_BINARY = 3,
    REG_DWORD = 4,
    REG_DWORD_BIG_ENDIAN = 5,
    REG_LINK = 6,
    REG_MULTI_SZ = 7,
    REG_QWORD = 11,
};

struct RegistryValue
{
    QString name; // empty for the default value "@"
    uint32_t type = REG_NONE;
    QByteArray data;

    // The data as text for the string types (without the terminating zero).
    QString text() const;
};

class RegistryHive
{
public:
    static RegistryHive parse(const QByteArray& fileText);
    static RegistryHive load(const QString& filePath); // empty hive when unreadable

    // "win64", "win32" or empty when the file does not say.
    QString arch() const { return m_arch; }
    bool hasKey(const QString& path) const;
    // Key path as written in the file (single backslashes), matched case-insensitively.
    const RegistryValue* value(const QString& keyPath, const QString& valueName) const;
    QList<RegistryValue> values(const QString& keyPath) const;
    QStringList subKeys(const QString& keyPath) const;
    int keyCount() const { return int(m_keys.size()); }

private:
    struct Key
    {
        QString name;
        QList<RegistryValue> values;
    };
    static QString foldName(const QString& name);
    static QString fold(const QString& path);
    QString m_arch;
    QHash<QString, Key> m_keys; // folded path -> key
};

} // namespace platform
