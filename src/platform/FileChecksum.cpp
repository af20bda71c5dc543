#include "platform/FileChecksum.h"

#include <QFile>
#include <cstring>
#include <zlib.h>

namespace platform {
namespace {

QByteArray NoteHeader()
{
    QByteArray header(20, '\0');
    const std::uint32_t sizes[3] = {8, 4, kChecksumNoteType};
    std::memcpy(header.data(), sizes, 12);
    std::memcpy(header.data() + 12, kChecksumNoteName, 8);
    return header;
}

// The offset of the note's value in `content`, or -1.
qsizetype ValueOffset(const QByteArray& content)
{
    const qsizetype at = content.indexOf(NoteHeader());
    return at < 0 || at + 24 > content.size() ? -1 : at + 20;
}

} // namespace

std::optional<FileChecksum> ComputeChecksum(const QByteArray& content)
{
    const qsizetype at = ValueOffset(content);
    if (at < 0)
        return std::nullopt;
    FileChecksum result;
    std::memcpy(&result.stored, content.constData() + at, 4);
    QByteArray zeroed = content;
    std::memset(zeroed.data() + at, 0, 4);
    uLong crc = crc32(0L, Z_NULL, 0);
    for (qsizetype done = 0; done < zeroed.size();) {
        const uInt chunk = static_cast<uInt>(std::min<qsizetype>(zeroed.size() - done, 1 << 30));
        crc = crc32(crc, reinterpret_cast<const Bytef*>(zeroed.constData() + done), chunk);
        done += chunk;
    }
    result.computed = static_cast<std::uint32_t>(crc);
    return result;
}

std::optional<FileChecksum> ReadFileChecksum(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return ComputeChecksum(file.readAll());
}

bool StampFileChecksum(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const QByteArray content = file.readAll();
    const auto sum = ComputeChecksum(content);
    if (!sum)
        return false;
    // A zero CRC would read as "never stamped"; such a file simply goes unchecked.
    return file.seek(ValueOffset(content)) &&
           file.write(reinterpret_cast<const char*>(&sum->computed), 4) == 4;
}

} // namespace platform
