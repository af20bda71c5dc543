// Telling a fault that interrupted the C library's allocator (whose lock it may hold) from others.
#include "platform/FaultSignals.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

std::uintptr_t LibcFunction(void* libc, const char* name)
{
    return reinterpret_cast<std::uintptr_t>(dlsym(libc, name));
}

} // namespace

TEST(FaultSignals, AFaultInTheAllocatorOrInLibcBelowACallOfItCountsAsBlocking)
{
    const platform::CodeRanges ranges = platform::ComputeCodeRanges();
    ASSERT_GE(ranges.allocatorCount, 4);
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    const std::uintptr_t malloc = LibcFunction(libc, "malloc"), free = LibcFunction(libc, "free"),
                         getpid = LibcFunction(libc, "getpid");
    dlclose(libc);
    std::vector<std::uintptr_t> stack(600, 0);
    const auto rsp = reinterpret_cast<std::uintptr_t>(stack.data());

    EXPECT_TRUE(platform::AllocatorWasActive(ranges, malloc + 4, rsp));
    EXPECT_FALSE(platform::AllocatorWasActive(ranges, getpid, rsp));
    stack[300] = free + 16; // a return into free further up the stack, as after a failed free
    EXPECT_TRUE(platform::AllocatorWasActive(ranges, getpid, rsp));
    const auto own = reinterpret_cast<std::uintptr_t>(&LibcFunction);
    EXPECT_FALSE(platform::AllocatorWasActive(ranges, own, rsp)) << "a fault outside the C library";
}

TEST(FaultSignals, EveryMallocFamilyRoutineOfTheCLibraryHasItsWholeBodyInTheRanges)
{
    const platform::CodeRanges ranges = platform::ComputeCodeRanges();
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    for (const char* name :
         {"malloc", "free", "calloc", "realloc", "posix_memalign", "aligned_alloc", "malloc_usable_size"}) {
        const std::uintptr_t entry = LibcFunction(libc, name);
        Dl_info info{};
        void* symbol = nullptr;
        ASSERT_NE(dladdr1(reinterpret_cast<void*>(entry), &info, &symbol, RTLD_DL_SYMENT), 0) << name;
        const std::size_t size = static_cast<const ElfW(Sym)*>(symbol)->st_size;
        EXPECT_TRUE(ranges.inAllocator(entry)) << name;
        EXPECT_TRUE(ranges.inAllocator(entry + size - 1)) << name << ": its last byte";
    }
    dlclose(libc);
    for (int i = 0; i < ranges.allocatorCount; ++i)
        for (int j = i + 1; j < ranges.allocatorCount; ++j)
            EXPECT_NE(ranges.allocator[i].begin, ranges.allocator[j].begin) << "a routine taken twice";
}

TEST(FaultSignals, AnAddressInsideAnExportedFunctionIsNamedFromTheModulesOwnTable)
{
    void* libc = dlopen("libc.so.6", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(libc, nullptr);
    const std::uintptr_t getpid = LibcFunction(libc, "getpid");
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(getpid), &info), 0);
    const auto base = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    std::uintptr_t start = 0;
    const char* name = platform::ExportedFunctionAt(base, getpid + 2, start);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(start, getpid);
    EXPECT_EQ(LibcFunction(libc, name), getpid) << name << ": another name of the same routine at most";
    dlclose(libc);
    EXPECT_EQ(platform::ExportedFunctionAt(base, base + 8, start), nullptr)
        << "the ELF header is no function";
    EXPECT_EQ(platform::ExportedFunctionAt(reinterpret_cast<std::uintptr_t>(&start), getpid, start), nullptr)
        << "no module there";
}

TEST(FaultSignals, AThreadWaitingForALockOutsideTheAllocatorIsNotWaitingInIt)
{
    const platform::CodeRanges ranges = platform::ComputeCodeRanges();
    std::mutex held;
    held.lock();
    std::atomic<std::int64_t> id{0};
    std::thread waiter([&] {
        id = platform::CurrentKernelThreadId();
        held.lock(); // a contended lock's wait, as the allocator's own would be
        held.unlock();
    });
    while (id.load() == 0)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(platform::ThreadWaitsInAllocator(ranges, id.load()));
    held.unlock();
    waiter.join();
    EXPECT_FALSE(platform::ThreadWaitsInAllocator(ranges, id.load())) << "a thread that is gone";
}
