#pragma once
// The script functions of meshes: newMesh, beginMesh, endMesh, drawMesh and mesh:setVertices.
struct lua_State;

void RegisterMeshBindings(lua_State* L);
// vectorGL while a mesh is being recorded: the vertex with the current colour and normal.
// Raises an error when the mesh would hold too many vertices or memory runs out.
int RecordMeshVertex(lua_State* L, float x, float y, float z);
