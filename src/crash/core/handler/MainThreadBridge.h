#pragma once
// Running work in the main thread from another thread: a hidden QObject that lives in the main
// thread receives posted calls. The probe checks within 1500 ms that the main thread answers;
// only then is the work posted, so a frozen main thread never blocks the caller for long.

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>

namespace crash {

// The main thread's kernel id, recorded at start-up.
void SetMainThreadId(std::int64_t id);
std::int64_t MainThreadId();

class MainThreadBridge : public QObject
{
    Q_OBJECT
public:
    // Creates the bridge; call in the main thread after the application object exists.
    static void create();
    static void destroy();
    static MainThreadBridge* instance();

    // True when `work` ran in the main thread (or the caller is the main thread). False when the
    // main thread did not answer the probe within `probeMs`; the work did not run then.
    static bool run(const std::function<void()>& work, int probeMs = 1500, int boundMs = 600000);

    // Posts `work` to the main thread without waiting (null bridge: nothing happens).
    static void post(std::function<void()> work);

    // Posts an empty call so a waiting main-thread loop wakes up.
    static void wake();

    static bool isMainThread();
};

} // namespace crash
