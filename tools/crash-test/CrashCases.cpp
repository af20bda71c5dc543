#include "CrashCases.h"

#include "platform/Exception.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstddef>
#include <cstdlib>
#include <exception>
#include <thread>

namespace crashtest {

// External linkage: the optimiser must not assume it knows every class deriving from PureBase.
struct PureBase
{
    PureBase();
    virtual ~PureBase() = default;
    virtual void pureCall() = 0;
};

[[gnu::noinline]] void CallPure(PureBase* object)
{
    object->pureCall();
}

// Called through a pointer the optimiser cannot see through, so the call stays virtual.
extern void (*volatile g_callPure)(PureBase*);
void (*volatile g_callPure)(PureBase*) = CallPure;

PureBase::PureBase()
{
    g_callPure(this); // during construction the object is still a PureBase
}

struct PureDerived : PureBase
{
    void pureCall() override {}
};

namespace {

// Opaque to the optimiser, so the faults happen where the source says.
volatile int g_zero = 0;
volatile bool g_stopRecursion = false;
int* volatile g_null = nullptr;

[[gnu::noinline]] void WriteNull()
{
    *g_null = 1;
}

[[gnu::noinline]] void DivideByZero()
{
    volatile int result = 1 / g_zero;
    (void)result;
}

[[gnu::noinline]] int Recurse(int depth)
{
    volatile char frame[512];
    frame[0] = static_cast<char>(depth);
    if (g_stopRecursion)
        return 0;
    return Recurse(depth + 1) + frame[0];
}

// Writes past the end of a local buffer, over the guard value that stack protection puts behind
// it (this one function is built with the guard); the check at its return finds the change.
// AddressSanitizer is kept out of it, or it would report the overflow itself first.
volatile std::size_t g_smashLength = 32; // the buffer, the gap after it and the guard
[[gnu::noinline, gnu::stack_protect, gnu::no_sanitize_address]] void SmashStack()
{
    char buffer[16];
    volatile char* bytes = buffer;
    for (std::size_t i = 0; i < g_smashLength; ++i)
        bytes[i] = 'x';
}

[[gnu::noinline]] void ThrowException()
{
    throw platform::Exception(QStringLiteral("crash-test exception"));
}

class CrashTestWorker : public QThread
{
    Q_OBJECT
public:
    CrashTestWorker() { setObjectName(QStringLiteral("crash-test worker")); }

protected:
    void run() override { ThrowException(); }
};

template <typename F>
void InWorker(F work)
{
    std::thread worker(work);
    worker.join();
}

void Exception(int) { ThrowException(); }
void AbortException(int) { throw platform::EAbort(); }
void NullWrite(int) { WriteNull(); }
void DivZero(int) { DivideByZero(); }
void WorkerException(int) { InWorker([] { ThrowException(); }); }
void WorkerNullWrite(int) { InWorker([] { WriteNull(); }); }
void QThreadException(int)
{
    CrashTestWorker worker;
    worker.start();
    worker.wait(10000);
}
void WorkerExceptionAtExit(int)
{
    std::thread([] { ThrowException(); }).detach();
    // Its report is under way when the program ends.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QCoreApplication::quit();
}
void Terminate(int) { std::terminate(); }
void Abort(int) { std::abort(); }
void PureVirtual(int) { PureDerived object; }
void StackSmash(int) { SmashStack(); }
void StackOverflow(int) { Recurse(0); }
void WorkerStackOverflow(int) { InWorker([] { Recurse(0); }); }
void Freeze(int seconds)
{
    QElapsedTimer timer;
    timer.start();
    volatile unsigned long spin = 0;
    while (timer.elapsed() < 1000LL * seconds)
        spin = spin + 1;
}

} // namespace

const std::vector<CrashCase>& Cases()
{
    static const std::vector<CrashCase> cases{
        {"exception", "throws the program's exception \"crash-test exception\" from the timer's handler", Exception},
        {"abort-exception", "throws EAbort, the silent exception (no report)", AbortException},
        {"null-write", "writes through a null pointer in the timer's handler", NullWrite},
        {"div-zero", "divides an integer by zero in the timer's handler", DivZero},
        {"worker-exception", "throws the program's exception in a std::thread", WorkerException},
        {"worker-null-write", "writes through a null pointer in a std::thread", WorkerNullWrite},
        {"qthread-exception", "throws the program's exception in a QThread named \"crash-test worker\"",
         QThreadException},
        {"worker-exception-at-exit", "throws the program's exception in a std::thread just before the program ends",
         WorkerExceptionAtExit},
        {"terminate", "calls std::terminate", Terminate},
        {"abort", "calls abort()", Abort},
        {"pure-virtual", "calls a pure virtual function during construction", PureVirtual},
        {"stack-smash", "overwrites the guard behind a local buffer (stack protection)", StackSmash},
        {"stack-overflow", "recurses without end in the timer's handler", StackOverflow},
        {"worker-stack-overflow", "recurses without end in a std::thread", WorkerStackOverflow},
        {"freeze", "keeps the main thread busy for N seconds", Freeze},
        {kOutsideHandlerCase, "writes through a null pointer from main, before the event loop", NullWrite},
    };
    return cases;
}

const CrashCase* FindCase(const QString& name)
{
    for (const CrashCase& c : Cases())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

} // namespace crashtest

#include "CrashCases.moc"
