#include "bench/trianglefield.h"

#include <cstdint>

#include <GL/gl.h>

extern "C" {
#include <lua.h>
}

#include "script/luaengine.h"

// The start camera looks at this point from about 21 units away; a cube of this half-size
// around it stays inside the view, and triangles of this size cover some 15 to 20 pixels.
static constexpr float kCentre[3] = {144, 60, 45};
static constexpr float kHalfSpread = 8;
static constexpr float kTriangleSize = 1;

// The script's render() as a demo would write it: globals, one batch, one colour a triangle.
static const char kRenderChunk[] =
    "function render()\n"
    "  local v, n = benchTriangles, benchCount\n"
    "  beginTriGL()\n"
    "  for k = 1, 13 * n, 13 do\n"
    "    colorGL(v[k], v[k + 1], v[k + 2], v[k + 3])\n"
    "    vectorGL(v[k + 4], v[k + 5], v[k + 6])\n"
    "    vectorGL(v[k + 7], v[k + 8], v[k + 9])\n"
    "    vectorGL(v[k + 10], v[k + 11], v[k + 12])\n"
    "  end\n"
    "  endGL()\n"
    "end\n";

// The same loop with the bindings swapped for a C function that does nothing: what the
// interpreter alone costs.
static const char kCallsOnlyChunk[] =
    "function benchCallsOnly()\n"
    "  local v, n = benchTriangles, benchCount\n"
    "  benchNop()\n"
    "  for k = 1, 13 * n, 13 do\n"
    "    benchNop(v[k], v[k + 1], v[k + 2], v[k + 3])\n"
    "    benchNop(v[k + 4], v[k + 5], v[k + 6])\n"
    "    benchNop(v[k + 7], v[k + 8], v[k + 9])\n"
    "    benchNop(v[k + 10], v[k + 11], v[k + 12])\n"
    "  end\n"
    "  benchNop()\n"
    "end\n";

static int Nop(lua_State*)
{
    return 0;
}

// A fixed linear congruential sequence, so every run draws the same field.
static float Next(uint32_t& state)
{
    state = state * 1664525u + 1013904223u;
    return float(state >> 8) / float(1u << 24);
}

TriangleField::TriangleField(int count)
    : count(count)
{
    uint32_t state = 12345;
    numbers.reserve(size_t(count) * kNumbersPerTriangle);
    for (int t = 0; t < count; ++t) {
        for (int c = 0; c < 3; ++c)
            numbers.push_back(float(int(Next(state) * 255)));
        numbers.push_back(float(128 + int(Next(state) * 127)));
        float corner[3];
        for (int axis = 0; axis < 3; ++axis)
            corner[axis] = kCentre[axis] + (Next(state) * 2 - 1) * kHalfSpread;
        for (int v = 0; v < 3; ++v)
            for (int axis = 0; axis < 3; ++axis)
                numbers.push_back(corner[axis] + (v == 0 ? 0 : (Next(state) - 0.5f) * 2 * kTriangleSize));
    }
}

void TriangleField::Draw() const
{
    const float* n = numbers.data();
    glBegin(GL_TRIANGLES);
    for (int t = 0; t < count; ++t, n += kNumbersPerTriangle) {
        glColor4ub(GLubyte(n[0]), GLubyte(n[1]), GLubyte(n[2]), GLubyte(n[3]));
        glVertex3f(n[4], n[5], n[6]);
        glVertex3f(n[7], n[8], n[9]);
        glVertex3f(n[10], n[11], n[12]);
    }
    glEnd();
}

void TriangleField::InstallScriptRender() const
{
    lua_State* L = g_luaState;
    lua_createtable(L, int(numbers.size()), 0);
    for (size_t i = 0; i < numbers.size(); ++i) {
        lua_pushnumber(L, numbers[i]);
        lua_rawseti(L, -2, int(i + 1));
    }
    lua_setfield(L, LUA_GLOBALSINDEX, "benchTriangles");
    lua_pushinteger(L, count);
    lua_setfield(L, LUA_GLOBALSINDEX, "benchCount");
    lua_register(L, "benchNop", Nop);
    RunLuaString(kRenderChunk);
    RunLuaString(kCallsOnlyChunk);
}

void TriangleField::InstallMeshNumbers() const
{
    lua_State* L = g_luaState;
    lua_createtable(L, count * 21, 0);
    int index = 0;
    const float* n = numbers.data();
    for (int t = 0; t < count; ++t, n += kNumbersPerTriangle)
        for (int v = 0; v < 3; ++v) {
            for (int k = 0; k < 3; ++k) {
                lua_pushnumber(L, n[4 + 3 * v + k]);
                lua_rawseti(L, -2, ++index);
            }
            for (int k = 0; k < 4; ++k) {
                lua_pushnumber(L, n[k]);
                lua_rawseti(L, -2, ++index);
            }
        }
    lua_setfield(L, LUA_GLOBALSINDEX, "benchMeshNumbers");
}
