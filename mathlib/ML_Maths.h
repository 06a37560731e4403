// Single-precision 3D maths: vectors, quaternions and matrices.
//
// Conventions:
// - Components are 32-bit floats; angles are in radians.
// - Right-handed coordinates with +y up. A positive angle turns counter-clockwise when
//   looking from the tip of the axis towards the origin.
// - Row-vector matrices: row i is the image of axis i and a vector maps to v * M, plus the
//   translation row of an affine matrix. A Matrix4 can go to glLoadMatrixf in stored order.
// - Quaternions are stored w, x, y, z; products are Hamilton products, and rotating by
//   a * b rotates by b first, then by a.
// - Plain values only: nothing allocates, does I/O or keeps state.
// - Zero vectors survive normalisation unchanged; normalising a zero quaternion is the one
//   checked error, and it ends the program with a report.
#ifndef MATHLIB_ML_MATHS_H
#define MATHLIB_ML_MATHS_H

#include <cmath>
#include <cstdio>
#include <cstdlib>

constexpr float Pi = 3.14159265358979323846f;
constexpr float TwoPi = 6.28318530717958647692f;
constexpr float HalfPi = 1.57079632679489661923f;
constexpr float InvPi = 0.31830988618379067154f;

// Common angles in radians.
constexpr float Radians10 = 0.17453292519943295769f;
constexpr float Radians15 = 0.26179938779914943654f;
constexpr float Radians20 = 0.34906585039886591538f;
constexpr float Radians30 = 0.52359877559829887308f;
constexpr float Radians45 = 0.78539816339744830962f;
constexpr float Radians60 = 1.04719755119659774615f;
constexpr float Radians90 = 1.57079632679489661923f;
constexpr float Radians180 = 3.14159265358979323846f;
constexpr float Radians360 = 6.28318530717958647692f;

// Conversion factors as float values.
constexpr float RadiansToDegrees = 57.2957763671875f;
constexpr float DegreesToRadians = 0.01745329238474369f;

// Below this distance of the quaternion dot product from 1, Slerp blends linearly: the
// angle formula would divide by a sine close to zero.
constexpr float SlerpLinearThreshold = 0.01f;

// The library's one check. It stays active in release builds as well: normalising a zero
// quaternion would otherwise fill the camera with NaNs without a word. The report has the
// layout of the C library's assertion message.
[[noreturn]] inline void ReportFailedCheck(const char* expression, const char* file, int line,
                                           const char* function)
{
    std::fprintf(stderr, "%s:%d: %s: Assertion `%s' failed.\n", file, line, function,
                 expression);
    std::fflush(stderr);
    std::abort();
}

#define ML_CHECK(expression)                                                \
    ((expression) ? static_cast<void>(0)                                    \
                  : ReportFailedCheck(#expression, __FILE__, __LINE__, __func__))

inline void SinCos(float angle, float* s, float* c)
{
    *s = std::sin(angle);
    *c = std::cos(angle);
}

// 1 / sqrt(x) for the quaternion norm; x is a sum of squares, so only 0 is invalid.
inline float ReciprocalSqrt(float x)
{
    ML_CHECK(x != 0.0f);
    return 1.0f / std::sqrt(x);
}

struct Vector3
{
    float x, y, z;

    constexpr Vector3() : x(0), y(0), z(0) {}
    constexpr Vector3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    float Length() const { return std::sqrt(x * x + y * y + z * z); }

    // Divides by the largest magnitude first, so that squaring neither overflows nor
    // underflows. A zero vector stays zero.
    void Normalize()
    {
        const float m = std::fmax(std::fabs(x), std::fmax(std::fabs(y), std::fabs(z)));
        if (m == 0)
            return;
        x /= m;
        y /= m;
        z /= m;
        const float len = std::sqrt(x * x + y * y + z * z);
        if (len == 0)
            return;
        const float inv = 1.0f / len;
        x *= inv;
        y *= inv;
        z *= inv;
    }

    Vector3 Normalized() const
    {
        Vector3 v = *this;
        v.Normalize();
        return v;
    }

    // In radians, 0 to pi; 0 when either vector is zero.
    float AngleTo(const Vector3& other) const;

    Vector3& operator+=(const Vector3& b)
    {
        x += b.x;
        y += b.y;
        z += b.z;
        return *this;
    }

    Vector3& operator*=(float s)
    {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
};

inline Vector3 operator+(const Vector3& a, const Vector3& b)
{
    return Vector3(a.x + b.x, a.y + b.y, a.z + b.z);
}

inline Vector3 operator-(const Vector3& a, const Vector3& b)
{
    return Vector3(a.x - b.x, a.y - b.y, a.z - b.z);
}

inline Vector3 operator-(const Vector3& v) { return Vector3(-v.x, -v.y, -v.z); }

inline Vector3 operator*(const Vector3& v, float s) { return Vector3(v.x * s, v.y * s, v.z * s); }

inline float Dot(const Vector3& a, const Vector3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Vector3 Cross(const Vector3& a, const Vector3& b)
{
    return Vector3(a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x);
}

// From the sine and the cosine together: an acos of the dot product alone turns NaN when
// rounding pushes it past 1, and loses precision near 0 and pi.
inline float Vector3::AngleTo(const Vector3& other) const
{
    const Vector3 a = Normalized(), b = other.Normalized();
    return std::atan2(Cross(a, b).Length(), Dot(a, b));
}

struct Quaternion
{
    float w, x, y, z;

    constexpr Quaternion() : w(1), x(0), y(0), z(0) {}
    constexpr Quaternion(float w_, float x_, float y_, float z_) : w(w_), x(x_), y(y_), z(z_) {}
    Quaternion(const Vector3& axis, float angle) : Quaternion() { FromAxisAngle(axis, angle); }

    void SetIdentity()
    {
        w = 1;
        x = 0;
        y = 0;
        z = 0;
    }

    // A zero quaternion fails the library's check and ends the program.
    void Normalize()
    {
        const float inv = ReciprocalSqrt(w * w + x * x + y * y + z * z);
        w *= inv;
        x *= inv;
        y *= inv;
        z *= inv;
    }

    // The axis is used as given: a non-unit axis gives a non-unit quaternion. Angle 0 is
    // the identity whatever the axis, even a zero one.
    void FromAxisAngle(const Vector3& axis, float angle)
    {
        if (angle == 0) {
            SetIdentity();
            return;
        }
        float s, c;
        SinCos(angle * 0.5f, &s, &c);
        w = c;
        x = axis.x * s;
        y = axis.y * s;
        z = axis.z * s;
    }

    // The vector part of q * (0, v) * conjugate(q): a rotation for a unit quaternion,
    // additionally scaled by the squared length otherwise.
    Vector3 Rotate(const Vector3& v) const
    {
        const Vector3 q(x, y, z);
        const Vector3 t = v * w + Cross(q, v);
        const float g = Dot(q, v);
        return q * g + t * w + Cross(q, t);
    }
};

inline Quaternion operator*(const Quaternion& a, const Quaternion& b)
{
    return Quaternion(a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z,
                      a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
                      a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
                      a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w);
}

// Element (row, column) at m[3 * row + column]; row i is the image of axis i.
struct Matrix3
{
    float m[9] = {};

    Vector3 Row(int i) const { return Vector3(m[3 * i], m[3 * i + 1], m[3 * i + 2]); }
    void SetRow(int i, const Vector3& v)
    {
        m[3 * i] = v.x;
        m[3 * i + 1] = v.y;
        m[3 * i + 2] = v.z;
    }
};

// m[0..8] the 3x3 part as in Matrix3, m[9..11] the translation: v maps to v * M + t.
struct AffineMatrix
{
    float m[12] = {};

    Vector3 Row(int i) const { return Vector3(m[3 * i], m[3 * i + 1], m[3 * i + 2]); }
    Vector3 Translation() const { return Row(3); }

    // Writes the 3x3 part; the translation is left as it is.
    void SetRotation(const Quaternion& q)
    {
        const float X = 2.0f * q.x;
        const float Y = 2.0f * q.y;
        const float Z = 2.0f * q.z;
        m[0] = 1.0f - (q.y * Y + q.z * Z);
        m[1] = q.x * Y + q.w * Z;
        m[2] = q.x * Z - q.w * Y;
        m[3] = q.x * Y - q.w * Z;
        m[4] = 1.0f - (q.x * X + q.z * Z);
        m[5] = q.y * Z + q.w * X;
        m[6] = q.x * Z + q.w * Y;
        m[7] = q.y * Z - q.w * X;
        m[8] = 1.0f - (q.x * X + q.y * Y);
    }

    void SetTranslation(const Vector3& t)
    {
        m[9] = t.x;
        m[10] = t.y;
        m[11] = t.z;
    }

    // Exact only for a rigid transform: the 3x3 part is used as its own inverse transpose.
    Vector3 InverseTransform(const Vector3& p) const
    {
        const Vector3 e = p - Translation();
        return Vector3(Dot(Row(0), e), Dot(Row(1), e), Dot(Row(2), e));
    }
};

// Element (row, column) at m[4 * row + column]; the bottom row holds the translation.
struct Matrix4
{
    float m[16];

    constexpr Matrix4() : m{} {}

    constexpr Matrix4(const float (&row0)[4], const float (&row1)[4], const float (&row2)[4],
                      const float (&row3)[4])
        : m{row0[0], row0[1], row0[2], row0[3], row1[0], row1[1], row1[2], row1[3],
            row2[0], row2[1], row2[2], row2[3], row3[0], row3[1], row3[2], row3[3]}
    {
    }

    constexpr explicit Matrix4(const AffineMatrix& a)
        : m{a.m[0], a.m[1], a.m[2],  0, a.m[3], a.m[4],  a.m[5],  0,
            a.m[6], a.m[7], a.m[8],  0, a.m[9], a.m[10], a.m[11], 1}
    {
    }
};

constexpr Matrix3 Matrix3Identity = {{1, 0, 0, 0, 1, 0, 0, 0, 1}};

constexpr AffineMatrix AffineMatrixIdentity = {
    {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};

constexpr Matrix4 Matrix4Identity({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1});

// Takes the shorter way between a and b; spin adds that many half turns to the angle swept.
// The result is normalised.
inline void Slerp(Quaternion& out, float t, const Quaternion& a, const Quaternion& b, int spin)
{
    float d = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
    bool flip = false;
    if (d < 0) {
        d = -d;
        flip = true;
    }
    float s0, s1;
    if (1.0f - d < SlerpLinearThreshold) {
        s0 = 1.0f - t;
        s1 = t;
    } else {
        const float omega = std::acos(d);
        const float inv = 1.0f / std::sin(omega);
        const float phi = omega + static_cast<float>(spin) * Pi;
        s1 = std::sin(t * phi) * inv;
        s0 = std::sin(omega - t * phi) * inv;
    }
    if (flip)
        s1 = -s1;
    out.w = s0 * a.w + s1 * b.w;
    out.x = s0 * a.x + s1 * b.x;
    out.y = s0 * a.y + s1 * b.y;
    out.z = s0 * a.z + s1 * b.z;
    out.Normalize();
}

// The inverse of AffineMatrix::SetRotation for unit quaternions, up to sign, for the
// row-vector layout. The result is not normalised.
inline void QuaternionFromMatrix(Quaternion& out, const Matrix3& matrix)
{
    const auto m = [&matrix](int row, int column) { return matrix.m[3 * row + column]; };
    const float tr = m(0, 0) + m(1, 1) + m(2, 2);
    if (tr > 0) {
        const float r = std::sqrt(tr + 1.0f);
        const float s = 0.5f / r;
        out.w = 0.5f * r;
        out.x = (m(1, 2) - m(2, 1)) * s;
        out.y = (m(2, 0) - m(0, 2)) * s;
        out.z = (m(0, 1) - m(1, 0)) * s;
        return;
    }
    // Start from the axis of the largest diagonal element; ties keep the earlier axis.
    static constexpr int next[3] = {1, 2, 0};
    int i = 0;
    if (m(0, 0) < m(1, 1))
        i = 1;
    if (m(i, i) < m(2, 2))
        i = 2;
    const int j = next[i];
    const int k = next[j];
    const float r = std::sqrt(m(i, i) - (m(k, k) + m(j, j)) + 1.0f);
    const float s = r != 0 ? 0.5f / r : 0;
    float v[3];
    v[i] = 0.5f * r;
    v[j] = (m(i, j) + m(j, i)) * s;
    v[k] = (m(i, k) + m(k, i)) * s;
    out.w = (m(j, k) - m(k, j)) * s;
    out.x = v[0];
    out.y = v[1];
    out.z = v[2];
}

// Rows: right axis, up axis, back axis (the negated direction). A direction parallel to up
// leaves the right axis, and with it the up axis, zero.
inline void LookBasis(Matrix3& m, const Vector3& direction, const Vector3& up)
{
    const Vector3 forward = direction.Normalized();
    const Vector3 right = Cross(forward, up).Normalized();
    m.SetRow(0, right);
    m.SetRow(1, Cross(right, forward));
    m.SetRow(2, -forward);
}

// The rotation that maps local -z to direction, local +x to the right axis and local +y to
// the up axis. Degenerate directions give a non-unit result, which is not corrected.
inline void QuaternionFromLook(Quaternion& out, const Vector3& direction, const Vector3& up)
{
    Matrix3 m;
    LookBasis(m, direction, up);
    QuaternionFromMatrix(out, m);
}

// a * b maps v to (v * a) * b: a acts first.
inline Matrix4 operator*(const Matrix4& a, const Matrix4& b)
{
    Matrix4 r;
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 4; ++column) {
            float sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a.m[4 * row + k] * b.m[4 * k + column];
            r.m[4 * row + column] = sum;
        }
    return r;
}

// Where the matrix takes the point p (the translation row included).
inline Vector3 TransformPoint(const Matrix4& a, const Vector3& p)
{
    const float* m = a.m;
    return Vector3(p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12],
                   p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
                   p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]);
}

inline Matrix4 TranslationMatrix(const Vector3& t)
{
    return Matrix4({1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {t.x, t.y, t.z, 1});
}

inline Matrix4 ScaleMatrix(const Vector3& s)
{
    return Matrix4({s.x, 0, 0, 0}, {0, s.y, 0, 0}, {0, 0, s.z, 0}, {0, 0, 0, 1});
}

// Counter-clockwise about the axis seen from its tip; the axis need not be a unit vector.
inline Matrix4 RotationMatrix(float angle, const Vector3& axis)
{
    AffineMatrix a;
    a.SetRotation(Quaternion(axis.Normalized(), angle));
    return Matrix4(a);
}

#endif
