// What the report written without the allocator takes from the system: its text, the mapped files,
// return addresses, and the append to the report file.
#include "platform/EmergencyOutput.h"
#include "platform/SignalSafeText.h"
#include "support/TempDir.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString Text(platform::SignalSafeText& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

mode_t Mode(const QString& path)
{
    struct stat info
    {
    };
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

[[gnu::noinline]] std::uintptr_t ReturnAddressHere()
{
    return reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
}

} // namespace

TEST(SignalSafeText, DatesNumbersAndCutsAsTheUsualFormattingWould)
{
    for (const char* instant : {"2024-02-29T23:59:59.999Z", "1999-12-31T00:00:00.007Z",
                                "2100-03-01T12:34:56.500Z", "1970-01-01T00:00:00.000Z"}) {
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(instant), Qt::ISODateWithMs);
        char buffer[64];
        platform::SignalSafeText text(buffer, sizeof buffer);
        text.appendDateTime(time.toMSecsSinceEpoch());
        EXPECT_EQ(Text(text),
                  time.toString("yyyy-MM-dd, hh:mm:ss, ") + QString::number(time.time().msec()) + "ms");
    }
    char buffer[8];
    platform::SignalSafeText text(buffer, sizeof buffer);
    text.appendHex(0xab, 4).appendDecimal(7, 2).append("xyz");
    EXPECT_EQ(Text(text), "00AB07xy") << "cut at the buffer's end";
    EXPECT_STREQ(text.c_str(), "00AB07x");
}

TEST(MappedFiles, AnAddressIsNamedByItsFileAndItsOffsetFromTheFilesLowestMapping)
{
    const char maps[] = "55d0a000-55d0b000 r--p 00000000 08:01 42   /opt/app/bin/tool\n"
                        "55d0b000-55d0d000 r-xp 00001000 08:01 42   /opt/app/bin/tool\n"
                        "55d0d000-55d0e000 rw-p 00000000 00:00 0 \n"
                        "7f000000-7f001000 r-xp 00000000 08:01 43   /usr/lib/libc.so.6";
    platform::MappedFiles mapped;
    mapped.parse(maps, sizeof maps - 1);
    const auto* tool = mapped.find(0x55d0b123);
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(std::string(tool->name, tool->nameLength), "tool");
    EXPECT_EQ(tool->base, 0x55d0a000u);
    EXPECT_TRUE(tool->executable);
    EXPECT_FALSE(mapped.find(0x55d0a010)->executable);
    EXPECT_EQ(mapped.find(0x55d0d010), nullptr) << "memory of no file";
    ASSERT_NE(mapped.find(0x7f000fff), nullptr) << "the last line without its line end";

    // This process's own code, as the loader knows it.
    static char live[512 * 1024];
    static platform::MappedFiles own;
    ASSERT_TRUE(own.read(live, sizeof live));
    const std::uintptr_t code = ReturnAddressHere();
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(code), &info), 0);
    const auto* self = own.find(code);
    ASSERT_NE(self, nullptr);
    EXPECT_TRUE(self->executable);
    EXPECT_EQ(std::string(self->name, self->nameLength), QFileInfo(info.dli_fname).fileName().toStdString());
    EXPECT_EQ(code - self->base, code - reinterpret_cast<std::uintptr_t>(info.dli_fbase));
}

TEST(EmergencyOutput, OnlyAnAddressBehindACallCountsAsAReturnAddress)
{
    EXPECT_TRUE(platform::FollowsCallInstruction(ReturnAddressHere()));
    const unsigned char relative[] = {0x90, 0x90, 0xE8, 0x10, 0x20, 0x30, 0x40, 0x90};
    EXPECT_TRUE(platform::FollowsCallInstruction(reinterpret_cast<std::uintptr_t>(relative + 7)));
    const unsigned char indirect[] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x41, 0xFF, 0xD4, 0x90}; // call *%r12
    EXPECT_TRUE(platform::FollowsCallInstruction(reinterpret_cast<std::uintptr_t>(indirect + 8)));
    const unsigned char plain[] = {0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90, 0x90};
    EXPECT_FALSE(platform::FollowsCallInstruction(reinterpret_cast<std::uintptr_t>(plain + 7)));
}

TEST(EmergencyOutput, TheReportFileIsCreatedPrivateAppendedOnItsOwnLinesAndNeverThroughAForeignLink)
{
    testsupport::TempDir dir;
    const QString path = dir.file("new/folder/report.txt");
    const QByteArray native = QFile::encodeName(path);
    ASSERT_TRUE(platform::AppendToReportFile(native.constData(), "one\r\n", 5, false));
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Mode(dir.file("new/folder")), 0700u);
    ASSERT_TRUE(platform::AppendToReportFile(native.constData(), "two\r\n", 5, false));
    EXPECT_EQ(testsupport::ReadAll(path), "one\r\n\r\ntwo\r\n") << "the next report after an empty line";
    ASSERT_TRUE(platform::AppendToReportFile(native.constData(), "three", 5, true));
    EXPECT_EQ(testsupport::ReadAll(path), "three");

    // A link in a folder other users can write is refused, as the usual report file refuses it.
    const QString target = dir.write("target.txt", "kept");
    const QString shared = dir.file("shared");
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(chmod(QFile::encodeName(shared).constData(), 0777), 0);
    const QString link = shared + "/link.txt";
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_FALSE(platform::AppendToReportFile(QFile::encodeName(link).constData(), "x", 1, false));
    EXPECT_EQ(testsupport::ReadAll(target), "kept");
}
