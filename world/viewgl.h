#pragma once
// What the window's view and an offscreen capture share around the world's own drawing, so that
// a captured frame is drawn exactly as the window draws it. The world sets every other piece of
// GL state it draws with itself, on every frame (World::SetupRenderState).

#include <QSurfaceFormat>

class ScriptGpu;
class World;

// Once per GL context: the black clear colour.
void SetupViewGL();
// One frame into the bound framebuffer and its viewport: the script's objects that died since the
// last frame freed and their changed files read again (ScriptGpu::BeginFrame), clear, then the
// world.
void PaintWorld(World& world, ScriptGpu& gpu);

// The format of every GL surface the program draws on, window and capture alike, made the
// toolkit's default in main before any window exists: a compatibility profile for the
// fixed-function drawing, a 24-bit depth buffer for the pick, no multisampling.
QSurfaceFormat ViewSurfaceFormat();

// Set in main before the toolkit connects to the display. Mesa's options for the program's
// contexts, read from the environment as the driver starts: a shader's locals and outputs start
// at zero, as the browsers that shaders are shared for start them (an option the user set stays).
// And the allocator hands every large block (the driver's textures and targets, fonts, images)
// back to the system as it is freed: left to raise that threshold as blocks are freed, it kept
// them in heaps that grew by gigabytes while a scene made and dropped objects every frame.
void SetProcessOptions();
