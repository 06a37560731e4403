#pragma once
// A script's triangles in a GL buffer object: the vertices stay in memory beside the buffer,
// which is made from them at the first draw (a mesh may be built before any context exists)
// and brought up to date at the draw after they change.

#include <cstddef>
#include <cstdint>

// How one vertex lies in memory: three floats of position, then optionally three of normal,
// then optionally four bytes of colour; numbers is how many a script gives for it.
struct MeshLayout {
    int numbers;
    int stride;
    int normalOffset;  // -1: none, drawn with the current normal
    int colourOffset;  // -1: none, drawn in the current colour
};

constexpr MeshLayout kMeshXyz = {3, 12, -1, -1};
constexpr MeshLayout kMeshXyzRgba = {7, 16, -1, 12};
constexpr MeshLayout kMeshXyzNormalRgba = {10, 28, 12, 24};

// The most vertices a mesh holds.
constexpr std::uint32_t kMeshMaxVertices = 16u << 20;

// Trivially destructible, so that it can live in memory a Lua collection frees: whoever frees
// it hands Buffer() to DeferGlRelease first.
class ScriptMesh {
public:
    // data holds vertexCount vertices of the layout and outlives the mesh.
    ScriptMesh(const MeshLayout& layout, std::uint32_t vertexCount, unsigned char* data);

    const MeshLayout& Layout() const { return layout; }
    std::uint32_t VertexCount() const { return vertexCount; }
    std::size_t Bytes() const { return std::size_t(vertexCount) * std::size_t(layout.stride); }
    unsigned char* Vertex(std::uint32_t index) { return data + std::size_t(index) * layout.stride; }
    // The vertices from first on, count of them, were written: the next draw uploads them.
    void Changed(std::uint32_t first, std::uint32_t count);
    // 0 until the first draw.
    std::uint32_t Buffer() const { return buffer; }
    // With the context the buffer was made in current.
    static void DeleteBuffer(std::uint32_t buffer);

    // With the context current, outside glBegin/glEnd, as GL_TRIANGLES under the current
    // matrices, program and lighting. Leaves the array buffer unbound, the client arrays off,
    // and the current colour and normal as they were.
    void Draw();

private:
    MeshLayout layout;
    std::uint32_t vertexCount;
    unsigned char* data;
    std::uint32_t buffer = 0;
    std::size_t changedBegin = 0, changedEnd = 0;  // bytes
};
