#include "crash/core/handler/ProcessRestart.h"

#include "platform/ProcessControl.h"
#include "platform/ProcessInfo.h"
#include "platform/SharedMemory.h"

#include <cstdio>
#include <cstring>

namespace crash {
namespace {

// The 88-byte record: the old process id, a spare handle slot (unused here), the history.
struct RestartRecord
{
    std::uint32_t oldProcessId;
    std::uint32_t spare;
    std::uint64_t history[ExceptionHistory::kSlots];
};
static_assert(sizeof(RestartRecord) == 88);

} // namespace

void CloseProcess()
{
    std::fflush(stdout);
    std::fflush(stderr);
    platform::ExitProcessNow(kReporterExitCode);
}

QString RestartSectionName(std::uint32_t processId)
{
    return QStringLiteral("HalvornRestart$") +
           QString::number(processId, 16).toUpper().rightJustified(8, QLatin1Char('0'));
}

void RestartProcess(const ExceptionHistory& history)
{
    auto child = platform::HeldRestart::start();
    if (!child)
        return;
    auto section =
        platform::SharedMemory::create(RestartSectionName(child->processId()), sizeof(RestartRecord));
    if (section) {
        RestartRecord record{};
        record.oldProcessId = platform::CurrentProcessId();
        std::memcpy(record.history, history.times().data(), sizeof record.history);
        std::memcpy(section->data(), &record, sizeof record);
    }
    QString failure;
    if (!child->release(&failure)) {
        // The program runs on (or is closed) as when no new process could be started.
        section.reset();
        platform::SharedMemory::remove(RestartSectionName(child->processId()));
        std::fprintf(stderr, "Halvorn: the restart failed: %s\n", qPrintable(failure));
        return;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    platform::ExitProcessNow(kRestartExitCode);
}

bool TakeOverRestart(ExceptionHistory& history, int timeoutMs)
{
    const QString name = RestartSectionName(platform::CurrentProcessId());
    auto section = platform::SharedMemory::open(name);
    if (!section || section->size() < sizeof(RestartRecord))
        return false;
    RestartRecord record;
    std::memcpy(&record, section->data(), sizeof record);
    section.reset();
    platform::SharedMemory::remove(name);
    platform::WaitForProcessEnd(record.oldProcessId, timeoutMs);
    ExceptionHistory::Slots times;
    std::memcpy(times.data(), record.history, sizeof record.history);
    history.assign(times);
    return true;
}

} // namespace crash
