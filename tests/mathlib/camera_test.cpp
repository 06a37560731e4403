#include <gtest/gtest.h>

#include "mathlib/camera.h"

namespace {

void ExpectNear(const Vector3& a, const Vector3& b, float eps = 1e-4f)
{
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

Camera Posed(float scale)
{
    Camera c;
    c.SetOrientation(Quaternion(Vector3(0.48f, 0.6f, 0.64f), 0.9f));
    c.SetPosition(Vector3(3, -2, 7));
    c.scale = scale;
    c.matrixValid = false;
    return c;
}

Vector3 LocalToWorld(const Camera& c, const Vector3& local)
{
    return c.TransformDirection(local) + c.GetPosition();
}

TEST(CameraCache, ValidOnlyAfterConstructionOrRebuild)
{
    Camera c;
    EXPECT_TRUE(c.matrixValid);
    Camera copy(c);
    EXPECT_FALSE(copy.matrixValid);
    for (float v : copy.matrix.m)
        EXPECT_EQ(v, 0.0f);
    copy.UpdateMatrix();
    EXPECT_TRUE(copy.matrixValid);
    c.SetPosition(Vector3(1, 2, 3));
    EXPECT_FALSE(c.matrixValid);
    c.UpdateMatrix();
    c.Translate(Vector3(1, 0, 0));
    EXPECT_FALSE(c.matrixValid);
    c.UpdateMatrix();
    c.Rotate(Quaternion(Vector3(0, 1, 0), 0.1f));
    EXPECT_FALSE(c.matrixValid);
    c.UpdateMatrix();
    c.SetOrientation(Quaternion());
    EXPECT_FALSE(c.matrixValid);
    c.UpdateMatrix();
    c.Invert();
    EXPECT_FALSE(c.matrixValid);
    c.WorldToLocal(Vector3());
    EXPECT_TRUE(c.matrixValid);
}

TEST(CameraTransform, WorldToLocalUndoesTheForwardTransform)
{
    for (float scale : {1.0f, 2.0f}) {
        Camera c = Posed(scale);
        const Vector3 local(1.5f, -0.25f, 4.0f);
        ExpectNear(c.WorldToLocal(LocalToWorld(c, local)), local);
    }
}

TEST(CameraTransform, InvertTwiceRestoresAndScaleTwoGivesHalf)
{
    Camera c = Posed(2.0f);
    const Vector3 start = c.GetPosition();
    c.Invert();
    EXPECT_FLOAT_EQ(c.scale, 0.5f);
    Quaternion inverse = Posed(2.0f).GetOrientation();
    inverse.w = -inverse.w;
    ExpectNear(c.GetPosition(), inverse.Rotate(start) * -0.5f);
    c.Invert();
    EXPECT_FLOAT_EQ(c.scale, 2.0f);
    ExpectNear(c.GetPosition(), start);
    const Vector3 local(0.5f, 1, -2);
    ExpectNear(LocalToWorld(c, local), LocalToWorld(Posed(2.0f), local));
}

TEST(CameraTransform, InvertedCameraMapsWorldPointsToLocal)
{
    Camera c = Posed(1.0f);
    Camera inverse(c);
    inverse.Invert();
    const Vector3 world(10, 4, -3);
    ExpectNear(LocalToWorld(inverse, world), c.WorldToLocal(world));
}

}  // namespace
