// The script functions of the view: its guides, its projection, the keyboard and the mouse over
// it, and pictures of it.
#include "script/viewbindings.h"

#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "world/kestrovaworld.h"

static int w_setOverlays(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TBOOLEAN)
        return luaL_error(L, "setOverlays: expected true (show) or false (hide), got %s", luaL_typename(L, 1));
    g_world->ShowGuides(lua_toboolean(L, 1));
    return 0;
}

// What was given, for a message: the number as written, or the type.
static const char* Given(lua_State* L, int index)
{
    return lua_isnumber(L, index) ? lua_tostring(L, index) : luaL_typename(L, index);
}

static int w_setFieldOfView(lua_State* L)
{
    if (!lua_isnumber(L, 1) || !g_world->SetFieldOfView(float(lua_tonumber(L, 1))))
        return luaL_error(L, "setFieldOfView: expected degrees from %d to %d, got %s", int(World::kNarrowestView),
                          int(World::kWidestView), Given(L, 1));
    return 0;
}

static int w_setClipRange(lua_State* L)
{
    if (!lua_isnumber(L, 1) || !lua_isnumber(L, 2)
        || !g_world->SetClipRange(float(lua_tonumber(L, 1)), float(lua_tonumber(L, 2))))
        return luaL_error(L, "setClipRange: expected distances with 0 < near < far, got %s and %s", Given(L, 1),
                          Given(L, 2));
    return 0;
}

static int w_isKeyDown(lua_State* L)
{
    const char* name = luaL_checkstring(L, 1);
    if (!InputState::IsKeyName(name))
        return luaL_error(L, "isKeyDown: no key is named '%s' (the names: %s)", name, InputState::KeyNames());
    lua_pushboolean(L, g_world->input.KeyDown(name));
    return 1;
}

static int w_isMouseDown(lua_State* L)
{
    const lua_Number button = lua_tonumber(L, 1);
    if (!lua_isnumber(L, 1) || !(button == 1 || button == 2 || button == 3))
        return luaL_error(L, "isMouseDown: expected 1 (left), 2 (right) or 3 (middle), got %s", Given(L, 1));
    lua_pushboolean(L, g_world->input.ButtonDown(int(button)));
    return 1;
}

static int w_getMousePosition(lua_State* L)
{
    lua_pushnumber(L, g_world->input.mouseX);
    lua_pushnumber(L, g_world->input.mouseY);
    return 2;
}

// Leaves the message on the stack when the picture cannot be asked for: the caller raises it
// once the C++ string is gone.
static bool AskForScreenshot(lua_State* L, const char* file)
{
    const std::string problem = g_world->screenshots.Ask(file);
    if (problem.empty())
        return true;
    lua_pushfstring(L, "saveScreenshot: %s", problem.c_str());
    return false;
}

static int w_saveScreenshot(lua_State* L)
{
    const char* file = luaL_checkstring(L, 1);
    if (!AskForScreenshot(L, file))
        return lua_error(L);
    return 0;
}

static const luaL_Reg kViewFunctions[] = {
    {"setOverlays", w_setOverlays},
    {"setFieldOfView", w_setFieldOfView},
    {"setClipRange", w_setClipRange},
    {"isKeyDown", w_isKeyDown},
    {"isMouseDown", w_isMouseDown},
    {"getMousePosition", w_getMousePosition},
    {"saveScreenshot", w_saveScreenshot},
    {nullptr, nullptr},
};

void RegisterViewBindings(lua_State* L)
{
    for (const luaL_Reg* f = kViewFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
