// The main window's folder links, through the window's own event handling, against a session
// bus whose file-manager stand-in records what it is asked to show.
#include "app/uMain.h"
#include "demo-product/HiveWriter.h"
#include "platform/MessageBox.h"
#include "support/MessageBoxRecorder.h"
#include "support/ScopedPrefix.h"
#include "support/SessionBus.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QUrl>
#include <gtest/gtest.h>

using app::TfrmMain;
using testsupport::FileManagerStandIn;
using testsupport::PrivateSessionBus;

namespace {

class FolderLinks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(prefix.file("dosdevices"));
        QFile::link("../drive_c", prefix.file("dosdevices/c:"));
        QDir().mkpath(prefix.file("drive_c/Program Files (x86)/Orlix/Mirelune/Skin"));
        install("C:\\Program Files (x86)\\Orlix\\Mirelune");
    }
    void install(const QString& location)
    {
        demo::HiveWriter hive;
        hive.key("Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelune_is1")
            .string("InstallLocation", location);
        ASSERT_TRUE(hive.save(prefix.file("system.reg")));
    }
    QString nativeUri(const QString& relativeToPrefix) const
    {
        return QUrl::fromLocalFile(QDir(prefix.path()).canonicalPath() + "/" + relativeToPrefix)
            .toString(QUrl::FullyEncoded);
    }

    testsupport::TempDir prefix;
    testsupport::ScopedPrefix inPrefix{prefix.path()};
    testsupport::MessageBoxRecorder boxes;
};

void hover(QWidget* w, bool enter)
{
    if (enter) {
        QEnterEvent event(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(w, &event);
    } else {
        QEvent event(QEvent::Leave);
        QCoreApplication::sendEvent(w, &event);
    }
}

void click(QWidget* w)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(w, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &release);
}

} // namespace

TEST_F(FolderLinks, HoverUnderlinesTheTwoLinksAndKeepsTheOtherStyleBits)
{
    TfrmMain form;
    ASSERT_FALSE(form.terminateRequested());
    QFont bold = form.lbl_Atten->font();
    bold.setBold(true);
    form.lbl_Atten->setFont(bold);

    hover(form.lbl_Atten, true);
    EXPECT_TRUE(form.lbl_Atten->font().underline());
    EXPECT_TRUE(form.lbl_Atten->font().bold());
    hover(form.lbl_Atten, false);
    EXPECT_FALSE(form.lbl_Atten->font().underline());
    EXPECT_TRUE(form.lbl_Atten->font().bold());

    hover(form.lbl_FileName, true);
    EXPECT_TRUE(form.lbl_FileName->font().underline());
    hover(form.lbl_FileName, false);
    EXPECT_FALSE(form.lbl_FileName->font().underline());

    hover(form.lbl_openskin, true);
    EXPECT_FALSE(form.lbl_openskin->font().underline()) << "the skin link has no hover behaviour";
}

TEST_F(FolderLinks, ClicksShowTheImagesFolderAndTheProductsSkinFile)
{
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.running()) << "dbus-daemon is needed";
    FileManagerStandIn fileManager(bus.address());
    ASSERT_TRUE(fileManager.registered());
    TfrmMain form;
    ASSERT_FALSE(form.terminateRequested());

    click(form.lbl_Atten);
    auto calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.last(),
              QStringList{QUrl::fromLocalFile(QDir::cleanPath(app::ToolFolder() + "classic/images"))
                              .toString(QUrl::FullyEncoded)});

    form.Edit_root->clear();
    click(form.lbl_openskin);
    calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 2);
    EXPECT_EQ(calls.last(),
              QStringList{nativeUri("drive_c/Program Files (x86)/Orlix/Mirelune/Skin/classic.rcc")});

    form.Edit_root->setText(" \tNight SKY  ");
    click(form.lbl_openskin);
    calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls.last(),
              QStringList{nativeUri("drive_c/Program Files (x86)/Orlix/Mirelune/Skin/Night SKY.rcc")})
        << "blanks trimmed, case kept, \".rcc\" appended";

    QDir().mkpath(prefix.file("drive_c/Moved/Skin"));
    install("C:\\Moved");
    click(form.lbl_openskin);
    calls = fileManager.waitForCalls(5000);
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls.last(), QStringList{nativeUri("drive_c/Moved/Skin/Night SKY.rcc")})
        << "the installation folder is looked up afresh at each click";
    EXPECT_TRUE(boxes.texts().isEmpty());
}
