#pragma once
// The GL state the view's overlays (the status strip, the frame readout) draw with, and their
// quads. Overlays are drawn after a script's render(), which may leave any state: they set all
// they need and give back all they changed.

// Pushes the state the overlays change, then sets every piece they draw with: no depth test,
// blending, lighting, culling, fog, stencil, scissor or logic op, filled polygons, every colour
// channel written, textures replacing the colour, the pixel store of packed rows, and matrices of
// one unit a pixel from the bottom left corner of a viewport this size. Texturing is left off.
void SetupOverlayRenderState(int viewportWidth, int viewportHeight);
// Gives back all the set-up changed; the matrix mode is the one it found.
void RestoreOverlayRenderState();

// Within glBegin(GL_QUADS): a quad with its bottom left corner at (x, y), showing the part of the
// bound texture from s0 to s1 across; an image's first row is its top.
void OverlayQuad(int x, int y, int width, int height, float s0 = 0, float s1 = 1);
