// Script functions of the music's analysis, read at the music clock's time.
#include "script/musicanalysisbindings.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "analysis/soundtrackanalysis.h"
#include "script/musicclock.h"

// Before the analysis knows the music's rate, frequencies are checked against the rate the
// soundtrack is mixed at.
constexpr double kMixedRate = 44100;
constexpr double kSecondsPerMinute = 60;
constexpr double kFastestSetBpm = 1000;
// A frame stands for the music since the frame before, unless the time went back or on by more
// than this: that is a jump (or the first frame), which stands for one frame step before it.
constexpr double kLongestFrameSpan = 0.25;
// The frame step before any was seen.
constexpr double kFirstFrameSpan = 1.0 / 60;

// Frames are counted, and the music's time is read at a frame's first onset and kept for the
// next frame's span, so that a scene that reads no onset has its clock read no more than before.
static long g_frame = 0;
static long g_timedFrame = -1;
// The music's time at the first onset read this frame and at the frame before (NaN when that
// frame read none), and the latest step between two frames that was not a jump.
static double g_frameTime = NAN;
static double g_lastFrameTime = NAN;
static double g_frameSpan = kFirstFrameSpan;

static double MusicTime()
{
    return g_musicClock ? g_musicClock->Time() : 0;
}

static double HighestHz()
{
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    return (analysis ? analysis->Rate() : kMixedRate) / 2;
}

// The band the two arguments give, or an error naming the range. No C++ object lives here:
// luaL_error does not return.
static void CheckBand(lua_State* L, const char* function, double& low, double& high)
{
    const double top = HighestHz();
    if (lua_isnumber(L, 1) && lua_isnumber(L, 2)) {
        low = lua_tonumber(L, 1);
        high = lua_tonumber(L, 2);
        if (low >= 0 && low < high && high <= top)
            return;
    }
    luaL_error(L, "%s: expected frequencies 0 <= lowHz < highHz <= %f (half the sample rate), got %s and %s",
               function, top, lua_isnumber(L, 1) ? lua_tostring(L, 1) : luaL_typename(L, 1),
               lua_isnumber(L, 2) ? lua_tostring(L, 2) : luaL_typename(L, 2));
}

static int w_getMusicLevel(lua_State* L)
{
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    lua_pushnumber(L, analysis ? analysis->Level(MusicTime()) : 0);
    return 1;
}

static int w_getMusicBand(lua_State* L)
{
    double low, high;
    CheckBand(L, "getMusicBand", low, high);
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    lua_pushnumber(L, analysis ? analysis->Band(MusicTime(), low, high) : 0);
    return 1;
}

void BeginMusicFrame()
{
    ++g_frame;
}

static void TimeFrame()
{
    if (g_timedFrame == g_frame)
        return;
    g_lastFrameTime = g_timedFrame == g_frame - 1 ? g_frameTime : NAN;
    g_frameTime = MusicTime();
    g_timedFrame = g_frame;
    const double step = g_frameTime - g_lastFrameTime;
    if (step > 0 && step <= kLongestFrameSpan)
        g_frameSpan = step;
}

// The strongest onset since the frame before: a hit is high for one analysis step (12 ms), which
// a frame's single time would fall beside at most frame rates. Paused, the span is the instant.
static int w_getMusicOnset(lua_State* L)
{
    double low, high;
    CheckBand(L, "getMusicOnset", low, high);
    const MusicAnalysis* analysis = ReadyMusicAnalysis();
    if (!analysis) {
        lua_pushnumber(L, 0);
        return 1;
    }
    TimeFrame();
    const double now = MusicTime();
    double from = g_lastFrameTime;
    if (!(now >= from && now - from <= kLongestFrameSpan))
        from = now - g_frameSpan;
    lua_pushnumber(L, analysis->StrongestOnset(from, now, low, high));
    return 1;
}

// getMusicSpectrum(n [, t]): a table of n bands, or t filled with them.
static int w_getMusicSpectrum(lua_State* L)
{
    const double n = lua_isnumber(L, 1) ? lua_tonumber(L, 1) : 0;
    if (!(n >= 1 && n <= kMaxSpectrumBands && n == std::floor(n)))
        return luaL_error(L, "getMusicSpectrum: expected a whole number of bands from 1 to %d, got %s",
                          kMaxSpectrumBands, lua_isnumber(L, 1) ? lua_tostring(L, 1) : luaL_typename(L, 1));
    if (!lua_isnoneornil(L, 2) && !lua_istable(L, 2))
        return luaL_error(L, "getMusicSpectrum: expected a table to fill as the second argument, got %s",
                          luaL_typename(L, 2));
    const int count = int(n);
    float bands[kMaxSpectrumBands];
    if (const MusicAnalysis* analysis = ReadyMusicAnalysis())
        analysis->Spectrum(MusicTime(), count, bands);
    else
        std::fill(bands, bands + count, 0.0f);
    if (lua_istable(L, 2))
        lua_settop(L, 2);
    else
        lua_createtable(L, count, 0);
    for (int i = 0; i < count; ++i) {
        lua_pushnumber(L, bands[i]);
        lua_rawseti(L, -2, i + 1);
    }
    return 1;
}

static int w_getMusicTempo(lua_State* L)
{
    const MusicTempo tempo = CurrentMusicTempo();
    lua_pushnumber(L, tempo.bpm);
    lua_pushnumber(L, tempo.firstBeat);
    return 2;
}

static int w_getMusicBeat(lua_State* L)
{
    const MusicTempo tempo = CurrentMusicTempo();
    lua_pushnumber(L, tempo.bpm > 0 ? (MusicTime() - tempo.firstBeat) * tempo.bpm / kSecondsPerMinute : 0);
    return 1;
}

// setMusicTempo(bpm [, firstBeat]): without a first beat the estimate's stays.
static int w_setMusicTempo(lua_State* L)
{
    const double bpm = lua_isnumber(L, 1) ? lua_tonumber(L, 1) : NAN;
    if (!(bpm > 0 && bpm <= kFastestSetBpm))
        return luaL_error(L, "setMusicTempo: expected beats a minute above 0 and up to %f, got %s", kFastestSetBpm,
                          lua_isnumber(L, 1) ? lua_tostring(L, 1) : luaL_typename(L, 1));
    const double first = lua_isnumber(L, 2) ? lua_tonumber(L, 2) : NAN;
    if (!lua_isnoneornil(L, 2) && !(first >= 0 && std::isfinite(first)))
        return luaL_error(L, "setMusicTempo: expected the first beat in seconds from 0 on, got %s",
                          lua_isnumber(L, 2) ? lua_tostring(L, 2) : luaL_typename(L, 2));
    MusicTempo tempo = CurrentMusicTempo();
    tempo.bpm = bpm;
    if (!lua_isnoneornil(L, 2))
        tempo.firstBeat = first;
    SetMusicTempo(tempo);
    return 0;
}

// setMusicLoop(from, to) sets the loop, setMusicLoop() removes it.
static int w_setMusicLoop(lua_State* L)
{
    if (lua_gettop(L) == 0) {
        if (g_musicClock)
            g_musicClock->ClearLoop();
        return 0;
    }
    const double length = g_musicClock ? g_musicClock->Length() : 0;
    const double from = lua_isnumber(L, 1) ? lua_tonumber(L, 1) : NAN;
    const double to = lua_isnumber(L, 2) ? lua_tonumber(L, 2) : NAN;
    if (!(from >= 0 && from < to && std::isfinite(to) && (length <= 0 || to <= length))) {
        const char* given1 = lua_isnumber(L, 1) ? lua_tostring(L, 1) : luaL_typename(L, 1);
        const char* given2 = lua_isnumber(L, 2) ? lua_tostring(L, 2) : luaL_typename(L, 2);
        if (length > 0)
            return luaL_error(L, "setMusicLoop: expected seconds 0 <= from < to <= %f (the music's length), "
                                 "got %s and %s", length, given1, given2);
        return luaL_error(L, "setMusicLoop: expected seconds 0 <= from < to, got %s and %s", given1, given2);
    }
    if (g_musicClock)
        g_musicClock->SetLoop(from, to);
    return 0;
}

static const luaL_Reg kMusicAnalysisFunctions[] = {
    {"getMusicLevel", w_getMusicLevel},
    {"getMusicBand", w_getMusicBand},
    {"getMusicSpectrum", w_getMusicSpectrum},
    {"getMusicOnset", w_getMusicOnset},
    {"getMusicTempo", w_getMusicTempo},
    {"getMusicBeat", w_getMusicBeat},
    {"setMusicTempo", w_setMusicTempo},
    {"setMusicLoop", w_setMusicLoop},
    {nullptr, nullptr},
};

void RegisterMusicAnalysisBindings(lua_State* L)
{
    for (const luaL_Reg* f = kMusicAnalysisFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
