// The Linux sources of the header fields, read from sample texts of /proc and the environment.
#include "platform/AddressSpace.h"
#include "platform/ProcessThreads.h"
#include "platform/SystemFacts.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(HeaderSources, ProcessorsCountModelNames)
{
    const QByteArray cpuinfo =
        "processor\t: 0\nmodel name\t: Intel(R)  Xeon(R)   CPU @ 2.20GHz\nflags\t\t: fpu\n\n"
        "processor\t: 1\nmodel name\t: Intel(R)  Xeon(R)   CPU @ 2.20GHz\n";
    const Processors processors = ParseCpuInfo(cpuinfo);
    EXPECT_EQ(processors.count, 2);
    EXPECT_EQ(processors.name, QStringLiteral("Intel(R) Xeon(R) CPU @ 2.20GHz"));
    EXPECT_EQ(ParseCpuInfo("processor : 0\n").count, 0);
}

TEST(HeaderSources, MemoryFromMemInfo)
{
    const PhysicalMemory memory =
        ParseMemInfo("MemTotal:       16384 kB\nMemFree:  1 kB\nMemAvailable:    8192 kB\n");
    EXPECT_EQ(memory.totalBytes, 16384u * 1024);
    EXPECT_EQ(memory.availableBytes, 8192u * 1024);
    EXPECT_EQ(ParseMemInfo("garbage").totalBytes, 0u);
}

TEST(HeaderSources, UpTime)
{
    EXPECT_DOUBLE_EQ(ParseUpTime("12345.67 54321.00\n"), 12345.67);
    EXPECT_LT(ParseUpTime(""), 0);
}

TEST(HeaderSources, RemoteClientOfSshOrRemoteDisplay)
{
    EXPECT_EQ(
        RemoteClientFromEnvironment(QStringLiteral("10.0.0.5 51000 10.0.0.1 22"), {}, QStringLiteral(":0")),
        QStringLiteral("10.0.0.5"));
    EXPECT_EQ(RemoteClientFromEnvironment({}, QStringLiteral("10.0.0.6 51000 22"), {}),
              QStringLiteral("10.0.0.6"));
    EXPECT_EQ(RemoteClientFromEnvironment({}, {}, QStringLiteral("workstation:0.0")),
              QStringLiteral("workstation"));
    EXPECT_EQ(RemoteClientFromEnvironment({}, {}, QStringLiteral(":1")), QString());
    EXPECT_EQ(RemoteClientFromEnvironment({}, {}, QStringLiteral("unix:0")), QString());
    EXPECT_EQ(RemoteClientFromEnvironment({}, {}, {}), QString());
}

TEST(HeaderSources, AdministratorGroups)
{
    EXPECT_TRUE(IsAdministratorGroup(QStringLiteral("sudo")));
    EXPECT_TRUE(IsAdministratorGroup(QStringLiteral("wheel")));
    EXPECT_TRUE(IsAdministratorGroup(QStringLiteral("admin")));
    EXPECT_FALSE(IsAdministratorGroup(QStringLiteral("users")));
}

TEST(HeaderSources, MemoryMapSumsAndGaps)
{
    const QByteArray maps = "00400000-00452000 r-xp 00000000 08:02 173521      /usr/bin/tool\n"
                            "00651000-00652000 rw-p 00051000 08:02 173521      /usr/bin/tool\n"
                            "00652000-00655000 rw-p 00000000 00:00 0           [heap]\n"
                            "7f0000000000-7f0000010000 rw-p 00000000 00:00 0 \n"
                            "7f0000010000-7f0000020000 ---p 00000000 00:00 0 \n"
                            "7f0000020000-7f0000021000 rw-s 00000000 00:05 12  /dev/shm/x\n"
                            "7ffd00000000-7ffd00021000 rw-p 00000000 00:00 0   [stack]\n"
                            "ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0 [vsyscall]\n"
                            "broken line\n";
    const std::vector<AddressRegion> regions = ParseAddressSpace(maps);
    ASSERT_EQ(regions.size(), 8u);
    // heap 0x3000 + anonymous 0x10000 + stack 0x21000; not the inaccessible reservation, not files.
    EXPECT_EQ(AllocatedMemory(regions), 0x3000u + 0x10000u + 0x21000u);
    EXPECT_EQ(LargestFreeBlock(regions), 0x7f0000000000u - 0x655000u);
    // A stack dump ends with the stack's region, even where the next mapping follows directly.
    EXPECT_EQ(ReadableBytesInRegion(regions, 0x00651800), 0x800u);
    EXPECT_EQ(ReadableBytesInRegion(regions, 0x7f0000000010), 0x10000u - 0x10);
    EXPECT_EQ(ReadableBytesInRegion(regions, 0x7f0000010010), 0u); // inaccessible
    EXPECT_EQ(ReadableBytesInRegion(regions, 0x500000), 0u);       // unmapped
}

TEST(HeaderSources, ThreadStateFromStat)
{
    const char running[] = "1234 (a (b) c) S 1 1234 1234 0 -1 4194560 100 0 0 0 5 3 0 0 20 0 3 0 100";
    ThreadState state = ParseThreadStat(running, sizeof running - 1);
    EXPECT_TRUE(state.exists);
    EXPECT_FALSE(state.suspended);
    EXPECT_EQ(state.priority, 0);
    const char stopped[] = "1235 (worker) T 1 1234 1234 0 -1 4194560 100 0 0 0 5 3 0 0 25 5 3 0 100";
    state = ParseThreadStat(stopped, sizeof stopped - 1);
    EXPECT_TRUE(state.suspended);
    EXPECT_EQ(state.priority, 5);
    EXPECT_FALSE(ParseThreadStat("", 0).exists);
}

TEST(HeaderSources, OwnMemoryReadsStopAtTheMapping)
{
    static const char text[] = "stack dump source";
    const QByteArray bytes = ReadOwnMemory(reinterpret_cast<std::uint64_t>(text), sizeof text);
    EXPECT_EQ(bytes, QByteArray(text, sizeof text));
    EXPECT_TRUE(ReadOwnMemory(8, 16).isEmpty()); // the null page is never mapped
}
