#pragma once
// The frame as script GL objects see it: where the host draws (its framebuffer and viewport,
// taken at the start of each frame), where the script draws now, and the reset that gives the
// host its own state back after the script's drawing.

class QOpenGLFunctions;
class ScriptTarget;

// At the start of each frame, the context current and the host's framebuffer bound with its
// viewport: frees what collected objects left, notes the framebuffer and the viewport, counts
// the frame, and reads again and compiles what changed.
void BeginScriptGpuFrame();
// The frames begun so far.
long ScriptGpuFrame();

// The view's pixel size (the video's in a capture): set by the view when it learns it, and at
// every frame start.
void SetScriptViewSize(int width, int height);
int ScriptViewWidth();
int ScriptViewHeight();

// Where the script's drawing goes: null for the view.
ScriptTarget* CurrentScriptTarget();
void SetCurrentScriptTarget(ScriptTarget* target);
// The pixel size of what the script draws into now.
void CurrentDrawSize(int& width, int& height);
// Binds the host's framebuffer and viewport as noted at the frame start.
void BindHostFramebuffer();

// Texture units a shader's samplers were bound to since the last reset, and that the script's
// drawing changed GL state at all.
void NoteScriptTextureUnits(int count);
void NoteScriptGlState();

// After render() and every chunk: no program, no texture on the units the script used (unit 0
// active), the host's framebuffer and viewport, the depth writes and blending the world draws
// with. A target still being drawn into is finished. Touches GL only when the script did.
void RestoreScriptGlState();

// The current context's functions; null without a context.
QOpenGLFunctions* ScriptGl();
