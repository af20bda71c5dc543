#include "platform/NamedObjectOwner.h"

#include "platform/NamedMutex.h"
#include "platform/ProcessInfo.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

constexpr std::uint64_t OwnerMagic = 0x524e574f4e564c48ull; // "HLVNOWNR"

// An object made for this process is not older than the process; the start time is known to a
// clock tick and file times are coarse, so only objects clearly older than that count as stale.
constexpr std::int64_t StaleMarginNs = 200'000'000;

void ReadBootId(std::uint8_t (&out)[16])
{
    std::memset(out, 0, sizeof out);
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = QByteArray::fromHex(file.readAll().trimmed().replace('-', QByteArray()));
    std::memcpy(out, bytes.constData(), std::min<std::size_t>(sizeof out, std::size_t(bytes.size())));
}

std::uint64_t PidNamespace()
{
    struct stat st
    {
    };
    return ::stat("/proc/self/ns/pid", &st) == 0 ? std::uint64_t(st.st_ino) : 0;
}

// Whether /proc numbers processes as this process sees them (it may be mounted for a parent
// PID namespace): only then does /proc/<id> tell about process <id> of this namespace.
bool ProcShowsThisNamespace()
{
    char link[32] = {};
    const ssize_t n = ::readlink("/proc/self", link, sizeof link - 1);
    return n > 0 && std::strtoul(link, nullptr, 10) == CurrentProcessId();
}

bool Runs(std::uint32_t id)
{
    return ::kill(pid_t(id), 0) == 0 || errno != ESRCH;
}

std::int64_t Nanoseconds(const timespec& t)
{
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// This process's start on the wall clock, in nanoseconds.
std::int64_t ProcessStartNs()
{
    timespec now{}, sinceBoot{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    const std::int64_t startSinceBoot =
        ticksPerSecond > 0 ? std::int64_t(ProcessStartStamp()) * (1'000'000'000 / ticksPerSecond) : 0;
    return Nanoseconds(now) - Nanoseconds(sinceBoot) + startSinceBoot;
}

} // namespace

NamedObjectOwner CurrentObjectOwner()
{
    NamedObjectOwner owner{};
    owner.magic = OwnerMagic;
    ReadBootId(owner.bootId);
    owner.pidNamespace = PidNamespace();
    owner.startStamp = ProcessStartStamp();
    owner.processId = CurrentProcessId();
    return owner;
}

bool IsCurrentProcess(const NamedObjectOwner& owner)
{
    const NamedObjectOwner self = CurrentObjectOwner();
    return owner.magic == OwnerMagic && owner.processId == self.processId &&
           owner.startStamp == self.startStamp && owner.pidNamespace == self.pidNamespace &&
           std::memcmp(owner.bootId, self.bootId, sizeof self.bootId) == 0;
}

bool ReadObjectOwner(int fd, std::size_t size, NamedObjectOwner& out)
{
    if (size < sizeof out)
        return false;
    const auto offset = off_t(size - sizeof out);
    return ::pread(fd, &out, sizeof out, offset) == ssize_t(sizeof out) && out.magic == OwnerMagic;
}

bool OwnerEnded(const struct stat& st, const NamedObjectOwner* owner, std::uint32_t namedId)
{
    if (!owner || namedId == 0)
        return false;
    const NamedObjectOwner self = CurrentObjectOwner();
    if (std::memcmp(owner->bootId, self.bootId, sizeof self.bootId) != 0)
        return true;
    if (owner->pidNamespace != self.pidNamespace)
        return false;
    if (owner->processId == namedId) {
        if (IsCurrentProcess(*owner))
            return false;
        if (!ProcShowsThisNamespace())
            return !Runs(namedId);
        return ProcessStartStampOf(namedId) != owner->startStamp; // 0 once it has ended
    }
    // Made by one process for another (a restart's record for the new process).
    if (namedId == self.processId)
        return Nanoseconds(st.st_mtim) < ProcessStartNs() - StaleMarginNs;
    return !Runs(namedId);
}

std::uint32_t ProcessIdInName(const QByteArray& name)
{
    const qsizetype dollar = name.lastIndexOf('$');
    if (dollar <= 0)
        return 0;
    QByteArray digits = name.mid(dollar + 1);
    const qsizetype dot = digits.indexOf('.');
    if (dot >= 0)
        digits.truncate(dot);
    bool ok = false;
    const uint id = digits.toUInt(&ok, 16);
    return ok && digits.size() <= 8 && id <= uint(INT32_MAX) ? id : 0;
}

QByteArray FallbackObjectFolder()
{
    const QString folder = NamedMutex::namespaceFolder();
    return folder.isEmpty() ? QByteArray() : QFile::encodeName(folder);
}

QByteArray FallbackObjectPath(const QByteArray& fileName)
{
    const QByteArray folder = FallbackObjectFolder();
    if (folder.isEmpty())
        return QByteArray();
    const NamedObjectOwner self = CurrentObjectOwner();
    return folder + '/' + fileName + '.' + QByteArray::number(qulonglong(self.pidNamespace), 16) + '-' +
           QByteArray::number(qulonglong(self.startStamp), 16);
}

} // namespace platform
