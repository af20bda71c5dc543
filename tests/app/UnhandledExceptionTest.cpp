#include "platform/UnhandledException.h"
#include "platform/Exception.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <gtest/gtest.h>

namespace {

class Throwing : public QObject
{
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw platform::Exception(QStringLiteral("Not find rcc.exe"));
        if (e->type() == QEvent::Type(QEvent::User + 1))
            throw 42;
        handledAfterwards += e->type() == QEvent::Type(QEvent::User + 2);
        return QObject::event(e);
    }
    int handledAfterwards = 0;
};

} // namespace

TEST(UnhandledException, EscapingExceptionIsShownAndTheLoopGoesOn)
{
    QStringList shown;
    auto previous = platform::SetMessageBoxHandler([&](const platform::MessageBoxRequest& r) {
        shown << r.text;
        return platform::MsgResult::Ok;
    });
    Throwing target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 1)));
    QCoreApplication::postEvent(&target, new QEvent(QEvent::Type(QEvent::User + 2)));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, QStringList({"Not find rcc.exe", "Unknown exception."}));
    EXPECT_EQ(target.handledAfterwards, 1);
    platform::SetMessageBoxHandler(previous);
}

TEST(UnhandledException, ATakenOverPointGetsTheExceptionItself)
{
    QString seen;
    auto previous = platform::SetApplicationExceptionHandler([&](std::exception_ptr error, const platform::ExceptionOrigin&) {
        try {
            std::rethrow_exception(error);
        } catch (const platform::Exception& e) {
            seen = e.className() + ": " + e.message();
        }
    });
    Throwing target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    EXPECT_EQ(seen, "Exception: Not find rcc.exe");
    platform::SetApplicationExceptionHandler(previous);
}
