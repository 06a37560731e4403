#pragma once
// The GL state and the frame's drawing that the window's view and an offscreen capture share, so
// that a captured frame is drawn exactly as the window draws it.

class World;

// Once per GL context: black clear colour, depth test with GL_LESS, blending by source alpha.
void SetupViewGL();
// One frame into the bound framebuffer and its viewport: clear, the polygon offset that keeps
// lines in front of filled faces at the same depth, then the world.
void PaintWorld(World& world);
