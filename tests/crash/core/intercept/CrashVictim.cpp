// A victim for the crash reporter tests: crash_victim SETTINGS-FILE MODE
//   double-free  frees one block twice (the C library aborts, possibly holding its allocator lock)
//   console      a console program (no application object) shows an exception
//   eight-faults eight threads write through a null pointer at the same moment
//   exit-while-reporting  main returns while a worker's exception is still being reported (a
//                slow report section, "slow", keeps the report busy)
//   thread-ends-after-statics  a thread started through the reporter's wrapper ends only after the
//                program's static objects are destroyed (as Qt's D-Bus thread can at exit)
#include "SettingsText.h"
#include "crash/core/intercept/CrashReporter.h"
#include "crash/core/plugins/ReportPlugins.h"
#include "platform/Exception.h"
#include "platform/SanitizerFaultSignals.h"
#include "platform/UnhandledException.h"

#include <QFile>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()

namespace {

void* volatile g_block = nullptr;

int* volatile g_null = nullptr;

[[gnu::noinline]] void WriteNull()
{
    *g_null = 1;
}

void EightFaultsAtOnce()
{
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            ++ready;
            while (ready.load() < 8)
                std::this_thread::yield();
            WriteNull();
        });
    for (auto& t : threads)
        t.join();
}

std::atomic<bool> g_raised{false};

void ExitWhileReporting()
{
    crash::RegisterReportPlugin({QStringLiteral("slow"), QStringLiteral("a section that takes its time"),
                                 [](const crash::ExceptionReport*) {
                                     std::this_thread::sleep_for(std::chrono::milliseconds(1500));
                                     return QStringLiteral("slow section done");
                                 },
                                 true});
    std::thread([] {
        try {
            throw platform::Exception(QStringLiteral("exception while the program ends"));
        } catch (...) {
            g_raised = true;
            platform::ShowException(std::current_exception());
        }
    }).detach();
    while (!g_raised.load())
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// Released by the executable's finalizer, which runs after every static destructor of the
// program (the reporter's among them) and before the process ends.
std::atomic<bool> g_staticsGone{false};
std::thread* g_lateThread = nullptr;

void StartThreadEndingAfterStatics()
{
    std::atomic<bool> running{false};
    g_lateThread = new std::thread([&running] {
        running = true; // the wrapper knows the thread by now
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!g_staticsGone.load() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    while (!running.load())
        std::this_thread::yield();
}

__attribute__((destructor)) void LetTheLateThreadEnd()
{
    if (!g_lateThread)
        return;
    g_staticsGone = true;
    g_lateThread->join();
}

[[gnu::noinline]] void FreeTwice()
{
    g_block = std::malloc(40);
    std::free(g_block);
    std::free(g_block);
}

void ConsoleException()
{
    try {
        throw platform::Exception(QStringLiteral("console victim exception"));
    } catch (...) {
        platform::ShowException(std::current_exception());
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 64;
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly))
        return 64;
    tools::SettingsTextDocument document;
    QString error;
    if (!tools::ParseSettingsText(QString::fromUtf8(file.readAll()), document, error))
        return 64;
    crash::ReporterStartOptions options;
    options.settingsOverride = tools::WriteSettingsStream(document);
    crash::StartCrashReporter(options);
    const struct
    {
        const char* mode;
        void (*run)();
    } modes[] = {{"double-free", FreeTwice},
                 {"eight-faults", EightFaultsAtOnce},
                 {"exit-while-reporting", ExitWhileReporting},
                 {"thread-ends-after-statics", StartThreadEndingAfterStatics},
                 {"console", ConsoleException}};
    for (const auto& mode : modes) {
        if (std::strcmp(argv[2], mode.mode) == 0) {
            mode.run();
            return 0;
        }
    }
    return 64;
}
