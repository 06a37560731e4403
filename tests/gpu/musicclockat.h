#pragma once
// A music clock standing at one time, the program's clock while it lives.

#include "script/musicclock.h"

class MusicClockAt : public MusicClock {
public:
    explicit MusicClockAt(double time) : time(time) { g_musicClock = this; }
    ~MusicClockAt() override { g_musicClock = nullptr; }
    double Time() override { return time; }
    double Length() const override { return 0; }
    bool Paused() const override { return false; }
    void SetPaused(bool) override {}
    void Seek(double) override {}
    double time;
};
