#include "script/musicclock.h"

#include <chrono>
#include <cmath>
#include <limits>

MusicClock* g_musicClock = nullptr;

static std::chrono::steady_clock::time_point g_lastJump;
static bool g_jumped = false;

bool IsValidMusicTime(double seconds)
{
    if (!(seconds >= 0) || std::isinf(seconds))
        return false;
    const double length = g_musicClock ? g_musicClock->Length() : 0;
    return length <= 0 || seconds < length;
}

bool SeekMusic(double seconds)
{
    if (!g_musicClock || !IsValidMusicTime(seconds))
        return false;
    g_musicClock->Seek(seconds);
    g_lastJump = std::chrono::steady_clock::now();
    g_jumped = true;
    return true;
}

double SecondsSinceMusicJump()
{
    if (!g_jumped)
        return std::numeric_limits<double>::max();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - g_lastJump).count();
}
