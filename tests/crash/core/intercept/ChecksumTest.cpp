#include "platform/FileChecksum.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QFile>
#include <cstring>

namespace {

QByteArray WithNote(std::uint32_t value)
{
    QByteArray note(24, '\0');
    const std::uint32_t head[3] = {8, 4, platform::kChecksumNoteType};
    std::memcpy(note.data(), head, 12);
    std::memcpy(note.data() + 12, platform::kChecksumNoteName, 8);
    std::memcpy(note.data() + 20, &value, 4);
    return QByteArray("ELF image before the note ") + note + QByteArray(" and after it");
}

} // namespace

TEST(FileChecksum, StampedFileMatchesAndAnyChangedByteIsNoticed)
{
    testsupport::TempDir dir;
    const QString path = dir.write("image", WithNote(0));
    const auto unstamped = platform::ReadFileChecksum(path);
    ASSERT_TRUE(unstamped);
    EXPECT_EQ(unstamped->stored, 0u);
    ASSERT_TRUE(platform::StampFileChecksum(path));
    const auto stamped = platform::ReadFileChecksum(path);
    ASSERT_TRUE(stamped);
    EXPECT_NE(stamped->stored, 0u);
    EXPECT_EQ(stamped->stored, stamped->computed) << "the stamp counts its own value as zero";
    EXPECT_EQ(stamped->computed, unstamped->computed);

    QByteArray content = testsupport::ReadAll(path);
    content[3] = content[3] ^ 0x20;
    const auto corrupt = platform::ComputeChecksum(content);
    ASSERT_TRUE(corrupt);
    EXPECT_NE(corrupt->stored, corrupt->computed);
}

TEST(FileChecksum, FileWithoutNoteIsNeitherCheckedNorStamped)
{
    testsupport::TempDir dir;
    const QString path = dir.write("plain", "no note in here");
    EXPECT_FALSE(platform::ReadFileChecksum(path));
    EXPECT_FALSE(platform::StampFileChecksum(path));
    EXPECT_FALSE(platform::ReadFileChecksum(dir.file("missing")));
}

TEST(FileChecksum, TheBuildStampsTheCrashTestProgram)
{
    const auto sum = platform::ReadFileChecksum(testsupport::BinDir() + "/crash-test");
    ASSERT_TRUE(sum) << "no checksum note in crash-test";
    EXPECT_NE(sum->stored, 0u);
    EXPECT_EQ(sum->stored, sum->computed);
}
