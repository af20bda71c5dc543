// The progress window's arithmetic.
#include "crash/ui/ProgressSteps.h"

#include <gtest/gtest.h>

using crash::ui::ProgressSteps;

TEST(ProgressSteps, WeightsDecideHowFarTheBarMoves)
{
    ProgressSteps steps;
    steps.add("Prepare attachments...", 100);
    steps.add("Sending mail...", 5000);
    steps.add("", 100);
    EXPECT_EQ(steps.currentText(), "Prepare attachments...");
    EXPECT_EQ(steps.barPosition(), 0);
    steps.setPosition(500);
    EXPECT_EQ(steps.barPosition(), 9); // 50 × 1000 / 5200
    steps.stepDone();
    EXPECT_EQ(steps.current(), 1);
    EXPECT_EQ(steps.position(), 0);
    EXPECT_EQ(steps.barPosition(), 19); // 100 × 1000 / 5200
    steps.setPosition(1000);
    EXPECT_EQ(steps.barPosition(), 980);
    steps.stepDone();
    EXPECT_EQ(steps.currentText(), "Sending mail...") << "an empty text repeats the one before";
    EXPECT_EQ(steps.remainingTexts(), QStringList({"Sending mail..."}));
}

TEST(ProgressSteps, SettingTheCurrentStepFollowsItsRules)
{
    ProgressSteps steps;
    steps.add("a", 1);
    steps.add("b", 1);
    steps.setPosition(700);
    steps.setCurrent(0); // the current step: ignored, position stays
    EXPECT_EQ(steps.position(), 700);
    steps.setCurrent(-1);
    steps.setCurrent(3);
    EXPECT_EQ(steps.current(), 0);
    EXPECT_EQ(steps.position(), 700);
    steps.setCurrent(2); // the count: all done
    EXPECT_EQ(steps.current(), 1);
    EXPECT_EQ(steps.position(), 1000);
    EXPECT_EQ(steps.barPosition(), 1000);
    steps.setPosition(5000);
    EXPECT_EQ(steps.position(), 1000);
    steps.setPosition(-3);
    EXPECT_EQ(steps.position(), 0);
    steps.clear();
    EXPECT_EQ(steps.count(), 0);
    EXPECT_EQ(steps.barPosition(), 0);
    steps.add("huge", qint64(1) << 40);
    steps.add("small", 1);
    steps.setPosition(1000);
    EXPECT_EQ(steps.barPosition(), 999) << "64-bit weights do not overflow";
}
