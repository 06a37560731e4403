// The script functions of the transform stack and the light.
#include "script/transformbindings.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script/drawstate.h"

// A number (or a string that reads as one) at index, or an error naming the function.
static float Number(lua_State* L, int index, const char* name)
{
    if (!lua_isnumber(L, index))
        luaL_error(L, "%s: expected a number as argument %d, got %s", name, index, luaL_typename(L, index));
    return float(lua_tonumber(L, index));
}

static Vector3 Vector(lua_State* L, int first, const char* name)
{
    return Vector3(Number(L, first, name), Number(L, first + 1, name), Number(L, first + 2, name));
}

static int w_pushMatrix(lua_State* L)
{
    if (!g_drawState.transforms.Push())
        return luaL_error(L, "pushMatrix: more than %d levels", TransformStack::kMaxDepth);
    return 0;
}

static int w_popMatrix(lua_State* L)
{
    if (!g_drawState.transforms.Pop())
        return luaL_error(L, "popMatrix: nothing pushed");
    g_drawState.stale = true;
    return 0;
}

static int w_translate(lua_State* L)
{
    g_drawState.transforms.Translate(Vector(L, 1, "translate"));
    g_drawState.stale = true;
    return 0;
}

static int w_rotate(lua_State* L)
{
    const float angle = Number(L, 1, "rotate");
    const Vector3 axis = Vector(L, 2, "rotate");
    if (axis.Length() == 0)
        return luaL_error(L, "rotate: expected an axis, got 0, 0, 0");
    g_drawState.transforms.Rotate(angle, axis);
    g_drawState.stale = true;
    return 0;
}

// One number scales alike along all three axes.
static int w_scale(lua_State* L)
{
    const int given = lua_gettop(L);
    if (given == 2)
        return luaL_error(L, "scale: expected 1 or 3 numbers, got 2");
    const float x = Number(L, 1, "scale");
    g_drawState.transforms.Scale(given == 1 ? Vector3(x, x, x) : Vector(L, 1, "scale"));
    g_drawState.stale = true;
    return 0;
}

// setLight(x, y, z) lights from that direction; setLight(nil) or setLight() puts it out.
static int w_setLight(lua_State* L)
{
    DrawState& s = g_drawState;
    if (lua_isnoneornil(L, 1)) {
        s.lightOn = false;
    } else {
        const Vector3 d = Vector(L, 1, "setLight");
        if (d.Length() == 0)
            return luaL_error(L, "setLight: expected a direction or nil, got 0, 0, 0");
        s.lightOn = true;
        s.lightDirection = d;
        s.lightPlaced = false;
    }
    s.stale = true;
    return 0;
}

static const luaL_Reg kTransformFunctions[] = {
    {"pushMatrix", w_pushMatrix}, {"popMatrix", w_popMatrix}, {"translate", w_translate},
    {"rotate", w_rotate},         {"scale", w_scale},         {"setLight", w_setLight},
    {nullptr, nullptr},
};

// A new state starts with an empty stack and the light out.
void RegisterTransformBindings(lua_State* L)
{
    g_drawState = DrawState();
    for (const luaL_Reg* f = kTransformFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
