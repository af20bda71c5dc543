#pragma once
// Ending and restarting the process as the crash reporter does it: at once, without running the
// program's finalisation, and a restart that starts the same command line in the same folder.

#include <QString>
#include <cstdint>
#include <optional>

namespace platform {

// Ends the process now with `code`: no destructors, no atexit handlers, no stdio flush.
[[noreturn]] void ExitProcessNow(int code) noexcept;

// A copy of this program forked and held before its exec until release() is called, so the
// caller can publish what the new process needs first.
class HeldRestart
{
public:
    // Forks a child that waits, then executes this program by the path it was started from (so a
    // program replaced by an update restarts as the new version) with the same arguments in the
    // current folder, with no descriptor but the standard three. Nothing when the fork fails.
    static std::optional<HeldRestart> start();
    std::uint32_t processId() const { return m_pid; }
    // Lets the child exec and learns whether it did. False, with the reason in `failure`, when the
    // program could not be executed (the child has ended then). Closing without release makes the
    // child exit with code 127.
    bool release(QString* failure = nullptr);

private:
    HeldRestart(std::uint32_t pid, int gate, int outcome) : m_pid(pid), m_gate(gate), m_outcome(outcome) {}
    std::uint32_t m_pid;
    int m_gate;
    int m_outcome; // read end of a close-on-exec pipe: end of file once the exec succeeded
};

// Waits up to `timeoutMs` for process `pid` (not a child) to end. True when it has ended.
bool WaitForProcessEnd(std::uint32_t pid, int timeoutMs);

// Reserves address space (PROT_NONE, not backed) and gives it back; for the out-of-memory reserve.
void* ReserveAddressSpace(std::size_t bytes) noexcept;
void ReleaseAddressSpace(void* address, std::size_t bytes) noexcept;

// Ends the process by SIGALRM after `seconds` unless disarmed (0); a last guard against a hang.
void ArmProcessDeadline(unsigned seconds) noexcept;

// Ends this process (SIGTERM) when `starter`, the process that started it, ends, also when that
// has already happened: for a helper process that is of no use without its starter. 0 takes the
// current parent.
void EndWithStartingProcess(std::uint32_t starter) noexcept;

// Writes to an output whose reader has gone fail instead of ending this process: a helper inherits
// its output from a starter that may stop reading it at any time.
void SurviveClosedOutput() noexcept;

// Sets the calling thread's name as the system shows it (at most 15 bytes are kept).
void SetCurrentThreadName(const char* name) noexcept;

} // namespace platform
