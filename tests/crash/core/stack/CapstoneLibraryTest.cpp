// The instruction decoder opened while the program runs: threads asking for it at once all get the
// one opened copy, and it decodes for each of them at once (capstone's own first-decode set-up is
// done while it is opened). Runs under ThreadSanitizer too.

#include "crash/core/stack/CapstoneLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace crash {
namespace {

// The id of the first instruction in `code`, decoded on its own handle; 0 when nothing decodes.
unsigned FirstInstruction(const CapstoneLibrary& capstone, const std::vector<std::uint8_t>& code)
{
    csh handle = 0;
    if (capstone.open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK)
        return 0;
    cs_insn* insn = nullptr;
    unsigned id = 0;
    if (capstone.disasm(handle, code.data(), code.size(), 0x1000, 1, &insn) == 1) {
        id = insn[0].id;
        capstone.free(insn, 1);
    }
    capstone.close(&handle);
    return id;
}

TEST(CapstoneLibrary, ThreadsAskingTogetherShareOneOpenedCopyThatDecodesForEach)
{
    constexpr int kThreads = 6;
    std::atomic<int> waiting{kThreads};
    std::vector<const CapstoneLibrary*> seen(kThreads);
    std::vector<unsigned> decoded(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            --waiting;
            while (waiting.load() > 0) // all ask at about the same moment
                std::this_thread::yield();
            seen[i] = Capstone();
            if (seen[i])
                decoded[i] = FirstInstruction(*seen[i], {0xE8, 0x10, 0x00, 0x00, 0x00}); // call +0x10
        });
    }
    for (std::thread& t : threads)
        t.join();
    ASSERT_NE(seen[0], nullptr);
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(seen[i], seen[0]) << "thread " << i;
        EXPECT_EQ(decoded[i], unsigned(X86_INS_CALL)) << "thread " << i;
    }
}

} // namespace
} // namespace crash
