#include "world/viewgl.h"

#include <cstdlib>

#include <GL/gl.h>

#include "gpu/scriptgpu.h"
#include "world/world.h"

void SetupViewGL()
{
    glClearColor(0, 0, 0, 1);
}

void PaintWorld(World& world, ScriptGpu& gpu)
{
    gpu.BeginFrame();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    world.Draw();
}

QSurfaceFormat ViewSurfaceFormat()
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    format.setSamples(0);
    return format;
}

void SetDriverOptions()
{
    setenv("glsl_zero_init", "true", 0);
}
