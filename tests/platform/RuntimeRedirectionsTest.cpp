#include "platform/RuntimeRedirections.h"

#include <atomic>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

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
