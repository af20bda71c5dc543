// Start-up helpers: work handed to a helper thread, the font configuration and the session bus
// opened there while the main thread goes on. Runs under ThreadSanitizer too (label "threads").

#include "platform/FontConfiguration.h"
#include "platform/HelperThread.h"
#include "platform/SessionBus.h"
#include "support/SessionBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFontDatabase>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using platform::HelperThread;

namespace {

// Restores an environment variable when the test ends.
class ScopedVariable
{
public:
    ScopedVariable(const char* name, const QByteArray& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_wasSet)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_saved;
};

} // namespace

TEST(HelperThread, RunsTheWorkBesideTheCallerAndJoinWaitsForItsEnd)
{
    std::atomic<bool> mainMayGoOn{false};
    std::atomic<bool> done{false};
    std::thread::id worker;
    HelperThread helper([&] {
        worker = std::this_thread::get_id();
        // The caller is not held up while the work runs: it answers before the work ends.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!mainMayGoOn && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        done = true;
    });
    EXPECT_FALSE(done);
    mainMayGoOn = true;
    helper.join();
    EXPECT_TRUE(done);
    EXPECT_NE(worker, std::this_thread::get_id());
    helper.join(); // a second wait returns at once
}

TEST(HelperThread, ItsEndWaitsForTheWorkAndAFailureInsideStaysThere)
{
    std::atomic<int> finished{0};
    {
        HelperThread slow([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            ++finished;
        });
        HelperThread failing([&] {
            ++finished;
            throw std::runtime_error("not there");
        });
    }
    EXPECT_EQ(finished, 2);
}

TEST(StartupHelpers, FontConfigurationLoadedOnHelpersGivesTheFrameworkTheSameFonts)
{
    // Two helpers race to load it while the framework's database is asked on this thread.
    HelperThread first(platform::LoadFontConfiguration);
    HelperThread second(platform::LoadFontConfiguration);
    const QStringList families = QFontDatabase::families();
    first.join();
    second.join();
    platform::LoadFontConfiguration(); // once loaded, later calls find it so
    EXPECT_TRUE(families.contains(QStringLiteral("DejaVu Sans"))) << families.join(u',').toStdString();
    EXPECT_EQ(QFontDatabase::families(), families);
}

// One case, in this order: the process's session bus connection can be made only once.
TEST(StartupHelpers, SessionBusIsOpenedOnAHelperOnlyForADesktopPlatform)
{
    testsupport::PrivateSessionBus bus;
    ASSERT_TRUE(bus.running());
    const QString defaultConnection = QStringLiteral("qt_default_session_bus");
    {
        ScopedVariable offscreen("QT_QPA_PLATFORM", "offscreen");
        HelperThread helper(platform::ConnectSessionBus);
        helper.join();
        EXPECT_FALSE(QDBusConnection(defaultConnection).isConnected());
    }
    {
        ScopedVariable desktop("QT_QPA_PLATFORM", "wayland;xcb");
        HelperThread helper(platform::ConnectSessionBus);
        helper.join();
    }
    const QDBusConnection opened(defaultConnection);
    ASSERT_TRUE(opened.isConnected());
    // The main thread's own request finds that connection, and it works from here.
    EXPECT_EQ(QDBusConnection::sessionBus().baseService(), opened.baseService());
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(opened.baseService()).value());
}
