#include "crash/core/handler/HandlerRegistry.h"

#include <gtest/gtest.h>

#include <QStringList>
#include <stdexcept>

using namespace crash;

namespace {

std::shared_ptr<ExceptionReport> MakeReport(const QString& className = QStringLiteral("Exception"))
{
    return std::make_shared<ExceptionReport>(0, ExceptionType::Exception, QStringList{className}, className,
                                             QStringLiteral("m"), ExceptionSource::Explicit, true);
}

struct RegistryTest : ::testing::Test
{
    std::vector<int> ids;
    void TearDown() override
    {
        for (int id : ids)
            HandlerRegistry::instance().remove(id);
    }
    void add(HandlerEvent event, ExceptionHandlerFunction f, bool main = false)
    {
        ids.push_back(HandlerRegistry::instance().add(event, std::move(f), main));
    }
};

} // namespace

TEST_F(RegistryTest, HandlingThreadHandlersRunFirstAndAHandledExceptionSkipsTheMainThreadOnes)
{
    QStringList order;
    add(HandlerEvent::Exception, [&](HandlerCall& c) { order << "main"; }, true);
    add(HandlerEvent::Exception, [&](HandlerCall& c) {
        order << "thread";
        c.handled = c.phase == 2;
    });
    int mainRuns = 0;
    auto runner = [&](const std::function<void()>& work) {
        ++mainRuns;
        work();
        return true;
    };
    HandlerCall first{MakeReport(), HandlerEvent::Exception, 1};
    HandlerRegistry::instance().call(first, runner);
    EXPECT_EQ(order, QStringList({"thread", "main"}));
    HandlerCall second{MakeReport(), HandlerEvent::Exception, 2};
    HandlerRegistry::instance().call(second, runner);
    EXPECT_TRUE(second.handled);
    EXPECT_EQ(mainRuns, 1);
}

TEST_F(RegistryTest, MainThreadHandlersRunHereWhenTheMainThreadDoesNotAnswer)
{
    bool ran = false;
    add(HandlerEvent::Action, [&](HandlerCall& c) { ran = c.action == ExceptionAction::Close; }, true);
    HandlerCall call{MakeReport(), HandlerEvent::Action, 0, ExceptionAction::Close};
    HandlerRegistry::instance().call(call, [](const std::function<void()>&) { return false; });
    EXPECT_TRUE(ran);
}

TEST_F(RegistryTest, AThrowingHandlerNeitherStopsTheOthersNorEscapes)
{
    bool second = false;
    add(HandlerEvent::Exception, [](HandlerCall&) { throw std::runtime_error("handler fails"); });
    add(HandlerEvent::Exception, [&](HandlerCall&) { second = true; });
    HandlerCall call{MakeReport(), HandlerEvent::Exception, 1};
    EXPECT_NO_THROW(HandlerRegistry::instance().call(call, {}));
    EXPECT_TRUE(second);
}

TEST_F(RegistryTest, HandlersOfOtherKindsAndRemovedHandlersAreNotCalled)
{
    int calls = 0;
    add(HandlerEvent::ReportOnly, [&](HandlerCall&) { ++calls; });
    add(HandlerEvent::Exception, [&](HandlerCall&) { ++calls; });
    HandlerRegistry::instance().remove(ids.back());
    HandlerCall call{MakeReport(), HandlerEvent::Exception, 1};
    HandlerRegistry::instance().call(call, {});
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(HandlerRegistry::instance().has(HandlerEvent::ReportOnly));
    EXPECT_FALSE(HandlerRegistry::instance().has(HandlerEvent::Exception));
}

TEST_F(RegistryTest, NoHandlersForAnExceptionWhoseFilterSaysSo)
{
    // F1Classes = 'EDBEditError' with F1NoHandlers in the program's settings.
    bool called = false;
    add(HandlerEvent::Exception, [&](HandlerCall&) { called = true; });
    HandlerCall call{MakeReport(QStringLiteral("EDBEditError")), HandlerEvent::Exception, 1};
    HandlerRegistry::instance().call(call, {});
    EXPECT_FALSE(called);
}
