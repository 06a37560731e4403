#include <gtest/gtest.h>

#include <random>

#include "mathlib/ML_Maths.h"

namespace {

constexpr float kEps = 1e-5f;

void ExpectNear(const Vector3& a, const Vector3& b, float eps = kEps)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

// Same rotation: q and -q both qualify.
void ExpectSameRotation(const Quaternion& a, const Quaternion& b, float eps = 1e-4f)
{
    const float sign = (a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z) < 0 ? -1.0f : 1.0f;
    EXPECT_NEAR(a.w, sign * b.w, eps);
    EXPECT_NEAR(a.x, sign * b.x, eps);
    EXPECT_NEAR(a.y, sign * b.y, eps);
    EXPECT_NEAR(a.z, sign * b.z, eps);
}

// The rotation part of SetRotation, and the quaternion read back from it.
Quaternion RoundTrip(const Quaternion& q, AffineMatrix& affine)
{
    affine = AffineMatrixIdentity;
    affine.SetRotation(q);
    Matrix3 m;
    for (int k = 0; k < 9; ++k)
        m.m[k] = affine.m[k];
    Quaternion back;
    QuaternionFromMatrix(back, m);
    return back;
}

Quaternion RandomUnit(std::mt19937& rng)
{
    std::normal_distribution<float> n;
    Quaternion q(n(rng), n(rng), n(rng), n(rng));
    q.Normalize();
    return q;
}

TEST(Normalisation, AvoidsOverflowAndUnderflowAndKeepsZero)
{
    Vector3 tiny(1e-30f, 0, 0), huge(3e30f, 4e30f, 0), zero(0, 0, 0);
    tiny.Normalize();
    huge.Normalize();
    zero.Normalize();
    ExpectNear(tiny, Vector3(1, 0, 0));
    ExpectNear(huge, Vector3(0.6f, 0.8f, 0));
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.y, 0.0f);
    EXPECT_EQ(zero.z, 0.0f);
    ExpectNear(Vector3(3e30f, 4e30f, 0).Normalized(), Vector3(0.6f, 0.8f, 0));
}

TEST(QuaternionRotation, ProductsComposeLikeAngleSums)
{
    const Vector3 y(0, 1, 0);
    ExpectSameRotation(Quaternion(y, 0.3f) * Quaternion(y, 0.5f), Quaternion(y, 0.8f));
    const Quaternion zeroAxis(Vector3(0, 0, 0), 0.0f);
    EXPECT_EQ(zeroAxis.w, 1.0f);
    EXPECT_EQ(zeroAxis.x, 0.0f);
}

TEST(QuaternionRotation, QuarterTurnAboutYTurnsForwardToTheLeft)
{
    ExpectNear(Quaternion(Vector3(0, 1, 0), HalfPi).Rotate(Vector3(0, 0, -1)), Vector3(-1, 0, 0));
}

TEST(QuaternionRotation, ProductRotatesByTheRightFactorFirst)
{
    const Quaternion a(Vector3(1, 0, 0), 0.7f), b(Vector3(0, 0, 1), 1.1f);
    const Vector3 v(0.3f, -0.2f, 0.9f);
    ExpectNear((a * b).Rotate(v), a.Rotate(b.Rotate(v)));
}

TEST(QuaternionMatrix, RoundTripsAndAgreesWithRowVectorProduct)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        const Quaternion q = RandomUnit(rng);
        AffineMatrix affine;
        ExpectSameRotation(RoundTrip(q, affine), q);
        const Vector3 v(0.5f, -1.5f, 2.0f);
        const Vector3 rowProduct = affine.Row(0) * v.x + affine.Row(1) * v.y + affine.Row(2) * v.z;
        ExpectNear(q.Rotate(v), rowProduct, 1e-4f);
    }
    // Half turns have a trace of -1: each axis in turn is the largest diagonal element.
    for (const Vector3& axis : {Vector3(1, 0, 0), Vector3(0, 1, 0), Vector3(0, 0, 1)}) {
        const Quaternion q(axis, Pi);
        AffineMatrix affine;
        ExpectSameRotation(RoundTrip(q, affine), q);
    }
}

TEST(SlerpInterpolation, EndPointsIncludingTheFlippedCase)
{
    const Quaternion a(Vector3(0, 1, 0), 0.2f), b(Vector3(1, 0, 0), 1.0f);
    Quaternion out;
    Slerp(out, 0.0f, a, b, 0);
    ExpectSameRotation(out, a);
    Slerp(out, 1.0f, a, b, 0);
    ExpectSameRotation(out, b);
    const Quaternion negB(-b.w, -b.x, -b.y, -b.z);
    Slerp(out, 1.0f, a, negB, 0);
    EXPECT_NEAR(out.w, b.w, 1e-5f);  // -(-b): the shorter way
    EXPECT_NEAR(out.x, b.x, 1e-5f);
}

TEST(SlerpInterpolation, BlendsLinearlyOnlyAboveTheThreshold)
{
    // With d just above 0.99 the linear blend halves the angle's sine-weighted path; both
    // formulas agree closely, so compare against each explicitly at t = 0.25.
    auto linear = [](const Quaternion& a, const Quaternion& b, float t) {
        Quaternion q(a.w * (1 - t) + b.w * t, a.x * (1 - t) + b.x * t, a.y * (1 - t) + b.y * t,
                     a.z * (1 - t) + b.z * t);
        q.Normalize();
        return q;
    };
    const Quaternion a(1, 0, 0, 0);
    for (float d : {0.995f, 0.99f, 0.9f}) {
        const Quaternion b(d, std::sqrt(1 - d * d), 0, 0);
        Quaternion out;
        Slerp(out, 0.25f, a, b, 0);
        const Quaternion lin = linear(a, b, 0.25f);
        const float omega = std::acos(d);
        const Quaternion exact(std::cos(0.25f * omega), std::sin(0.25f * omega), 0, 0);
        const Quaternion& expected = (1 - d < 0.01f) ? lin : exact;
        EXPECT_NEAR(out.w, expected.w, 1e-7f) << d;
        EXPECT_NEAR(out.x, expected.x, 1e-7f) << d;
    }
}

TEST(LookOrientation, ForwardIsIdentityAndPolesAreDegenerate)
{
    const Vector3 up(0, 1, 0);
    Quaternion q;
    QuaternionFromLook(q, Vector3(0, 0, -1), up);
    ExpectSameRotation(q, Quaternion(1, 0, 0, 0), 1e-6f);
    QuaternionFromLook(q, Vector3(0, -1, 0), up);
    EXPECT_FLOAT_EQ(q.w, -0.5f);
    EXPECT_FLOAT_EQ(q.x, 0.5f);
    EXPECT_FLOAT_EQ(q.y, 0.0f);
    EXPECT_FLOAT_EQ(q.z, 0.0f);
    QuaternionFromLook(q, Vector3(0, 1, 0), up);
    EXPECT_FLOAT_EQ(q.w, 0.5f);
    EXPECT_FLOAT_EQ(q.x, 0.5f);
    QuaternionFromLook(q, Vector3(0, 0, 0), up);
    EXPECT_FLOAT_EQ(q.w, 0.0f);
    EXPECT_FLOAT_EQ(q.x, 0.5f);
    EXPECT_FLOAT_EQ(q.y, 0.0f);
    EXPECT_FLOAT_EQ(q.z, 0.0f);
}

TEST(LookOrientation, MapsForwardOntoTheDirection)
{
    Vector3 d(18, -6, -10);
    d.Normalize();
    Quaternion q;
    QuaternionFromLook(q, d, Vector3(0, 1, 0));
    q.Normalize();
    ExpectNear(q.Rotate(Vector3(0, 0, -1)), d);
    EXPECT_NEAR(q.Rotate(Vector3(1, 0, 0)).y, 0.0f, kEps);  // the right axis stays level
}

TEST(QuaternionNormalisation, ZeroQuaternionIsRefused)
{
    EXPECT_DEATH(
        {
            Quaternion q(0, 0, 0, 0);
            q.Normalize();
        },
        "x != 0.0f");
}

}  // namespace
