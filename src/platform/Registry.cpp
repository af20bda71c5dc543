#include "platform/Registry.h"

#include "platform/WinePrefix.h"

namespace platform {

QString RedirectTo32BitView(const QString& path, bool prefixIs64Bit)
{
    QString p = path;
    while (p.startsWith(QLatin1Char('\\')))
        p.remove(0, 1);
    if (!prefixIs64Bit)
        return p;
    const QString software = QStringLiteral("Software");
    const bool underSoftware = p.startsWith(software, Qt::CaseInsensitive) &&
                               (p.size() == software.size() || p.at(software.size()) == QLatin1Char('\\'));
    if (!underSoftware ||
        p.mid(software.size() + 1).startsWith(QLatin1String("Wow6432Node"), Qt::CaseInsensitive))
        return p;
    return p.left(software.size()) + QStringLiteral("\\Wow6432Node") + p.mid(software.size());
}

RegistryKey::RegistryKey(std::shared_ptr<const RegistryHive> hive, QString path)
    : m_hive(std::move(hive)), m_path(std::move(path))
{
}

std::optional<RegistryKey> RegistryKey::open(RootKey root, const QString& path, uint32_t access)
{
    const QString file =
        root == RootKey::LocalMachine ? WinePrefix::systemHivePath() : WinePrefix::userHivePath();
    auto hive = std::make_shared<const RegistryHive>(RegistryHive::load(file));
    QString keyPath = path;
    if (access & KEY_WOW64_32KEY) {
        // Without an arch line Wine assumes the machine's own, which here is 64-bit.
        const bool is64 = hive->arch().isEmpty() || hive->arch() == QLatin1String("win64");
        keyPath = RedirectTo32BitView(path, is64 && root == RootKey::LocalMachine);
    }
    if (!hive->hasKey(keyPath))
        return std::nullopt;
    return RegistryKey(std::move(hive), keyPath);
}

std::optional<RegistryValue> RegistryKey::value(const QString& name) const
{
    const RegistryValue* v = m_hive->value(m_path, name);
    if (!v)
        return std::nullopt;
    return *v;
}

RegStatus RegistryKey::readString(const QString& name, QString& out) const
{
    const RegistryValue* v = m_hive->value(m_path, name);
    if (!v)
        return RegStatus::NotFound;
    if (v->type != REG_SZ && v->type != REG_EXPAND_SZ)
        return RegStatus::WrongType;
    out = v->text();
    return RegStatus::Ok;
}

RegStatus RegistryKey::readDword(const QString& name, uint32_t& out) const
{
    const RegistryValue* v = m_hive->value(m_path, name);
    if (!v)
        return RegStatus::NotFound;
    if (v->type != REG_DWORD || v->data.size() != 4)
        return RegStatus::WrongType;
    out = uint32_t(uchar(v->data[0])) | uint32_t(uchar(v->data[1])) << 8 | uint32_t(uchar(v->data[2])) << 16 |
          uint32_t(uchar(v->data[3])) << 24;
    return RegStatus::Ok;
}

QStringList RegistryKey::valueNames() const
{
    QStringList names;
    for (const RegistryValue& v : m_hive->values(m_path))
        names.append(v.name);
    return names;
}

QStringList RegistryKey::subKeyNames() const
{
    return m_hive->subKeys(m_path);
}

} // namespace platform
