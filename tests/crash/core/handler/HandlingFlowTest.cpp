// The handler thread and the flow in this process: serialised handling, handlers that misbehave,
// main-thread handlers while the main thread waits, and what the presenter is asked.
#include "SettingsText.h"
#include "crash/core/handler/AutomaticSend.h"
#include "crash/core/handler/HandleException.h"
#include "crash/core/handler/HandlerRegistry.h"
#include "crash/core/handler/MainThreadBridge.h"
#include "crash/core/report/ReportServices.h"
#include "crash/core/settings/CrashSettings.h"
#include "crash/core/settings/SettingsStore.h"
#include "platform/Exception.h"
#include "support/TempDir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

using namespace crash;

namespace {

testsupport::TempDir& Folder()
{
    static testsupport::TempDir dir;
    return dir;
}

QString ReportFile()
{
    return Folder().file("bugreport.txt");
}

// Once per process: the program's settings with the report file in a fresh folder, nothing shown.
void StartOnce()
{
    static bool started = false;
    if (started)
        return;
    started = true;
    QString text = QString::fromUtf8(
        testsupport::ReadAll(testsupport::SourceDir() + "/src/crash/core/settings/Halvorn.settings"));
    text.replace("object Halvorn: THalvorn\n", "object Halvorn: THalvorn\n  BugRepFile = '" + ReportFile() +
                                                   "'\n  GnShowCfg = 4\n  NoDupExcepts = False\n"
                                                   "  BugRepFileSize = 0\n");
    tools::SettingsTextDocument document;
    QString error;
    ASSERT_TRUE(tools::ParseSettingsText(text, document, error)) << error.toStdString();
    SetSettingsResourceOverride(0, tools::WriteSettingsStream(document));
    RegisterMainSettings(std::make_shared<CrashSettings>(0));
    MainThreadBridge::create();
    ASSERT_TRUE(StartHandlerThread());
}

int ReportsInFile()
{
    QFile file(ReportFile());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // Each report starts with its "date/time" line ("exec. date/time" and the like do not count).
    static const QRegularExpression start(QStringLiteral("(^|\n)date/time"));
    return static_cast<int>(QString::fromUtf8(file.readAll()).count(start));
}

void Raise(const QString& message)
{
    std::exception_ptr error = std::make_exception_ptr(platform::Exception(message));
    HandleExceptionRequest request;
    request.source = ExceptionSource::Explicit;
    request.object = &error;
    HandleException(request);
}

struct HandlingFlowTest : ::testing::Test
{
    std::vector<int> handlers;
    void SetUp() override { StartOnce(); }
    void TearDown() override
    {
        for (int id : handlers)
            HandlerRegistry::instance().remove(id);
        Services().present = nullptr;
    }
};

} // namespace

TEST_F(HandlingFlowTest, EightThreadsAtOnceGiveEightReportsHandledOneAfterTheOther)
{
    const int before = ReportsInFile();
    std::atomic<int> inside{0}, overlaps{0}, calls{0};
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception, [&](HandlerCall& call) {
        if (call.phase != 1)
            return;
        if (++inside > 1)
            ++overlaps;
        ++calls;
        QThread::msleep(20);
        --inside;
    }));
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([i] { Raise(QStringLiteral("thread %1").arg(i)); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(calls.load(), 8);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(ReportsInFile() - before, 8);
}

TEST_F(HandlingFlowTest, AHandlerThatThrowsDoesNotStopTheReport)
{
    const int before = ReportsInFile();
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception, [](HandlerCall&) {
        throw platform::Exception(QStringLiteral("handler fails"));
    }));
    Raise(QStringLiteral("with a throwing handler"));
    EXPECT_EQ(ReportsInFile() - before, 1);
}

TEST_F(HandlingFlowTest, AnExceptionRaisedInsideTheHandlingIsNotHandledAgain)
{
    std::atomic<int> phaseOneCalls{0};
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception, [&](HandlerCall& call) {
        if (call.phase != 1)
            return;
        ++phaseOneCalls;
        Raise(QStringLiteral("nested")); // on the handler thread: returns at once
    }));
    Raise(QStringLiteral("outer"));
    EXPECT_EQ(phaseOneCalls.load(), 1);
}

TEST_F(HandlingFlowTest, MainThreadHandlersRunInTheMainThreadWhileItWaits)
{
    Qt::HANDLE ranIn = nullptr;
    handlers.push_back(HandlerRegistry::instance().add(
        HandlerEvent::Exception,
        [&](HandlerCall& call) {
            if (call.phase == 1)
                ranIn = QThread::currentThreadId();
        },
        true));
    Raise(QStringLiteral("from the main thread"));
    EXPECT_EQ(ranIn, QThread::currentThreadId());
}

TEST_F(HandlingFlowTest, AnExceptionMarkedHandledInPhaseOneGetsNoReport)
{
    const int before = ReportsInFile();
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception,
                                                       [](HandlerCall& call) { call.handled = true; }));
    Raise(QStringLiteral("handled"));
    EXPECT_EQ(ReportsInFile(), before);
}

namespace {
class EDBEditError : public platform::Exception
{
public:
    using Exception::Exception;
    QString className() const override { return QStringLiteral("EDBEditError"); }
};
} // namespace

TEST_F(HandlingFlowTest, ThePresenterIsAskedWithTheFilteredPresentationAndTheMainThreadAvailable)
{
    // The program's settings put EDBEditError in filter 1: small box with OK (3), no report.
    std::vector<PresentRequest> asked;
    Services().present = [&](const PresentRequest& request) {
        asked.push_back(request);
        return UserChoice::Continue;
    };
    std::exception_ptr error = std::make_exception_ptr(EDBEditError(QStringLiteral("edit error")));
    HandleExceptionRequest request;
    request.object = &error;
    HandleException(request);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].presentation, 3);
    EXPECT_TRUE(asked[0].mainThreadAvailable);
    EXPECT_EQ(asked[0].report->exceptionClass(), "EDBEditError");
    EXPECT_EQ(asked[0].report->exceptionMessage(), "edit error");
}

TEST_F(HandlingFlowTest, AutoSendDeliversTheCompleteReportOnceWithoutAnyWindow)
{
    std::mutex sentLock;
    std::vector<SendRequest> sent;
    Services().send = [&](const SendRequest& request) {
        std::lock_guard guard(sentLock);
        sent.push_back(request);
        request.finished(true); // delivered
        return true;
    };
    // The exception's own settings: AutoSend for this one only.
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception, [](HandlerCall& call) {
        if (call.phase == 1)
            call.report->setAutoSend(true);
    }));
    Raise(QStringLiteral("to be sent"));
    // The automatic send runs when the report completes, which may be just after the handling.
    const auto anySent = [&] {
        std::lock_guard guard(sentLock);
        return !sent.empty();
    };
    for (int i = 0; i < 1000 && !anySent(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the sender return first
    Services().send = nullptr;
    std::lock_guard guard(sentLock);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].silent);
    EXPECT_TRUE(sent[0].report->isComplete());
    EXPECT_TRUE(sent[0].reportText.contains("to be sent"));
    EXPECT_TRUE(sent[0].report->wasSent());
}

TEST_F(HandlingFlowTest, ABackgroundSendDecidesTheSaveWhenItEndsSavedOnlyWhenItFailed)
{
    std::mutex lock;
    std::vector<SendRequest> started;
    Services().send = [&](const SendRequest& request) {
        std::lock_guard guard(lock);
        started.push_back(request);
        return true; // on its way in the background; it ends when the test says
    };
    handlers.push_back(HandlerRegistry::instance().add(HandlerEvent::Exception, [](HandlerCall& call) {
        if (call.phase == 1)
            call.report->setAutoSend(true); // and the shipped AutoSaveIfNotSent, SendInBackgr
    }));
    for (const bool delivered : {false, true}) {
        const int before = ReportsInFile();
        Raise(QStringLiteral("sent in the background"));
        std::lock_guard guard(lock);
        ASSERT_EQ(started.size(), 1u);
        ASSERT_TRUE(started[0].inBackground);
        EXPECT_FALSE(started[0].report->wasSent()) << "a send that has only started is not sent";
        EXPECT_EQ(ReportsInFile(), before) << "the save waits for the send's outcome";
        started[0].finished(delivered);
        EXPECT_EQ(started[0].report->wasSent(), delivered);
        EXPECT_EQ(ReportsInFile() - before, delivered ? 0 : 1);
        started.clear();
    }
    Services().send = nullptr;
}

TEST_F(HandlingFlowTest, NestedExceptionsGetASectionEachWithTheirClassAndMessage)
{
    std::exception_ptr error;
    try {
        try {
            throw std::runtime_error("disk full");
        } catch (...) {
            std::throw_with_nested(platform::Exception(QStringLiteral("cannot save the skin")));
        }
    } catch (...) {
        error = std::current_exception();
    }
    HandleExceptionRequest request;
    request.object = &error;
    HandleException(request);
    QFile file(ReportFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString all = QString::fromUtf8(file.readAll());
    const QString report = all.mid(all.lastIndexOf(QStringLiteral("date/time")));
    EXPECT_TRUE(report.contains(QStringLiteral("cannot save the skin"))) << report.left(400).toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral(", inner exception level 1:"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral(">> std::runtime_error, disk full"))) << report.toStdString();
    EXPECT_FALSE(report.contains(QStringLiteral("inner exception level 2")));
}

TEST(AutomaticSendOutcome, ASaveLeftWaitingRunsOnceWhenTheSendEndsOrWhenTheProgramsEndGivesUpOnIt)
{
    int saves = 0;
    const auto save = [&saves] { ++saves; };
    auto notStarted = std::make_shared<AutomaticSend>();
    EXPECT_FALSE(notStarted->saveWhenEnded(save)) << "nothing to wait for: the caller saves now";

    auto ending = std::make_shared<AutomaticSend>();
    ending->markStarted();
    ASSERT_TRUE(ending->saveWhenEnded(save));
    bool sent = false;
    ending->markEnded(true, [&sent] { sent = true; });
    EXPECT_TRUE(sent);
    EXPECT_EQ(saves, 1);

    auto stuck = std::make_shared<AutomaticSend>();
    stuck->markStarted();
    ASSERT_TRUE(stuck->saveWhenEnded(save));
    AutomaticSend::runWaitingSaves();
    EXPECT_EQ(saves, 2);
    EXPECT_FALSE(stuck->running());
    stuck->markEnded(true, [&sent] { sent = false; }); // too late: the outcome was given up on
    EXPECT_TRUE(sent);
    AutomaticSend::runWaitingSaves();
    EXPECT_EQ(saves, 2);
}
