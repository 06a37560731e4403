#ifndef MATHLIB_CAMERA_H
#define MATHLIB_CAMERA_H

#include "mathlib/ML_Maths.h"

// A rigid transform with uniform scale: a camera-local point p maps to the world point
// orientation.Rotate(scale * p) + position. The camera looks along its local -z axis, with
// local +y up and local +x to the right on the screen.
//
// matrix caches the transform and is meaningful only while matrixValid is true. Every change
// of orientation, position or scale clears the flag; only UpdateMatrix sets it.
class Camera
{
public:
    Camera();
    // A copy takes the transform but not the cached matrix, which it rebuilds before use.
    Camera(const Camera& other);
    Camera& operator=(const Camera& other);

    Vector3 GetPosition() const { return position; }
    void SetPosition(const Vector3& p);
    Quaternion GetOrientation() const { return orientation; }
    // Stored as given, without normalisation.
    void SetOrientation(const Quaternion& q);

    void Translate(const Vector3& d);
    // Applies q about the world axes after the current orientation: orientation = q * orientation.
    void Rotate(const Quaternion& q);
    void NormalizeOrientation();

    // Scales v and rotates it into world space; the position is not applied.
    Vector3 TransformDirection(const Vector3& v) const;

    void UpdateMatrix();
    Vector3 WorldToLocal(const Vector3& p);
    // Turns the transform into its inverse in place.
    void Invert();

    Quaternion orientation;
    Vector3 position;
    AffineMatrix matrix;
    float scale;
    bool matrixValid;
};

#endif
