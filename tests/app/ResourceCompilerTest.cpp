#include "app/ResourceCompiler.h"
#include "app/uMain.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"
#include "support/MessageBoxRecorder.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QResource>
#include <gtest/gtest.h>

namespace {

// A tool folder of the test's own: the stock classic/ folder and a compiler of the test's choice.
class ResourceCompilerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        tool = dir.path() + "/";
        app::SetToolFolder(tool);
        QDir().mkpath(tool + "classic/images");
        for (const QString& file : QDir(stock()).entryList(QDir::Files))
            QFile::copy(stock() + "/" + file, tool + "classic/" + file);
        for (const QString& file : QDir(stock() + "/images").entryList(QDir::Files))
            QFile::copy(stock() + "/images/" + file, tool + "classic/images/" + file);
    }
    void TearDown() override
    {
        app::SetToolFolder({});
        QDir::setCurrent(QDir::tempPath());
    }
    static QString stock() { return testsupport::SourceDir() + "/skin/classic"; }
    void useRealCompiler() { ASSERT_TRUE(QFile::link(testsupport::BinDir() + "/rcc.exe", tool + "rcc.exe")); }
    // A compiler that records its arguments and then runs `body` (a shell snippet).
    void useScriptCompiler(const QString& body)
    {
        const QString script = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"" + tool +
                               "calls.log\"\necho --- >> \"" + tool + "calls.log\"\n" + body + "\n";
        dir.write("rcc.exe", script.toUtf8());
        QFile::setPermissions(tool + "rcc.exe", QFile::permissions(tool + "rcc.exe") | QFileDevice::ExeOwner);
    }
    QStringList calls() const
    {
        return QString::fromUtf8(testsupport::ReadAll(tool + "calls.log")).split('\n');
    }

    testsupport::TempDir dir;
    QString tool;
    testsupport::MessageBoxRecorder boxes;
};

} // namespace

TEST_F(ResourceCompilerTest, RealCompilerBuildsTheBundleUnderItsRoot)
{
    useRealCompiler();
    app::RunResourceCompiler("ocean", tool + "classic/");
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("\n").toStdString();
    EXPECT_TRUE(QFile::exists(tool + "NewSkin/ocean.rcc"));
    EXPECT_TRUE(QFile::exists(tool + "NewSkin/ocean.qrc")) << "the project stays in the output folder";
    EXPECT_FALSE(QFile::exists(tool + "classic/ocean.qrc")) << "its copy leaves the source folder";
    EXPECT_EQ(QDir::currentPath() + "/", tool + "classic/");

    ASSERT_TRUE(QResource::registerResource(tool + "NewSkin/ocean.rcc"));
    EXPECT_TRUE(QFile::exists(":/ocean/color_setting.ini"));
    EXPECT_TRUE(QFile::exists(":/ocean/images/main_bg.png"));
    EXPECT_EQ(QResource(":/ocean/images/main_bg.png").compressionAlgorithm(), QResource::NoCompression);
    QResource::unregisterResource(tool + "NewSkin/ocean.rcc");

    // A second run with the same name replaces the bundle.
    QFile::remove(tool + "classic/images/logo.png");
    app::RunResourceCompiler("ocean", tool + "classic/");
    ASSERT_TRUE(QResource::registerResource(tool + "NewSkin/ocean.rcc"));
    EXPECT_FALSE(QFile::exists(":/ocean/images/logo.png"));
    QResource::unregisterResource(tool + "NewSkin/ocean.rcc");
}

TEST_F(ResourceCompilerTest, MissingCompilerFailsBeforeAnythingButTheOutputFolder)
{
    try {
        app::RunResourceCompiler("ocean", tool + "classic/");
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Not find rcc.exe");
    }
    QStringList entries = QDir(tool).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    entries.sort();
    EXPECT_EQ(entries, QStringList({"NewSkin", "classic"}));
    EXPECT_TRUE(QDir(tool + "NewSkin").isEmpty());
}

TEST_F(ResourceCompilerTest, ProjectStepWithoutProjectRaises)
{
    useScriptCompiler("exit 0");
    dir.write("NewSkin/ocean.qrc", "stale"); // from an earlier run: must not count as written
    try {
        app::RunResourceCompiler("ocean", tool + "classic/");
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.message(), "Make qrc failed");
    }
}

TEST_F(ResourceCompilerTest, CompileStepWithoutBundleWarnsOnceAndGoesOn)
{
    // Writes the project, never the bundle.
    useScriptCompiler("[ \"$3\" = -project ] && exec \"" + testsupport::BinDir() +
                      "/rcc.exe\" \"$@\"\nexit 0");
    app::RunResourceCompiler("ocean", tool + "classic/");
    EXPECT_EQ(boxes.boxes(), QStringList{"Mirelune 11 Skin Tool|Make skin failed!"});
    EXPECT_EQ(boxes.icons(), QList<platform::MsgIcon>{platform::MsgIcon::Warning});
    EXPECT_FALSE(QFile::exists(tool + "classic/ocean.qrc"));
    EXPECT_TRUE(QFile::exists(tool + "NewSkin/ocean.qrc"));
}

TEST_F(ResourceCompilerTest, CommandLinesFollowWindowsQuotingRules)
{
    useScriptCompiler("[ \"$3\" = -project ] && exec \"" + testsupport::BinDir() +
                      "/rcc.exe\" \"$@\"\nexit 0");
    app::RunResourceCompiler("my skin", tool + "classic/");
    const QStringList expected{"-o",           tool + "NewSkin/my skin.qrc",
                               "-project",     "---",
                               "-binary",      tool + "classic/my skin.qrc",
                               "-o",           tool + "NewSkin/my skin.rcc",
                               "-no-compress", "-root",
                               "/my",          "skin",
                               "---",          ""};
    EXPECT_EQ(calls(), expected) << "the root is not quoted, so an inner blank splits it";
}

// Native folder names that Windows would not allow or that the Windows split treats specially.
TEST(ResourceCompilerToolFolder, QuoteMarkBlankAndPercentInTheFolderNameStillBuildTheBundle)
{
    testsupport::MessageBoxRecorder boxes;
    testsupport::TempDir dir;
    const QString stock = testsupport::SourceDir() + "/skin/classic";
    for (const QString& folderName :
         {QString("my\"tool"), QString("my tool"), QString("100%tool"), QString("a\\\"b \\")}) {
        const QString tool = dir.path() + "/" + folderName + "/";
        QDir().mkpath(tool + "classic/images");
        for (const QString& file : QDir(stock).entryList(QDir::Files))
            QFile::copy(stock + "/" + file, tool + "classic/" + file);
        ASSERT_TRUE(QFile::link(testsupport::BinDir() + "/rcc.exe", tool + "rcc.exe"));
        app::SetToolFolder(tool);
        EXPECT_NO_THROW(app::RunResourceCompiler("ocean", tool + "classic/")) << folderName.toStdString();
        EXPECT_TRUE(QFile::exists(tool + "NewSkin/ocean.rcc")) << folderName.toStdString();
        EXPECT_FALSE(QFile::exists(tool + "classic/ocean.qrc")) << folderName.toStdString();
    }
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join("\n").toStdString();
    app::SetToolFolder({});
    QDir::setCurrent(QDir::tempPath());
}
