// The script's drawing state within a frame and the host's state reset.
#include "gpu/scriptframe.h"

#include <GL/gl.h>

#include <algorithm>

#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include "gpu/gpumemory.h"
#include "gpu/scriptresource.h"
#include "gpu/scripttarget.h"

#ifndef GL_DRAW_FRAMEBUFFER_BINDING
#define GL_DRAW_FRAMEBUFFER_BINDING 0x8CA6
#endif

static long g_frame = 0;
static GLint g_hostFramebuffer = 0;
static GLint g_hostViewport[4] = {0, 0, 0, 0};
static int g_viewWidth = 0;
static int g_viewHeight = 0;
static ScriptTarget* g_target = nullptr;
static int g_unitsUsed = 0;
static bool g_stateChanged = false;

QOpenGLFunctions* ScriptGl()
{
    QOpenGLContext* context = QOpenGLContext::currentContext();
    return context ? context->functions() : nullptr;
}

void BeginScriptGpuFrame()
{
    RunGlReleases();
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &g_hostFramebuffer);
    glGetIntegerv(GL_VIEWPORT, g_hostViewport);
    SetScriptViewSize(g_hostViewport[2], g_hostViewport[3]);
    ++g_frame;
    RefreshScriptResources();
}

long ScriptGpuFrame()
{
    return g_frame;
}

void SetScriptViewSize(int width, int height)
{
    g_viewWidth = width;
    g_viewHeight = height;
}

int ScriptViewWidth()
{
    return g_viewWidth;
}

int ScriptViewHeight()
{
    return g_viewHeight;
}

ScriptTarget* CurrentScriptTarget()
{
    return g_target;
}

void SetCurrentScriptTarget(ScriptTarget* target)
{
    g_target = target;
    g_stateChanged = true;
}

void CurrentDrawSize(int& width, int& height)
{
    width = g_target ? g_target->Width() : g_viewWidth;
    height = g_target ? g_target->Height() : g_viewHeight;
}

void BindHostFramebuffer()
{
    // Before the first frame nothing is known of the host's framebuffer: whatever is bound is.
    if (g_frame == 0)
        return;
    ScriptGl()->glBindFramebuffer(GL_FRAMEBUFFER, GLuint(g_hostFramebuffer));
    glViewport(g_hostViewport[0], g_hostViewport[1], g_hostViewport[2], g_hostViewport[3]);
}

void NoteScriptTextureUnits(int count)
{
    g_unitsUsed = std::max(g_unitsUsed, count);
    g_stateChanged = true;
}

void NoteScriptGlState()
{
    g_stateChanged = true;
}

void RestoreScriptGlState()
{
    if (!g_stateChanged)
        return;
    g_stateChanged = false;
    QOpenGLFunctions* gl = ScriptGl();
    if (g_target)
        g_target->EndDrawing();
    g_target = nullptr;
    if (!gl)
        return;
    gl->glUseProgram(0);
    for (int unit = g_unitsUsed - 1; unit >= 0; --unit) {
        gl->glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    g_unitsUsed = 0;
    gl->glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, 0);
    BindHostFramebuffer();
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}
