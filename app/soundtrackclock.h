#pragma once
// The music's clock while the program runs: seconds of the soundtrack as it is heard, or, without
// a soundtrack, of the wall clock from the first frame on. It stands at 0 (or where a jump put
// it) until the soundtrack starts.
#include <atomic>
#include <chrono>

#include "script/musicclock.h"
#include "sound/fsound.h"

class SoundtrackClock : public MusicClock {
public:
    double Time() override;
    double Length() const override;
    bool Paused() const override;
    void SetPaused(bool paused) override;
    void Seek(double seconds) override;
    void SetLoop(double from, double to) override;
    void ClearLoop() override;
    bool Loop(double& from, double& to) const override;

    // Starts the clock with the soundtrack's stream, null without one, before the stream plays:
    // a pause or a jump made before carries over to the stream.
    void Start(FSOUND_STREAM* stream);
    // The stream has played to its end and the program goes on: the time stands at the end
    // until a jump. Called on the audio thread.
    void MarkEnded();

private:
    using WallClock = std::chrono::steady_clock;
    bool PlaceLoop(double from, double to);

    FSOUND_STREAM* stream = nullptr;
    bool started = false;
    bool paused = false;
    double length = 0;
    double time = 0;
    WallClock::time_point lastRead;
    std::atomic<bool> ended{false};
    bool looping = false;
    double loopFrom = 0;
    double loopTo = 0;
};
