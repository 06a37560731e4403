// The script functions of meshes: triangles built once, from a table or from the drawing calls
// a script already makes, and drawn in one call.
#include "script/meshbindings.h"

#include <GL/gl.h>

#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "gpu/scriptgpu.h"
#include "gpu/scriptmesh.h"
#include "script/drawstate.h"
#include "script/gpugate.h"

static const char kMeshType[] = "quillmere.mesh";

// A mesh of count vertices on the stack, its vertices unwritten, or an error naming the
// function that asked. The userdata comes first: when there is no memory for it, nothing
// else has been made.
static ScriptMesh* PushMesh(lua_State* L, const MeshLayout& layout, std::uint32_t count, const char* name)
{
    GpuHandle* handle = PushGpuHandle(L, kMeshType);
    ScriptMesh* mesh = nullptr;
    GpuCall(L, name, [&](ScriptGpu& gpu, std::string& why) {
        return (mesh = gpu.Make<ScriptMesh>(*handle, why, layout, count)) != nullptr;
    });
    return mesh;
}

static ScriptMesh* ToMesh(lua_State* L, int index)
{
    return static_cast<ScriptMesh*>(ToGpuObject(L, index, kMeshType));
}

static ScriptMesh* CheckMesh(lua_State* L, int index, const char* name)
{
    ScriptMesh* mesh = ToMesh(L, index);
    if (!mesh)
        luaL_error(L, "%s: expected a mesh, got %s", name, luaL_typename(L, index));
    return mesh;
}

static bool LayoutNamed(const char* format, MeshLayout& layout)
{
    struct Named {
        const char* name;
        MeshLayout layout;
    };
    static const Named kFormats[] = {{"xyzrgba", kMeshXyzRgba},     {"xyz", kMeshXyz},
                                     {"xyznxnynzrgba", kMeshXyzNormalRgba}, {"xyzuv", kMeshXyzUv},
                                     {"xyzuvrgba", kMeshXyzUvRgba}, {"xyznxnynzuvrgba", kMeshXyzNormalUvRgba}};
    for (const Named& f : kFormats)
        if (std::strcmp(format, f.name) == 0) {
            layout = f.layout;
            return true;
        }
    return false;
}

static void CheckTable(lua_State* L, int index, const char* name)
{
    if (!lua_istable(L, index))
        luaL_error(L, "%s: expected a table of numbers, got %s", name, luaL_typename(L, index));
}

// The numbers of count vertices from index 1 of the table at tableIndex, checked and, with
// out, written in the layout. Raises an error naming the first bad index.
static void ReadVertices(lua_State* L, int tableIndex, const MeshLayout& layout, std::uint32_t count,
                         unsigned char* out, const char* name)
{
    const int colourFrom = layout.numbers - (layout.colourOffset >= 0 ? 4 : 0);
    int index = 1;
    for (std::uint32_t v = 0; v < count; ++v) {
        float* floats = reinterpret_cast<float*>(out + std::size_t(v) * layout.stride);
        for (int k = 0; k < layout.numbers; ++k, ++index) {
            lua_rawgeti(L, tableIndex, index);
            if (lua_type(L, -1) != LUA_TNUMBER)
                luaL_error(L, "%s: expected a number at index %d, got %s", name, index, luaL_typename(L, -1));
            const lua_Number value = lua_tonumber(L, -1);
            lua_pop(L, 1);
            if (k < colourFrom) {
                if (out)
                    floats[k] = float(value);
            } else if (!(value >= 0 && value <= 255)) {
                luaL_error(L, "%s: expected a colour channel from 0 to 255 at index %d, got %f", name, index, value);
            } else if (out) {
                out[std::size_t(v) * layout.stride + layout.colourOffset + (k - colourFrom)] = std::uint8_t(value);
            }
        }
    }
}

// How many vertices the table's numbers make, or an error naming the first index that
// does not belong to a whole one (a whole triangle when triangles).
static std::uint32_t CountVertices(lua_State* L, int tableIndex, const MeshLayout& layout, bool triangles, const char* name)
{
    const std::size_t numbers = lua_objlen(L, tableIndex);
    const std::size_t unit = std::size_t(layout.numbers) * (triangles ? 3 : 1);
    if (numbers % unit != 0)
        luaL_error(L, "%s: expected whole %s of %d numbers, got %d numbers: the last from index %d is cut short", name,
                   triangles ? "triangles" : "vertices", int(unit), int(numbers), int(numbers - numbers % unit + 1));
    const std::size_t vertices = numbers / layout.numbers;
    if (vertices > kMeshMaxVertices)
        luaL_error(L, "%s: expected at most %d vertices, got %d: index %d is one too many", name, int(kMeshMaxVertices),
                   int(vertices), int(std::size_t(kMeshMaxVertices) * layout.numbers + 1));
    return std::uint32_t(vertices);
}

static int w_newMesh(lua_State* L)
{
    CheckTable(L, 1, "newMesh");
    MeshLayout layout = kMeshXyzRgba;
    if (!lua_isnoneornil(L, 2) && !(lua_type(L, 2) == LUA_TSTRING && LayoutNamed(lua_tostring(L, 2), layout)))
        return luaL_error(L,
                          "newMesh: expected the format \"xyzrgba\", \"xyz\", \"xyznxnynzrgba\", \"xyzuv\", "
                          "\"xyzuvrgba\" or \"xyznxnynzuvrgba\", got %s",
                          lua_type(L, 2) == LUA_TSTRING ? lua_tostring(L, 2) : luaL_typename(L, 2));
    const std::uint32_t count = CountVertices(L, 1, layout, true, "newMesh");
    ScriptMesh* mesh = PushMesh(L, layout, count, "newMesh");
    // On an error the unfinished mesh is garbage, and its collection gives its memory back.
    ReadVertices(L, 1, layout, count, count ? mesh->Vertex(0) : nullptr, "newMesh");
    return 1;
}

// mesh:setVertices(first, vertices): checked whole before any is written, so that an error
// leaves the mesh as it was.
static int w_setVertices(lua_State* L)
{
    ScriptMesh* mesh = CheckMesh(L, 1, "setVertices");
    if (lua_type(L, 2) != LUA_TNUMBER)
        return luaL_error(L, "setVertices: expected the first vertex's number, got %s", luaL_typename(L, 2));
    CheckTable(L, 3, "setVertices");
    const std::uint32_t count = CountVertices(L, 3, mesh->Layout(), false, "setVertices");
    const lua_Number first = lua_tonumber(L, 2);
    const std::uint32_t total = mesh->VertexCount();
    if (!(first >= 1 && first <= double(total) - count + 1) || first != lua_Number(std::uint32_t(first)))
        return luaL_error(L, "setVertices: expected a first vertex from 1 to %d for %d vertices, got %f",
                          int(total) - int(count) + 1, int(count), first);
    ReadVertices(L, 3, mesh->Layout(), count, nullptr, "setVertices");
    if (count == 0)
        return 0;
    const std::uint32_t from = std::uint32_t(first) - 1;
    ReadVertices(L, 3, mesh->Layout(), count, mesh->Vertex(from), "setVertices");
    mesh->Changed(from, count);
    return 0;
}

static int w_drawMesh(lua_State* L)
{
    ScriptMesh* mesh = CheckMesh(L, 1, "drawMesh");
    if (g_drawState.recording || mesh->VertexCount() == 0)
        return 0;
    const bool normals = mesh->Layout().normalOffset >= 0;
    PlaceLightFor(normals);
    GlCall(L, "drawMesh", [&](ScriptGpu& gpu, std::string&) {
        LightFor(normals);
        gpu.DrawMesh(mesh);
        return true;
    });
    return 0;
}

int RecordMeshVertex(lua_State* L, float x, float y, float z)
{
    std::vector<RecordedVertex>& recorded = g_drawState.recorded;
    if (recorded.size() >= kMeshMaxVertices)
        return luaL_error(L, "vectorGL: expected at most %d vertices in a mesh, got one more", int(kMeshMaxVertices));
    const DrawState& s = g_drawState;
    const RecordedVertex v = {{x, y, z}, {s.normal.x, s.normal.y, s.normal.z}, {s.texCoord[0], s.texCoord[1]},
                              {s.colour[0], s.colour[1], s.colour[2], s.colour[3]}};
    bool stored = true;
    try {
        recorded.push_back(v);
    } catch (const std::bad_alloc&) {
        stored = false;
    }
    if (!stored)
        return luaL_error(L, "vectorGL: expected memory for the mesh being recorded, got none");
    return 0;
}

static int w_beginMesh(lua_State* L)
{
    if (g_drawState.recording)
        return luaL_error(L, "beginMesh: expected endMesh for the mesh begun before, got beginMesh");
    DropMeshRecording();
    g_drawState.recording = true;
    return 0;
}

static const MeshLayout& RecordedLayout()
{
    const bool normals = g_drawState.normalGiven, uv = g_drawState.texCoordGiven;
    if (uv)
        return normals ? kMeshXyzNormalUvRgba : kMeshXyzUvRgba;
    return normals ? kMeshXyzNormalRgba : kMeshXyzRgba;
}

// A mesh with normals when a normal was given in the chunk before its last vertex, and with
// texture coordinates when one was.
static int w_endMesh(lua_State* L)
{
    if (!g_drawState.recording)
        return luaL_error(L, "endMesh: expected a mesh begun by beginMesh, got none");
    g_drawState.recording = false;
    const std::size_t count = g_drawState.recorded.size();
    if (count % 3 != 0) {
        DropMeshRecording();
        return luaL_error(L, "endMesh: expected whole triangles, got %d vertices", int(count));
    }
    const MeshLayout& layout = RecordedLayout();
    // An error here leaves the recording to the end of the chunk, which drops it.
    ScriptMesh* mesh = PushMesh(L, layout, std::uint32_t(count), "endMesh");
    for (std::uint32_t i = 0; i < count; ++i) {
        const RecordedVertex& v = g_drawState.recorded[i];
        unsigned char* out = mesh->Vertex(i);
        std::memcpy(out, v.position, sizeof v.position);
        if (layout.normalOffset >= 0)
            std::memcpy(out + layout.normalOffset, v.normal, sizeof v.normal);
        if (layout.uvOffset >= 0)
            std::memcpy(out + layout.uvOffset, v.uv, sizeof v.uv);
        std::memcpy(out + layout.colourOffset, v.colour, sizeof v.colour);
    }
    DropMeshRecording();
    return 1;
}

static int w_meshToString(lua_State* L)
{
    const ScriptMesh* mesh = ToMesh(L, 1);
    lua_pushfstring(L, "mesh: %d vertices", mesh ? int(mesh->VertexCount()) : 0);
    return 1;
}

static const luaL_Reg kMeshMethods[] = {
    {"setVertices", w_setVertices},
    {nullptr, nullptr},
};

static const luaL_Reg kMeshFunctions[] = {
    {"newMesh", w_newMesh},
    {"beginMesh", w_beginMesh},
    {"endMesh", w_endMesh},
    {"drawMesh", w_drawMesh},
    {nullptr, nullptr},
};

void RegisterMeshBindings(lua_State* L)
{
    NewGpuType(L, kMeshType);
    luaL_getmetatable(L, kMeshType);
    lua_pushcfunction(L, w_meshToString);
    lua_setfield(L, -2, "__tostring");
    lua_newtable(L);
    luaL_register(L, nullptr, kMeshMethods);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);
    for (const luaL_Reg* f = kMeshFunctions; f->name; ++f)
        lua_register(L, f->name, f->func);
}
