#pragma once
// The script functions of text: newFont, drawText, drawText3D, font:getWidth and font:getHeight.
struct lua_State;

void RegisterTextBindings(lua_State* L);
