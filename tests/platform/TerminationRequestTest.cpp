#include "platform/TerminationRequest.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <csignal>

namespace {

// Lets the event loop run until `done` or five seconds have passed.
template <typename Predicate> bool processEventsUntil(Predicate done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
}

} // namespace

TEST(TerminationRequest, EachSignalReachesTheHandlerOnTheEventLoopAndTheProcessLives)
{
    int requests = 0;
    platform::HandleTerminationRequests([&] { ++requests; });
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const int before = requests;
        ASSERT_EQ(std::raise(signal), 0);
        EXPECT_EQ(requests, before) << "not from inside the signal handler";
        EXPECT_TRUE(processEventsUntil([&] { return requests == before + 1; })) << signal;
    }
    int replaced = 0;
    platform::HandleTerminationRequests([&] { ++replaced; });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(processEventsUntil([&] { return replaced == 1; }));
    EXPECT_EQ(requests, 3) << "the earlier handler is no longer called";
    platform::HandleTerminationRequests([] {});
}
