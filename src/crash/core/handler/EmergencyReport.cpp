#include "crash/core/handler/EmergencyReport.h"

#include "crash/core/handler/FaultExceptions.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/handler/ProcessRestart.h"
#include "crash/core/report/ReportFile.h"
#include "crash/core/settings/CrashSettings.h"
#include "platform/EmergencyOutput.h"
#include "platform/ImportSlots.h"
#include "platform/ModuleHandle.h"
#include "platform/ProcessControl.h"
#include "platform/ProcessInfo.h"
#include "platform/SignalSafeText.h"

#include <QDateTime>
#include <QFileInfo>
#include <atomic>
#include <cstring>

namespace crash {
namespace {

struct Prepared
{
    platform::CodeRanges ranges;
    char reportFile[4096] = {}; // empty: the report goes to standard error
    bool append = true;
    char executable[256] = {};
    std::int64_t zoneOffsetMs = 0;
};
Prepared g_prepared;

// Static: the fault may have happened on a small alternate stack, and the heap is out of reach.
char g_text[64 * 1024];
char g_mapsText[512 * 1024];
platform::MappedFiles g_mapped;
std::atomic<bool> g_writing{false};

constexpr std::size_t kNameWidth = 19; // as the usual header's longest names
constexpr int kMaxFrames = 48;
constexpr std::uintptr_t kStackReach = 64 * 1024;

void Copy(char* to, std::size_t capacity, const QByteArray& from)
{
    const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(from.size()), capacity - 1);
    std::memcpy(to, from.constData(), length);
    to[length] = '\0';
}

void Field(platform::SignalSafeText& text, const char* name)
{
    text.appendPadded(name, kNameWidth).append(": ");
}

void AddressLine(platform::SignalSafeText& text, std::uintptr_t address)
{
    text.appendHex(address, 16, false).append(' ');
    if (const auto* mapping = g_mapped.find(address)) {
        text.append(mapping->name, mapping->nameLength).append(" +");
        text.appendHex(address - mapping->base, 0, false);
        // Only exported names: the others would need the symbol tables the normal report reads.
        std::uintptr_t start = 0;
        if (const char* function = platform::ExportedFunctionAt(mapping->base, address, start))
            text.append(' ').append(function).append(" +").appendHex(address - start, 0, false);
    } else {
        text.append("???");
    }
    text.append("\r\n");
}

bool IsCodeAddress(std::uintptr_t value)
{
    const auto* mapping = g_mapped.find(value);
    return mapping && mapping->executable && platform::FollowsCallInstruction(value);
}

// The values on the stack above `sp` that are return addresses into code: what a listing made
// with symbols would start from. A stale one may appear among them.
void StackLines(platform::SignalSafeText& text, std::uintptr_t sp, int lines)
{
    std::uintptr_t words[64];
    for (std::uintptr_t at = sp & ~std::uintptr_t(7); at < sp + kStackReach && lines < kMaxFrames;
         at += sizeof words) {
        if (!platform::ReadProcessBytes(at, words, sizeof words))
            break; // the stack's end
        for (std::uintptr_t word : words)
            if (lines < kMaxFrames && IsCodeAddress(word)) {
                AddressLine(text, word);
                ++lines;
            }
    }
}

void ClassAndMessage(platform::SignalSafeText& text, const HandleExceptionRequest& request)
{
    const platform::FaultRecord* fault = request.fault;
    Field(text, "exception class");
    text.append(fault ? FaultClassNameOf(*fault) : request.className ? request.className : "Exception");
    text.append("\r\n");
    Field(text, "exception message");
    if (fault) {
        const auto* mapping = g_mapped.find(static_cast<std::uintptr_t>(fault->registers[6]));
        AppendFaultMessage(text, *fault, mapping ? mapping->name : "", mapping ? mapping->nameLength : 0);
    } else if (request.message) {
        text.append(request.message);
    }
    text.append("\r\n");
}

} // namespace

void EmergencyReport::prepare(const platform::CodeRanges& ranges)
{
    g_prepared.ranges = ranges;
    g_prepared.zoneOffsetMs = static_cast<std::int64_t>(QDateTime::currentDateTime().offsetFromUtc()) * 1000;
    const QString executable = platform::ModuleFileName(0);
    Copy(g_prepared.executable, sizeof g_prepared.executable, QFileInfo(executable).fileName().toUtf8());
    const std::shared_ptr<CrashSettings> settings = MainSettings();
    if (!settings || !settings->AutoSave() || settings->BugRepFile().trimmed().isEmpty())
        return;
    g_prepared.append = settings->AppendBugReps();
    const QString path =
        ReportFile::resolvePath(settings->BugRepFile(), QFileInfo(executable).absolutePath());
    Copy(g_prepared.reportFile, sizeof g_prepared.reportFile, QFile::encodeName(path));
}

const platform::CodeRanges& EmergencyReport::codeRanges()
{
    return g_prepared.ranges;
}

std::size_t EmergencyReport::compose(const HandleExceptionRequest& request, char* buffer,
                                     std::size_t capacity) noexcept
{
    g_mapped.read(g_mapsText, sizeof g_mapsText);
    platform::SignalSafeText text(buffer, capacity);
    Field(text, "date/time");
    text.appendDateTime(platform::WallClockMilliseconds() + g_prepared.zoneOffsetMs).append("\r\n");
    Field(text, "computer name");
    platform::AppendHostName(text);
    text.append("\r\n");
    Field(text, "process id");
    text.append('$').appendHex(platform::CurrentProcessId(), 0, false).append("\r\n");
    Field(text, "command line");
    platform::AppendCommandLine(text);
    text.append("\r\n");
    Field(text, "executable");
    text.append(g_prepared.executable).append("\r\n");
    ClassAndMessage(text, request);
    Field(text, "report kind");
    text.append("short: written without the allocator, raw return addresses of the crashed thread\r\n\r\n");

    const std::int64_t thread = request.threadId ? request.threadId : platform::CurrentKernelThreadId();
    if (thread == MainThreadId())
        text.append("main thread ($")
            .appendHex(static_cast<std::uint64_t>(thread), 0, false)
            .append("):\r\n");
    else
        text.append("thread $").appendHex(static_cast<std::uint64_t>(thread), 0, false).append(":\r\n");
    int lines = 0;
    if (request.fault) {
        AddressLine(text, static_cast<std::uintptr_t>(request.fault->registers[6]));
        ++lines;
    } else if (request.exceptionAddress) {
        AddressLine(text, request.exceptionAddress);
        ++lines;
    }
    for (int i = 0; i < request.raiseDepth && lines < kMaxFrames; ++i, ++lines)
        AddressLine(text, request.raiseStack[i]);
    if (request.raiseDepth == 0)
        StackLines(text,
                   request.fault ? static_cast<std::uintptr_t>(request.fault->registers[7])
                                 : static_cast<std::uintptr_t>(request.stackPointer),
                   lines);
    text.append("\r\n");
    return text.size();
}

void EmergencyReport::saveAndClose(const HandleExceptionRequest& request) noexcept
{
    if (g_writing.exchange(true)) {
        // Another thread writes it and ends the process; this one waits for that, boundedly.
        for (int i = 0; i < 500; ++i)
            platform::SleepMilliseconds(10);
        platform::ExitProcessNow(kReporterExitCode);
    }
    const std::size_t length = compose(request, g_text, sizeof g_text);
    const bool saved =
        g_prepared.reportFile[0] != '\0' &&
        platform::AppendToReportFile(g_prepared.reportFile, g_text, length, !g_prepared.append);
    if (!saved)
        platform::WriteToStandardError(g_text, length);
    platform::ExitProcessNow(kReporterExitCode);
}

} // namespace crash
