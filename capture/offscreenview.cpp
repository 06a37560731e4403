// The capture's offscreen GL view.
#include "capture/offscreenview.h"

#include <GL/gl.h>

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>

#include "gpu/scriptgpu.h"
#include "script/gpugate.h"
#include "world/viewgl.h"

#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#endif

OffscreenView::OffscreenView(int width, int height)
    : width(width)
    , height(height)
    , gpu(new ScriptGpu(CollectScriptObjects, StepScriptCollector))
{
}

OffscreenView::~OffscreenView()
{
    // The script's objects and the framebuffer go while the context is current.
    if (context && surface && context->makeCurrent(surface)) {
        delete gpu;
        gpu = nullptr;
        delete framebuffer;
        context->doneCurrent();
    }
    delete gpu;
    delete context;
    delete surface;
}

bool OffscreenView::Create(std::string& error)
{
    // Both take the default format main set; the depth buffer lives in the framebuffer object.
    context = new QOpenGLContext;
    surface = new QOffscreenSurface;
    surface->create();
    if (!context->create() || !surface->isValid() || !context->makeCurrent(surface)) {
        error = "no OpenGL context can be made on this display";
        return false;
    }
    GLint largest = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &largest);
    if (width > largest || height > largest) {
        error = "the size " + std::to_string(width) + "x" + std::to_string(height)
            + " is larger than OpenGL draws here (at most " + std::to_string(largest) + " a side)";
        return false;
    }
    framebuffer = new QOpenGLFramebufferObject(width, height, QOpenGLFramebufferObject::Depth);
    if (!framebuffer->isValid() || !framebuffer->bind()) {
        error = "no OpenGL framebuffer of " + std::to_string(width) + "x" + std::to_string(height)
            + " can be made";
        return false;
    }
    SetupViewGL();
    glViewport(0, 0, width, height);
    gpu->SetViewSize(width, height);
    return true;
}

void OffscreenView::Draw(World& world)
{
    // A script's chunk may have drawn elsewhere since the last frame.
    framebuffer->bind();
    glViewport(0, 0, width, height);
    PaintWorld(world, *gpu);
}

void OffscreenView::Skip()
{
    framebuffer->bind();
    glViewport(0, 0, width, height);
    gpu->BeginFrame();
}

void OffscreenView::Finish()
{
    glFinish();
}

void OffscreenView::Read(unsigned char* pixels)
{
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
}
