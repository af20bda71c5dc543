#include "crash/core/stack/CapstoneLibrary.h"

#include "platform/SharedLibrary.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace crash {

namespace {

enum class State
{
    NotOpened,
    Opening,
    Opened,
    Missing
};

std::mutex g_lock;
std::condition_variable g_settled;
State g_state = State::NotOpened;
CapstoneLibrary g_library;

bool Open(CapstoneLibrary& capstone)
{
    platform::SharedLibrary library = platform::SharedLibrary::open(SKINTOOL_CAPSTONE_LIBRARY, nullptr);
    return library.bind(capstone.open, "cs_open") && library.bind(capstone.close, "cs_close") &&
           library.bind(capstone.option, "cs_option") && library.bind(capstone.disasm, "cs_disasm") &&
           library.bind(capstone.disasm_iter, "cs_disasm_iter") &&
           library.bind(capstone.malloc, "cs_malloc") && library.bind(capstone.free, "cs_free") &&
           library.bind(capstone.insn_group, "cs_insn_group");
}

// capstone fills some tables of its own at its first decode, unguarded: one decode here, before
// any other thread gets the library, does that once.
void WarmUp(const CapstoneLibrary& capstone)
{
    csh handle = 0;
    if (capstone.open(CS_ARCH_X86, CS_MODE_64, &handle) != CS_ERR_OK)
        return;
    capstone.option(handle, CS_OPT_DETAIL, CS_OPT_ON);
    // call rel32; push rbp; mov rbp, rsp; in al, dx; jmp rel8; ret
    static const std::uint8_t code[] = {0xE8, 0x10, 0x00, 0x00, 0x00, 0x55, 0x48,
                                        0x89, 0xE5, 0xEC, 0xEB, 0x00, 0xC3};
    cs_insn* insns = nullptr;
    const std::size_t count = capstone.disasm(handle, code, sizeof code, 0x1000, 0, &insns);
    if (count > 0)
        capstone.free(insns, count);
    capstone.close(&handle);
}

} // namespace

const CapstoneLibrary* Capstone()
{
    std::unique_lock lock(g_lock);
    if (g_state == State::NotOpened) {
        g_state = State::Opening;
        lock.unlock();
        CapstoneLibrary opened;
        const bool complete = Open(opened);
        if (complete)
            WarmUp(opened);
        lock.lock();
        g_library = opened;
        g_state = complete ? State::Opened : State::Missing;
        g_settled.notify_all();
    }
    g_settled.wait_for(lock, std::chrono::seconds(3), [] { return g_state != State::Opening; });
    return g_state == State::Opened ? &g_library : nullptr;
}

} // namespace crash
