#pragma once
// The script functions of the view: setOverlays, setFieldOfView, setClipRange, isKeyDown,
// isMouseDown, getMousePosition and saveScreenshot.
struct lua_State;

void RegisterViewBindings(lua_State* L);
