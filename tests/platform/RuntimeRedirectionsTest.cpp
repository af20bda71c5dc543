#include "platform/RuntimeRedirections.h"

#include <atomic>
#include <cstddef>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

using namespace platform;

// A call of a pure virtual function: made from the base's constructor through a pointer the
// optimiser cannot see through, while the object is still only a PureBase. External linkage, so
// the optimiser cannot assume it knows every class deriving from PureBase.
namespace redirectiontest {
struct PureBase;
void CallPure(PureBase* object);
void (*volatile g_callPure)(PureBase*) = CallPure;
struct PureBase
{
    PureBase() { g_callPure(this); }
    virtual ~PureBase() = default;
    virtual void pureCall() = 0;
};
void CallPure(PureBase* object)
{
    object->pureCall();
}
struct PureDerived : PureBase
{
    void pureCall() override {}
};
} // namespace redirectiontest

namespace {

std::atomic<int> g_throwsSeen{0};

void CountThrow(void*, const std::type_info*, const std::uintptr_t*, int)
{
    ++g_throwsSeen;
}

std::atomic<int> g_threadsRun{0};
std::string g_lastName;

void* CountingRunner(const ThreadStart& start)
{
    ++g_threadsRun;
    return start.routine(start.argument);
}

void RecordName(std::uintptr_t, const char* name)
{
    g_lastName = name;
}

// Calls the module's function, which raises; the exception is caught here.
void RaiseIn(void (*function)())
{
    try {
        function();
    } catch (const std::runtime_error&) {
    }
}

// Overwrites the guard behind a local buffer (this file is built with stack protection for the
// functions that ask for it).
volatile std::size_t g_smashLength = 32;
[[gnu::noinline, gnu::stack_protect, gnu::no_sanitize_address]] void SmashStack()
{
    char buffer[16];
    volatile char* bytes = buffer;
    for (std::size_t i = 0; i < g_smashLength; ++i)
        bytes[i] = 'x';
}

} // namespace

TEST(RuntimeRedirections, AModuleOpenedLaterIsRedirectedAtOnceAndPutBackWithTheOthers)
{
    ASSERT_TRUE(RedirectThrow(&CountThrow));
    void* handle = dlopen(LATE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto raise = reinterpret_cast<void (*)()>(dlsym(handle, "late_module_throw"));
    ASSERT_NE(raise, nullptr);

    RaiseIn(raise);
    EXPECT_EQ(g_throwsSeen.load(), 1) << "opened after the redirection was made";
    // The C++ library's own raise routines (vector::at's range error) are seen as well.
    try {
        (void)std::vector<int>().at(1);
    } catch (const std::out_of_range&) {
    }
    EXPECT_EQ(g_throwsSeen.load(), 2);

    RestoreRuntimeRedirections();
    RaiseIn(raise);
    EXPECT_EQ(g_throwsSeen.load(), 2) << "put back with the others";
    dlclose(handle);
}

TEST(RuntimeRedirections, ThreadsAndNamesOfAModuleOpenedLaterAreSeenUntilPutBack)
{
    ASSERT_TRUE(RedirectThreadCreation(&CountingRunner));
    ASSERT_TRUE(RedirectThreadNaming(&RecordName));
    void* handle = dlopen(LATE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto runThread = reinterpret_cast<bool (*)()>(dlsym(handle, "late_module_run_thread"));
    ASSERT_NE(runThread, nullptr);

    EXPECT_TRUE(runThread());
    EXPECT_EQ(g_threadsRun.load(), 1) << "the thread ran inside the runner";
    EXPECT_EQ(g_lastName, "late worker");

    RestoreRuntimeRedirections();
    g_lastName.clear();
    EXPECT_TRUE(runThread()) << "threads still start without the runner";
    EXPECT_EQ(g_threadsRun.load(), 1);
    EXPECT_EQ(g_lastName, "");
    dlclose(handle);
}

TEST(RuntimeRedirectionsDeathTest, WithoutAHandlerTheLibrariesOwnFatalRoutinesRun)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH({ redirectiontest::PureDerived object; }, "pure virtual method called");
    EXPECT_DEATH(SmashStack(), "stack smashing detected");
}
