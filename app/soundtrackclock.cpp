#include "app/soundtrackclock.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// How much slower or faster than the wall clock the time may run while it follows the stream's
// position: that position stalls when the audio thread is late and jumps ahead by up to a mixing
// buffer after a resume, while the scene's time must advance on every frame.
constexpr double kSlowest = 0.5;
constexpr double kFastest = 2;
// A loop's jump back is told from the position's jitter by its size: at least this part of the
// loop's length.
constexpr double kLoopJumpShare = 0.5;

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
    if (looping && heard < time - kLoopJumpShare * (loopTo - loopFrom))
        time = heard;
    else
        time = std::clamp(heard, time + elapsed * kSlowest, time + elapsed * kFastest);
    // Without a stream the wall clock loops here; with one, the stream loops to the sample and
    // this only holds the smoothed time back from passing the loop's end.
    if (looping && time >= loopTo)
        time = stream ? std::nextafter(loopTo, 0.0) : loopFrom + std::fmod(time - loopFrom, loopTo - loopFrom);
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
    if (looping && length > 0 && loopTo > length) {
        std::printf("setMusicLoop: the loop's end %g lies past the end of the music (%g s); no loop\n", loopTo, length);
        std::fflush(stdout);
        looping = false;
    }
    if (looping)
        looping = PlaceLoop(loopFrom, loopTo);
    if (paused)
        FSOUND_Stream_SetPaused(stream, 1);
}

// Hands the loop to the stream; false, with a line that says why when it is the stream's format,
// when the stream refuses it.
bool SoundtrackClock::PlaceLoop(double from, double to)
{
    if (FSOUND_Stream_SetLoopPoints(stream, from, to))
        return true;
    if (FSOUND_GetError() == FSOUND_ERR_FILE_FORMAT) {
        std::printf("setMusicLoop: the soundtrack's format cannot loop (WAV, FLAC, Ogg Vorbis, Opus and MP3 can); no loop\n");
        std::fflush(stdout);
    }
    return false;
}

void SoundtrackClock::SetLoop(double from, double to)
{
    if (started && stream && !PlaceLoop(from, to))
        return;
    looping = true;
    loopFrom = from;
    loopTo = to;
}

void SoundtrackClock::ClearLoop()
{
    if (!looping)
        return;
    looping = false;
    if (started && stream)
        FSOUND_Stream_SetLoopPoints(stream, 0, 0);
}

bool SoundtrackClock::Loop(double& from, double& to) const
{
    from = loopFrom;
    to = loopTo;
    return looping;
}
