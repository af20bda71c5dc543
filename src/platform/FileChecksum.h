#pragma once
// The checksum a build stores in an executable: an ELF note "HalvCrc" whose 4-byte value is the
// CRC-32 of the whole file, computed with that value counted as zero. The build stamps it after
// linking; the program compares at start-up to notice a corrupted file.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

namespace platform {

inline constexpr char kChecksumNoteName[8] = "HalvCrc";
inline constexpr std::uint32_t kChecksumNoteType = 0x43524348;

struct FileChecksum
{
    std::uint32_t stored = 0;   // 0: the file was never stamped
    std::uint32_t computed = 0;
};

// Nothing when the file cannot be read or carries no checksum note.
std::optional<FileChecksum> ReadFileChecksum(const QString& path);
std::optional<FileChecksum> ComputeChecksum(const QByteArray& content);
// Writes the checksum into the file's note. False when there is none or the write fails.
bool StampFileChecksum(const QString& path);

} // namespace platform
