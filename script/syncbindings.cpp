// Script functions of the sync tracks: the rows' tempo, the music's row, the tracks by name and
// their values, and the editor's document.
#include "script/syncbindings.h"

#include <cmath>
#include <new>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script/musicclock.h"
#include "sync/synctracks.h"

static const char kTrackType[] = "quillmere.track";
// name -> track: getTrack gives the same object for the same name, across reloads too.
static const char kTrackCache[] = "quillmere.tracks";
constexpr double kFastestBpm = 1000;
constexpr double kMostRowsPerBeat = 256;

static double MusicTime()
{
    return g_musicClock ? g_musicClock->Time() : 0;
}

static const char* Given(lua_State* L, int index)
{
    return lua_isnumber(L, index) ? lua_tostring(L, index) : luaL_typename(L, index);
}

static int w_setSyncTempo(lua_State* L)
{
    const double bpm = lua_isnumber(L, 1) ? lua_tonumber(L, 1) : NAN;
    const double rows = lua_isnumber(L, 2) ? lua_tonumber(L, 2) : NAN;
    if (!(bpm > 0 && bpm <= kFastestBpm))
        return luaL_error(L, "setSyncTempo: expected beats a minute above 0 and up to %f, got %s", kFastestBpm,
                          Given(L, 1));
    if (!(rows >= 1 && rows <= kMostRowsPerBeat && rows == std::floor(rows)))
        return luaL_error(L, "setSyncTempo: expected a whole number of rows a beat from 1 to %f, got %s",
                          kMostRowsPerBeat, Given(L, 2));
    g_syncTracks.SetTempo(bpm, rows);
    return 0;
}

static int w_getSyncRow(lua_State* L)
{
    lua_pushnumber(L, g_syncTracks.Row(MusicTime()));
    return 1;
}

// -1 when the track cannot be made.
static int FindTrack(const char* name, size_t length) noexcept
{
    try {
        return g_syncTracks.Find(std::string(name, length));
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

static int w_getTrack(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return luaL_error(L, "getTrack: expected a track's name, got %s", luaL_typename(L, 1));
    lua_settop(L, 1);
    lua_getfield(L, LUA_REGISTRYINDEX, kTrackCache);
    lua_pushvalue(L, 1);
    lua_rawget(L, 2);
    if (!lua_isnil(L, -1))
        return 1;
    lua_pop(L, 1);
    // The object first: a failed allocation leaves no track without one.
    int* index = static_cast<int*>(lua_newuserdata(L, sizeof(int)));
    size_t length = 0;
    const char* name = lua_tolstring(L, 1, &length);
    *index = FindTrack(name, length);
    if (*index < 0)
        return luaL_error(L, "getTrack: not enough memory");
    luaL_getmetatable(L, kTrackType);
    lua_setmetatable(L, -2);
    lua_pushvalue(L, 1);
    lua_pushvalue(L, 3);
    lua_rawset(L, 2);
    return 1;
}

// track:value([time])
static int w_value(lua_State* L)
{
    const int* index = static_cast<const int*>(luaL_checkudata(L, 1, kTrackType));
    double time;
    if (lua_isnoneornil(L, 2))
        time = MusicTime();
    else if (lua_isnumber(L, 2) && lua_tonumber(L, 2) == lua_tonumber(L, 2))
        time = lua_tonumber(L, 2);
    else
        return luaL_error(L, "value: expected a music time in seconds, or nothing for now, got %s", Given(L, 2));
    lua_pushnumber(L, g_syncTracks.At(*index).Value(g_syncTracks.Row(time)));
    return 1;
}

static int w_tostring(lua_State* L)
{
    const int* index = static_cast<const int*>(luaL_checkudata(L, 1, kTrackType));
    const std::string& name = g_syncTracks.At(*index).Name();
    lua_pushliteral(L, "track ");
    lua_pushlstring(L, name.data(), name.size());
    lua_concat(L, 2);
    return 1;
}

static int w_loadSyncDocument(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return luaL_error(L, "loadSyncDocument: expected the file name of the editor's document, got %s",
                          luaL_typename(L, 1));
    const char* path = lua_tostring(L, 1);
    auto* why = new std::string;
    if (!g_syncTracks.LoadDocument(path, *why)) {
        luaL_where(L, 1);
        lua_pushfstring(L, "loadSyncDocument: %s: %s", path, why->c_str());
        delete why;
        lua_concat(L, 2);
        return lua_error(L);
    }
    delete why;
    return 0;
}

static const luaL_Reg kSyncFunctions[] = {
    {"setSyncTempo", w_setSyncTempo},
    {"getSyncRow", w_getSyncRow},
    {"getTrack", w_getTrack},
    {"loadSyncDocument", w_loadSyncDocument},
    {nullptr, nullptr},
};

void RegisterSyncBindings(lua_State* L)
{
    for (const luaL_Reg* f = kSyncFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
    luaL_newmetatable(L, kTrackType);
    lua_newtable(L);
    lua_pushcfunction(L, w_value);
    lua_setfield(L, -2, "value");
    lua_setfield(L, -2, "__index");
    lua_pushcfunction(L, w_tostring);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);
    lua_newtable(L);
    lua_setfield(L, LUA_REGISTRYINDEX, kTrackCache);
}
