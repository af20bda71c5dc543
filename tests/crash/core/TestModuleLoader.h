#pragma once
// Loads the test library that carries settings of its own and resolves its entry points.

#include <QLibrary>
#include <cstdint>
#include <gtest/gtest.h>

namespace crashtest {

struct TestModule
{
    QLibrary library{QStringLiteral(HALVORN_TEST_MODULE)};
    std::uintptr_t (*handle)() = nullptr;
    std::uintptr_t (*publishedBlock)() = nullptr;
    void (*hold)() = nullptr;
    void (*release)() = nullptr;
    int (*number)(const char*) = nullptr;
    int (*text)(const char*, char*, int) = nullptr;
    std::uintptr_t (*governingModule)() = nullptr;

    bool load()
    {
        if (!library.load())
            return false;
        handle = reinterpret_cast<decltype(handle)>(library.resolve("TestModule_Handle"));
        publishedBlock =
            reinterpret_cast<decltype(publishedBlock)>(library.resolve("TestModule_PublishedBlock"));
        hold = reinterpret_cast<decltype(hold)>(library.resolve("TestModule_Hold"));
        release = reinterpret_cast<decltype(release)>(library.resolve("TestModule_Release"));
        number = reinterpret_cast<decltype(number)>(library.resolve("TestModule_Number"));
        text = reinterpret_cast<decltype(text)>(library.resolve("TestModule_Text"));
        governingModule =
            reinterpret_cast<decltype(governingModule)>(library.resolve("TestModule_GoverningModule"));
        return handle && publishedBlock && hold && release && number && text && governingModule;
    }

    QString readText(const char* key)
    {
        char buffer[512];
        text(key, buffer, sizeof buffer);
        return QString::fromUtf8(buffer);
    }
};

} // namespace crashtest
