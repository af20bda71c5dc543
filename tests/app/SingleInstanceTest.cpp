// The real executable, started as a user would start it: first copy, second copy, restart.
#include "demo-product/HiveWriter.h"
#include "support/TempDir.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        demo::HiveWriter hive;
        hive.key(QStringLiteral(
                     "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1"))
            .string("InstallLocation", "C:\\Program Files (x86)\\Orlix\\Mirelune");
        ASSERT_TRUE(hive.save(prefix.file("system.reg")));
    }
    void TearDown() override
    {
        for (QProcess* p : started) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
    }

    QProcess* start(const QStringList& args = {})
    {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WINEPREFIX", prefix.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("SKINTOOL_MESSAGEBOX_LOG", prefix.file("boxes.log"));
        p->setProcessEnvironment(env);
        p->start(testsupport::BinDir() + "/MireluneSkinTool", args);
        EXPECT_TRUE(p->waitForStarted(10000));
        started << p;
        return p;
    }

    // Still running after a while: it got past the single-instance check and shows its window.
    static bool keepsRunning(QProcess* p) { return !p->waitForFinished(1500); }

    testsupport::TempDir prefix;
    QList<QProcess*> started;
};

} // namespace

TEST_F(SingleInstanceTest, SecondPlainStartEndsSilentlyAndArgumentsOpenASecondCopy)
{
    QProcess* first = start();
    ASSERT_TRUE(keepsRunning(first));

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(20000));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);

    QProcess* withArgument = start({"some-file.txt"});
    EXPECT_TRUE(keepsRunning(withArgument));
    EXPECT_EQ(testsupport::ReadAll(prefix.file("boxes.log")), QByteArray())
        << "nothing was shown to the user";
}

TEST_F(SingleInstanceTest, MutexDiesWithItsOwner)
{
    QProcess* first = start();
    ASSERT_TRUE(keepsRunning(first));
    first->kill(); // even a crashed owner must not block the next start
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_TRUE(keepsRunning(start()));
}

TEST_F(SingleInstanceTest, NotInstalledTellsTheUserAndEnds)
{
    ASSERT_TRUE(QFile::remove(prefix.file("system.reg")));
    QProcess* p = start();
    ASSERT_TRUE(p->waitForFinished(60000)); // the whole start-up runs first, slowly in sanitizer builds
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_EQ(testsupport::ReadAll(prefix.file("boxes.log")),
              QByteArray("Mirelune 11 Skin Tool|none|Your computer doesn't have Mirelune 11 installed.\n"));
}
