#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "mathlib/camera.h"

namespace {

void ExpectNear(const Vector3& a, const Vector3& b, float eps = 1e-4f)
{
    EXPECT_TRUE(std::fabs(a.x - b.x) <= eps && std::fabs(a.y - b.y) <= eps && std::fabs(a.z - b.z) <= eps)
        << a.x << " " << a.y << " " << a.z << " against " << b.x << " " << b.y << " " << b.z;
}

// The same rotation (q and -q both qualify), or with exact false the same four numbers.
void ExpectNear(const Quaternion& a, Quaternion b, float eps = 1e-6f, bool exact = true)
{
    if (!exact && a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z < 0)
        b = Quaternion(-b.w, -b.x, -b.y, -b.z);
    ExpectNear(Vector3(a.x, a.y, a.z), Vector3(b.x, b.y, b.z), eps);
    EXPECT_NEAR(a.w, b.w, eps);
}

TEST(Vectors, NormalisationAvoidsOverflowAndUnderflowAndKeepsZero)
{
    const Vector3 cases[][2] = {{{1e-30f, 0, 0}, {1, 0, 0}}, {{3e30f, 4e30f, 0}, {0.6f, 0.8f, 0}},
                                {{0, 0, 0}, {0, 0, 0}}, {{0, -2, 0}, {0, -1, 0}}, {{1, 1, 0}, {0.7071068f, 0.7071068f, 0}}};
    for (const auto& c : cases) {
        Vector3 v = c[0];
        v.Normalize();
        ExpectNear(v, c[1], 1e-6f);
        ExpectNear(c[0].Normalized(), c[1], 1e-6f);
    }
    ExpectNear(Cross(Vector3(1, 0, 0), Vector3(0, 1, 0)), Vector3(0, 0, 1));
    // Angles are numbers for parallel vectors too, where an acos of the dot product may not be.
    EXPECT_NEAR(Vector3(2, 0, 0).AngleTo(Vector3(0, 0, -3)), HalfPi, 1e-6f);
    EXPECT_NEAR(Vector3(1, 1, 0).AngleTo(Vector3(-1, -1, 0)), Pi, 1e-6f);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int i = 0; i < 1000; ++i) {
        const Vector3 v(u(rng), u(rng), u(rng));
        EXPECT_LT(v.AngleTo(v * 3), 1e-3f) << v.x << " " << v.y << " " << v.z;
    }
    const float angles[][2] = {{Radians10, 10}, {Radians15, 15}, {Radians20, 20}, {Radians30, 30}, {Radians45, 45},
                               {Radians60, 60}, {Radians90, 90}, {Radians180, 180}, {Radians360, 360}, {HalfPi, 90},
                               {Pi, 180}, {TwoPi, 360}, {1 / InvPi, 180}, {DegreesToRadians * 57.29578f, 57.29578f}};
    for (const auto& [radians, degrees] : angles)
        EXPECT_NEAR(radians * RadiansToDegrees, degrees, 1e-4f);
    // The identities, each in its own layout, are the same transform.
    const Matrix4 fromAffine(AffineMatrixIdentity);
    for (int k = 0; k < 16; ++k)
        EXPECT_TRUE(fromAffine.m[k] == Matrix4Identity.m[k] && Matrix4Identity.m[k] == float(k % 5 == 0)) << k;
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(Matrix3Identity.m[k], AffineMatrixIdentity.m[k]);
}

// Reference: the rotation of v is the vector part of q (0, v) q*, scaled by |q|^2 when q is not
// of unit length.
TEST(Quaternions, RotationComposesAndMatchesTheSandwichProduct)
{
    const Vector3 y(0, 1, 0), v(0.3f, -0.2f, 0.9f);
    ExpectNear(Quaternion(y, HalfPi).Rotate(Vector3(0, 0, -1)), Vector3(-1, 0, 0));
    ExpectNear(Quaternion(y, 0.3f) * Quaternion(y, 0.5f), Quaternion(y, 0.8f), 1e-6f, false);
    ExpectNear(Quaternion(Vector3(0, 0, 0), 0.0f), Quaternion(1, 0, 0, 0), 0);
    Quaternion turned(0.5f, 0.5f, 0.5f, 0.5f);
    turned.FromAxisAngle(Vector3(1, 0, 0), 0);
    ExpectNear(Quaternion(), turned, 0);
    for (const Quaternion& q : {Quaternion(0.5f, 1.0f, -2.0f, 0.25f), Quaternion(Vector3(0, 2, 0), 0.6f)}) {
        const Quaternion p = q * Quaternion(0, v.x, v.y, v.z) * Quaternion(q.w, -q.x, -q.y, -q.z);
        ExpectNear(q.Rotate(v), Vector3(p.x, p.y, p.z));
    }
}

// Products rotate by the right factor first.
TEST(Quaternions, MatrixRoundTripsAndProductsCompose)
{
    std::mt19937 rng(7);
    std::normal_distribution<float> n;
    std::vector<Quaternion> qs;
    // Half turns have a trace of -1: each axis in turn is the largest diagonal element.
    for (const Vector3& axis : {Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, 1)})
        qs.push_back(Quaternion(axis, Pi));
    for (int i = 0; i < 500; ++i, qs.back().Normalize())
        qs.push_back(Quaternion(n(rng), n(rng), n(rng), n(rng)));
    for (const Quaternion& q : qs) {
        ExpectNear((q * qs.back()).Rotate(Vector3(1, 2, 3)), q.Rotate(qs.back().Rotate(Vector3(1, 2, 3))), 1e-3f);
        AffineMatrix affine = AffineMatrixIdentity;
        affine.SetRotation(q);
        Matrix3 m;
        std::copy(affine.m, affine.m + 9, m.m);
        Quaternion back;
        QuaternionFromMatrix(back, m);
        ExpectNear(back, q, 1e-4f, false);
        for (int row = 0; row < 3; ++row)
            ExpectNear(m.Row(row), q.Rotate(Vector3(row == 0, row == 1, row == 2)));
    }
}

// Reference slerp from the interpolation's own formulas; the blend is linear when 1 - d < 0.01
// in single precision, which holds at d = 0.99f too.
Quaternion ReferenceSlerp(float t, const Quaternion& a, const Quaternion& b, int spin)
{
    const double dot = double(a.w) * b.w + double(a.x) * b.x + double(a.y) * b.y + double(a.z) * b.z;
    const double d = std::fabs(dot), omega = std::acos(d), phi = omega + spin * M_PI;
    const bool linear = 1.0f - float(d) < 0.01f;
    const double s0 = linear ? 1 - t : std::sin(omega - t * phi) / std::sin(omega);
    const double s1 = (linear ? t : std::sin(t * phi) / std::sin(omega)) * (dot < 0 ? -1 : 1);
    Quaternion q(float(s0 * a.w + s1 * b.w), float(s0 * a.x + s1 * b.x), float(s0 * a.y + s1 * b.y),
                 float(s0 * a.z + s1 * b.z));
    q.Normalize();
    return q;
}

TEST(Quaternions, SlerpFollowsItsFormulas)
{
    struct Case { float d, t; int spin; };
    for (const Case& c : {Case{0.995f, 0.25f, 0}, Case{0.99f, 0.25f, 0}, Case{0.987f, 0.25f, 0}, Case{0.98f, 0.25f, 0},
                          Case{0.9f, 0.25f, 0}, Case{0.9f, 0, 0}, Case{-0.9f, 1, 0}, Case{-0.5f, 0.7f, 0}, Case{0.9f, 0.3f, 1}}) {
        const Quaternion a(1, 0, 0, 0), b(c.d, std::copysign(std::sqrt(1 - c.d * c.d), c.d), 0, 0);
        Quaternion out;
        Slerp(out, c.t, a, b, c.spin);
        SCOPED_TRACE(testing::Message() << "d " << c.d << " t " << c.t << " spin " << c.spin);
        ExpectNear(out, ReferenceSlerp(c.t, a, b, c.spin), 2e-7f);
    }
}

TEST(Quaternions, LookOrientationMapsForwardAndDegeneratesAtThePoles)
{
    const Vector3 up(0, 1, 0);
    for (const auto& [direction, expected] : {std::pair{Vector3(0, 0, -1), Quaternion(1, 0, 0, 0)},
                                              std::pair{Vector3(0, -1, 0), Quaternion(-0.5f, 0.5f, 0, 0)},
                                              std::pair{Vector3(0, 1, 0), Quaternion(0.5f, 0.5f, 0, 0)},
                                              std::pair{Vector3(0, 0, 0), Quaternion(0, 0.5f, 0, 0)}}) {
        Quaternion q;
        QuaternionFromLook(q, direction, up);
        ExpectNear(q, expected);
    }
    const Vector3 d = Vector3(18, -6, -10).Normalized();
    Quaternion q;
    QuaternionFromLook(q, d, up);
    q.Normalize();
    ExpectNear(q.Rotate(Vector3(0, 0, -1)), d);
    EXPECT_NEAR(q.Rotate(Vector3(1, 0, 0)).y, 0.0f, 1e-6f);  // the right axis stays level
    EXPECT_GT(q.Rotate(Vector3(0, 1, 0)).y, 0.0f);
    EXPECT_DEATH(Quaternion(0, 0, 0, 0).Normalize(), "x != 0.0f");
}

// The camera's cached transform follows every change, also after an inversion and in a copy.
TEST(Camera, WorldToLocalFollowsEveryChange)
{
    const Vector3 p(10, 4, -3);
    Camera c;
    c.SetOrientation(Quaternion(Vector3(0.48f, 0.6f, 0.64f), 0.9f));
    const std::function<void()> changes[] = {[&] { c.Translate(Vector3(1, 2, 3)); },
                                             [&] { c.Rotate(Quaternion(Vector3(0, 1, 0), 0.3f)); },
                                             [&] { c.SetPosition(Vector3(-1, 0, 2)); }, [&] { c.Invert(); }};
    for (const auto& change : changes) {
        c.WorldToLocal(p);  // fills the cache
        change();
        const Camera copy(c);
        ExpectNear(c.TransformDirection(c.WorldToLocal(p)) + c.GetPosition(), p, 1e-4f);
        ExpectNear(Camera(copy).WorldToLocal(p), c.WorldToLocal(p), 1e-4f);
    }
}

}  // namespace
