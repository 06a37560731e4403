#pragma once
// The script functions for shaders, textures and render targets.

struct lua_State;

void RegisterShaderBindings(lua_State* L);
// At the end of every chunk: the script's shader and target are let go and the host's GL state
// is put back.
void EndShaderChunk();
