// The bindings' way to the script's GPU objects, and the gate around their GL calls.
#include "script/gpugate.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <limits>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "analysis/soundtrackanalysis.h"
#include "gpu/gpuobject.h"
#include "gpu/scriptgpu.h"
#include "script/drawstate.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "world/kestrovaworld.h"

// The reason of the failed call being raised: kept here, so that no frame that raises holds it.
static std::string g_why;

static HostInputs HostNow()
{
    HostInputs host;
    host.time = g_musicClock ? g_musicClock->Time() : 0;
    if (g_world) {
        host.pointer[0] = g_world->mousePos.x;
        host.pointer[1] = g_world->mousePos.y;
        host.leftHeld = g_world->leftDown;
    }
    host.music = MusicRows{FillMusicTextureRows, kMusicTextureWidth};
    return host;
}

static void Enter()
{
    LeaveShape();
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT | GL_DEPTH_BUFFER_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT | GL_CLIENT_PIXEL_STORE_BIT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
}

// The owner's bindings first: putting back the shader in use may upload a texture or make a
// framebuffer, whose state the pops below then undo.
static void Leave(ScriptGpu& gpu)
{
    gpu.PutBack();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
    ReenterShape();
}

void RunGpuCall(lua_State* L, const char* function, bool gl, GpuCallback callback, void* call)
{
    ScriptGpu* gpu = ScriptGpu::Current();
    if (!gpu)
        luaL_error(L, "%s: expected a view to draw in, got none", function);
    if (gl && !gpu->ContextCurrent())
        luaL_error(L, "%s: expected to be called while the view draws (from render()), got no GL context", function);
    if (gl) {
        gpu->SetHostInputs(HostNow());
        Enter();
    }
    const bool done = Guarded([&] { return callback(call, *gpu, g_why); }, g_why);
    if (gl)
        Leave(*gpu);
    if (!done)
        luaL_error(L, "%s: %s", function, g_why.c_str());
}

bool GlReady()
{
    const ScriptGpu* gpu = ScriptGpu::Current();
    return gpu && gpu->ContextCurrent();
}

static const char* TypeName(const char* type)
{
    const char* dot = type;
    while (*dot && *dot != '.')
        ++dot;
    return *dot ? dot + 1 : type;
}

static int MarkDead(lua_State* L)
{
    auto* handle = static_cast<GpuHandle*>(lua_touserdata(L, 1));
    if (handle->object)
        handle->object->MarkDead();
    return 0;
}

void NewGpuType(lua_State* L, const char* type)
{
    luaL_newmetatable(L, type);
    lua_pushcfunction(L, MarkDead);
    lua_setfield(L, -2, "__gc");
    lua_pushstring(L, TypeName(type));
    lua_setfield(L, -2, "__metatable");
    lua_pop(L, 1);
}

GpuHandle* PushGpuHandle(lua_State* L, const char* type)
{
    auto* handle = static_cast<GpuHandle*>(lua_newuserdata(L, sizeof(GpuHandle)));
    handle->object = nullptr;
    luaL_getmetatable(L, type);
    lua_setmetatable(L, -2);
    return handle;
}

GpuObject* ToGpuObject(lua_State* L, int index, const char* type)
{
    if (!lua_isuserdata(L, index) || !lua_getmetatable(L, index))
        return nullptr;
    luaL_getmetatable(L, type);
    const bool match = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return match ? static_cast<GpuHandle*>(lua_touserdata(L, index))->object : nullptr;
}

static int CollectAll(lua_State* L)
{
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

// Protected: a finaliser a script set on a userdata of its own may raise; that error is dropped.
void CollectScriptObjects()
{
    if (lua_State* L = g_luaState)
        if (lua_cpcall(L, CollectAll, nullptr) != 0)
            lua_pop(L, 1);
}

static int StepBy(lua_State* L)
{
    lua_gc(L, LUA_GCSTEP, int(reinterpret_cast<std::uintptr_t>(lua_touserdata(L, 1))));
    return 0;
}

void StepScriptCollector(std::size_t bytes)
{
    const std::size_t kilobytes = std::min(bytes >> 10, std::size_t(std::numeric_limits<int>::max()));
    if (lua_State* L = g_luaState; L && kilobytes > 0)
        if (lua_cpcall(L, StepBy, reinterpret_cast<void*>(std::uintptr_t(kilobytes))) != 0)
            lua_pop(L, 1);
}

void EndGpuChunk()
{
    ScriptGpu* gpu = ScriptGpu::Current();
    if (!gpu)
        return;
    gpu->EndChunk();
    for (const GpuReport& report : gpu->TakeReports())
        g_scriptFailures.Report(report.name, report.error);
}
