#include "script/bindings.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <sys/stat.h>

#include <GL/gl.h>

extern "C" {
#include <lua.h>
}

#include "script/drawstate.h"
#include "script/gpugate.h"
#include "script/luaengine.h"
#include "script/meshbindings.h"
#include "script/musicanalysisbindings.h"
#include "script/musicbindings.h"
#include "script/shaderbindings.h"
#include "script/syncbindings.h"
#include "script/textbindings.h"
#include "script/transformbindings.h"
#include "script/viewbindings.h"
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

// Missing and non-numeric arguments read as 0; these bindings raise no error, but for vectorGL
// past the most vertices a mesh being recorded may hold.
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

// A shape the script has begun and not yet ended (g_drawState.shapeOpen). Between glBegin and
// glEnd GL takes nothing but vertices, colours, normals and texture coordinates, so the
// bindings never begin twice, never end what is not open, and step out of an open shape to draw
// a line. While a mesh is recorded nothing is drawn.

// Lines are never lit nor textured. Without a context there is nothing to draw into, and nothing is drawn.
static int w_drawLine(lua_State* L)
{
    const float x1 = Coordinate(L, 1), y1 = Coordinate(L, 2), z1 = Coordinate(L, 3);
    const float x2 = Coordinate(L, 4), y2 = Coordinate(L, 5), z2 = Coordinate(L, 6);
    if (!g_drawState.recording && GlReady())
        GlCall(L, "drawLine", [&](ScriptGpu&, std::string&) {
            LightFor(false);
            glDisable(GL_TEXTURE_2D);
            glBegin(GL_LINES);
            glColor4ub(255, 255, 255, 255);
            glVertex3f(x1, y1, z1);
            glVertex3f(x2, y2, z2);
            glEnd();
            return true;
        });
    // The colour stays white afterwards.
    const GLubyte white[4] = {255, 255, 255, 255};
    std::memcpy(g_drawState.colour, white, sizeof white);
    glColor4ubv(white);
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
    DrawState& s = g_drawState;
    if (s.shapeOpen || s.recording)
        return 0;
    if (s.stale)
        SyncDrawState();
    glBegin(GL_TRIANGLES);
    s.shapeOpen = true;
    s.shapeVertices = 0;
    return 0;
}

// dofile(name, ...) as Lua's own (upvalue 1), but no name (standard input) and a name that is
// no regular file (a FIFO, a device) are refused as a missing file is: reading them would hold
// the window for ever. No C++ object lives here: the call may raise.
static int RegularDofile(lua_State* L)
{
    struct stat status;
    if (lua_isnoneornil(L, 1) || (lua_type(L, 1) == LUA_TSTRING && ::stat(lua_tostring(L, 1), &status) == 0
                                  && !S_ISREG(status.st_mode))) {
        lua_pushfstring(L, "cannot open %s: not a regular file",
                        lua_isnoneornil(L, 1) ? "standard input" : lua_tostring(L, 1));
        return lua_error(L);
    }
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_insert(L, 1);
    lua_call(L, lua_gettop(L) - 1, LUA_MULTRET);
    return lua_gettop(L);
}

// What the engine calls at the end of every chunk.
static void EndChunk()
{
    EndChunkDrawing();
    EndShaderChunk();
}

static int w_endGL(lua_State*)
{
    DrawState& s = g_drawState;
    if (s.shapeOpen && !s.recording)
        glEnd();
    s.shapeOpen = s.shapeOpen && s.recording;
    return 0;
}

static int w_vectorGL(lua_State* L)
{
    const float x = Coordinate(L, 1), y = Coordinate(L, 2), z = Coordinate(L, 3);
    if (g_drawState.recording)
        return RecordMeshVertex(L, x, y, z);
    SyncForVertex();
    glVertex3f(x, y, z);
    ++g_drawState.shapeVertices;
    return 0;
}

static int w_colorGL(lua_State* L)
{
    GLubyte* c = g_drawState.colour;
    c[0] = Channel(L, 1), c[1] = Channel(L, 2), c[2] = Channel(L, 3), c[3] = Channel(L, 4);
    glColor4ubv(c);
    return 0;
}

// The normal of the vertices that follow, in their own coordinates; from the first one a
// chunk gives, its vertices are lit while the light is on.
static int w_normalGL(lua_State* L)
{
    DrawState& s = g_drawState;
    s.normal = Vector3(Coordinate(L, 1), Coordinate(L, 2), Coordinate(L, 3));
    if (!s.normalGiven) {
        s.normalGiven = true;
        s.stale = s.stale || s.lightOn;
    }
    glNormal3f(s.normal.x, s.normal.y, s.normal.z);
    return 0;
}

// The texture coordinate of the vertices that follow; from the first one a chunk gives, the
// meshes it records carry theirs.
static int w_texCoordGL(lua_State* L)
{
    DrawState& s = g_drawState;
    s.texCoord[0] = Coordinate(L, 1);
    s.texCoord[1] = Coordinate(L, 2);
    s.texCoordGiven = true;
    glTexCoord2f(s.texCoord[0], s.texCoord[1]);
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
    {"colorGL", w_colorGL},     {"getCamDir", w_getCamDir},   {"normalGL", w_normalGL},
    {"texCoordGL", w_texCoordGL},
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
    RegisterTransformBindings(g_luaState);
    RegisterMeshBindings(g_luaState);
    RegisterSyncBindings(g_luaState);
    RegisterTextBindings(g_luaState);
    lua_getglobal(g_luaState, "dofile");
    lua_pushcclosure(g_luaState, RegularDofile, 1);
    lua_setglobal(g_luaState, "dofile");
    RegisterViewBindings(g_luaState);
    SetChunkEndHook(EndChunk);
}
