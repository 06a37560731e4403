#include "world/glshapes.h"

#include <GL/gl.h>
#include <cmath>

// The unit cube's corners and, per face, its four corners in counter-clockwise order seen from
// outside. Nothing is lit, so the shapes carry no normals.
static const GLfloat kCorners[8][3] = {
    {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}, {0.5f, 0.5f, -0.5f}, {-0.5f, 0.5f, -0.5f},
    {-0.5f, -0.5f, 0.5f},  {0.5f, -0.5f, 0.5f},  {0.5f, 0.5f, 0.5f},  {-0.5f, 0.5f, 0.5f},
};
static const int kFaces[6][4] = {
    {1, 2, 6, 5}, {3, 7, 6, 2}, {4, 5, 6, 7}, {0, 4, 7, 3}, {0, 1, 5, 4}, {0, 3, 2, 1},
};

static void Cube(double size, GLenum mode)
{
    const GLfloat s = GLfloat(size);
    for (int f = 0; f < 6; ++f) {
        glBegin(mode);
        for (int corner : kFaces[f])
            glVertex3f(kCorners[corner][0] * s, kCorners[corner][1] * s, kCorners[corner][2] * s);
        glEnd();
    }
}

void WireCube(double size) { Cube(size, GL_LINE_LOOP); }
void SolidCube(double size) { Cube(size, GL_QUADS); }

void WireSphere(double radius, int slices, int stacks)
{
    if (slices < 1 || stacks < 1)
        return;
    const double pi = std::acos(-1.0);
    for (int i = 1; i < stacks; ++i) {
        const double polar = pi * i / stacks;
        const double ringRadius = std::sin(polar);
        const double z = std::cos(polar);
        glBegin(GL_LINE_LOOP);
        for (int j = 0; j < slices; ++j) {
            const double around = 2.0 * pi * j / slices;
            const double x = std::cos(around) * ringRadius, y = std::sin(around) * ringRadius;
            glVertex3d(x * radius, y * radius, z * radius);
        }
        glEnd();
    }
    for (int j = 0; j < slices; ++j) {
        const double around = 2.0 * pi * j / slices;
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i <= stacks; ++i) {
            const double polar = pi * i / stacks;
            const double x = std::cos(around) * std::sin(polar);
            const double y = std::sin(around) * std::sin(polar), z = std::cos(polar);
            glVertex3d(x * radius, y * radius, z * radius);
        }
        glEnd();
    }
}
