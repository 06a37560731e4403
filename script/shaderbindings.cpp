// Script functions: loadShader, drawFullscreen, useShader, setUniform, loadTexture, newTarget,
// setTarget, getViewSize.
#include "script/shaderbindings.h"

#include <GL/gl.h>

#include <algorithm>

#include <QDir>
#include <QFileInfo>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "gpu/gpumemory.h"
#include "gpu/scriptframe.h"
#include "gpu/scriptshader.h"
#include "gpu/scripttarget.h"
#include "gpu/scripttexture.h"
#include "script/drawstate.h"
#include "script/luaengine.h"
#include "script/musicclock.h"
#include "script/scriptfailures.h"
#include "world/kestrovaworld.h"

static const char kShaderType[] = "quillmere.shader";
static const char kTextureType[] = "quillmere.texture";
static const char kTargetType[] = "quillmere.target";
// Registry fields: the shaders by their files (weak values), and the objects in use, kept from
// collection while GL state refers to them.
static const char kShaderCache[] = "quillmere.shaders";
static const char kUsedShader[] = "quillmere.usedShader";
static const char kUsedTarget[] = "quillmere.usedTarget";
static const char kOutOfMemory[] = "the script's GPU memory (512 MiB) is used up";
static constexpr int kMatrixValues = 16;
static constexpr int kBytesPerKilobyte = 1024;

// The shader useShader set, until useShader(nil) or the end of the chunk.
static ScriptShader* g_usedShader = nullptr;
// Whether the registry holds a used shader or target to let go at the end of the chunk.
static bool g_referencesHeld = false;

// A userdata holds a pointer to its object, which its finaliser deletes.
template <typename T>
static T* ToObject(lua_State* L, int index, const char* type)
{
    if (!lua_isuserdata(L, index) || !lua_getmetatable(L, index))
        return nullptr;
    lua_getfield(L, LUA_REGISTRYINDEX, type);
    const bool match = lua_rawequal(L, -1, -2);
    lua_pop(L, 2);
    return match ? *static_cast<T**>(lua_touserdata(L, index)) : nullptr;
}

static const char* TypeName(lua_State* L, int index)
{
    if (ToObject<ScriptShader>(L, index, kShaderType))
        return "shader";
    if (ToObject<ScriptTexture>(L, index, kTextureType))
        return "texture";
    if (ToObject<ScriptTarget>(L, index, kTargetType))
        return "target";
    return luaL_typename(L, index);
}

static int Expected(lua_State* L, const char* function, const char* what, int index)
{
    return luaL_error(L, "%s: expected %s, got %s", function, what, TypeName(L, index));
}

template <typename T>
static int Finalise(lua_State* L)
{
    T** box = static_cast<T**>(lua_touserdata(L, 1));
    delete *box;
    *box = nullptr;
    return 0;
}

// Pushes a new userdata for the object, with its own environment table for what it refers to.
template <typename T>
static void PushObject(lua_State* L, T* object, const char* type)
{
    *static_cast<T**>(lua_newuserdata(L, sizeof(T*))) = object;
    lua_getfield(L, LUA_REGISTRYINDEX, type);
    lua_setmetatable(L, -2);
    lua_newtable(L);
    lua_setfenv(L, -2);
}

// GL memory the collector does not see: as much collection work as that many bytes would cause.
static void StepCollector(lua_State* L, std::size_t bytes)
{
    lua_gc(L, LUA_GCSTEP, int(bytes / kBytesPerKilobyte));
}

static bool HasContext()
{
    return QOpenGLContext::currentContext() != nullptr;
}

static ShaderFrameInputs FrameInputs()
{
    static long lastFrame = -1;
    static double lastTime = 0, delta = 0;
    ShaderFrameInputs in;
    const double time = g_musicClock ? g_musicClock->Time() : 0;
    if (ScriptGpuFrame() != lastFrame) {
        delta = lastFrame < 0 ? 0 : time - lastTime;
        lastFrame = ScriptGpuFrame();
        lastTime = time;
    }
    int width, height;
    CurrentDrawSize(width, height);
    in.resolution[0] = float(width);
    in.resolution[1] = float(height);
    in.time = float(time);
    in.timeDelta = float(delta);
    in.frame = float(ScriptGpuFrame() > 0 ? ScriptGpuFrame() - 1 : 0);
    if (g_world) {
        in.mouse[0] = g_world->mousePos.x;
        in.mouse[1] = g_world->mousePos.y;
        if (g_world->leftDown) {
            in.mouse[2] = in.mouse[0];
            in.mouse[3] = in.mouse[1];
        }
    }
    return in;
}

static std::string AbsolutePath(const char* path)
{
    return QFile::encodeName(QDir::cleanPath(QFileInfo(QFile::decodeName(path)).absoluteFilePath())).toStdString();
}

// The cache key of a shader's files: their absolute paths. The string lives on the heap, so that
// a Lua error raised by the push (out of memory) skips no destructor.
static void PushShaderKey(lua_State* L, const char* fragment, const char* vertex)
{
    auto* key = new std::string(AbsolutePath(fragment) + "\n" + (vertex ? AbsolutePath(vertex) : std::string()));
    lua_pushlstring(L, key->data(), key->size());
    delete key;
}

// A shader of those files with their text read; null with the reason in why.
static ScriptShader* ReadShader(const char* fragment, const char* vertex, std::string& why)
{
    auto* shader = new ScriptShader(fragment, AbsolutePath(fragment), vertex ? vertex : "",
                                    vertex ? AbsolutePath(vertex) : std::string());
    if (!shader->Read(why)) {
        delete shader;
        return nullptr;
    }
    for (const std::string& file : shader->Files())
        AnnounceScriptFile(file);
    return shader;
}

// The same files give the same shader while it lives: every reload of prod.lua loads it again.
static int w_loadShader(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return Expected(L, "loadShader", "a fragment shader file name", 1);
    if (!lua_isnoneornil(L, 2) && lua_type(L, 2) != LUA_TSTRING)
        return Expected(L, "loadShader", "a vertex shader file name or nothing", 2);
    lua_settop(L, 2);
    const char* fragment = lua_tostring(L, 1);
    const char* vertex = lua_tostring(L, 2);
    lua_getfield(L, LUA_REGISTRYINDEX, kShaderCache);
    PushShaderKey(L, fragment, vertex);
    lua_pushvalue(L, 4);
    lua_rawget(L, 3);
    if (ToObject<ScriptShader>(L, 5, kShaderType))
        return 1;
    lua_pop(L, 1);
    auto* why = new std::string;
    ScriptShader* shader = ReadShader(fragment, vertex, *why);
    if (!shader) {
        luaL_where(L, 1);
        lua_pushfstring(L, "loadShader: %s", why->c_str());
        delete why;
        lua_concat(L, 2);
        return lua_error(L);
    }
    delete why;
    PushObject(L, shader, kShaderType);
    lua_pushvalue(L, 4);
    lua_pushvalue(L, 5);
    lua_rawset(L, 3);
    return 1;
}

static ScriptShader* CheckShader(lua_State* L, const char* function, int index)
{
    ScriptShader* shader = ToObject<ScriptShader>(L, index, kShaderType);
    if (!shader)
        Expected(L, function, "a shader", index);
    return shader;
}

static void CheckContext(lua_State* L, const char* function)
{
    if (!HasContext())
        luaL_error(L, "%s: expected to be called while the view draws (from render()), got no GL context",
                   function);
}

// A quad over the whole target, texture coordinates 0 to 1, blended as the script's triangles
// are; no depth is tested or written.
static void DrawPass()
{
    const GLboolean depthTest = glIsEnabled(GL_DEPTH_TEST);
    GLboolean depthMask;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glColor4f(1, 1, 1, 1);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glDepthMask(depthMask);
    if (depthTest)
        glEnable(GL_DEPTH_TEST);
}

// The shader useShader set, bound again with the frame's inputs, or no program.
static void RestoreUsedShader()
{
    if (!g_usedShader || !g_usedShader->Use(FrameInputs()))
        ScriptGl()->glUseProgram(0);
}

static int w_drawFullscreen(lua_State* L)
{
    ScriptShader* shader = CheckShader(L, "drawFullscreen", 1);
    CheckContext(L, "drawFullscreen");
    LeaveShape();
    if (shader->Use(FrameInputs())) {
        DrawPass();
        RestoreUsedShader();
    }
    ReenterShape();
    return 0;
}

static int w_useShader(lua_State* L)
{
    ScriptShader* shader = lua_isnoneornil(L, 1) ? nullptr : CheckShader(L, "useShader", 1);
    CheckContext(L, "useShader");
    LeaveShape();
    g_usedShader = shader;
    lua_pushvalue(L, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kUsedShader);
    g_referencesHeld = true;
    RestoreUsedShader();
    NoteScriptGlState();
    ReenterShape();
    return 0;
}

static int w_setUniform(lua_State* L)
{
    ScriptShader* shader = CheckShader(L, "setUniform", 1);
    if (lua_type(L, 2) != LUA_TSTRING)
        return Expected(L, "setUniform", "a uniform name", 2);
    const int count = lua_gettop(L) - 2;
    ScriptSampler* sampler = nullptr;
    if (ScriptTexture* texture = ToObject<ScriptTexture>(L, 3, kTextureType))
        sampler = texture;
    else if (ScriptTarget* target = ToObject<ScriptTarget>(L, 3, kTargetType))
        sampler = target;
    lua_getfenv(L, 1);
    lua_pushvalue(L, 2);
    if (sampler) {
        if (count != 1)
            return luaL_error(L, "setUniform: expected one texture or target, got %d values", count);
        lua_pushvalue(L, 3);
        lua_rawset(L, -3);  // keeps the sampler alive while the shader uses it
        shader->SetUniformSampler(lua_tostring(L, 2), sampler);
    } else {
        if (!(count >= 1 && count <= 4) && count != kMatrixValues)
            return luaL_error(L, "setUniform: expected 1 to 4 or 16 numbers, or a texture or target, got %d values",
                              count);
        float values[kMatrixValues];
        for (int i = 0; i < count; ++i) {
            if (lua_type(L, 3 + i) != LUA_TNUMBER)
                return Expected(L, "setUniform", "numbers, or a texture or target", 3 + i);
            values[i] = float(lua_tonumber(L, 3 + i));
        }
        lua_pushnil(L);
        lua_rawset(L, -3);
        shader->SetUniform(lua_tostring(L, 2), values, count);
    }
    if (shader == g_usedShader && HasContext())
        RestoreUsedShader();
    return 0;
}

static int w_loadTexture(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return Expected(L, "loadTexture", "an image file name", 1);
    const char* name = lua_tostring(L, 1);
    auto* image = new QImage;
    auto* why = new std::string;
    const bool decoded = ScriptTexture::Decode(AbsolutePath(name), *image, *why);
    const std::size_t bytes = ScriptTexture::Bytes(*image);
    if (!decoded || !ReserveScriptGpuMemory(bytes)) {
        luaL_where(L, 1);
        lua_pushfstring(L, "loadTexture: %s: %s", name, decoded ? kOutOfMemory : why->c_str());
        delete image;
        delete why;
        lua_concat(L, 2);
        return lua_error(L);
    }
    delete why;
    auto* texture = new ScriptTexture(AbsolutePath(name));
    texture->SetImage(std::move(*image));
    delete image;
    AnnounceScriptFile(texture->Files().front());
    PushObject(L, texture, kTextureType);
    StepCollector(L, bytes);
    return 1;
}

static bool IsSide(lua_State* L, int index)
{
    if (lua_type(L, index) != LUA_TNUMBER)
        return false;
    const double side = lua_tonumber(L, index);
    return side == double(int(side)) && ScriptImageSideFits(int(side));
}

static int w_newTarget(lua_State* L)
{
    int width = 0, height = 0;
    if (!lua_isnoneornil(L, 1) || !lua_isnoneornil(L, 2)) {
        const int largest = LargestGlTextureSide() ? std::min(LargestGlTextureSide(), kLargestScriptImageSide)
                                                   : kLargestScriptImageSide;
        for (int index : {1, 2})
            if (!IsSide(L, index))
                return luaL_error(L, "newTarget: expected a width and a height in whole pixels from 1 to %d, got %s",
                                  largest, lua_isnumber(L, index) ? lua_tostring(L, index) : luaL_typename(L, index));
        width = int(lua_tonumber(L, 1));
        height = int(lua_tonumber(L, 2));
    }
    auto* target = new ScriptTarget(width, height);
    if (const char* error = target->Reserve()) {
        delete target;
        return luaL_error(L, "newTarget: %s", error);
    }
    PushObject(L, target, kTargetType);
    StepCollector(L, ScriptTarget::Bytes(width, height));
    return 1;
}

static int w_setTarget(lua_State* L)
{
    ScriptTarget* target = lua_isnoneornil(L, 1) ? nullptr : ToObject<ScriptTarget>(L, 1, kTargetType);
    if (!target && !lua_isnoneornil(L, 1))
        return Expected(L, "setTarget", "a target or nil", 1);
    CheckContext(L, "setTarget");
    LeaveShape();
    if (ScriptTarget* current = CurrentScriptTarget())
        current->EndDrawing();
    const char* error = target ? target->BeginDrawing() : nullptr;
    if (!target || error)
        BindHostFramebuffer();
    SetCurrentScriptTarget(error ? nullptr : target);
    if (error)
        lua_pushnil(L);
    else
        lua_pushvalue(L, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kUsedTarget);
    g_referencesHeld = true;
    ReenterShape();
    if (error)
        return luaL_error(L, "setTarget: %s", error);
    // What the shader in use draws now has the target's size.
    if (g_usedShader)
        RestoreUsedShader();
    return 0;
}

static int w_getViewSize(lua_State* L)
{
    lua_pushinteger(L, ScriptViewWidth());
    lua_pushinteger(L, ScriptViewHeight());
    return 2;
}

static const luaL_Reg kShaderFunctions[] = {
    {"loadShader", w_loadShader},   {"drawFullscreen", w_drawFullscreen}, {"useShader", w_useShader},
    {"setUniform", w_setUniform},   {"loadTexture", w_loadTexture},       {"newTarget", w_newTarget},
    {"setTarget", w_setTarget},     {"getViewSize", w_getViewSize},       {nullptr, nullptr},
};

static void NewType(lua_State* L, const char* type, lua_CFunction finalise)
{
    luaL_newmetatable(L, type);
    lua_pushcfunction(L, finalise);
    lua_setfield(L, -2, "__gc");
    lua_pushstring(L, type + sizeof "quillmere." - 1);
    lua_setfield(L, -2, "__metatable");
    lua_pop(L, 1);
}

static void ShowShaderError(const std::string& name, const std::string& error)
{
    g_scriptFailures.Report(name, error);
}

void RegisterShaderBindings(lua_State* L)
{
    NewType(L, kShaderType, Finalise<ScriptShader>);
    NewType(L, kTextureType, Finalise<ScriptTexture>);
    NewType(L, kTargetType, Finalise<ScriptTarget>);
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, kShaderCache);
    for (const luaL_Reg* f = kShaderFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
    SetShaderErrorHook(ShowShaderError);
}

void EndShaderChunk()
{
    g_usedShader = nullptr;
    if (lua_State* L = g_luaState; L && g_referencesHeld) {
        g_referencesHeld = false;
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, kUsedShader);
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, kUsedTarget);
    }
    RestoreScriptGlState();
}
