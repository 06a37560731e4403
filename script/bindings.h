#pragma once
// Installs the default script callbacks and the drawing and camera functions.
void RegisterLuaBindings();

// Ends the shape a chunk began and left open (an error, a missing endGL, a begin outside
// render()), so that whatever the host draws next is not taken into it. Needs no GL context
// unless a shape is open.
void EndOpenShape();
