#include "platform/MessageBox.h"
#include "support/TempDir.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

using namespace platform;

TEST(MessageBox, HandlerSeesTextCaptionIconAndAnswers)
{
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Mirelune 11 Skin Tool"));
    MessageBoxRequest seen;
    auto previous = SetMessageBoxHandler([&](const MessageBoxRequest& r) {
        seen = r;
        return MsgResult::No;
    });
    EXPECT_EQ(ShowMessageBox("Really?", {}, MsgIcon::Question, MsgButtons::YesNo), MsgResult::No);
    EXPECT_EQ(seen.text, "Really?");
    EXPECT_EQ(seen.caption, "Mirelune 11 Skin Tool") << "an empty caption becomes the application title";
    EXPECT_EQ(seen.icon, MsgIcon::Question);
    ShowMessageBox("x", "Halvorn");
    EXPECT_EQ(seen.caption, "Halvorn");
    SetMessageBoxHandler(previous);
}

TEST(MessageBox, LogFileRecordsEachBoxOnOneLineAndAnswersFirstButton)
{
    testsupport::TempDir dir;
    const QString log = dir.file("boxes.log");
    qputenv("SKINTOOL_MESSAGEBOX_LOG", log.toUtf8());
    EXPECT_EQ(ShowMessageBox("line one\nline two", "Cap", MsgIcon::Error, MsgButtons::RetryCancel),
              MsgResult::Retry);
    EXPECT_EQ(ShowMessageBox("ok", "Cap"), MsgResult::Ok);
    qunsetenv("SKINTOOL_MESSAGEBOX_LOG");
    EXPECT_EQ(testsupport::ReadAll(log), QByteArray("Cap|error|line one\\nline two\nCap|none|ok\n"));
}
