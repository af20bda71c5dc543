// The three sections as a crash on this machine would produce them.
#include "crash/core/plugins/HardwarePlugin.h"
#include "crash/core/plugins/ModulesPlugin.h"
#include "crash/core/plugins/ReportPlugins.h"
#include "platform/ProcessInfo.h"
#include "platform/SysfsDevices.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <link.h>
#include <mutex>
#include <thread>

namespace {

QString Section(const char* name)
{
    const auto plugins = crash::EnabledReportPlugins(QString::fromLatin1(name));
    return plugins.size() == 1 ? plugins[0].produce(nullptr) : QStringLiteral("<not registered>");
}

} // namespace

TEST(PluginsOnThisMachine, SectionsHoldThisProcessAndLibc)
{
    crash::RegisterBuiltInPlugins();
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString modules = Section("modules");
    const QString processes = Section("processes");
    const QString hardware = Section("hardware");
    crash::UnregisterBuiltInPlugins();

    const QStringList moduleLines = modules.split(QStringLiteral("\r\n"));
    EXPECT_EQ(
        moduleLines.filter(QRegularExpression(QStringLiteral("^[0-9a-f]{16} libc\\.so\\.6 +6 +/"))).size(), 1)
        << modules.toStdString();
    EXPECT_EQ(
        moduleLines.filter(QRegularExpression(QStringLiteral("^[0-9a-f]{16} ") + executable + " ")).size(), 1)
        << modules.toStdString();

    const QString ownPid = QString::number(platform::CurrentProcessId(), 16);
    const QRegularExpression ownLine(QStringLiteral("^0*") + ownPid + " " + executable +
                                     " +(\\d+ +)?(normal|below normal|high|idle|realtime) +/");
    EXPECT_EQ(processes.split(QStringLiteral("\r\n")).filter(ownLine).size(), 1) << processes.toStdString();

    if (platform::SysfsDevices().devices().empty()) {
        EXPECT_EQ(hardware, QString()); // a container that shows no devices
    } else {
        EXPECT_TRUE(hardware.startsWith(QStringLiteral("+ "))) << hardware.toStdString();
        EXPECT_TRUE(hardware.contains(QStringLiteral("\r\n  - "))) << hardware.toStdString();
    }
}

// A thread that died inside the loader leaves its lock taken; the modules are then read from the
// kernel's map within the time allowed instead of waiting for a lock that never comes free.
TEST(PluginsOnThisMachine, ModulesAreListedWhileTheLoadersLockIsHeld)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false, release = false;
    std::function<void()> hold = [&] {
        std::unique_lock lock(mutex);
        holding = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(30), [&] { return release; });
    };
    std::thread holder([&] {
        dl_iterate_phdr(
            [](dl_phdr_info*, size_t, void* data) -> int {
                auto* hold = static_cast<std::function<void()>*>(data);
                (*hold)();
                return 1;
            },
            &hold);
    });
    bool held = false;
    {
        std::unique_lock lock(mutex);
        held = changed.wait_for(lock, std::chrono::seconds(10), [&] { return holding; });
    }
    std::vector<platform::LoadedModule> modules;
    if (held)
        modules = platform::ListLoadedModules(std::chrono::milliseconds(200));
    {
        std::lock_guard lock(mutex);
        release = true;
        changed.notify_all();
    }
    holder.join();
    ASSERT_TRUE(held);

    // Sonames come only from the loader's list: none here means the kernel's map was read.
    EXPECT_TRUE(
        std::all_of(modules.begin(), modules.end(), [](const auto& m) { return m.soname.isEmpty(); }));
    const QString text = crash::ModulesPlugin::text(modules, QStringLiteral("9.9"));
    const QString executable = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    EXPECT_TRUE(
        text.contains(QRegularExpression(QStringLiteral("(^|\n)[0-9a-f]{16} ") + executable + " +9\\.9 +/")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("(^|\n)[0-9a-f]{16} libc\\.so\\.6 +6 +/"))))
        << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("locale-archive"))); // mapped data, not a module
}
