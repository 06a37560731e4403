#include "world/viewgl.h"

#include <GL/gl.h>

#include <cstdlib>
#include <cstring>

#include "gpu/scriptframe.h"
#include "world/world.h"

void SetupViewGL()
{
    glClearColor(0, 0, 0, 1);
}

void PaintWorld(World& world)
{
    // Frees the names of script objects collected since the last frame while their context is
    // current, and notes the framebuffer and viewport the script's drawing returns to.
    BeginScriptGpuFrame();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    world.Draw();
}

static bool IsSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value && *value;
}

bool DisplayAvailable(bool windowSystemGiven)
{
    return windowSystemGiven || IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY")
        || (IsSet("QT_QPA_PLATFORM") && std::strcmp(std::getenv("QT_QPA_PLATFORM"), "xcb") != 0);
}
