#pragma once
// What the window's view and an offscreen capture share around the world's own drawing, so that
// a captured frame is drawn exactly as the window draws it. The world sets every other piece of
// GL state it draws with itself, on every frame (World::SetupRenderState).

class World;

// Once per GL context: the black clear colour.
void SetupViewGL();
// One frame into the bound framebuffer and its viewport: the GL names script objects left behind
// freed and their changed files read again, clear, then the world.
void PaintWorld(World& world);

// Whether the toolkit will find a display to draw on: a window system named on the command line
// (-platform, -display) or in QT_QPA_PLATFORM, or an X or Wayland display in the environment.
// Without one the toolkit ends the process with a core dump rather than an error.
bool DisplayAvailable(bool windowSystemGiven);
