#pragma once
// What the script's drawing functions share: the shape being drawn, the current colour, normal
// and texture coordinate, the transform stack, the light, whether triangles are textured, and
// whether GL has caught up with them.
//
// The transforms, the light and texturing reach GL lazily, at the next thing drawn (a triangle's first
// vertex, a line, a mesh), so that they cost nothing until then and need no context when set
// from update() or the console. The transforms, the normal and any recording last until the
// end of the chunk that made them, as does texturing; the light stays on across chunks until setLight(nil), but
// GL lighting, like the matrices, is back as the host left it when every chunk ends.

#include <cstdint>
#include <vector>

#include "mathlib/ML_Maths.h"
#include "mathlib/transformstack.h"

// A vertex recorded between beginMesh and endMesh, in the mesh's own coordinates, with the
// colour, normal and texture coordinate current then.
struct RecordedVertex {
    float position[3];
    float normal[3];
    float uv[2];
    std::uint8_t colour[4];
};

struct DrawState {
    bool shapeOpen = false;          // between glBegin and glEnd
    std::uint32_t shapeVertices = 0;  // since the shape's glBegin
    bool recording = false;          // vertices go into a mesh, nothing is drawn
    std::vector<RecordedVertex> recorded;

    std::uint8_t colour[4] = {255, 255, 255, 255};
    Vector3 normal = Vector3(0, 0, 1);
    bool normalGiven = false;  // vertices carry the normal and are lit
    float texCoord[2] = {0, 0};
    bool texCoordGiven = false;  // recorded meshes carry texture coordinates
    bool textured = false;       // useTexture gave a texture: GL texturing is on for triangles

    TransformStack transforms;
    bool lightOn = false;
    Vector3 lightDirection;  // towards the light, in world space

    bool stale = false;         // the transforms or the light changed since GL last caught up
    bool saved = false;         // the host's matrix and lighting state are pushed
    bool lightPlaced = false;   // this chunk's camera has placed the light
    bool immediateLit = false;  // GL_LIGHTING is on for vertices drawn one by one
};

extern DrawState g_drawState;

// Outside glBegin/glEnd: the modelview becomes the camera's times the transform on top, and
// GL's light follows the script's (lighting on for vertices one by one when a normal is given).
// The first call of a chunk pushes the host's modelview and its enable and lighting state.
void SyncDrawState();
// SyncDrawState between a triangle and the next, ending and beginning the shape around it.
void SyncInsideShape();
// A vertex is due: GL catches up at a triangle's first vertex; the later vertices of a
// triangle keep the transform and light it began with.
inline void SyncForVertex()
{
    if (g_drawState.stale && g_drawState.shapeVertices % 3 == 0)
        SyncInsideShape();
}
// Steps out of an open shape, and catches GL up: the gate's first step (script/gpugate.h).
void LeaveShape();
// Steps back into it; a triangle left half done is lost, as GL drops it at glEnd.
void ReenterShape();
// Before vertices of arrays are drawn through the gate: they will be lit with normals while the
// light is on, so the light is placed as the gate catches GL up.
void PlaceLightFor(bool normals);
// Inside the gate: GL lighting on for arrays with normals while the light is on, off otherwise.
void LightFor(bool normals);
// Before the gate binds the texture of triangles (textured) or none: GL texturing follows as
// the gate catches GL up.
void TextureFor(bool textured);
// Ends a recording and forgets what it held.
void DropMeshRecording();
// At the end of every chunk: ends an open shape and a recording, drops the transforms, the
// normal, the texture coordinate and texturing, and pops what SyncDrawState pushed. Touches GL only where the chunk did.
void EndChunkDrawing();
