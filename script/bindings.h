#pragma once
// Installs the default script callbacks and the drawing and camera functions, and has the engine
// end any shape a chunk leaves open.
void RegisterLuaBindings();

// Steps out of a shape the script has open (nothing when none is), and back into it: what the
// shader functions draw lies between.
void PauseOpenShape();
void ResumeOpenShape();
