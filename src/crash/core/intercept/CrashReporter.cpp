#include "crash/core/intercept/CrashReporter.h"

#include "crash/core/handler/FreezeWatchdog.h"
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/handler/OutOfMemoryReserve.h"
#include "crash/core/handler/ProcessRestart.h"
#include "crash/core/intercept/ChecksumCheck.h"
#include "crash/core/intercept/InterceptPoints.h"
#include "crash/core/intercept/ThreadInterception.h"
#include "crash/core/plugins/ReportPlugins.h"
#include "crash/core/settings/CrashSettings.h"
#include "crash/core/settings/SettingsStore.h"
#include "crash/core/stack/CapstoneLibrary.h"
#include "crash/core/threads/ThreadRegistry.h"
#include "platform/FaultSignals.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <thread>

namespace crash {
namespace {

bool g_started = false;

bool g_checkChecksum = false;

// Runs when the application object exists: a message box needs it.
void CreateBridge()
{
    MainThreadBridge::create();
    // The instruction decoder is opened when the event loop first runs, on a thread of its own: not
    // with the program, not while its start-up wants both processors, and never while the import
    // slots are walked (a library half loaded must not meet the walk). A report made before then
    // opens it itself.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { std::thread([] { Capstone(); }).detach(); });
    // The end of the event loop starts the program's end: a report in the making is finished while
    // the application still exists. The exit destroys Qt's globals in the reverse order of their
    // making, and most were made after the reporter started, so the exit's wait is registered anew
    // to come before them: a report that arrives during the exit finds them still there.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] {
        std::atexit(&FinishHandlingAtExit);
        FinishHandlingAtExit();
    });
    if (g_checkChecksum)
        CheckExecutableChecksum();
}

void DestroyBridge()
{
    MainThreadBridge::destroy();
}

} // namespace

bool StartCrashReporter(const ReporterStartOptions& options)
{
    if (g_started)
        return true;
    if (!options.settingsOverride.isEmpty())
        SetSettingsResourceOverride(0, options.settingsOverride);
    auto settings = std::make_shared<CrashSettings>(0);
    RegisterMainSettings(settings);
    SetMainThreadId(platform::CurrentKernelThreadId());
    if (!settings->isValid())
        return false;
    // The thread registry, created here so that this (the main) thread is the one named
    // "main thread". Without it reports still come, only with plainer thread titles.
    ThreadRegistry::instance();
    if (!settings->Enabled())
        return false;
    g_started = true;
    g_checkChecksum = settings->CheckFileCrc();
    // Every program with the reporter gets the sections its Plugins setting names. Only the
    // records are made here: each plugin opens what it reads when it first produces a section.
    RegisterBuiltInPlugins();

    InstallApplicationInterception();
    InstallFaultInterception();
    InstallTerminateInterception();
    StartHandlerThread();
    // Thread creation is hooked after the reporter's own threads exist.
    InstallRuntimeRedirections();
    InstallThreadInterception();
    if (settings->PauseThreads())
        InstallPauseRedirection();
    if (QCoreApplication::instance())
        CreateBridge();
    else
        qAddPreRoutine(&CreateBridge);
    qAddPostRoutine(&DestroyBridge);
    if (settings->CheckFreeze())
        StartFreezeWatchdog(settings->FreezeTimeout());
    ReserveOutOfMemoryRegions();
    TakeOverRestart(History());
    // Registered last, so it runs before the exit destroys anything made until now.
    std::atexit(&FinishHandlingAtExit);
    return true;
}

void StopCrashReporter()
{
    if (!g_started)
        return;
    StopFreezeWatchdog();
    RemoveInterception();
    StopHandlerThread();
    ReleaseOutOfMemoryRegions();
    UnregisterBuiltInPlugins();
    g_started = false;
}

} // namespace crash
