// The stack of model transforms.
#include "mathlib/transformstack.h"

bool TransformStack::Push()
{
    if (depth == kMaxDepth)
        return false;
    levels[depth + 1] = levels[depth];
    identity[depth + 1] = identity[depth];
    ++depth;
    return true;
}

bool TransformStack::Pop()
{
    if (depth == 0)
        return false;
    --depth;
    return true;
}

void TransformStack::Apply(const Matrix4& m)
{
    levels[depth] = m * levels[depth];
    identity[depth] = false;
}

void TransformStack::Translate(const Vector3& t)
{
    Apply(TranslationMatrix(t));
}

void TransformStack::Rotate(float angle, const Vector3& axis)
{
    Apply(RotationMatrix(angle, axis));
}

void TransformStack::Scale(const Vector3& s)
{
    Apply(ScaleMatrix(s));
}

void TransformStack::Reset()
{
    depth = 0;
    levels[0] = Matrix4Identity;
    identity[0] = true;
}
