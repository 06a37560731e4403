// Script render targets with a pair of framebuffers each.
#include "gpu/scripttarget.h"

#include <GL/gl.h>

#include <algorithm>

#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>

#include "gpu/gpumemory.h"
#include "gpu/scriptframe.h"

// RGBA8 colour and a 24-bit depth with 8 of stencil, each 4 bytes a pixel, twice.
static constexpr std::size_t kBytesPerPixel = 2 * (4 + 4);

ScriptTarget::ScriptTarget(int width, int height)
    : followView(width == 0 && height == 0)
    , width(width)
    , height(height)
{
}

ScriptTarget::~ScriptTarget()
{
    if (CurrentScriptTarget() == this)
        SetCurrentScriptTarget(nullptr);
    ReleaseScriptGpuMemory(reserved);
    QOpenGLFramebufferObject* a = buffers[0];
    QOpenGLFramebufferObject* b = buffers[1];
    if (a || b)
        DeferGlRelease([a, b] { delete a, delete b; });
}

std::size_t ScriptTarget::Bytes(int width, int height)
{
    return std::size_t(width) * std::size_t(height) * kBytesPerPixel;
}

int ScriptTarget::Width() const
{
    return followView ? ScriptViewWidth() : width;
}

int ScriptTarget::Height() const
{
    return followView ? ScriptViewHeight() : height;
}

void ScriptTarget::FreeBuffers()
{
    delete buffers[0];
    delete buffers[1];
    buffers[0] = buffers[1] = nullptr;
}

const char* ScriptTarget::ReserveFor(int w, int h)
{
    const std::size_t bytes = Bytes(w, h);
    if (bytes == reserved)
        return nullptr;
    if (!ReserveScriptGpuMemory(bytes))
        return "the script's GPU memory (512 MiB) is used up";
    ReleaseScriptGpuMemory(reserved);
    reserved = bytes;
    return nullptr;
}

const char* ScriptTarget::Reserve()
{
    return Width() > 0 && Height() > 0 ? ReserveFor(Width(), Height()) : nullptr;
}

// Both buffers of the present size, black. One that follows the view is made again, and its
// bytes taken again, whenever the view's size changes.
const char* ScriptTarget::Prepare()
{
    const int w = std::max(1, Width()), h = std::max(1, Height());
    if (buffers[0] && w == madeWidth && h == madeHeight)
        return nullptr;
    if (const char* error = ReserveFor(w, h))
        return error;
    FreeBuffers();
    madeWidth = w;
    madeHeight = h;
    // Called while samplers are being bound, and while drawing: what it binds it puts back.
    GLint previous = 0, texture = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &previous);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    GLboolean depthMask;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
    glClearColor(0, 0, 0, 1);
    glDepthMask(GL_TRUE);
    for (auto& buffer : buffers) {
        buffer = new QOpenGLFramebufferObject(w, h, QOpenGLFramebufferObject::CombinedDepthStencil);
        buffer->bind();
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glBindTexture(GL_TEXTURE_2D, buffer->texture());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    glBindTexture(GL_TEXTURE_2D, GLuint(texture));
    glClearColor(clear[0], clear[1], clear[2], clear[3]);
    glDepthMask(depthMask);
    ScriptGl()->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(previous));
    finished = drawIndex = 0;
    drawnFrame = -1;
    drawing = false;
    return nullptr;
}

const char* ScriptTarget::BeginDrawing()
{
    if (const char* error = Prepare())
        return error;
    // Later in the same frame the drawing goes on in the buffer it began in.
    const bool firstThisFrame = drawnFrame != ScriptGpuFrame();
    if (firstThisFrame)
        drawIndex = 1 - finished;
    buffers[drawIndex]->bind();
    glViewport(0, 0, madeWidth, madeHeight);
    if (firstThisFrame) {
        drawnFrame = ScriptGpuFrame();
        GLboolean depthMask;
        glGetBooleanv(GL_DEPTH_WRITEMASK, &depthMask);
        glDepthMask(GL_TRUE);
        // Depth and stencil share one buffer: clearing both at once is one fill, depth alone a
        // masked one.
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glDepthMask(depthMask);
    }
    drawing = true;
    return nullptr;
}

void ScriptTarget::EndDrawing()
{
    if (drawing)
        finished = drawIndex;
    drawing = false;
}

unsigned ScriptTarget::SampleTexture()
{
    if (Prepare())
        return 0;
    return buffers[drawing ? 1 - drawIndex : finished]->texture();
}

void ScriptTarget::DropGl()
{
    FreeBuffers();
}
