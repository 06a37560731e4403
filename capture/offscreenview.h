#pragma once
// The capture's view: a GL context on an offscreen surface drawing into a framebuffer object of
// the video's size, independent of any window and of the screen.

#include <string>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;
class ScriptGpu;
class World;

class OffscreenView {
public:
    OffscreenView(int width, int height);
    ~OffscreenView();
    OffscreenView(const OffscreenView&) = delete;
    OffscreenView& operator=(const OffscreenView&) = delete;

    // Makes the context current with the framebuffer bound, the view's GL state set and the
    // viewport covering it. False, with the reason, when no context or framebuffer of this size
    // can be made.
    bool Create(std::string& error);
    // One frame of the world, as the window's view paints it.
    void Draw(World& world);
    // A frame counted but not drawn: its objects are refreshed and the dead ones freed.
    void Skip();
    // Waits for the drawing to finish.
    void Finish();
    // The frame just drawn: rows from the bottom up, 4 bytes a pixel (blue, green, red, unused).
    void Read(unsigned char* pixels);
    // The script's GL objects drawn in this view's context.
    ScriptGpu& Gpu() { return *gpu; }

private:
    int width;
    int height;
    QOffscreenSurface* surface = nullptr;
    QOpenGLContext* context = nullptr;
    QOpenGLFramebufferObject* framebuffer = nullptr;
    ScriptGpu* gpu;
};
