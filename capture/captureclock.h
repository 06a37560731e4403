#pragma once
// The music's clock during a capture: it stands at the time of the video frame being made.

#include "script/musicclock.h"

class CaptureClock : public MusicClock {
public:
    explicit CaptureClock(double length);

    void SetTime(double seconds);

    double Time() override;
    double Length() const override;
    // A frame's time is fixed by its place in the video: pausing and jumping change nothing.
    bool Paused() const override;
    void SetPaused(bool paused) override;
    void Seek(double seconds) override;

private:
    double time = 0;
    double length;
};
