// The overlays' GL state and quads.
#include "world/overlaygl.h"

#include <GL/gl.h>

// The state SetupOverlayRenderState changes, all of it restored by the matching pops.
static constexpr GLbitfield kChangedState =
    GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_TEXTURE_BIT | GL_TRANSFORM_BIT;
static constexpr GLenum kTurnedOff[] = {GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_ALPHA_TEST, GL_FOG,
                                         GL_STENCIL_TEST, GL_SCISSOR_TEST, GL_COLOR_LOGIC_OP, GL_BLEND, GL_TEXTURE_2D};

void SetupOverlayRenderState(int viewportWidth, int viewportHeight)
{
    glPushAttrib(kChangedState);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    for (GLenum capability : kTurnedOff)
        glDisable(capability);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    // Rows of whole 32-bit pixels, packed, as the overlays' images hold them.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, viewportWidth, 0, viewportHeight, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
}

void RestoreOverlayRenderState()
{
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
}

void OverlayQuad(int x, int y, int width, int height, float s0, float s1)
{
    glTexCoord2f(s0, 1), glVertex2i(x, y);
    glTexCoord2f(s1, 1), glVertex2i(x + width, y);
    glTexCoord2f(s1, 0), glVertex2i(x + width, y + height);
    glTexCoord2f(s0, 0), glVertex2i(x, y + height);
}
