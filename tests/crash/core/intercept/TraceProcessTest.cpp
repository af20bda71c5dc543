// qelTraceProcess called from another process (gdb) on a running crash-test: the whole-process
// report arrives in the shared section "qelTraceProcessMap".
#include "CrashTestRunner.h"
#include "platform/SharedMemory.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <QThread>

TEST(TraceProcess, ADebuggerCallGivesTheWholeProcessReportThroughTheSharedSection)
{
    if (QStandardPaths::findExecutable("gdb").isEmpty())
        GTEST_SKIP() << "gdb is not installed (scripts/packages/test-crash.txt)";
    constexpr int kSize = 65536;
    const QString name = QStringLiteral("qelTraceProcessMap");
    platform::SharedMemory::remove(name);
    auto section = platform::SharedMemory::create(name, kSize);
    ASSERT_TRUE(section);

    crashtests::CrashTestRunner runner;
    QProcess target;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    target.setProcessEnvironment(env);
    target.start(testsupport::BinDir() + "/crash-test", {"--settings", runner.writeSettings(), "freeze", "60"});
    ASSERT_TRUE(target.waitForStarted(10000));
    QThread::msleep(1500); // past start-up, busy in the main thread

    QProcess gdb;
    // The tracer's snapshots use a real-time signal: gdb must pass it on, not stop the call.
    gdb.start("gdb", {"-p", QString::number(target.processId()), "-batch", "-nx", "-ex",
                      "handle all nostop noprint pass", "-ex",
                      QStringLiteral("call (int)qelTraceProcess(%1)").arg(kSize)});
    const bool gdbDone = gdb.waitForFinished(120000);
    if (!gdbDone)
        gdb.kill();
    target.kill();
    target.waitForFinished(5000);
    ASSERT_TRUE(gdbDone) << "gdb did not finish";

    const QByteArray text(static_cast<const char*>(section->data()));
    platform::SharedMemory::remove(name);
    ASSERT_FALSE(text.isEmpty()) << gdb.readAllStandardError().toStdString();
    EXPECT_LT(text.size(), kSize) << "cut to size - 1 and zero-terminated";
    EXPECT_TRUE(text.startsWith("date/time")) << text.left(300).toStdString();
    // The calling thread carries the trace's name; a whole-process trace lists the reporter's threads too.
    EXPECT_TRUE(text.contains("\r\n\r\nHalvorn - TraceProcessThread (")) << text.left(3000).toStdString();
    EXPECT_TRUE(text.contains("\r\n\r\nHalvorn - HandleExceptionThread ("));
}
