#include "world/viewgl.h"

#include <malloc.h>

#include <cstdlib>

#include <GL/gl.h>

#include "gpu/scriptgpu.h"
#include "world/world.h"

// The allocator's own starting threshold, kept for good.
static constexpr int kLargeBlockBytes = 128 * 1024;

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

void SetProcessOptions()
{
    mallopt(M_MMAP_THRESHOLD, kLargeBlockBytes);
    setenv("glsl_zero_init", "true", 0);
}
