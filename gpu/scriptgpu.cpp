// The owner of a view's script GL objects and of the script's drawing state.
#include "gpu/scriptgpu.h"

#include <GL/gl.h>

#include <algorithm>

#include <QDateTime>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include "gpu/scriptmesh.h"
#include "gpu/scriptsampler.h"
#include "gpu/scriptshader.h"
#include "gpu/scripttarget.h"
#include "gpu/shadertoyimport.h"

#ifndef GL_DRAW_FRAMEBUFFER_BINDING
#define GL_DRAW_FRAMEBUFFER_BINDING 0x8CA6
#endif

static ScriptGpu* g_current = nullptr;

static QOpenGLFunctions* Gl()
{
    return QOpenGLContext::currentContext()->functions();
}

ScriptGpu::ScriptGpu(GpuCollect collect, GpuStep step)
    : previous(g_current)
{
    shared.collect = collect;
    shared.step = step;
    music.shared = &shared;
    g_current = this;
}

ScriptGpu::~ScriptGpu()
{
    const bool withGl = context && QOpenGLContext::currentContext() == context;
    for (GpuObject* object : objects)
        Free(object, withGl);
    if (withGl)
        music.FreeGl();
    if (g_current == this) {
        g_current = previous;
        return;
    }
    for (ScriptGpu* later = g_current; later; later = later->previous)
        if (later->previous == this)
            later->previous = previous;
}

ScriptGpu* ScriptGpu::Current()
{
    return g_current;
}

void ScriptGpu::Adopt(GpuHandle& handle, GpuObject* object)
{
    Sweep();
    try {
        objects.push_back(object);
    } catch (...) {
        delete object;
        throw;
    }
    object->shared = &shared;
    object->handle = &handle;
    handle.object = object;
}

bool ScriptGpu::Loaded(GpuObject* object, std::string& why)
{
    if (!object->Load(why))
        return false;
    for (const SourceFile& source : object->Sources())
        if (std::none_of(files.begin(), files.end(), [&](const SourceFile& f) { return f.path == source.path; }))
            files.push_back(source);
    return true;
}

void ScriptGpu::Free(GpuObject* object, bool withGl)
{
    if (withGl && object->HoldsGl())
        object->FreeGl();
    if (object->handle)
        object->handle->object = nullptr;
    shared.budget.Give(object->held);
    delete object;
}

// A dead object holding GL names waits for its context. Nothing that walks the objects can be
// under way: a sweep runs at the frame start and as an object is adopted, never from inside an
// object's call.
void ScriptGpu::Sweep()
{
    const bool withGl = context && QOpenGLContext::currentContext() == context;
    auto kept = objects.begin();
    for (GpuObject* object : objects) {
        if (object->dead && (withGl || !object->HoldsGl()))
            Free(object, withGl);
        else
            *kept++ = object;
    }
    objects.erase(kept, objects.end());
}

void ScriptGpu::MarkFileChanged(const std::string& path)
{
    for (GpuObject* object : objects)
        for (const SourceFile& source : object->Sources())
            if (source.path == path && !object->dead)
                object->MarkChanged();
}

std::vector<GpuReport> ScriptGpu::TakeReports()
{
    std::vector<GpuReport> taken;
    taken.swap(shared.reports);
    return taken;
}

bool ScriptGpu::ContextCurrent() const
{
    QOpenGLContext* current = QOpenGLContext::currentContext();
    return current && (!context || current == context);
}

void ScriptGpu::BeginFrame()
{
    context = QOpenGLContext::currentContext();
    Sweep();
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &hostFramebuffer);
    glGetIntegerv(GL_VIEWPORT, hostViewport);
    SetViewSize(hostViewport[2], hostViewport[3]);
    ++shared.frame;
    // By index: a refresh makes no object, and a collection it runs only marks some dead.
    for (std::size_t i = 0; i < objects.size(); ++i) {
        GpuObject* object = objects[i];
        std::string why;
        if (!object->dead && !Guarded([object] { object->Refresh(); return true; }, why))
            object->ReportFailure(why);
    }
}

void ScriptGpu::SetViewSize(int width, int height)
{
    shared.viewWidth = width;
    shared.viewHeight = height;
}

int ScriptGpu::DrawWidth() const
{
    return target ? target->Width() : shared.viewWidth;
}

int ScriptGpu::DrawHeight() const
{
    return target ? target->Height() : shared.viewHeight;
}

// Year, month from 0, day and seconds since midnight, local time, as the sites give iDate.
static void Today(float date[4])
{
    const QDateTime now = QDateTime::currentDateTime();
    date[0] = float(now.date().year());
    date[1] = float(now.date().month() - 1);
    date[2] = float(now.date().day());
    date[3] = float(now.time().msecsSinceStartOfDay()) / 1000.0f;
}

void ScriptGpu::Inputs(ShaderFrameInputs& in)
{
    if (shared.frame != timedFrame) {
        timeDelta = timedFrame < 0 ? 0 : host.time - frameTime;
        timedFrame = shared.frame;
        frameTime = host.time;
        mouse.Update(host.pointer[0], host.pointer[1], host.leftHeld);
    }
    in.resolution[0] = float(DrawWidth());
    in.resolution[1] = float(DrawHeight());
    in.time = float(host.time);
    in.timeDelta = float(timeDelta);
    in.frame = float(shared.frame > 0 ? shared.frame - 1 : 0);
    std::copy(mouse.Value(), mouse.Value() + 4, in.mouse);
    Today(in.date);
    std::fill(in.channelTime, in.channelTime + 4, in.time);
    if (timeDelta > 0)
        in.frameRate = float(1.0 / timeDelta);
    music.Source(host.music, host.time);
    in.spectrum = &music;
    if (!units)
        glGetIntegerv(GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS, &units);
    in.units = units;
}

bool ScriptGpu::ApplyShader(ScriptShader* shader)
{
    ShaderFrameInputs inputs;
    Inputs(inputs);
    int used = 0;
    const bool bound = shader->Use(inputs, used);
    unitsUsed = std::max(unitsUsed, used);
    return bound;
}

void ScriptGpu::BindDrawTarget()
{
    if (target) {
        target->BindForDrawing();
        return;
    }
    // Before the first frame nothing is known of the host's framebuffer: whatever is bound is.
    if (shared.frame == 0)
        return;
    Gl()->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(hostFramebuffer));
    glViewport(hostViewport[0], hostViewport[1], hostViewport[2], hostViewport[3]);
}

const char* ScriptGpu::SetTarget(ScriptTarget* next)
{
    drew = true;
    if (target)
        target->EndDrawing();
    target = nullptr;
    const char* error = next ? next->BeginDrawing() : nullptr;
    if (!error)
        target = next;
    BindDrawTarget();
    // What the shader in use draws now has the target's size.
    if (usedShader && !error)
        ApplyShader(usedShader);
    return error;
}

void ScriptGpu::UseShader(ScriptShader* shader)
{
    drew = true;
    usedShader = shader;
    if (!shader || !ApplyShader(shader))
        Gl()->glUseProgram(0);
}

void ScriptGpu::UniformChanged(ScriptShader* shader)
{
    if (shader == usedShader)
        UseShader(shader);
}

// A full-screen pass draws with no depth tested or written and identity matrices, set before
// its shader is applied (the ES vertex stage takes the matrices as a uniform).
static void SetupPass()
{
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

// A quad over the whole target, texture coordinates 0 to 1, blended as GL is set.
static void DrawPass()
{
    glBegin(GL_QUADS);
    glColor4f(1, 1, 1, 1);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
}

// Opaque: blending off and the target's alpha kept. Changes the colour mask only for the pass
// (the gate does not save it).
static void DrawPassBlended(bool opaque)
{
    if (opaque) {
        glDisable(GL_BLEND);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    }
    DrawPass();
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

void ScriptGpu::DrawFullscreen(ScriptShader* shader, PassBlend blend)
{
    drew = true;
    SetupPass();
    if (ApplyShader(shader))
        DrawPassBlended(blend == PassBlend::Opaque || (blend == PassBlend::Default && shader->Wrapped()));
}

void ScriptGpu::DrawFullscreen(ShadertoyImport* import, PassBlend blend)
{
    drew = true;
    SetupPass();
    ShaderFrameInputs inputs;
    Inputs(inputs);
    int used = 0;
    import->RunBuffers(inputs, DrawPass, used);
    unitsUsed = std::max(unitsUsed, used);
    BindDrawTarget();
    Inputs(inputs);
    const bool bound = import->UseImage(inputs, used);
    unitsUsed = std::max(unitsUsed, used);
    if (bound)
        DrawPassBlended(blend != PassBlend::Blend);
    import->EndImage();
}

void ScriptGpu::DrawMesh(ScriptMesh* mesh)
{
    mesh->Draw();
}

void ScriptGpu::PutBack()
{
    drew = true;
    if (!context)
        context = QOpenGLContext::currentContext();
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    const GLuint wanted = usedShader ? usedShader->Program() : 0;
    if (GLuint(program) != wanted && !(usedShader && ApplyShader(usedShader)))
        Gl()->glUseProgram(0);
    // Before the framebuffer: a target's texture may be made, and bind one, at its first use.
    const GLuint texture = usedTexture && !usedShader ? usedTexture->SampleTexture() : 0;
    BindDrawTarget();
    Gl()->glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
}

void ScriptGpu::EndChunk()
{
    usedShader = nullptr;
    usedTexture = nullptr;
    if (target)
        target->EndDrawing();
    target = nullptr;
    if (!drew || !ContextCurrent())
        return;
    drew = false;
    QOpenGLFunctions* gl = Gl();
    gl->glUseProgram(0);
    for (int unit = unitsUsed - 1; unit >= 0; --unit) {
        gl->glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    unitsUsed = 0;
    gl->glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    BindDrawTarget();
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}
