#include <gtest/gtest.h>

#include <chrono>

#include "world/framepacer.h"

using std::chrono::milliseconds;
using Clock = FramePacer::Clock;

static const Clock::time_point kStart = Clock::time_point() + std::chrono::hours(1);

static double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Without a rate the loop waits 10 ms after each frame, however long it took.
TEST(FramePacer, WithoutARateTheLoopWaitsAfterEachFrame)
{
    FramePacer pacer;
    pacer.FrameStarted(kStart);
    EXPECT_EQ(pacer.WaitAfterFrame(kStart + milliseconds(3)), milliseconds(10));
    EXPECT_EQ(pacer.WaitAfterFrame(kStart + milliseconds(300)), milliseconds(10));
    pacer.SetRate(50);
    pacer.SetRate(0);
    EXPECT_EQ(pacer.WaitAfterFrame(kStart + milliseconds(3)), milliseconds(10));
}

// At a rate, frames start a period apart from start to start: a short frame waits the rest of
// the period, a long one is followed at once, and the frames it missed are not made up.
TEST(FramePacer, AtARateFramesStartAPeriodApartAndALateFrameIsFollowedAtOnce)
{
    FramePacer pacer;
    pacer.SetRate(60);
    EXPECT_EQ(Ms(pacer.WaitAfterFrame(kStart)), 0) << "nothing to wait for before the first frame";
    pacer.FrameStarted(kStart);
    EXPECT_NEAR(Ms(pacer.NextStart() - kStart), 1000.0 / 60, 1e-6);
    EXPECT_NEAR(Ms(pacer.WaitAfterFrame(kStart + milliseconds(5))), 1000.0 / 60 - 5, 1e-6);
    // 30 ms of work: late by more than a period.
    EXPECT_EQ(Ms(pacer.WaitAfterFrame(kStart + milliseconds(30))), 0);
    pacer.FrameStarted(kStart + milliseconds(30));
    EXPECT_NEAR(Ms(pacer.NextStart() - kStart), 30 + 1000.0 / 60, 1e-6);
    EXPECT_EQ(pacer.LastStart(), kStart + milliseconds(30));
}
