#pragma once
// Installs the default script callbacks and the drawing and camera functions, and has the engine
// end any shape a chunk leaves open.
void RegisterLuaBindings();
