#include "demo-product/HiveWriter.h"
#include "env/KRY_Comm.h"
#include "platform/UserAccount.h"
#include "support/ScopedPrefix.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using demo::HiveWriter;

namespace {

const QString kUninstall32 =
    QStringLiteral("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
const QString kShellFolders =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
const char* const kVariables[] = {"APPDATA",
                                  "LOCALAPPDATA",
                                  "ProgramData",
                                  "ProgramFiles(x86)",
                                  "ProgramFiles",
                                  "USERPROFILE",
                                  "CommonProgramFiles(x86)",
                                  "CommonProgramFiles"};

// A prefix with a C: drive and whatever hives a test writes; the folder variables are cleared.
class ProductPrefix : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name : kVariables) {
            saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
            qunsetenv(name);
        }
        QDir().mkpath(prefix.file("dosdevices"));
        QDir().mkpath(prefix.file("drive_c/windows/system32"));
        QFile::link("../drive_c", prefix.file("dosdevices/c:"));
        env::BetaState = -1;
    }
    void TearDown() override
    {
        for (const auto& v : saved)
            v.wasSet ? qputenv(v.name, v.value) : qunsetenv(v.name);
        env::BetaState = -1;
    }
    void writeSystem(const HiveWriter& hive) { ASSERT_TRUE(hive.save(prefix.file("system.reg"))); }
    void writeUser(const HiveWriter& hive) { ASSERT_TRUE(hive.save(prefix.file("user.reg"))); }
    // Update\Update.ini below a product folder given as a Windows path on C:.
    void writeUpdateIni(const QString& windowsFolder, const QByteArray& text)
    {
        QString native = windowsFolder.mid(3);
        native.replace('\\', '/');
        prefix.write("drive_c/" + native + "Update/Update.ini", text);
    }

    struct Saved
    {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> saved;
    testsupport::TempDir prefix;
    testsupport::ScopedPrefix inPrefix{prefix.path()};
};

HiveWriter installed(const QString& normal, const QString& beta = {}, uint32_t betaMajor = 11)
{
    HiveWriter hive;
    hive.key("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion")
        .string("ProgramFilesDir", "C:\\Program Files (x86)");
    if (!normal.isEmpty())
        hive.key(kUninstall32 + "Mirelune_is1").string("InstallLocation", normal).dword("MajorVersion", 11);
    if (!beta.isEmpty())
        hive.key(kUninstall32 + "Mirelune Beta_is1")
            .string("InstallLocation", beta)
            .dword("MajorVersion", betaMajor);
    return hive;
}

} // namespace

TEST_F(ProductPrefix, InstallFolderPrefersTheBetaKeyOfThatMajorVersion)
{
    writeSystem(installed("C:\\Apps\\Mirelune", "C:\\Apps\\Beta\\"));
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\Apps\\Beta\\");
    EXPECT_EQ(env::GetProductInstallFolder(12), "C:\\Apps\\Mirelune\\") << "another version: the normal key";

    writeSystem(installed("C:\\Apps\\Mirelune\\", "C:\\Apps\\Beta", 10));
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\Apps\\Mirelune\\")
        << "beta key of version 10 falls back";
    EXPECT_EQ(env::GetProductInstallFolder(10), "C:\\Apps\\Beta\\");

    HiveWriter sixtyFourBitView;
    sixtyFourBitView.key("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1")
        .string("InstallLocation", "C:\\Wrong");
    writeSystem(sixtyFourBitView);
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\Program Files (x86)\\Orlix\\Mirelune\\")
        << "only the 32-bit view counts; nothing there gives the built program-files folder";
}

TEST_F(ProductPrefix, RegistryTypeErrorEndsTheLookup)
{
    HiveWriter stringVersion = installed("C:\\Apps\\Mirelune");
    stringVersion.key(kUninstall32 + "Mirelune Beta_is1")
        .string("MajorVersion", "11")
        .string("InstallLocation", "C:\\B");
    writeSystem(stringVersion);
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\Program Files (x86)\\Orlix\\Mirelune\\")
        << "the normal key is not consulted after the error";

    HiveWriter numberLocation;
    numberLocation.key("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion")
        .string("ProgramFilesDir", "D:\\PF");
    numberLocation.key(kUninstall32 + "Mirelune_is1").dword("InstallLocation", 7);
    writeSystem(numberLocation);
    EXPECT_EQ(env::GetProductInstallFolder(11), "D:\\PF\\Orlix\\Mirelune\\")
        << "the shell's program-files folder";

    HiveWriter beta;
    beta.key(kUninstall32 + "Mirelune Beta_is1").dword("MajorVersion", 11).string("InstallLocation", "C:\\B");
    writeSystem(beta);
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\B\\")
        << "a beta edition alone; the normal folder name is kept for the fallback only";
}

TEST_F(ProductPrefix, BetaFlagIsLookedForUntilFoundThenFinal)
{
    writeSystem(installed("C:\\Apps\\Mirelune"));
    EXPECT_FALSE(env::IsBetaProduct());
    EXPECT_EQ(env::BetaState, -1) << "a missing Update.ini is looked for again";

    writeUpdateIni("C:\\Apps\\Mirelune\\", "[Beta]\r\nver11=0x1\r\n");
    EXPECT_TRUE(env::IsBetaProduct()) << "the hexadecimal form counts";
    EXPECT_EQ(env::BetaState, 1);

    writeUpdateIni("C:\\Apps\\Mirelune\\", "[Beta]\r\nver11=0\r\n");
    QFile::remove(prefix.file("system.reg"));
    EXPECT_TRUE(env::IsBetaProduct()) << "once read, nothing is read again";
}

TEST_F(ProductPrefix, BetaFlagValuesOtherThanOneCountAsNormal)
{
    writeSystem(installed("C:\\Apps\\Mirelune"));
    for (const QByteArray& text : {QByteArray("[Beta]\nver11=yes\n"), QByteArray("[Beta]\nver11=\n"),
                                   QByteArray("[Other]\nver11=1\n"), QByteArray("[Beta]\nver11=2\n")}) {
        env::BetaState = -1;
        writeUpdateIni("C:\\Apps\\Mirelune\\", text);
        EXPECT_FALSE(env::IsBetaProduct()) << text.toStdString();
        EXPECT_NE(env::BetaState, -1) << "the file was read";
    }
}

TEST_F(ProductPrefix, DataFolderIsApplicationDataPlusTheEditionsFolder)
{
    HiveWriter user(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"));
    user.key(kShellFolders).string("AppData", "C:\\users\\ann\\AppData\\Roaming");
    writeUser(user);
    writeSystem(installed("C:\\Apps\\Mirelune", "C:\\Apps\\Beta"));
    EXPECT_EQ(env::GetProductDataFolder(), "C:\\users\\ann\\AppData\\Roaming\\Orlix\\Mirelune\\");

    writeUpdateIni("C:\\Apps\\Beta\\", "[Beta]\nver11=1\n");
    EXPECT_EQ(env::GetProductDataFolder(), "C:\\users\\ann\\AppData\\Roaming\\Orlix\\Mirelune Beta\\");
}

TEST_F(ProductPrefix, SpecialFolderFallsBackToEnvironmentThenBuiltPath)
{
    const QString user = platform::LoginName();
    ASSERT_FALSE(user.isEmpty());
    HiveWriter shortAnswer(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"));
    shortAnswer.key(kShellFolders)
        .string("AppData", "C:")
        .string("Local AppData", "C:\\users\\x\\AppData\\Local");
    writeUser(shortAnswer);

    qputenv("APPDATA", "  D:\\Roaming\\Data \t");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_APPDATA), "D:\\Roaming\\Data")
        << "an answer of 2 characters gives way to the trimmed variable";
    qputenv("APPDATA", "   ");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_APPDATA),
              "C:\\Users\\" + user + "\\AppData\\Roaming")
        << "a blank variable counts as empty";
    qputenv("LOCALAPPDATA", "D:\\Unused");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_LOCAL_APPDATA), "C:\\users\\x\\AppData\\Local");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_PROGRAM_FILES_COMMON),
              "C:\\Program Files (x86)\\Common Files");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_PROFILE), "C:\\Users\\" + user);
    EXPECT_EQ(env::GetSpecialFolder(nullptr, 0x0007), "")
        << "ids outside the table get the shell's answer only";

    qputenv("ProgramFiles(x86)", "E:\\PF86");
    qputenv("ProgramFiles", "E:\\PF");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_PROGRAM_FILES), "E:\\PF86")
        << "64-bit prefix: the (x86) one";
}

TEST_F(ProductPrefix, OldWindowsAndThirtyTwoBitPrefixesBuildTheirOwnPaths)
{
    const QString user = platform::LoginName();
    HiveWriter xp(QStringLiteral("REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000"), QStringLiteral("win32"));
    xp.key("Software\\Wine").string("Version", "winxp");
    writeUser(xp);
    HiveWriter system(QStringLiteral("REGISTRY\\\\Machine"), QStringLiteral("win32"));
    system.key("Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\S-1-5-21-0-0-0-1000")
        .string("ProfileImagePath", "C:\\users\\" + user);
    writeSystem(system);

    EXPECT_FALSE(env::IsWow64());
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_APPDATA),
              "C:\\Documents and Settings\\" + user + "\\Application Data");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_COMMON_APPDATA),
              "C:\\Documents and Settings\\All Users\\Application Data");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_PROGRAM_FILES), "C:\\Program Files");
    EXPECT_EQ(env::GetSpecialFolder(nullptr, platform::CSIDL_PROFILE), "C:\\users\\" + user)
        << "the prefix's profile list";
    EXPECT_EQ(env::GetProductInstallFolder(11), "C:\\Program Files\\Orlix\\Mirelune\\");
}
