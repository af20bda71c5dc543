// The Make command against the demo product: the real compiler, the stand-in product running in
// a prefix of the test's own, and a file-manager service on a private session bus.
#include "app/uMain.h"
#include "demo-product/DemoPrefix.h"
#include "env/Orlix_Routine_New.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "support/MessageBoxRecorder.h"
#include "support/ScopedPrefix.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <optional>

using testsupport::ReadAll;
using testsupport::WaitUntil;

namespace {

const QString kInstall = QStringLiteral("C:\\Program Files (x86)\\Orlix\\Mirelune\\");

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& entry : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (entry.isDir())
            copyTree(entry.filePath(), to + "/" + entry.fileName());
        else
            QFile::copy(entry.filePath(), to + "/" + entry.fileName());
    }
}

class MakeEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tool = dir.path() + "/tool/";
        const QString stock = testsupport::SourceDir() + "/skin";
        copyTree(stock + "/classic", tool + "classic");
        copyTree(stock + "/public", tool + "public");
        ASSERT_TRUE(QFile::link(testsupport::BinDir() + "/rcc.exe", tool + "rcc.exe"));
        prefix = dir.path() + "/prefix";
        demo::DemoPrefixOptions options;
        options.toolFolder = tool;
        options.productProgram = testsupport::BinDir() + "/kry_stub";
        ASSERT_EQ(demo::DemoPrefix::create(prefix, options), QString());
        install = prefix + "/drive_c/Program Files (x86)/Orlix/Mirelune/";
        mainIni = prefix + "/drive_c/users/" + demo::DemoPrefix::loginName() +
                  "/AppData/Roaming/Orlix/Mirelune/Main.ini";

        // The product's processes are those of this prefix: the Make stops no other copy.
        inPrefix.emplace(prefix, testsupport::BinDir() + "/demo-wine");
        // The vendor's page goes to a recording opener instead of a browser.
        dir.write("bin/xdg-open", "#!/bin/sh\necho \"$@\" >> \"" + dir.file("opened.log").toUtf8() + "\"\n");
        QFile::setPermissions(dir.file("bin/xdg-open"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        savedPath = qgetenv("PATH");
        qputenv("PATH", dir.file("bin").toUtf8() + ":" + savedPath);
        app::SetToolFolder(tool);
    }

    void TearDown() override
    {
        env::KillProcessesByName("KRY.exe"); // the copies this test's prefix runs
        inPrefix.reset();
        app::SetToolFolder({});
        qputenv("PATH", savedPath);
        QDir::setCurrent(QDir::tempPath());
    }

    QString productLog() const { return QString::fromUtf8(ReadAll(install + "Kry.log")); }
    // Starts the product as the user had it running, and waits until it has loaded its skin.
    qint64 startProduct()
    {
        platform::ShellOpen(kInstall + "Kry.exe");
        EXPECT_TRUE(WaitUntil([&] { return productLog().contains("loaded skin=classic"); }, 20000));
        const auto m = QRegularExpression("pid=(\\d+) loaded skin=classic").match(productLog());
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }
    static bool alive(qint64 pid) { return pid > 0 && QFile::exists(QString("/proc/%1").arg(pid)); }

    testsupport::TempDir dir;
    QString tool, prefix, install, mainIni;
    QByteArray savedPath;
    std::optional<testsupport::ScopedPrefix> inPrefix;
    testsupport::MessageBoxRecorder boxes;
};

const QString kSuccess = "New skin is created successfully. Click the \"OK\" button to apply the new skin!";

} // namespace

TEST_F(MakeEndToEnd, BuildsInstallsSelectsAndRestarts)
{
    testsupport::PrivateSessionBus bus;
    ASSERT_TRUE(bus.running());
    testsupport::FileManagerStandIn fileManager(bus.address());
    ASSERT_TRUE(fileManager.registered());
    const qint64 before = startProduct();
    ASSERT_TRUE(alive(before));

    app::TfrmMain form;
    form.show();
    form.Edit_root->setText(" Ocean ");
    form.Button_Make->click();

    EXPECT_EQ(boxes.texts(), QStringList{kSuccess});
    EXPECT_TRUE(form.Button_Make->isEnabled());
    EXPECT_TRUE(form.lbl_openskin->isVisible());
    for (const char* file :
         {"NewSkin/ocean.rcc", "NewSkin/public.rcc", "NewSkin/ocean.qrc", "NewSkin/public.qrc"})
        EXPECT_TRUE(QFile::exists(tool + file)) << file;
    EXPECT_EQ(QImage(tool + "public/preview/preview_ocean.png").size(), QSize(180, 120));
    EXPECT_EQ(QImage(tool + "public/images/skin_menu_ocean.png").size(), QSize(150, 100));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(tool + "classic/color_setting.ini")).contains("skinname=ocean"));
    EXPECT_EQ(ReadAll(install + "Skin/ocean.rcc"), ReadAll(tool + "NewSkin/ocean.rcc"));
    EXPECT_EQ(ReadAll(install + "Skin/public.rcc"), ReadAll(tool + "NewSkin/public.rcc"));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(mainIni)).contains("Skin=ocean\r\n"));
    EXPECT_TRUE(QString::fromUtf8(ReadAll(mainIni)).contains("Language=en")) << "other keys untouched";

    // The product was stopped and came back with the new skin and its preview.
    EXPECT_TRUE(WaitUntil([&] { return !alive(before); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return productLog().contains("loaded skin=ocean"); }, 20000));
    EXPECT_TRUE(productLog().contains("root=:/ocean skinname=ocean")) << productLog().toStdString();
    EXPECT_TRUE(productLog().contains("public=loaded preview=yes")) << productLog().toStdString();

    // The file manager is asked to show the bundle the user typed as "Ocean": the same file as
    // ocean.rcc, since Windows paths are matched without regard to case.
    const QList<QStringList> calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 1);
    ASSERT_EQ(calls.first().size(), 1);
    const QUrl shown(calls.first().first());
    EXPECT_EQ(shown.toLocalFile(), QDir(install).canonicalPath() + "/Skin/ocean.rcc")
        << shown.toString().toStdString();

    // The same name again replaces everything without asking.
    QFile::remove(tool + "public/preview/preview_ocean.png");
    form.Button_Make->click();
    EXPECT_EQ(boxes.texts(), QStringList({kSuccess, kSuccess}));
    EXPECT_TRUE(QFile::exists(tool + "public/preview/preview_ocean.png"));
    EXPECT_EQ(ReadAll(install + "Skin/ocean.rcc"), ReadAll(tool + "NewSkin/ocean.rcc"));
    // Restarted once more; waited for, so that the end of the test stops this copy too.
    EXPECT_TRUE(WaitUntil([&] { return productLog().count("loaded skin=ocean") == 2; }, 20000))
        << productLog().toStdString();
}

TEST_F(MakeEndToEnd, ProductGoneSinceStartOpensTheVendorPage)
{
    app::TfrmMain form;
    ASSERT_FALSE(form.terminateRequested());
    QFile::remove(prefix + "/system.reg");
    form.Edit_root->setText("ocean");
    form.Button_Make->click();
    EXPECT_EQ(boxes.texts(), QStringList{"Please install Mirelune 11"});
    EXPECT_TRUE(form.Button_Make->isEnabled());
    EXPECT_TRUE(WaitUntil([&] { return !ReadAll(dir.file("opened.log")).isEmpty(); }, 5000));
    EXPECT_EQ(ReadAll(dir.file("opened.log")), (app::kVendorWebSite + "\n").toUtf8());
    EXPECT_FALSE(QDir(tool + "NewSkin").exists());
}

TEST_F(MakeEndToEnd, MissingSettingsFileInstallsAndRestartsWithoutCreatingIt)
{
    ASSERT_TRUE(QFile::remove(mainIni));
    app::TfrmMain form;
    form.Edit_root->setText("ocean");
    form.Button_Make->click();
    EXPECT_EQ(boxes.texts(), QStringList{kSuccess});
    EXPECT_FALSE(QFile::exists(mainIni));
    EXPECT_TRUE(QFile::exists(install + "Skin/ocean.rcc"));
    EXPECT_TRUE(WaitUntil([&] { return productLog().contains("error: no settings file"); }, 20000))
        << "the product was started again";
}

TEST_F(MakeEndToEnd, EmptyAndUnsafeNamesAreRefusedBeforeAnythingIsWritten)
{
    app::TfrmMain form;
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const QByteArray table = ReadAll(tool + "classic/color_setting.ini");

    form.Button_Make->setFocus();
    form.Button_Make->click();
    EXPECT_EQ(boxes.texts(), QStringList{"Skin name cannot be empty!"});
    EXPECT_EQ(QApplication::focusWidget(), form.Edit_root);

    for (const QString name :
         {"a/b", "a\\b", "x:y", "what?", "star*", "<tag>", "pipe|", "q\"uote", "tab\there", "..", ".",
          "name.", "CON", " nul ", "Com1", "lpt9.skin", "aux.x"}) {
        boxes.clear();
        form.Button_Make->setFocus();
        form.Edit_root->setText(name);
        form.Button_Make->click();
        EXPECT_EQ(boxes.texts(),
                  QStringList{"Skin name contains characters that cannot be used in a file name."})
            << name.toStdString();
        EXPECT_EQ(QApplication::focusWidget(), form.Edit_root) << name.toStdString();
    }
    boxes.clear();
    form.Edit_root->setText("   ");
    form.Button_Make->click();
    EXPECT_EQ(boxes.texts(), QStringList{"Skin name cannot be empty!"}) << "blanks only leave no name";
    EXPECT_FALSE(QDir(tool + "NewSkin").exists());
    EXPECT_EQ(ReadAll(tool + "classic/color_setting.ini"), table);
    EXPECT_TRUE(form.Button_Make->isEnabled());
}

TEST_F(MakeEndToEnd, MissingCompilerEscapesAndLeavesTheButtonDisabled)
{
    QFile::remove(tool + "rcc.exe");
    app::TfrmMain form;
    form.Edit_root->setText("Ocean");
    try {
        form.Button_MakeClick();
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Not find rcc.exe");
    }
    EXPECT_FALSE(form.Button_Make->isEnabled());
    EXPECT_TRUE(QString::fromUtf8(ReadAll(tool + "classic/color_setting.ini")).contains("skinname=ocean"));
    EXPECT_TRUE(boxes.texts().isEmpty());
}
