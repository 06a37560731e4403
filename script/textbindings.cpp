// The script functions of text: fonts made from files or the built-in font, text drawn in the
// view's pixels or in the world.
#include "script/textbindings.h"

#include <cmath>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "gpu/scriptfont.h"
#include "gpu/scriptgpu.h"
#include "script/drawstate.h"
#include "script/gpugate.h"

static const char kFontType[] = "quillmere.font";

static ScriptFont* ToFont(lua_State* L, int index)
{
    return static_cast<ScriptFont*>(ToGpuObject(L, index, kFontType));
}

static ScriptFont* CheckFont(lua_State* L, int index, const char* name)
{
    ScriptFont* font = ToFont(L, index);
    if (!font)
        luaL_error(L, "%s: expected a font, got %s", name, luaL_typename(L, index));
    return font;
}

// Far more than a frame can show: laying out takes about 140 bytes and half a microsecond a
// character, so a text a hundred times larger would hold the program for minutes and then run
// it out of memory.
static constexpr std::size_t kLargestText = std::size_t(1) << 20;

// A string, or a number as Lua writes it.
static const char* CheckText(lua_State* L, int index, const char* name, std::size_t& length)
{
    if (!lua_isstring(L, index))
        luaL_error(L, "%s: expected a text, got %s", name, luaL_typename(L, index));
    const char* text = lua_tolstring(L, index, &length);
    if (length > kLargestText)
        luaL_error(L, "%s: expected a text of at most %d bytes, got %f", name, int(kLargestText), lua_Number(length));
    return text;
}

static lua_Number CheckNumber(lua_State* L, int index, const char* name)
{
    if (lua_type(L, index) != LUA_TNUMBER)
        luaL_error(L, "%s: expected a number as argument %d, got %s", name, index, luaL_typename(L, index));
    return lua_tonumber(L, index);
}

// An optional number greater than 0, fallback when nil.
static lua_Number CheckPositive(lua_State* L, int index, const char* name, const char* what, lua_Number fallback)
{
    if (lua_isnoneornil(L, index))
        return fallback;
    const lua_Number value = CheckNumber(L, index, name);
    if (!(value > 0 && std::isfinite(value)))
        luaL_error(L, "%s: expected a %s greater than 0, got %f", name, what, value);
    return value;
}

// newFont([file,] size): the userdata first, then the font.
static int w_newFont(lua_State* L)
{
    const bool fromFile = lua_type(L, 1) == LUA_TSTRING;
    if (!fromFile && lua_type(L, 1) != LUA_TNUMBER)
        return luaL_error(L, "newFont: expected a font file name or a size, got %s", luaL_typename(L, 1));
    const int sizeIndex = fromFile ? 2 : 1;
    const lua_Number size = CheckNumber(L, sizeIndex, "newFont");
    if (!(size >= 1 && size <= kLargestFontSize))
        return luaL_error(L, "newFont: expected a size in pixels from 1 to %d, got %f", int(kLargestFontSize), size);
    const char* file = fromFile ? lua_tostring(L, 1) : "";
    GpuHandle* handle = PushGpuHandle(L, kFontType);
    GpuCall(L, "newFont", [&](ScriptGpu& gpu, std::string& why) {
        return gpu.Make<ScriptFont>(*handle, why, file, double(size)) != nullptr;
    });
    return 1;
}

static TextAlign CheckAlign(lua_State* L, int index)
{
    if (lua_isnoneornil(L, index))
        return TextAlign::Left;
    const char* name = lua_type(L, index) == LUA_TSTRING ? lua_tostring(L, index) : "";
    if (std::strcmp(name, "left") == 0)
        return TextAlign::Left;
    if (std::strcmp(name, "center") == 0)
        return TextAlign::Center;
    if (std::strcmp(name, "right") == 0)
        return TextAlign::Right;
    luaL_error(L, "drawText: expected the align \"left\", \"center\" or \"right\", got %s",
               lua_type(L, index) == LUA_TSTRING ? name : luaL_typename(L, index));
    return TextAlign::Left;
}

// drawText(font, text, x, y [, align [, width]])
static int w_drawText(lua_State* L)
{
    ScriptFont* font = CheckFont(L, 1, "drawText");
    std::size_t length = 0;
    const char* text = CheckText(L, 2, "drawText", length);
    const float x = float(CheckNumber(L, 3, "drawText")), y = float(CheckNumber(L, 4, "drawText"));
    const TextAlign align = CheckAlign(L, 5);
    const double width = CheckPositive(L, 6, "drawText", "width", 0);
    if (g_drawState.recording)
        return 0;
    GlCall(L, "drawText", [&](ScriptGpu& gpu, std::string& why) {
        return font->DrawInView(font->Lay(text, length, width), align, width, x, y, gpu.DrawWidth(), gpu.DrawHeight(),
                                g_drawState.colour, why);
    });
    return 0;
}

// drawText3D(font, text [, height])
static int w_drawText3D(lua_State* L)
{
    ScriptFont* font = CheckFont(L, 1, "drawText3D");
    std::size_t length = 0;
    const char* text = CheckText(L, 2, "drawText3D", length);
    const double height = CheckPositive(L, 3, "drawText3D", "height", 1);
    if (g_drawState.recording)
        return 0;
    GlCall(L, "drawText3D", [&](ScriptGpu&, std::string& why) {
        return font->DrawInWorld(font->Lay(text, length, 0), height, g_drawState.colour, why);
    });
    return 0;
}

static int w_getWidth(lua_State* L)
{
    ScriptFont* font = CheckFont(L, 1, "getWidth");
    std::size_t length = 0;
    const char* text = CheckText(L, 2, "getWidth", length);
    double width = 0;
    GpuCall(L, "getWidth", [&](ScriptGpu&, std::string&) {
        width = font->Width(text, length);
        return true;
    });
    lua_pushnumber(L, width);
    return 1;
}

static int w_getHeight(lua_State* L)
{
    lua_pushnumber(L, CheckFont(L, 1, "getHeight")->LineHeight());
    return 1;
}

static int w_fontToString(lua_State* L)
{
    const ScriptFont* font = ToFont(L, 1);
    if (!font) {
        lua_pushliteral(L, "font: freed");
        return 1;
    }
    lua_pushfstring(L, "font: %s, %f px", font->Family().c_str(), font->Size());
    return 1;
}

static const luaL_Reg kFontMethods[] = {
    {"getWidth", w_getWidth},
    {"getHeight", w_getHeight},
    {nullptr, nullptr},
};

static const luaL_Reg kTextFunctions[] = {
    {"newFont", w_newFont},
    {"drawText", w_drawText},
    {"drawText3D", w_drawText3D},
    {nullptr, nullptr},
};

void RegisterTextBindings(lua_State* L)
{
    NewGpuType(L, kFontType);
    luaL_getmetatable(L, kFontType);
    lua_pushcfunction(L, w_fontToString);
    lua_setfield(L, -2, "__tostring");
    lua_newtable(L);
    luaL_register(L, nullptr, kFontMethods);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    for (const luaL_Reg* f = kTextFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
