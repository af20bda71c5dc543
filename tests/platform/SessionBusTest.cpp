// The session bus opened on a start-up helper thread. Not under ThreadSanitizer: Qt's D-Bus
// module and libdbus hand the connection between threads under locks it cannot see.

#include "platform/SessionBus.h"
#include "platform/HelperThread.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>
#include <gtest/gtest.h>

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

// One case, in this order: the process's session bus connection can be made only once.
TEST(SessionBus, IsOpenedOnAHelperOnlyForADesktopPlatform)
{
    testsupport::PrivateSessionBus bus;
    ASSERT_TRUE(bus.running());
    const QString defaultConnection = QStringLiteral("qt_default_session_bus");
    {
        ScopedVariable offscreen("QT_QPA_PLATFORM", "offscreen");
        platform::HelperThread helper(platform::ConnectSessionBus);
        helper.join();
        EXPECT_FALSE(QDBusConnection(defaultConnection).isConnected());
    }
    {
        ScopedVariable desktop("QT_QPA_PLATFORM", "wayland;xcb");
        platform::HelperThread helper(platform::ConnectSessionBus);
        helper.join();
    }
    const QDBusConnection opened(defaultConnection);
    ASSERT_TRUE(opened.isConnected());
    // The main thread's own request finds that connection, and it works from here.
    EXPECT_EQ(QDBusConnection::sessionBus().baseService(), opened.baseService());
    EXPECT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(opened.baseService()).value());
}

// Only the bus library's own two places spare it the launcher (and this process a fork).
TEST(SessionBus, IsFoundWithoutLauncherByItsAddressOrTheRuntimeFoldersSocket)
{
    testsupport::PrivateSessionBus bus; // listens on <its folder>/bus
    ASSERT_TRUE(bus.running());
    const QByteArray busFolder = QFileInfo(bus.address().section(QLatin1Char('='), 1)).path().toUtf8();
    testsupport::TempDir plainFileFolder;
    plainFileFolder.write(QStringLiteral("bus"), "not a socket");
    testsupport::TempDir emptyFolder;
    struct Case
    {
        const char* what;
        QByteArray address;
        QByteArray runtimeFolder;
        bool found;
    };
    const Case cases[] = {
        {"address set", bus.address().toUtf8(), emptyFolder.path().toUtf8(), true},
        {"socket in the runtime folder", "", busFolder, true},
        {"a plain file named bus", "", plainFileFolder.path().toUtf8(), false},
        {"nothing in the runtime folder", "", emptyFolder.path().toUtf8(), false},
        {"no runtime folder", "", "", false},
    };
    for (const Case& c : cases) {
        ScopedVariable address("DBUS_SESSION_BUS_ADDRESS", c.address);
        ScopedVariable runtimeFolder("XDG_RUNTIME_DIR", c.runtimeFolder);
        EXPECT_EQ(platform::SessionBusFoundWithoutLauncher(), c.found) << c.what;
    }
}
