#pragma once
// A script's triangles in a GL buffer object: the vertices stay in memory beside the buffer,
// which is made from them at the first draw (a mesh may be built before any context exists)
// and brought up to date at the draw after they change.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "gpu/gpuobject.h"

// How one vertex lies in memory: three floats of position, then optionally three of normal,
// then optionally two of texture coordinate, then optionally four bytes of colour; numbers is
// how many a script gives for it.
struct MeshLayout {
    int numbers;
    int stride;
    int normalOffset;  // -1: none, drawn with the current normal
    int colourOffset;  // -1: none, drawn in the current colour
    int uvOffset;      // -1: none, drawn with the current texture coordinate
};

constexpr MeshLayout kMeshXyz = {3, 12, -1, -1, -1};
constexpr MeshLayout kMeshXyzRgba = {7, 16, -1, 12, -1};
constexpr MeshLayout kMeshXyzNormalRgba = {10, 28, 12, 24, -1};
constexpr MeshLayout kMeshXyzUv = {5, 20, -1, -1, 12};
constexpr MeshLayout kMeshXyzUvRgba = {9, 24, -1, 20, 12};
constexpr MeshLayout kMeshXyzNormalUvRgba = {12, 36, 12, 32, 24};

// The most vertices a mesh holds.
constexpr std::uint32_t kMeshMaxVertices = 16u << 20;

class ScriptMesh : public GpuObject {
public:
    ScriptMesh(const MeshLayout& layout, std::uint32_t vertexCount);
    ~ScriptMesh() override;

    // Takes the vertices' bytes from the budget, then the memory for them; false, with what
    // the budget holds, when it has no room (an allocation that fails throws).
    bool Load(std::string& why) override;

    const MeshLayout& Layout() const { return layout; }
    std::uint32_t VertexCount() const { return vertexCount; }
    std::size_t Bytes() const { return std::size_t(vertexCount) * std::size_t(layout.stride); }
    unsigned char* Vertex(std::uint32_t index) { return data.get() + std::size_t(index) * layout.stride; }
    // The vertices from first on, count of them, were written: the next draw uploads them.
    void Changed(std::uint32_t first, std::uint32_t count);

    // As GL_TRIANGLES under the current matrices, program and lighting. Leaves the array
    // buffer bound, the client arrays on and the current colour undefined.
    void Draw();

    bool HoldsGl() const override { return buffer != 0; }
    void FreeGl() override;

private:
    MeshLayout layout;
    std::uint32_t vertexCount;
    std::unique_ptr<unsigned char[]> data;
    std::uint32_t buffer = 0;
    std::size_t changedBegin = 0, changedEnd = 0;  // bytes
};
