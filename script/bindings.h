#pragma once
// Installs the default script callbacks and the drawing and camera functions.
void RegisterLuaBindings();
