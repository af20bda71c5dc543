// A shared library with its own settings resource and its own copy of the crash reporter's code,
// loaded by the store tests to play a second module of the process.
#include "crash/core/settings/CrashSettings.h"

#include <cstring>
#include <memory>
#include <mutex>

#define TEST_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex g_lock;
std::shared_ptr<crash::CrashSettings> g_held;

platform::ModuleHandle OwnModule()
{
    static const int marker = 0;
    return platform::ModuleOfAddress(&marker);
}

} // namespace

TEST_MODULE_EXPORT std::uintptr_t TestModule_Handle()
{
    return OwnModule();
}

TEST_MODULE_EXPORT std::uintptr_t TestModule_PublishedBlock()
{
    return crash::SettingsStore::publishedBlock();
}

TEST_MODULE_EXPORT void TestModule_Hold()
{
    std::lock_guard guard(g_lock);
    g_held = std::make_shared<crash::CrashSettings>(OwnModule());
}

TEST_MODULE_EXPORT void TestModule_Release()
{
    std::lock_guard guard(g_lock);
    g_held.reset();
}

TEST_MODULE_EXPORT int TestModule_Number(const char* key)
{
    return crash::CrashSettings(OwnModule()).getNumber(key);
}

// Writes the key's expanded text as UTF-8; returns its full length.
TEST_MODULE_EXPORT int TestModule_Text(const char* key, char* buffer, int size)
{
    const QByteArray text = crash::CrashSettings(OwnModule()).getText(key).toUtf8();
    if (size > 0) {
        const int n = std::min<int>(size - 1, int(text.size()));
        std::memcpy(buffer, text.constData(), std::size_t(n));
        buffer[n] = '\0';
    }
    return int(text.size());
}

// The module whose settings govern code of this library.
TEST_MODULE_EXPORT std::uintptr_t TestModule_GoverningModule()
{
    return crash::SettingsForCaller()->module();
}
