#include "script/musicbindings.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script/musicclock.h"

static int w_getMusicTime(lua_State* L)
{
    lua_pushnumber(L, g_musicClock ? g_musicClock->Time() : 0);
    return 1;
}

static int w_getMusicLength(lua_State* L)
{
    lua_pushnumber(L, g_musicClock ? g_musicClock->Length() : 0);
    return 1;
}

// Raises an error that names the valid range and what was given; nothing else changes. No C++
// object lives here: luaL_error does not return.
static int BadMusicTime(lua_State* L)
{
    const char* given = lua_isnumber(L, 1) ? lua_tostring(L, 1) : luaL_typename(L, 1);
    const double length = g_musicClock ? g_musicClock->Length() : 0;
    if (length > 0)
        return luaL_error(L, "setMusicTime: expected seconds from 0 to below the music's length "
                             "%f, got %s", length, given);
    return luaL_error(L, "setMusicTime: expected seconds from 0 on, got %s", given);
}

// Without a clock there is nothing to move, but a valid time is no error.
static int w_setMusicTime(lua_State* L)
{
    if (!lua_isnumber(L, 1) || !IsValidMusicTime(lua_tonumber(L, 1)))
        return BadMusicTime(L);
    SeekMusic(lua_tonumber(L, 1));
    return 0;
}

static int w_pauseMusic(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TBOOLEAN)
        return luaL_error(L, "pauseMusic: expected true (pause) or false (resume), got %s",
                          luaL_typename(L, 1));
    if (g_musicClock)
        g_musicClock->SetPaused(lua_toboolean(L, 1));
    return 0;
}

static const luaL_Reg kMusicFunctions[] = {
    {"getMusicTime", w_getMusicTime},
    {"getMusicLength", w_getMusicLength},
    {"setMusicTime", w_setMusicTime},
    {"pauseMusic", w_pauseMusic},
    {nullptr, nullptr},
};

void RegisterMusicBindings(lua_State* L)
{
    for (const luaL_Reg* f = kMusicFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
