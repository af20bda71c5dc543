#include "crash/core/stack/CapstoneLibrary.h"

#include "platform/SharedLibrary.h"

#include <chrono>
#include <condition_variable>
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
    const platform::SharedLibrary library = platform::SharedLibrary::open(SKINTOOL_CAPSTONE_LIBRARY, nullptr);
    return library.bind(capstone.open, "cs_open") && library.bind(capstone.close, "cs_close") &&
           library.bind(capstone.option, "cs_option") && library.bind(capstone.disasm, "cs_disasm") &&
           library.bind(capstone.disasm_iter, "cs_disasm_iter") &&
           library.bind(capstone.malloc, "cs_malloc") && library.bind(capstone.free, "cs_free") &&
           library.bind(capstone.insn_group, "cs_insn_group");
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
        lock.lock();
        g_library = opened;
        g_state = complete ? State::Opened : State::Missing;
        g_settled.notify_all();
    }
    g_settled.wait_for(lock, std::chrono::seconds(3), [] { return g_state != State::Opening; });
    return g_state == State::Opened ? &g_library : nullptr;
}

} // namespace crash
