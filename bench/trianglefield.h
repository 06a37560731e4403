#pragma once
// N coloured triangles scattered in front of the start camera, as 13 numbers each: r, g, b, a
// (0 to 255) and three corners. The same numbers feed a C++ loop and a script's render().

#include <vector>

class TriangleField {
public:
    explicit TriangleField(int count);

    int Count() const { return count; }
    // Issues the triangles with glColor4ub/glVertex3f inside one glBegin/glEnd.
    void Draw() const;
    // Publishes the numbers as the script global benchTriangles (and benchCount) and defines a
    // render() that draws them through the bindings, and benchCallsOnly(), the same loop
    // calling a function that does nothing.
    void InstallScriptRender() const;

    // Publishes the same triangles as benchMeshNumbers, 21 numbers each: every corner as x, y, z
    // and the triangle's r, g, b, a, the default format of newMesh.
    void InstallMeshNumbers() const;

    static constexpr int kNumbersPerTriangle = 13;

private:
    int count;
    std::vector<float> numbers;
};
