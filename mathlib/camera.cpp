#include "mathlib/camera.h"

Camera::Camera() : matrix(AffineMatrixIdentity), scale(1.0f), matrixValid(true) {}

Camera::Camera(const Camera& other)
    : orientation(other.orientation),
      position(other.position),
      scale(other.scale),
      matrixValid(false)
{
}

Camera& Camera::operator=(const Camera& other)
{
    orientation = other.orientation;
    position = other.position;
    scale = other.scale;
    matrix = AffineMatrix();
    matrixValid = false;
    return *this;
}

void Camera::SetPosition(const Vector3& p)
{
    position = p;
    matrixValid = false;
}

void Camera::SetOrientation(const Quaternion& q)
{
    orientation = q;
    matrixValid = false;
}

void Camera::Translate(const Vector3& d)
{
    position += d;
    matrixValid = false;
}

void Camera::Rotate(const Quaternion& q)
{
    orientation = q * orientation;
    matrixValid = false;
}

void Camera::NormalizeOrientation()
{
    orientation.Normalize();
}

Vector3 Camera::TransformDirection(const Vector3& v) const
{
    return orientation.Rotate(v * scale);
}

void Camera::UpdateMatrix()
{
    matrix.SetRotation(orientation);
    matrix.SetTranslation(position);
    if (scale != 1.0f) {
        for (int i = 0; i < 9; ++i)
            matrix.m[i] *= scale;
    }
    matrixValid = true;
}

Vector3 Camera::WorldToLocal(const Vector3& p)
{
    if (!matrixValid)
        UpdateMatrix();
    // The rows carry the scale once, so dividing by its square leaves (p - position) / scale.
    return matrix.InverseTransform(p) * (1.0f / (scale * scale));
}

void Camera::Invert()
{
    // (-w, x, y, z) is the negated conjugate, which stands for the inverse rotation.
    orientation.w = -orientation.w;
    if (scale == 1.0f) {
        position = -orientation.Rotate(position);
    } else {
        scale = 1.0f / scale;
        position = orientation.Rotate(position) * (-scale);
    }
    matrixValid = false;
}
