#pragma once
// A stack of model transforms: the matrix on top and up to 64 saved beneath it.

#include "mathlib/ML_Maths.h"

class TransformStack {
public:
    static constexpr int kMaxDepth = 64;

    // Saves the top; false, and nothing changes, when kMaxDepth are saved already.
    bool Push();
    // Brings back the last saved top; false when nothing is saved.
    bool Pop();
    // Each acts on points before the transforms given earlier, as OpenGL's own do.
    void Translate(const Vector3& t);
    void Rotate(float angle, const Vector3& axis);
    void Scale(const Vector3& s);
    // Identity on top and nothing saved.
    void Reset();

    const Matrix4& Top() const { return levels[depth]; }
    bool TopIsIdentity() const { return identity[depth]; }
    int Depth() const { return depth; }

private:
    void Apply(const Matrix4& m);

    Matrix4 levels[kMaxDepth + 1] = {Matrix4Identity};
    bool identity[kMaxDepth + 1] = {true};
    int depth = 0;
};
