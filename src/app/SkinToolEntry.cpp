#include "app/SkinToolEntry.h"

#include "app/DeliveryModule.h"
#include "app/TApplication.h"
#include "app/uMain.h"
#include "controls/RdScrollBarHook.h"
#include "crash/core/intercept/CrashReporter.h"
#include "crash/core/settings/CrashSettings.h"
#include "crash/ui/CrashWindows.h"
#include "crash/ui/DialogProcess.h"
#include "imaging/TPngImageDataList.h"
#include "platform/HelperThread.h"
#include "platform/NamedMutex.h"
#include "platform/Registry.h"
#include "platform/SanitizerFaultSignals.h"
#include "platform/SessionBus.h"
#include "platform/TerminationRequest.h"

#include <QThread>
#include <QTimer>

// The crash reporter, not AddressSanitizer, handles the tool's faults.
PLATFORM_FAULT_SIGNALS_BELONG_TO_THE_PROGRAM()

namespace app {

namespace {
// ThreadSanitizer keeps the fault signals and thread start-up for itself (it does not let an
// exception leave a signal handler), so its build runs the tool without the reporter.
#if defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerOwnsFaults = true;
#else
constexpr bool kSanitizerOwnsFaults = false;
#endif
} // namespace

int SkinToolMain(int argc, char** argv)
{
    // Module start-up: identical PNG pictures share one copy of their data from here on.
    imaging::InitializePngSharing();
    // Only the number of arguments counts; it is taken before Qt removes its own options.
    const int argumentCount = argc - 1;

    // Held until the process ends; the system frees it then.
    auto instance = platform::NamedMutex::create(kApplicationTitle, true);
    if (instance->lastError() == platform::ERROR_ALREADY_EXISTS && argumentCount == 0) {
        instance->release();
        instance.reset();
        return 0;
    }

    // The crash reporter: the settings carried by this executable, its interception points and its
    // handler thread, before anything else can fail (a second copy that only ends is spared it). A
    // dialog process only shows the dialog of the process that started it: the settings suffice.
    const bool dialogProcess = crash::ui::IsDialogProcessStart(argc, argv);
    if (dialogProcess || kSanitizerOwnsFaults)
        crash::RegisterMainSettings(std::make_shared<crash::CrashSettings>(0));
    else
        crash::StartCrashReporter();

    // Start-up work the window needs but that needs no window runs on the second core while the
    // application object connects to the display: the font configuration with the window's fonts
    // (read by the first font lookup), the session bus (opened at the first label's text) and the
    // registry hives (the window looks the product up; a real prefix's system hive takes tens of
    // milliseconds to parse). All start after the reporter, which registers new threads, and after
    // this thread has made itself known to Qt: the first thread to do so is the one Qt takes for
    // the main thread, and the session bus's objects are made on a helper.
    QThread::currentThread();
    platform::HelperThread sessionBus = platform::OpenSessionBusAhead(); // before the others are busy
    platform::HelperThread fontConfiguration(&TApplication::loadWindowFontsEarly);
    platform::HelperThread registry([] {
        platform::PreloadRegistryHive(platform::RootKey::CurrentUser);
        platform::PreloadRegistryHive(platform::RootKey::LocalMachine);
    });
    TApplication application(argc, argv);
    // The name also serves as the display name. Set as such, Qt would append it to every other
    // window's title on X11, and the crash dialog's title is the one its settings give.
    TApplication::setApplicationName(kApplicationTitle);
    fontConfiguration.join();
    TApplication::loadWindowFonts(); // when no helper could do it

    // The reporter's delivery and windows (its sections came with its start).
    RegisterDeliveryModule();
    crash::ui::RegisterCrashWindows();
    if (dialogProcess)
        return crash::ui::RunDialogProcessIfAsked(argc, argv, crash::ui::DefaultDialogActions()).value_or(1);
    // Asked to end from outside: close as the user would, so the normal shutdown below runs.
    platform::HandleTerminationRequests([] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    int exitCode = 0;
    {
        registry.join();
        TfrmMain frmMain;
        if (frmMain.terminateRequested())
            QTimer::singleShot(0, &application, &QCoreApplication::quit);
        else
            frmMain.show();
        exitCode = application.exec();
    }
    controls::FinalizeRdScrollBar();
    imaging::FinalizePngSharing();
    return exitCode;
}

} // namespace app
