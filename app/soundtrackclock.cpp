#include "app/soundtrackclock.h"

#include <algorithm>
#include <cstdio>

// How much slower or faster than the wall clock the time may run while it follows the stream's
// position: that position stalls when the audio thread is late and jumps ahead by up to a mixing
// buffer after a resume, while the scene's time must advance on every frame.
constexpr double kSlowest = 0.5;
constexpr double kFastest = 2;

double SoundtrackClock::Time()
{
    const bool atEnd = ended.load();
    if (atEnd && length > 0)
        time = length;
    if (!started || paused || atEnd)
        return time;
    const WallClock::time_point now = WallClock::now();
    const double elapsed = std::chrono::duration<double>(now - lastRead).count();
    lastRead = now;
    const double heard = stream ? FSOUND_Stream_GetTime(stream) : time + elapsed;
    time = std::clamp(heard, time + elapsed * kSlowest, time + elapsed * kFastest);
    return time;
}

double SoundtrackClock::Length() const
{
    return length;
}

bool SoundtrackClock::Paused() const
{
    return paused;
}

void SoundtrackClock::SetPaused(bool pause)
{
    if (pause == paused)
        return;
    // Stands still at what is heard when the pause begins.
    Time();
    paused = pause;
    lastRead = WallClock::now();
    if (started && stream)
        FSOUND_Stream_SetPaused(stream, pause);
}

void SoundtrackClock::Seek(double seconds)
{
    // Cleared first: the stream, started again near its end, may end again at once.
    const bool wasEnded = ended.exchange(false);
    if (started && stream && !FSOUND_Stream_SetTime(stream, seconds)) {
        ended.store(wasEnded);
        return;
    }
    time = seconds;
    lastRead = WallClock::now();
}

void SoundtrackClock::MarkEnded()
{
    ended.store(true);
}

void SoundtrackClock::Start(FSOUND_STREAM* soundtrack)
{
    stream = soundtrack;
    started = true;
    lastRead = WallClock::now();
    if (!stream)
        return;
    length = std::max(0.0, FSOUND_Stream_GetLength(stream));
    // A jump made before the length was known (by prod.lua, which runs before the soundtrack
    // starts) may lie past the end.
    if (time > 0 && length > 0 && time >= length) {
        std::printf("setMusicTime: %g lies past the end of the music (%g s); it plays from the start\n",
                    time, length);
        std::fflush(stdout);
        time = 0;
    }
    if (time > 0)
        FSOUND_Stream_SetTime(stream, time);
    if (paused)
        FSOUND_Stream_SetPaused(stream, 1);
}
