#include "world/viewgl.h"

#include <GL/gl.h>

#include "world/world.h"

void SetupViewGL()
{
    glClearColor(0, 0, 0, 1);
}

void PaintWorld(World& world)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    world.Draw();
}
