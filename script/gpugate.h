#pragma once
// The one way a binding reaches the script's GPU objects: through the owner of the view that
// draws (gpu/scriptgpu.h), with any C++ exception of the GPU code turned into the usual error
// line here and nowhere else. A call that touches GL goes through the gate, the only code that
// saves and puts back GL state around what a binding does:
//
//   1. without the view's context current the binding raises "name: expected to be called while
//      the view draws (from render()), got no GL context";
//   2. an open shape (beginTriGL) is ended, after the transforms and the light caught up;
//   3. the current colour and normal, the enables, the depth state, the client arrays and pixel
//      store, and both matrices are saved;
//   4. the call runs; it may change any of these, and any binding;
//   5. the owner puts back the script's bindings (ScriptGpu::PutBack), the saved state comes
//      back, and the shape is begun again.
//
// A binding reads as a check and one call:
//
//   static int w_drawMesh(lua_State* L)
//   {
//       ScriptMesh* mesh = CheckMesh(L, 1, "drawMesh");
//       GlCall(L, "drawMesh", [&](ScriptGpu& gpu, std::string&) { gpu.DrawMesh(mesh); return true; });
//       return 0;
//   }
//
// The call returns false with the reason in why, and the binding raises "name: why". The call
// may hold C++ objects with destructors; the binding's own frame, where the error is raised,
// must hold none.
//
// Objects reach Lua as userdata holding a GpuHandle, one metatable per kind (NewGpuType), whose
// finaliser only marks the object dead.

#include <cstddef>
#include <string>
#include <type_traits>

struct lua_State;
struct GpuHandle;
class GpuObject;
class ScriptGpu;

using GpuCallback = bool (*)(void* call, ScriptGpu& gpu, std::string& why);
// What GpuCall and GlCall run: with gl, through the gate.
void RunGpuCall(lua_State* L, const char* function, bool gl, GpuCallback callback, void* call);

// call(ScriptGpu&, std::string& why) -> bool, without GL: making and changing objects.
template <typename Call>
void GpuCall(lua_State* L, const char* function, Call&& call)
{
    using C = std::remove_reference_t<Call>;
    RunGpuCall(L, function, false, [](void* c, ScriptGpu& gpu, std::string& why) { return (*static_cast<C*>(c))(gpu, why); },
               const_cast<void*>(static_cast<const void*>(&call)));
}

// The same through the gate, for a call that touches GL.
template <typename Call>
void GlCall(lua_State* L, const char* function, Call&& call)
{
    using C = std::remove_reference_t<Call>;
    RunGpuCall(L, function, true, [](void* c, ScriptGpu& gpu, std::string& why) { return (*static_cast<C*>(c))(gpu, why); },
               const_cast<void*>(static_cast<const void*>(&call)));
}

// Whether GlCall would run now: a view to draw in, its context current.
bool GlReady();

// Registers a kind of object under its metatable name ("quillmere.shader"): the finaliser
// that marks it dead, and the name getmetatable gives ("shader").
void NewGpuType(lua_State* L, const char* type);
// A new userdata of the kind on the stack, its handle holding no object yet. Made before the
// object, so that a failed allocation leaves nothing half made.
GpuHandle* PushGpuHandle(lua_State* L, const char* type);
// The object of the value at index when it is of the kind; null otherwise, or when its view
// has gone.
GpuObject* ToGpuObject(lua_State* L, int index, const char* type);

// What every owner is made with: a full collection of the script's objects, and a step of the
// collector for bytes taken, both run protected.
void CollectScriptObjects();
void StepScriptCollector(std::size_t bytes);
// At the end of every chunk: the owner's EndChunk, and its shader reports to the error strip.
void EndGpuChunk();
