// The state the script's drawing functions share, and how GL catches up with it.
#include "script/drawstate.h"

#include <GL/gl.h>


DrawState g_drawState;

// The light's share of a colour facing it; the rest is lit from everywhere alike.
static constexpr float kAmbient = 0.25f;

static void PlaceLight()
{
    const Vector3& d = g_drawState.lightDirection;
    const GLfloat position[4] = {d.x, d.y, d.z, 0};  // w = 0: from that direction, at infinity
    const GLfloat ambient[4] = {kAmbient, kAmbient, kAmbient, 1};
    const GLfloat diffuse[4] = {1 - kAmbient, 1 - kAmbient, 1 - kAmbient, 1};
    const GLfloat none[4] = {0, 0, 0, 1};
    glLightfv(GL_LIGHT0, GL_POSITION, position);  // through the camera's modelview: world space
    glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, none);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);  // scaled transforms scale normals too
    g_drawState.lightPlaced = true;
}

void SyncDrawState()
{
    DrawState& s = g_drawState;
    if (!s.saved) {
        glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT);
        glPushMatrix();
        s.saved = true;
    } else {
        glPopMatrix();  // back to the camera's
        glPushMatrix();
    }
    if (s.lightOn)
        PlaceLight();
    s.immediateLit = s.lightOn && s.normalGiven;
    if (s.immediateLit)
        glEnable(GL_LIGHTING);
    else
        glDisable(GL_LIGHTING);
    // On unit 0, the one active outside the gate's calls; the texture's colour times the
    // vertices', whatever mode something else left.
    if (s.textured) {
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
    if (!s.transforms.TopIsIdentity())
        glMultMatrixf(s.transforms.Top().m);
    s.stale = false;
}

void SyncInsideShape()
{
    if (g_drawState.shapeOpen)
        glEnd();
    SyncDrawState();
    if (g_drawState.shapeOpen)
        glBegin(GL_TRIANGLES);
}

void LeaveShape()
{
    if (g_drawState.shapeOpen)
        glEnd();
    if (g_drawState.stale)
        SyncDrawState();
}

void ReenterShape()
{
    if (g_drawState.shapeOpen)
        glBegin(GL_TRIANGLES);
    g_drawState.shapeVertices = 0;
}

void PlaceLightFor(bool normals)
{
    if (normals && g_drawState.lightOn && !g_drawState.lightPlaced)
        g_drawState.stale = true;
}

void LightFor(bool normals)
{
    if (normals && g_drawState.lightOn)
        glEnable(GL_LIGHTING);
    else
        glDisable(GL_LIGHTING);
}

void TextureFor(bool textured)
{
    if (g_drawState.textured != textured) {
        g_drawState.textured = textured;
        g_drawState.stale = true;
    }
}

void DropMeshRecording()
{
    g_drawState.recording = false;
    std::vector<RecordedVertex>().swap(g_drawState.recorded);
}

void EndChunkDrawing()
{
    DrawState& s = g_drawState;
    if (s.shapeOpen)
        glEnd();
    s.shapeOpen = false;
    s.shapeVertices = 0;
    if (s.saved) {
        glPopMatrix();
        glPopAttrib();
    }
    s.saved = s.lightPlaced = s.immediateLit = s.stale = s.textured = false;
    s.transforms.Reset();
    s.normalGiven = false;
    s.normal = Vector3(0, 0, 1);
    if (s.texCoordGiven)
        glTexCoord2f(0, 0);
    s.texCoordGiven = false;
    s.texCoord[0] = s.texCoord[1] = 0;
    DropMeshRecording();
}
