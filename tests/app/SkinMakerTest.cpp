// The Make without a window: a demo prefix, the real compiler, and recording stand-ins for the
// process table and the shell, so nothing on the machine is stopped or started.
#include "app/TSkinMaker.h"
#include "app/uMain.h"
#include "demo-product/DemoPrefix.h"
#include "support/FakeProcessTable.h"
#include "support/MessageBoxRecorder.h"
#include "support/ScopedPrefix.h"
#include "support/ShellRecorder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <gtest/gtest.h>
#include <optional>

using app::TSkinMaker;
using testsupport::ReadAll;

namespace {

const QString kInstall = QStringLiteral("C:\\Program Files (x86)\\Orlix\\Mirelune\\");

class SkinMaker : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tool = dir.path() + "/tool/";
        const QString stock = testsupport::SourceDir() + "/skin";
        for (const char* folder :
             {"classic", "classic/images", "public", "public/images", "public/preview"}) {
            QDir().mkpath(tool + folder);
            for (const QString& file : QDir(stock + "/" + folder).entryList(QDir::Files))
                QFile::copy(stock + "/" + folder + "/" + file, tool + folder + "/" + file);
        }
        ASSERT_TRUE(QFile::link(testsupport::BinDir() + "/rcc.exe", tool + "rcc.exe"));
        prefix = dir.path() + "/prefix";
        demo::DemoPrefixOptions options;
        options.toolFolder = tool;
        ASSERT_EQ(demo::DemoPrefix::create(prefix, options), QString());
        install = prefix + "/drive_c/Program Files (x86)/Orlix/Mirelune/";
        mainIni = prefix + "/drive_c/users/" + demo::DemoPrefix::loginName() +
                  "/AppData/Roaming/Orlix/Mirelune/Main.ini";
        inPrefix.emplace(prefix);
        app::SetToolFolder(tool);
    }
    void TearDown() override
    {
        app::SetToolFolder({});
        QDir::setCurrent(QDir::tempPath());
    }
    TSkinMaker maker() const
    {
        return TSkinMaker(tool, kInstall + "Skin\\", QImage(180, 120, QImage::Format_ARGB32),
                          QImage(150, 100, QImage::Format_ARGB32));
    }

    testsupport::TempDir dir;
    QString tool, prefix, install, mainIni;
    std::optional<testsupport::ScopedPrefix> inPrefix;
    testsupport::MessageBoxRecorder boxes;
    testsupport::ShellRecorder shell;
    testsupport::FakeProcessTable processes{
        {{100, kInstall + "KRY.exe"}, {101, "bash"}, {102, "C:\\Other\\kry.exe"}}};
};

} // namespace

TEST_F(SkinMaker, InstallsSelectsStopsEveryCopyAndStartsTheProduct)
{
    TSkinMaker make = maker();
    ASSERT_EQ(make.Prepare("  Ocean "), TSkinMaker::Readiness::Ready);
    EXPECT_EQ(make.Name(), "ocean");
    EXPECT_TRUE(make.Build(false));

    EXPECT_EQ(
        boxes.texts(),
        QStringList{"New skin is created successfully. Click the \"OK\" button to apply the new skin!"});
    EXPECT_EQ(processes.terminated(), QList<qint64>({100, 102})) << "every KRY.exe, nothing else";
    EXPECT_EQ(shell.startedTargets(), QStringList{kInstall + "Kry.exe"});
    EXPECT_EQ(ReadAll(install + "Skin/ocean.rcc"), ReadAll(tool + "NewSkin/ocean.rcc"));
    EXPECT_EQ(ReadAll(install + "Skin/public.rcc"), ReadAll(tool + "NewSkin/public.rcc"));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(mainIni)).contains("Skin=ocean\r\n"));
    EXPECT_EQ(QImage(tool + "public/preview/preview_ocean.png").size(), QSize(180, 120));
}

TEST_F(SkinMaker, RefusedNamesAndAMissingProductStopBeforeAnythingIsWritten)
{
    TSkinMaker make = maker();
    EXPECT_EQ(make.Prepare(""), TSkinMaker::Readiness::NameRefused);
    EXPECT_EQ(make.Prepare("a/b"), TSkinMaker::Readiness::NameRefused);
    QFile::remove(prefix + "/system.reg");
    EXPECT_EQ(make.Prepare("ocean"), TSkinMaker::Readiness::ProductMissing);
    EXPECT_EQ(boxes.texts(), QStringList({"Skin name cannot be empty!",
                                          "Skin name contains characters that cannot be used in a file name.",
                                          "Please install Mirelune 11"}));
    EXPECT_EQ(shell.startedTargets(), QStringList{app::kVendorWebSite});
    EXPECT_TRUE(processes.terminated().isEmpty());
    EXPECT_FALSE(QDir(tool + "NewSkin").exists());
}

TEST_F(SkinMaker, NoBundleMeansNoInstallNoStopAndNoStart)
{
    // A compiler that writes the project but never the bundle.
    QFile::remove(tool + "rcc.exe");
    dir.write("tool/rcc.exe", "#!/bin/sh\n[ \"$1\" = -o ] && [ \"$3\" = -project ] && : > \"$2\"\nexit 0\n");
    QFile::setPermissions(tool + "rcc.exe", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    TSkinMaker make = maker();
    ASSERT_EQ(make.Prepare("ocean"), TSkinMaker::Readiness::Ready);
    EXPECT_FALSE(make.Build(false));
    EXPECT_EQ(boxes.texts().last(), "Failed to make new skin!");
    EXPECT_TRUE(processes.terminated().isEmpty());
    EXPECT_TRUE(shell.startedTargets().isEmpty());
    EXPECT_FALSE(QFile::exists(install + "Skin/ocean.rcc"));
}
