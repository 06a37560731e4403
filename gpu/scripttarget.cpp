// Script render targets with a pair of framebuffers each.
#include "gpu/scripttarget.h"

#include <GL/gl.h>

#include <algorithm>

#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QOpenGLFramebufferObject>

// RGBA8 colour and a 24-bit depth with 8 of stencil, each 4 bytes a pixel, twice.
static constexpr std::size_t kBytesPerPixel = 2 * (4 + 4);
static const char kUsedUp[] = "the script's GPU memory (512 MiB) is used up";
static const char kNoFramebuffer[] = "no framebuffer of the target's size can be made here";

ScriptTarget::ScriptTarget(int width, int height)
    : followView(width == 0 && height == 0)
    , width(width)
    , height(height)
{
}

ScriptTarget::~ScriptTarget()
{
    delete buffers[0];
    delete buffers[1];
}

std::size_t ScriptTarget::Bytes(int width, int height)
{
    return std::size_t(width) * std::size_t(height) * kBytesPerPixel;
}

int ScriptTarget::Width() const
{
    return followView ? shared->viewWidth : width;
}

int ScriptTarget::Height() const
{
    return followView ? shared->viewHeight : height;
}

const char* ScriptTarget::HoldFor(int w, int h)
{
    return Hold(Bytes(w, h)) ? nullptr : kUsedUp;
}

bool ScriptTarget::Load(std::string& why)
{
    const char* error = Width() > 0 && Height() > 0 ? HoldFor(Width(), Height()) : nullptr;
    if (error)
        why = error;
    return !error;
}

static QOpenGLExtraFunctions* Gl()
{
    return QOpenGLContext::currentContext()->extraFunctions();
}

// Black, with an empty depth and stencil buffer. Depth and stencil share one buffer: clearing
// both at once is one fill, depth alone a masked one. Leaves depth writes on.
static void ClearBound()
{
    static const GLfloat black[4] = {0, 0, 0, 1};
    glDepthMask(GL_TRUE);
    Gl()->glClearBufferfv(GL_COLOR, 0, black);
    Gl()->glClearBufferfi(GL_DEPTH_STENCIL, 0, 1.0f, 0);
}

// Both buffers of the present size, black. One that follows the view is made again, and its
// bytes taken again, whenever the view's size changes.
const char* ScriptTarget::Prepare()
{
    const int w = std::max(1, Width()), h = std::max(1, Height());
    if (buffers[0] && w == madeWidth && h == madeHeight)
        return nullptr;
    if (const char* error = HoldFor(w, h))
        return error;
    FreeGl();
    for (auto& buffer : buffers) {
        buffer = new QOpenGLFramebufferObject(w, h, QOpenGLFramebufferObject::CombinedDepthStencil);
        if (!buffer->isValid() || !buffer->bind()) {
            FreeGl();
            return kNoFramebuffer;
        }
        ClearBound();
        glBindTexture(GL_TEXTURE_2D, buffer->texture());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    madeWidth = w;
    madeHeight = h;
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
    const bool firstThisFrame = drawnFrame != shared->frame;
    if (firstThisFrame)
        drawIndex = 1 - finished;
    drawing = true;
    BindForDrawing();
    if (firstThisFrame) {
        drawnFrame = shared->frame;
        ClearBound();
    }
    return nullptr;
}

void ScriptTarget::BindForDrawing()
{
    Gl()->glBindFramebuffer(GL_FRAMEBUFFER, buffers[drawIndex]->handle());
    glViewport(0, 0, madeWidth, madeHeight);
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

void ScriptTarget::FreeGl()
{
    delete buffers[0];
    delete buffers[1];
    buffers[0] = buffers[1] = nullptr;
    drawing = false;
}
