// The store shared by the modules of one process: the executable and a library with its own
// settings, from several threads.
#include "TestModuleLoader.h"
#include "crash/core/settings/CrashSettings.h"
#include "crash/core/settings/ExceptionSettings.h"
#include "platform/NamedObjectOwner.h"
#include "platform/NamedSemaphore.h"
#include "platform/SharedMemory.h"
#include "support/MessageBoxRecorder.h"

#include <QDir>
#include <QFileInfo>
#include <QtGlobal>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>
#include <vector>

using crash::CrashSettings;
using crash::SettingsStore;

namespace {

bool StoreExists()
{
    return platform::SharedMemory::exists(SettingsStore::sectionName());
}

bool MutexExists()
{
    return platform::NamedSemaphore::exists(SettingsStore::mutexName());
}

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(module.load()) << module.library.errorString().toStdString();
        ASSERT_FALSE(StoreExists()) << "a reference from an earlier test is still held";
    }
    void TearDown() override
    {
        module.release();
        crash::RegisterMainSettings(nullptr);
        EXPECT_FALSE(StoreExists());
        EXPECT_FALSE(MutexExists());
    }
    testsupport::MessageBoxRecorder boxes;
    crashtest::TestModule module;
};

} // namespace

TEST_F(SettingsStoreTest, ModulesShareOneStoreAndEachReadsItsOwnKeys)
{
    module.hold();
    ASSERT_TRUE(StoreExists());
    const std::uintptr_t block = SettingsStore::publishedBlock();
    ASSERT_NE(block, 0u);
    {
        const CrashSettings exe(0);
        EXPECT_EQ(module.publishedBlock(), block);
        EXPECT_EQ(SettingsStore::publishedBlock(), block);

        EXPECT_EQ(exe.SmtpPort(), 25);
        EXPECT_EQ(module.number("SmtpPort"), 587);
        EXPECT_EQ(module.readText("MailSubj"), QStringLiteral("Testmodul \u2013 Fehlerbericht"));
        EXPECT_EQ(module.readText("ExceptMsg"),
                  QStringLiteral("Error in ") + QFileInfo(QStringLiteral(HALVORN_TEST_MODULE)).fileName());
        EXPECT_EQ(exe.MailSubj(), QStringLiteral("KRY v10 Pelliform bug report"));

        // The library's missing keys come from the main settings once they are registered.
        EXPECT_EQ(module.readText("MailAddr"), QString());
        crash::RegisterMainSettings(std::make_shared<CrashSettings>(0));
        EXPECT_EQ(module.readText("MailAddr"), QStringLiteral("support@mirelune.example"));
        crash::RegisterMainSettings(nullptr);
    }
    EXPECT_TRUE(StoreExists()); // the library still holds its reference
    EXPECT_EQ(module.publishedBlock(), block);
    module.release();
    EXPECT_FALSE(StoreExists());
    EXPECT_EQ(module.publishedBlock(), 0u);
    EXPECT_TRUE(boxes.boxes().isEmpty());
}

TEST_F(SettingsStoreTest, CodeAddressesAreGovernedByTheirModuleWhenItsSettingsAreInForce)
{
    const platform::ModuleHandle lib = module.handle();
    EXPECT_EQ(module.governingModule(), lib);
    EXPECT_EQ(crash::SettingsForCaller()->module(), platform::MainModuleHandle());
    // Code of a module without settings: the executable's settings are in force.
    const auto qtCode = reinterpret_cast<const void*>(&qVersion);
    ASSERT_NE(platform::ModuleOfAddress(qtCode), platform::MainModuleHandle());
    EXPECT_EQ(crash::SettingsForAddress(qtCode)->module(), platform::MainModuleHandle());
}

TEST_F(SettingsStoreTest, UnusableSectionNameIsReportedAndLeavesNoSettings)
{
    const QString blocker = QStringLiteral("/dev/shm/") + SettingsStore::sectionName();
    if (!QFileInfo(QStringLiteral("/dev/shm")).isDir())
        GTEST_SKIP() << "no /dev/shm";
    ASSERT_TRUE(QDir().mkdir(blocker)); // a name that can be neither opened nor created
    // nor its private fallback
    const QString fallback =
        QFile::decodeName(platform::FallbackObjectPath(SettingsStore::sectionName().toUtf8()));
    ASSERT_FALSE(fallback.isEmpty());
    ASSERT_TRUE(QDir().mkdir(fallback));
    {
        CrashSettings s(0);
        EXPECT_FALSE(s.isValid());
        EXPECT_EQ(s.SmtpPort(), 0);
        EXPECT_FALSE(s.setSmtpPort(25));
    }
    QDir().rmdir(blocker);
    QDir().rmdir(fallback);
    EXPECT_EQ(boxes.boxes(), QStringList{QStringLiteral("Halvorn|internal error (opening settings buffer)")});
    EXPECT_TRUE(CrashSettings(0).isValid());
}

TEST_F(SettingsStoreTest, AMutexHeldPastTheBoundIsAnInternalErrorNotAHang)
{
    // A module that hangs holding the mutex: the next one gives up after a bound and runs without
    // settings instead of hanging the program's start.
    auto holder = platform::NamedSemaphore::open(SettingsStore::mutexName());
    ASSERT_TRUE(holder);
    ASSERT_TRUE(holder->lockFor(1000));
    auto opening = std::async(std::launch::async, [] { return CrashSettings(0).isValid(); });
    const bool returned = opening.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    holder->unlock(); // lets a waiting store go on, so the test ends either way
    EXPECT_TRUE(returned) << "the store waited for the held mutex without a bound";
    EXPECT_FALSE(opening.get());
    EXPECT_EQ(boxes.boxes(), QStringList{QStringLiteral("Halvorn|internal error (opening settings buffer)")});
    holder.reset();
    platform::NamedSemaphore::remove(SettingsStore::mutexName());
}

TEST_F(SettingsStoreTest, ManyThreadsOfBothModulesComeAndGo)
{
    constexpr int threads = 6;
    constexpr int rounds = 60;
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < rounds; ++i) {
                if (t % 2 == 0) {
                    const CrashSettings s(0);
                    if (s.SmtpPort() != 25 || s.MailAddr() != QLatin1String("support@mirelune.example"))
                        ++wrong;
                    crash::ExceptionSettings e(0, crash::ExceptionType::Exception,
                                               crash::ExceptionClassChain(typeid(std::runtime_error)), {},
                                               QStringLiteral("m"));
                    if (!e.setPauseThreads(true) || !e.PauseThreads() || s.PauseThreads())
                        ++wrong;
                } else {
                    if (module.number("SmtpPort") != 587)
                        ++wrong;
                    if (i % 10 == 0) {
                        module.hold();
                        module.release();
                    }
                }
            }
        });
    }
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(boxes.boxes().isEmpty());
}
