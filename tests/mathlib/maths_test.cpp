#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "mathlib/camera.h"
#include "mathlib/transformstack.h"

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
    // Angles are numbers, and accurate, for parallel and opposite vectors too: with this vector an
    // acos of the dot product of the two directions is NaN, and with (1, 1, 1) 0.0003.
    const Vector3 v(-0.940247595f, 0.389647365f, -0.118380308f), w(1, 1, 1);
    EXPECT_EQ(v.AngleTo(v * 3) + w.AngleTo(w), 0.0f);
    EXPECT_NEAR(Vector3(2, 0, 0).AngleTo(Vector3(0, 0, -3)), HalfPi, 1e-6f);
    EXPECT_NEAR(Vector3(1, 1, 0).AngleTo(Vector3(-1, -1, 0)), Pi, 1e-6f);
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

// Slerp turns from a towards b about their common axis by the share t of the angle between them
// (unit length, both ends, equal angles per equal step), the shorter way when b is negated too.
// Nearly equal rotations (1 - |a.b| < 0.01) are blended linearly, which is close but not exact.
TEST(Quaternions, SlerpTurnsByItsShareOfTheAngle)
{
    const Vector3 axis = Vector3(1, 2, 2) * (1.0f / 3);
    const Quaternion a(Vector3(0, 1, 0), 0.4f);
    for (const float angle : {2.5f, 0.3f, 2 * std::acos(0.985f), 2 * std::acos(0.995f), 1e-4f})
        for (const float sign : {1.0f, -1.0f})
            for (const float t : {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}) {
                const Quaternion b = Quaternion(axis, angle) * a;
                Quaternion out;
                Slerp(out, t, a, Quaternion(sign * b.w, sign * b.x, sign * b.y, sign * b.z), 0);
                SCOPED_TRACE(testing::Message() << "angle " << angle << " t " << t << " sign " << sign);
                ExpectNear(out, Quaternion(axis, t * angle) * a, angle < 0.25f ? 1e-4f : 1e-6f, false);
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

// Each transform acts on points before those given earlier, as GL's own do; a quarter turn
// about z takes x to y; the stack holds 64 saved levels and no more.
TEST(TransformStack, TransformsComposeAsGLsAndTheStackHoldsSixtyFour)
{
    TransformStack stack;
    stack.Translate(Vector3(10, 0, 0));
    stack.Rotate(HalfPi, Vector3(0, 0, 2));
    stack.Scale(Vector3(2, 3, 4));
    EXPECT_FALSE(stack.TopIsIdentity());
    ExpectNear(TransformPoint(stack.Top(), Vector3(1, 1, 1)), Vector3(10 - 3, 2, 4), 1e-5f);
    ASSERT_TRUE(stack.Push());
    stack.Translate(Vector3(0, 0, 5));
    ExpectNear(TransformPoint(stack.Top(), Vector3(0, 0, 0)), Vector3(10, 0, 20), 1e-5f);
    ASSERT_TRUE(stack.Pop());
    ExpectNear(TransformPoint(stack.Top(), Vector3(0, 0, 0)), Vector3(10, 0, 0), 1e-5f);
    EXPECT_FALSE(stack.Pop());
    int pushed = 0;
    while (stack.Push())
        ++pushed;
    EXPECT_EQ(pushed, TransformStack::kMaxDepth);
    stack.Reset();
    EXPECT_EQ(stack.Depth(), 0);
    EXPECT_TRUE(stack.TopIsIdentity());
    ExpectNear(TransformPoint(stack.Top(), Vector3(1, 2, 3)), Vector3(1, 2, 3), 0);
}

}  // namespace
