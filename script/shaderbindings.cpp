// Script functions: loadShader, loadShadertoy, drawFullscreen, useShader, setUniform, loadTexture,
// newTarget, setTarget, useTexture, getViewSize.
#include "script/shaderbindings.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <QDir>
#include <QFileInfo>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "gpu/scriptgpu.h"
#include "gpu/scriptshader.h"
#include "gpu/scripttarget.h"
#include "gpu/scripttexture.h"
#include "gpu/shadertoyimport.h"
#include "script/drawstate.h"
#include "script/gpugate.h"
#include "script/luaengine.h"

static const char kShaderType[] = "quillmere.shader";
static const char kTextureType[] = "quillmere.texture";
static const char kTargetType[] = "quillmere.target";
static const char kImportType[] = "quillmere.shadertoy";
// Registry fields: the shaders by their files (weak values), and the objects in use, kept from
// collection while the owner draws with them.
static const char kShaderCache[] = "quillmere.shaders";
static const char kUsedShader[] = "quillmere.usedShader";
static const char kUsedTarget[] = "quillmere.usedTarget";
static const char kUsedTexture[] = "quillmere.usedTexture";
static constexpr int kMatrixValues = 16;
static constexpr int kBytesPerKilobyte = 1024;

// Whether the registry holds a used shader, target or texture to let go at the end of the chunk.
static bool g_referencesHeld = false;

template <typename T>
static T* ToObject(lua_State* L, int index, const char* type)
{
    return static_cast<T*>(ToGpuObject(L, index, type));
}

static ScriptSampler* ToSampler(lua_State* L, int index)
{
    if (ScriptTexture* texture = ToObject<ScriptTexture>(L, index, kTextureType))
        return texture;
    if (ScriptTarget* target = ToObject<ScriptTarget>(L, index, kTargetType))
        return target;
    return nullptr;
}

static const char* TypeName(lua_State* L, int index)
{
    if (ToObject<ScriptShader>(L, index, kShaderType))
        return "shader";
    if (ToObject<ScriptTexture>(L, index, kTextureType))
        return "texture";
    if (ToObject<ScriptTarget>(L, index, kTargetType))
        return "target";
    if (ToObject<ShadertoyImport>(L, index, kImportType))
        return "Shadertoy import";
    return luaL_typename(L, index);
}

static int Expected(lua_State* L, const char* function, const char* what, int index)
{
    return luaL_error(L, "%s: expected %s, got %s", function, what, TypeName(L, index));
}

// A new object's userdata, with an environment table of its own for what it refers to.
static GpuHandle* PushObject(lua_State* L, const char* type)
{
    GpuHandle* handle = PushGpuHandle(L, type);
    lua_newtable(L);
    lua_setfenv(L, -2);
    return handle;
}

// GL memory the collector does not see: as much collection work as that many bytes would cause.
static void StepCollector(lua_State* L, std::size_t bytes)
{
    lua_gc(L, LUA_GCSTEP, int(std::min<std::size_t>(bytes / kBytesPerKilobyte, 1 << 30)));
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
    GpuHandle* handle = PushObject(L, kShaderType);
    GpuCall(L, "loadShader", [&](ScriptGpu& gpu, std::string& why) {
        return gpu.Make<ScriptShader>(*handle, why, fragment, AbsolutePath(fragment), vertex ? vertex : "",
                                      vertex ? AbsolutePath(vertex) : std::string())
            != nullptr;
    });
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

static int w_loadShadertoy(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return Expected(L, "loadShadertoy", "a JSON file exported from Shadertoy", 1);
    const char* name = lua_tostring(L, 1);
    GpuHandle* handle = PushObject(L, kImportType);
    GpuCall(L, "loadShadertoy", [&](ScriptGpu& gpu, std::string& why) {
        return gpu.Make<ShadertoyImport>(*handle, why, name, AbsolutePath(name)) != nullptr;
    });
    return 1;
}

static const char* const kBlendNames[] = {"blend", "opaque", nullptr};

static int w_drawFullscreen(lua_State* L)
{
    ScriptShader* shader = ToObject<ScriptShader>(L, 1, kShaderType);
    ShadertoyImport* import = shader ? nullptr : ToObject<ShadertoyImport>(L, 1, kImportType);
    if (!shader && !import)
        return Expected(L, "drawFullscreen", "a shader or a Shadertoy import", 1);
    PassBlend blend = PassBlend::Default;
    if (!lua_isnoneornil(L, 2)) {
        const char* mode = lua_type(L, 2) == LUA_TSTRING ? lua_tostring(L, 2) : "";
        int which = 0;
        while (kBlendNames[which] && std::strcmp(kBlendNames[which], mode) != 0)
            ++which;
        if (!kBlendNames[which])
            return luaL_error(L, "drawFullscreen: expected \"blend\", \"opaque\" or nothing, got %s",
                              lua_type(L, 2) == LUA_TSTRING ? lua_pushfstring(L, "\"%s\"", mode) : luaL_typename(L, 2));
        blend = which == 0 ? PassBlend::Blend : PassBlend::Opaque;
    }
    GlCall(L, "drawFullscreen", [&](ScriptGpu& gpu, std::string&) {
        if (shader)
            gpu.DrawFullscreen(shader, blend);
        else
            gpu.DrawFullscreen(import, blend);
        return true;
    });
    return 0;
}

// The registry holds the shader before the owner draws with it.
static int w_useShader(lua_State* L)
{
    ScriptShader* shader = lua_isnoneornil(L, 1) ? nullptr : CheckShader(L, "useShader", 1);
    lua_pushvalue(L, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kUsedShader);
    g_referencesHeld = true;
    GlCall(L, "useShader", [&](ScriptGpu& gpu, std::string&) {
        gpu.UseShader(shader);
        return true;
    });
    return 0;
}

// Keeps the sampler at index 3, or none, under the uniform's name in the shader's environment,
// so that a sampler lives while the shader may sample it.
static void KeepSampler(lua_State* L, bool keep)
{
    lua_getfenv(L, 1);
    lua_pushvalue(L, 2);
    if (keep)
        lua_pushvalue(L, 3);
    else
        lua_pushnil(L);
    lua_rawset(L, -3);
    lua_pop(L, 1);
}

// The value is kept with the shader; the shader in use draws with it at once. A sampler is
// referenced before the shader points at it, and let go only after the shader has stopped.
static int w_setUniform(lua_State* L)
{
    ScriptShader* shader = CheckShader(L, "setUniform", 1);
    if (lua_type(L, 2) != LUA_TSTRING)
        return Expected(L, "setUniform", "a uniform name", 2);
    const char* name = lua_tostring(L, 2);
    const int count = lua_gettop(L) - 2;
    ScriptSampler* sampler = ToSampler(L, 3);
    float values[kMatrixValues];
    if (sampler) {
        if (count != 1)
            return luaL_error(L, "setUniform: expected one texture or target, got %d values", count);
        KeepSampler(L, true);
    } else {
        if (!(count >= 1 && count <= 4) && count != kMatrixValues)
            return luaL_error(L, "setUniform: expected 1 to 4 or 16 numbers, or a texture or target, got %d values",
                              count);
        for (int i = 0; i < count; ++i) {
            if (lua_type(L, 3 + i) != LUA_TNUMBER)
                return Expected(L, "setUniform", "numbers, or a texture or target", 3 + i);
            values[i] = float(lua_tonumber(L, 3 + i));
        }
    }
    const auto set = [&](ScriptGpu& gpu, std::string&) {
        if (sampler)
            shader->SetUniformSampler(name, sampler);
        else
            shader->SetUniform(name, values, count);
        gpu.UniformChanged(shader);
        return true;
    };
    const ScriptGpu* gpu = ScriptGpu::Current();
    if (gpu && gpu->UsedShader() == shader)
        GlCall(L, "setUniform", set);
    else
        GpuCall(L, "setUniform", set);
    if (!sampler)
        KeepSampler(L, false);
    return 0;
}

static int w_loadTexture(lua_State* L)
{
    if (lua_type(L, 1) != LUA_TSTRING)
        return Expected(L, "loadTexture", "an image file name", 1);
    const char* name = lua_tostring(L, 1);
    GpuHandle* handle = PushObject(L, kTextureType);
    ScriptTexture* texture = nullptr;
    GpuCall(L, "loadTexture", [&](ScriptGpu& gpu, std::string& why) {
        texture = gpu.Make<ScriptTexture>(*handle, why, AbsolutePath(name));
        if (!texture)
            why = name + (": " + why);
        return texture != nullptr;
    });
    StepCollector(L, std::size_t(texture->Width()) * std::size_t(texture->Height()) * 4);
    return 1;
}

// Whole pixels within the sides a texture may have; not-a-number and huge values are not.
static bool IsSide(lua_State* L, int index)
{
    if (lua_type(L, index) != LUA_TNUMBER)
        return false;
    const double side = lua_tonumber(L, index);
    return side >= 1 && side <= kLargestScriptImageSide && side == std::floor(side) && ScriptImageSideFits(int(side));
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
    GpuHandle* handle = PushObject(L, kTargetType);
    GpuCall(L, "newTarget", [&](ScriptGpu& gpu, std::string& why) {
        return gpu.Make<ScriptTarget>(*handle, why, width, height) != nullptr;
    });
    StepCollector(L, ScriptTarget::Bytes(width, height));
    return 1;
}

// The registry holds the target before the owner draws into it.
static int w_setTarget(lua_State* L)
{
    ScriptTarget* target = lua_isnoneornil(L, 1) ? nullptr : ToObject<ScriptTarget>(L, 1, kTargetType);
    if (!target && !lua_isnoneornil(L, 1))
        return Expected(L, "setTarget", "a target or nil", 1);
    lua_pushvalue(L, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kUsedTarget);
    g_referencesHeld = true;
    GlCall(L, "setTarget", [&](ScriptGpu& gpu, std::string& why) {
        const char* error = gpu.SetTarget(target);
        if (error)
            why = error;
        return !error;
    });
    return 0;
}

// The registry holds the texture or target before the owner draws with it.
static int w_useTexture(lua_State* L)
{
    ScriptSampler* sampler = ToSampler(L, 1);
    if (!sampler && !lua_isnoneornil(L, 1))
        return Expected(L, "useTexture", "a texture, a target or nil", 1);
    lua_pushvalue(L, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kUsedTexture);
    g_referencesHeld = true;
    TextureFor(sampler != nullptr);
    GlCall(L, "useTexture", [&](ScriptGpu& gpu, std::string&) {
        gpu.UseTexture(sampler);
        return true;
    });
    return 0;
}

static int w_getViewSize(lua_State* L)
{
    const ScriptGpu* gpu = ScriptGpu::Current();
    lua_pushinteger(L, gpu ? gpu->ViewWidth() : 0);
    lua_pushinteger(L, gpu ? gpu->ViewHeight() : 0);
    return 2;
}

static const luaL_Reg kShaderFunctions[] = {
    {"loadShader", w_loadShader},   {"loadShadertoy", w_loadShadertoy},   {"drawFullscreen", w_drawFullscreen}, {"useShader", w_useShader},
    {"setUniform", w_setUniform},   {"loadTexture", w_loadTexture},       {"newTarget", w_newTarget},
    {"setTarget", w_setTarget},     {"useTexture", w_useTexture},         {"getViewSize", w_getViewSize},
    {nullptr, nullptr},
};

void RegisterShaderBindings(lua_State* L)
{
    for (const char* type : {kShaderType, kTextureType, kTargetType, kImportType})
        NewGpuType(L, type);
    lua_newtable(L);
    lua_newtable(L);
    lua_pushstring(L, "v");
    lua_setfield(L, -2, "__mode");
    lua_setmetatable(L, -2);
    lua_setfield(L, LUA_REGISTRYINDEX, kShaderCache);
    for (const luaL_Reg* f = kShaderFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}

void EndShaderChunk()
{
    if (lua_State* L = g_luaState; L && g_referencesHeld) {
        g_referencesHeld = false;
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, kUsedShader);
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, kUsedTarget);
        lua_pushnil(L);
        lua_setfield(L, LUA_REGISTRYINDEX, kUsedTexture);
    }
    EndGpuChunk();
}
