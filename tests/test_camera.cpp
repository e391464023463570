// The orbit camera: eye placement in degrees, elevation clamping, the sense
// of mouse turns, the unbounded heading, and the eye lagging until Update.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include "QV_camera.h"

namespace
{
const double kDegToRad = 3.14159265358979323846 / 180.0;

void ExpectVec(const cVector3D& v, float x, float y, float z, float tol = 1e-5f)
{
    EXPECT_NEAR(v.mData[0], x, tol);
    EXPECT_NEAR(v.mData[1], y, tol);
    EXPECT_NEAR(v.mData[2], z, tol);
}

void ExpectSameVec(const cVector3D& a, const cVector3D& b)
{
    EXPECT_EQ(a.mData[0], b.mData[0]);
    EXPECT_EQ(a.mData[1], b.mData[1]);
    EXPECT_EQ(a.mData[2], b.mData[2]);
}

float Distance(const cVector3D& a, const cVector3D& b) { return (a - b).length(); }
} // namespace

TEST(Camera, StartUpView)
{
    cCamera cam;
    cam.Setup(0, 2, 0, 10, 0, 0);
    ExpectVec(cam.mPosition, 0, 2, 10);
    ExpectVec(cam.mTarget, 0, 2, 0, 0);
    EXPECT_EQ(cam.mHeading, 0);
    EXPECT_EQ(cam.mElevation, 0);
    EXPECT_EQ(cam.mDistance, 10.0f);
}

TEST(Camera, HeadingAndElevationAreDegrees)
{
    cCamera cam;
    cam.Setup(1, 2, 3, 10, 90, 0);
    ExpectVec(cam.mPosition, 11, 2, 3);
    cam.Setup(1, 2, 3, 10, -90, 0);
    ExpectVec(cam.mPosition, -9, 2, 3);
    cam.Setup(1, 2, 3, 10, 180, 0);
    ExpectVec(cam.mPosition, 1, 2, -7);
    cam.Setup(0, 0, 0, 10, 0, 30); // raised: above the target, closer in z
    ExpectVec(cam.mPosition, 0, 5, float(10 * std::cos(30 * kDegToRad)));
    cam.Setup(0, 0, 0, 10, 0, -30);
    ExpectVec(cam.mPosition, 0, -5, float(10 * std::cos(30 * kDegToRad)));
    cam.Setup(0, 0, 0, 10, 0, 89); // nearly straight above
    EXPECT_NEAR(cam.mPosition.mData[1], 10 * std::sin(89 * kDegToRad), 1e-5);
    EXPECT_GT(cam.mPosition.mData[2], 0.0f);
}

TEST(Camera, SetupClampsElevation)
{
    cCamera cam;
    cam.Setup(0, 0, 0, 10, 0, 120);
    EXPECT_EQ(cam.mElevation, 89);
    EXPECT_NEAR(cam.mPosition.mData[1], 10 * std::sin(89 * kDegToRad), 1e-5);
    cam.Setup(0, 0, 0, 10, 0, -120);
    EXPECT_EQ(cam.mElevation, -89);
    EXPECT_NEAR(cam.mPosition.mData[1], -10 * std::sin(89 * kDegToRad), 1e-5);
    cam.Setup(0, 0, 0, 10, 0, 89);
    EXPECT_EQ(cam.mElevation, 89);
    cam.Setup(0, 0, 0, 10, 0, -89);
    EXPECT_EQ(cam.mElevation, -89);
    cam.Setup(0, 0, 0, 10, 0, INT_MIN);
    EXPECT_EQ(cam.mElevation, -89);
}

TEST(Camera, TurnClampsElevation)
{
    cCamera cam;
    cam.Setup(0, 0, 0, 10, 0, 0);
    cam.Turn(0, 200);
    EXPECT_EQ(cam.mElevation, 89);
    cam.Turn(0, -1);
    EXPECT_EQ(cam.mElevation, 88);
    cam.Turn(0, -200);
    EXPECT_EQ(cam.mElevation, -89);
    cam.Turn(0, 1);
    EXPECT_EQ(cam.mElevation, -88);
    // Extreme motion neither overflows nor escapes the range.
    cam.Turn(0, INT_MAX);
    EXPECT_EQ(cam.mElevation, 89);
    cam.Turn(0, INT_MIN);
    EXPECT_EQ(cam.mElevation, -89);
}

TEST(Camera, TurnDirections)
{
    cCamera cam;
    cam.Setup(0, 0, 0, 10, 0, 0);
    cam.Turn(5, 0); // mouse right lowers the heading
    EXPECT_EQ(cam.mHeading, -5);
    EXPECT_EQ(cam.mElevation, 0);
    cam.Turn(-15, 0);
    EXPECT_EQ(cam.mHeading, 10);
    cam.Turn(0, 20); // mouse down raises the eye
    EXPECT_EQ(cam.mElevation, 20);
    EXPECT_EQ(cam.mHeading, 10);
    cam.Update();
    EXPECT_GT(cam.mPosition.mData[1], 0.0f);
    EXPECT_GT(cam.mPosition.mData[0], 0.0f);
}

TEST(Camera, HeadingIsUnboundedAndEyeRepeatsEveryTurn)
{
    cCamera cam, ref;
    cam.Setup(1, 2, 3, 10, 37, 25);
    ref = cam;
    for (int i = 0; i < 100; ++i)
        cam.Turn(36, 0); // 3600 degrees to the right
    EXPECT_EQ(cam.mHeading, 37 - 3600);
    cam.Update();
    ExpectVec(cam.mPosition, ref.mPosition.mData[0], ref.mPosition.mData[1], ref.mPosition.mData[2], 1e-4f);

    for (int i = 0; i < 200; ++i)
        cam.Turn(-36, 0);
    EXPECT_EQ(cam.mHeading, 37 + 3600);
    cam.Update();
    ExpectVec(cam.mPosition, ref.mPosition.mData[0], ref.mPosition.mData[1], ref.mPosition.mData[2], 1e-4f);
}

TEST(Camera, HeadingNearIntLimitsDropsWholeTurns)
{
    cCamera cam;
    cam.Setup(0, 0, 0, 10, INT_MIN + 10, 0);
    cam.Turn(100, 0);
    const long long wanted = static_cast<long long>(INT_MIN) + 10 - 100;
    EXPECT_EQ((cam.mHeading - wanted) % 360, 0);
    cam.Setup(0, 0, 0, 10, INT_MAX - 10, 0);
    cam.Turn(INT_MIN, 0);
    EXPECT_EQ((cam.mHeading - (static_cast<long long>(INT_MAX) - 10 - INT_MIN)) % 360, 0);
}

TEST(Camera, EyeLagsUntilUpdate)
{
    cCamera cam;
    cam.Setup(0, 2, 0, 10, 0, 0);
    const cVector3D before = cam.mPosition;

    cVector3D target(4, 0, -1);
    cam.SetTarget(target);
    target.mData[0] = 99.0f; // taken by value
    ExpectVec(cam.mTarget, 4, 0, -1, 0);
    cam.Turn(-90, 10);
    ExpectSameVec(cam.mPosition, before);

    cam.Update();
    const float c = float(10 * std::cos(10 * kDegToRad));
    ExpectVec(cam.mPosition, 4 + c, float(10 * std::sin(10 * kDegToRad)), -1);
}

TEST(Camera, EyeStaysAtDistance)
{
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> heading(-2000, 2000), elevation(-89, 89);
    std::uniform_real_distribution<float> coord(-50.0f, 50.0f), dist(0.5f, 40.0f);
    cCamera cam;
    for (int i = 0; i < 1000; ++i)
    {
        const float d = dist(rng);
        cam.Setup(coord(rng), coord(rng), coord(rng), d, heading(rng), elevation(rng));
        ASSERT_NEAR(Distance(cam.mPosition, cam.mTarget), d, 1e-5f * (d + 50.0f));
    }
}

TEST(Camera, SetDistanceTakesFinitePositiveValuesAtNextUpdate)
{
    cCamera cam;
    cam.Setup(0, 0, 0, 10, 0, 0);
    cam.SetDistance(4);
    EXPECT_EQ(cam.mDistance, 4.0f);
    ExpectVec(cam.mPosition, 0, 0, 10, 0);
    cam.Update();
    ExpectVec(cam.mPosition, 0, 0, 4);

    for (float bad : {0.0f, -0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()})
    {
        cam.SetDistance(bad);
        EXPECT_EQ(cam.mDistance, 4.0f) << bad;
    }
    cam.Update();
    ExpectVec(cam.mPosition, 0, 0, 4);
}
