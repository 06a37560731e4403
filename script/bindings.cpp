#include "script/bindings.h"

#include <cmath>
#include <cstdint>

#include <GL/gl.h>

extern "C" {
#include <lua.h>
}

#include "gpu/gpumemory.h"
#include "script/luaengine.h"
#include "script/musicanalysisbindings.h"
#include "script/musicbindings.h"
#include "script/shaderbindings.h"
#include "world/kestrovaworld.h"

// The callbacks the world calls every frame, and the ones scripts may define for themselves;
// empty until a script replaces them, so the frame loop runs without any script at all.
static const char* const kDefaultCallbacks[] = {
    "function update() end",
    "function render() end",
    "function LMBDown(x,y) end",
    "function LMBUp(x,y) end",
    "function mousemove(x,y,px,py) end",
};

// Missing and non-numeric arguments read as 0; no binding raises an error.
static float Coordinate(lua_State* L, int index)
{
    return float(lua_tonumber(L, index));
}

// Truncated toward zero, low 8 bits kept. Values outside the 32-bit range and NaN give 0, where
// a plain conversion would be undefined.
static GLubyte Channel(lua_State* L, int index)
{
    const double value = lua_tonumber(L, index);
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return 0;
    return GLubyte(uint32_t(int32_t(value)) & 0xFF);
}

// A shape the script has begun and not yet ended. Between glBegin and glEnd GL takes nothing
// but vertices and colours, so the bindings never begin twice, never end what is not open, and
// step out of an open shape to draw a line.
static bool g_shapeOpen = false;

static int w_drawLine(lua_State* L)
{
    const float x1 = Coordinate(L, 1), y1 = Coordinate(L, 2), z1 = Coordinate(L, 3);
    const float x2 = Coordinate(L, 4), y2 = Coordinate(L, 5), z2 = Coordinate(L, 6);
    if (g_shapeOpen)
        glEnd();
    glBegin(GL_LINES);
    glColor3ub(255, 255, 255);  // stays the current colour afterwards
    glVertex3f(x1, y1, z1);
    glVertex3f(x2, y2, z2);
    glEnd();
    if (g_shapeOpen)
        glBegin(GL_TRIANGLES);
    return 0;
}

static int w_getCamPos(lua_State* L)
{
    const Vector3 p = g_world->GetCamera().GetPosition();
    lua_pushnumber(L, p.x);
    lua_pushnumber(L, p.y);
    lua_pushnumber(L, p.z);
    return 3;
}

// The unit vector the camera looks along.
static int w_getCamDir(lua_State* L)
{
    const Vector3 d = g_world->GetCamera().TransformDirection(Vector3(0, 0, -1)).Normalized();
    lua_pushnumber(L, d.x);
    lua_pushnumber(L, d.y);
    lua_pushnumber(L, d.z);
    return 3;
}

static int w_setCamPos(lua_State* L)
{
    g_world->GetCamera().SetPosition(Vector3(Coordinate(L, 1), Coordinate(L, 2), Coordinate(L, 3)));
    return 0;
}

static int w_rotateCam(lua_State* L)
{
    g_world->RotateCamera(Coordinate(L, 1), Coordinate(L, 2));
    return 0;
}

static int w_lookAt(lua_State* L)
{
    g_world->LookAt(Vector3(Coordinate(L, 1), Coordinate(L, 2), Coordinate(L, 3)));
    return 0;
}

// beginLinGL is this function too: it fills triangles.
static int w_beginTriGL(lua_State*)
{
    if (!g_shapeOpen)
        glBegin(GL_TRIANGLES);
    g_shapeOpen = true;
    return 0;
}

// Ends the shape a chunk began and left open (an error, a missing endGL, a begin outside
// render()), so that whatever the host draws next is not taken into it. Needs no GL context
// unless a shape is open.
static void EndOpenShape()
{
    if (g_shapeOpen)
        glEnd();
    g_shapeOpen = false;
}

void PauseOpenShape()
{
    if (g_shapeOpen)
        glEnd();
}

void ResumeOpenShape()
{
    if (g_shapeOpen)
        glBegin(GL_TRIANGLES);
}

// What the engine calls at the end of every chunk.
static void EndChunk()
{
    EndOpenShape();
    EndShaderChunk();
}

static int w_endGL(lua_State*)
{
    EndOpenShape();
    return 0;
}

static int w_vectorGL(lua_State* L)
{
    glVertex3f(Coordinate(L, 1), Coordinate(L, 2), Coordinate(L, 3));
    return 0;
}

static int w_colorGL(lua_State* L)
{
    glColor4ub(Channel(L, 1), Channel(L, 2), Channel(L, 3), Channel(L, 4));
    return 0;
}

struct Binding {
    const char* name;
    lua_CFunction function;
};

static const Binding kBindings[] = {
    {"drawLine", w_drawLine},   {"getCamPos", w_getCamPos},   {"setCamPos", w_setCamPos},
    {"rotateCam", w_rotateCam}, {"lookAt", w_lookAt},         {"beginTriGL", w_beginTriGL},
    {"beginLinGL", w_beginTriGL}, {"endGL", w_endGL},         {"vectorGL", w_vectorGL},
    {"colorGL", w_colorGL},     {"getCamDir", w_getCamDir},
};

void RegisterLuaBindings()
{
    for (const char* chunk : kDefaultCallbacks)
        RunLuaString(chunk);
    if (!g_luaState)
        return;
    for (const Binding& b : kBindings)
        lua_register(g_luaState, b.name, b.function);
    RegisterMusicBindings(g_luaState);
    RegisterShaderBindings(g_luaState);
    RegisterMusicAnalysisBindings(g_luaState);
    SetChunkEndHook(EndChunk);
    lua_State* L = g_luaState;
    SetScriptGpuCollector([L] { lua_gc(L, LUA_GCCOLLECT, 0); });
}
