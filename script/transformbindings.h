#pragma once
// The script functions of the transform stack and the light: pushMatrix, popMatrix, translate,
// rotate, scale and setLight.
struct lua_State;

void RegisterTransformBindings(lua_State* L);
