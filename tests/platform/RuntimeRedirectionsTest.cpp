#include "platform/RuntimeRedirections.h"
#include "platform/ModuleHandle.h"

#include <atomic>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

namespace {

std::atomic<int> g_throwsSeen{0};

void CountThrow(void*, const std::type_info*, const std::uintptr_t*, int)
{
    ++g_throwsSeen;
}

// Calls the module's function, which raises; the exception is caught here.
void RaiseIn(void (*function)())
{
    try {
        function();
    } catch (const std::runtime_error&) {
    }
}

} // namespace

TEST(RuntimeRedirections, AModuleOpenedLaterGetsTheRedirectionsInForceWhenAsked)
{
    ASSERT_TRUE(RedirectThrow(&CountThrow));
    void* handle = dlopen(LATE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto raise = reinterpret_cast<void (*)()>(dlsym(handle, "late_module_throw"));
    ASSERT_NE(raise, nullptr);

    RaiseIn(raise);
    EXPECT_EQ(g_throwsSeen.load(), 0) << "opened after the redirections were made";
    ApplyRuntimeRedirectionsTo(ModuleOfAddress(reinterpret_cast<const void*>(raise)));
    RaiseIn(raise);
    EXPECT_EQ(g_throwsSeen.load(), 1);

    RestoreRuntimeRedirections();
    RaiseIn(raise);
    EXPECT_EQ(g_throwsSeen.load(), 1) << "put back with the others";
}
