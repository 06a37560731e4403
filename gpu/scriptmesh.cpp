// A script's triangles in a GL buffer object.
#include "gpu/scriptmesh.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <string>

ScriptMesh::ScriptMesh(const MeshLayout& layout, std::uint32_t vertexCount)
    : layout(layout)
    , vertexCount(vertexCount)
{
}

ScriptMesh::~ScriptMesh() = default;

bool ScriptMesh::Load(std::string& why)
{
    if (!Hold(Bytes())) {
        why = "expected room for " + std::to_string(Bytes()) + " more bytes in the "
            + std::to_string(kScriptGpuMemoryLimit >> 20) + " MiB of script GPU memory, got "
            + std::to_string(shared->budget.InUse()) + " bytes in use";
        return false;
    }
    data.reset(new unsigned char[std::max<std::size_t>(Bytes(), 1)]);
    return true;
}

void ScriptMesh::Changed(std::uint32_t first, std::uint32_t count)
{
    const std::size_t begin = std::size_t(first) * layout.stride;
    const std::size_t end = begin + std::size_t(count) * layout.stride;
    if (changedBegin == changedEnd) {
        changedBegin = begin;
        changedEnd = end;
    } else {
        changedBegin = std::min(changedBegin, begin);
        changedEnd = std::max(changedEnd, end);
    }
}

static const void* Offset(int bytes)
{
    return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(bytes));
}

void ScriptMesh::Draw()
{
    if (vertexCount == 0)
        return;
    if (!buffer) {
        GLuint name = 0;
        glGenBuffers(1, &name);
        buffer = name;
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(Bytes()), data.get(), GL_STATIC_DRAW);
        changedBegin = changedEnd = 0;
    } else {
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        if (changedBegin != changedEnd)
            glBufferSubData(GL_ARRAY_BUFFER, GLintptr(changedBegin), GLsizeiptr(changedEnd - changedBegin),
                            data.get() + changedBegin);
        changedBegin = changedEnd = 0;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, layout.stride, Offset(0));
    if (layout.normalOffset >= 0) {
        glEnableClientState(GL_NORMAL_ARRAY);
        glNormalPointer(GL_FLOAT, layout.stride, Offset(layout.normalOffset));
    }
    if (layout.uvOffset >= 0) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, layout.stride, Offset(layout.uvOffset));
    }
    if (layout.colourOffset >= 0) {
        glEnableClientState(GL_COLOR_ARRAY);
        glColorPointer(4, GL_UNSIGNED_BYTE, layout.stride, Offset(layout.colourOffset));
    }
    glDrawArrays(GL_TRIANGLES, 0, GLsizei(vertexCount));
}

void ScriptMesh::FreeGl()
{
    const GLuint name = buffer;
    glDeleteBuffers(1, &name);
    buffer = 0;
    // Made again from the vertices at the next draw.
    changedBegin = changedEnd = 0;
}
