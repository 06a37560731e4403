#pragma once
// When the frame loop starts its next frame. Without a rate, 10 ms after the end of each frame.
// At a rate of N frames a second, 1/N s after the start of the last frame, never sooner; a frame
// that ran longer than that is followed at once, and the loop does not catch up on the frames
// it missed.

#include <chrono>

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    // The wait after each frame without a rate.
    static constexpr std::chrono::milliseconds kRearm{10};

    // 0 for no rate.
    void SetRate(int framesPerSecond);
    int Rate() const { return rate; }

    // The frame's work begins at `now`.
    void FrameStarted(Clock::time_point now);
    // The earliest start of the next frame; only meaningful with a rate and after a frame.
    Clock::time_point NextStart() const { return lastStart + period; }
    // A frame's work ended at `now`: how long the loop waits before the next one may start.
    Clock::duration WaitAfterFrame(Clock::time_point now) const;
    // When the latest frame started.
    Clock::time_point LastStart() const { return lastStart; }

private:
    int rate = 0;
    Clock::duration period{};
    Clock::time_point lastStart{};
    bool started = false;
};
