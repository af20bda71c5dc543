#include "platform/Registry.h"

#include "platform/WinePrefix.h"

#include <QFile>
#include <QHash>

#include <mutex>
#include <sys/stat.h>

namespace platform {
namespace {

// What tells one version of a hive file from the next: Wine rewrites a hive by saving a new file
// and renaming it over the old one, and an editor may keep the size, so all of these count.
struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& o) const
    {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

bool StampOf(const QString& path, FileStamp& out)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    out = FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return true;
}

// Parsed hives by file, reused while the file is unchanged: a large hive takes far longer to
// parse than any lookup in it, and one Make reads the registry several times.
class HiveCache
{
public:
    std::shared_ptr<const RegistryHive> get(const QString& path)
    {
        FileStamp stamp;
        if (!StampOf(path, stamp)) {
            std::lock_guard lock(m_lock);
            m_entries.remove(path);
            return std::make_shared<const RegistryHive>();
        }
        {
            std::lock_guard lock(m_lock);
            const auto it = m_entries.constFind(path);
            if (it != m_entries.cend() && it->stamp == stamp)
                return it->hive;
        }
        // Parsed outside the lock; the stamp taken before reading makes a change during the read
        // show as a new version at the next open.
        auto hive = std::make_shared<const RegistryHive>(RegistryHive::load(path));
        std::lock_guard lock(m_lock);
        if (m_entries.size() >= MaxFiles && !m_entries.contains(path))
            m_entries.clear();
        m_entries.insert(path, Entry{stamp, hive});
        return hive;
    }

private:
    static constexpr qsizetype MaxFiles = 8;
    struct Entry
    {
        FileStamp stamp;
        std::shared_ptr<const RegistryHive> hive;
    };
    std::mutex m_lock;
    QHash<QString, Entry> m_entries;
};

HiveCache& Hives()
{
    static HiveCache cache;
    return cache;
}

} // namespace

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

namespace {
QString HivePath(RootKey root)
{
    return root == RootKey::LocalMachine ? WinePrefix::systemHivePath() : WinePrefix::userHivePath();
}
} // namespace

void PreloadRegistryHive(RootKey root)
{
    Hives().get(HivePath(root));
}

RegistryKey::RegistryKey(std::shared_ptr<const RegistryHive> hive, QString path)
    : m_hive(std::move(hive)), m_path(std::move(path))
{
}

std::optional<RegistryKey> RegistryKey::open(RootKey root, const QString& path, uint32_t access)
{
    std::shared_ptr<const RegistryHive> hive = Hives().get(HivePath(root));
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
