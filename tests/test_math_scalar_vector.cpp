// Scalar helpers and the 3D vector: constants, degrees at the interface,
// vector algebra, normalisation and the debug print.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iomanip>
#include <sstream>

#include "QV_math.h"
#include "QV_vector.h"

namespace
{
uint32_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

void ExpectVec(const cVector3D& v, float x, float y, float z, float tol = 1e-6f)
{
    EXPECT_NEAR(v.mData[0], x, tol);
    EXPECT_NEAR(v.mData[1], y, tol);
    EXPECT_NEAR(v.mData[2], z, tol);
}
} // namespace

TEST(MathConstants, ExactBitPatterns)
{
    EXPECT_EQ(Bits(Math::PI), 0x40490FDBu);
    EXPECT_EQ(Bits(Math::ALMOSTZERO), 0x3A83126Fu);
    EXPECT_EQ(Bits(Math::DEGTORAD), 0x3C8EFA35u);
    EXPECT_EQ(Bits(Math::RADTODEG), 0x42652EE0u);
}

TEST(MathConstants, ConversionFactorsAreSinglePrecisionQuotientsOfPi)
{
    volatile float pi = Math::PI, half = 180.0f;
    EXPECT_EQ(Bits(Math::DEGTORAD), Bits(pi / half));
    EXPECT_EQ(Bits(Math::RADTODEG), Bits(half / pi));
    // One ulp below the float nearest to 180 / pi.
    EXPECT_EQ(Bits(Math::RADTODEG) + 1u, Bits(static_cast<float>(180.0 / 3.14159265358979323846)));
    EXPECT_NE(Math::RADTODEG * Math::DEGTORAD, 1.0f);
}

TEST(MathScalar, TrigonometryTakesDegrees)
{
    EXPECT_NEAR(Math::sin(90.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(Math::sin(30.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(Math::sin(-90.0f), -1.0f, 1e-6f);
    EXPECT_NEAR(Math::cos(180.0f), -1.0f, 1e-6f);
    EXPECT_NEAR(Math::cos(60.0f), 0.5f, 1e-6f);
    EXPECT_NEAR(Math::tan(45.0f), 1.0f, 1e-6f);
    EXPECT_NEAR(Math::tan(-45.0f), -1.0f, 1e-6f);
}

TEST(MathScalar, InverseTrigonometryReturnsDegrees)
{
    EXPECT_NEAR(Math::invsin(1.0f), 90.0f, 1e-4f);
    EXPECT_NEAR(Math::invsin(-0.5f), -30.0f, 1e-4f);
    EXPECT_NEAR(Math::invcos(-1.0f), 180.0f, 1e-4f);
    EXPECT_NEAR(Math::invcos(0.5f), 60.0f, 1e-4f);
    EXPECT_NEAR(Math::invtan(1.0f), 45.0f, 1e-4f);
    EXPECT_NEAR(Math::invtan(-1e30f), -90.0f, 1e-4f);
}

TEST(MathScalar, InverseTrigonometryOutsideDomainIsNaN)
{
    EXPECT_TRUE(std::isnan(Math::invcos(1.5f)));
    EXPECT_TRUE(std::isnan(Math::invsin(-1.0001f)));
}

// The conversion is one float multiplication, before the library call for the
// forward functions and after it for the inverse ones; a double-precision
// conversion would differ in the last bits for some of these.
TEST(MathScalar, ConversionIsOneSinglePrecisionMultiplication)
{
    for (int i = -720; i <= 720; ++i)
    {
        const float deg = i * 0.7f;
        volatile float rad = deg * Math::DEGTORAD;
        ASSERT_EQ(Bits(Math::sin(deg)), Bits(sinf(rad))) << deg;
        ASSERT_EQ(Bits(Math::cos(deg)), Bits(cosf(rad))) << deg;
        ASSERT_EQ(Bits(Math::tan(deg)), Bits(tanf(rad))) << deg;
    }
    for (int i = -100; i <= 100; ++i)
    {
        const float r = i / 100.0f;
        volatile float as = asinf(r), ac = acosf(r), at = atanf(r * 7.0f);
        ASSERT_EQ(Bits(Math::invsin(r)), Bits(as * Math::RADTODEG)) << r;
        ASSERT_EQ(Bits(Math::invcos(r)), Bits(ac * Math::RADTODEG)) << r;
        ASSERT_EQ(Bits(Math::invtan(r * 7.0f)), Bits(at * Math::RADTODEG)) << r;
    }
}

TEST(MathScalar, AbsClearsOnlyTheSignBit)
{
    EXPECT_EQ(Bits(Math::abs(-0.0f)), Bits(0.0f));
    EXPECT_EQ(Math::abs(-2.5f), 2.5f);
    EXPECT_EQ(Math::abs(2.5f), 2.5f);
    EXPECT_EQ(Math::abs(-INFINITY), INFINITY);
    EXPECT_EQ(Bits(Math::abs(-NAN)), Bits(NAN) & 0x7FFFFFFFu);
    const float tiny = -1e-45f; // denormal
    EXPECT_EQ(Bits(Math::abs(tiny)), Bits(tiny) & 0x7FFFFFFFu);
}

TEST(MathScalar, SqrAndSqrt)
{
    EXPECT_EQ(Math::sqr(-3.0f), 9.0f);
    EXPECT_EQ(Math::sqrt(16.0f), 4.0f);
    EXPECT_EQ(Bits(Math::sqrt(2.0f)), Bits(sqrtf(2.0f)));
    EXPECT_TRUE(std::isnan(Math::sqrt(-1.0f)));
}

TEST(Vector3D, ConstructionAndComponentOrder)
{
    ExpectVec(cVector3D(), 0, 0, 0, 0);
    const cVector3D v(1, 2, 3);
    ExpectVec(v, 1, 2, 3, 0);
    EXPECT_EQ(v[0], 1.0f);
    EXPECT_EQ(v[2], 3.0f);
    cVector3D w;
    w = v;
    ExpectVec(cVector3D(w), 1, 2, 3, 0);
}

TEST(Vector3D, ArithmeticLeavesOperandsUnchanged)
{
    cVector3D a(1, 2, 3), b(4, -5, 6);
    ExpectVec(a + b, 5, -3, 9, 0);
    ExpectVec(a - b, -3, 7, -3, 0);
    ExpectVec(a * 2.0f, 2, 4, 6, 0);
    ExpectVec(b / 2.0f, 2, -2.5f, 3, 0);
    ExpectVec(a, 1, 2, 3, 0);
    ExpectVec(b, 4, -5, 6, 0);
    EXPECT_EQ(a.dot(b), 4.0f - 10.0f + 18.0f);
}

TEST(Vector3D, CompoundAssignments)
{
    cVector3D v(1, 2, 3);
    v += cVector3D(1, 1, 1);
    ExpectVec(v, 2, 3, 4, 0);
    v -= cVector3D(2, 2, 2);
    ExpectVec(v, 0, 1, 2, 0);
    v *= 4.0f;
    ExpectVec(v, 0, 4, 8, 0);
    v /= 2.0f;
    ExpectVec(v, 0, 2, 4, 0);
}

TEST(Vector3D, CrossIsRightHanded)
{
    const cVector3D x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    ExpectVec(x.cross(y), 0, 0, 1, 0);
    ExpectVec(y.cross(z), 1, 0, 0, 0);
    ExpectVec(z.cross(x), 0, 1, 0, 0);
    ExpectVec(y.cross(x), 0, 0, -1, 0);
    const cVector3D a(1, 2, 3), b(-2, 0.5f, 4);
    ExpectVec(a.cross(b), 2 * 4 - 3 * 0.5f, 3 * -2 - 1 * 4, 1 * 0.5f - 2 * -2, 0);
}

TEST(Vector3D, LengthAndNormalize)
{
    EXPECT_EQ(cVector3D(3, 4, 0).length(), 5.0f);
    EXPECT_EQ(cVector3D(2, -3, 6).length(), 7.0f);

    cVector3D v(3, 4, 0);
    EXPECT_EQ(v.normalize(), 5.0f);
    ExpectVec(v, 0.6f, 0.8f, 0.0f, 0);

    cVector3D w(0, 0, -2);
    EXPECT_EQ(w.normalize(), 2.0f);
    ExpectVec(w, 0, 0, -1, 0);
}

TEST(Vector3D, NormalizeZeroGivesNaN)
{
    cVector3D v;
    EXPECT_EQ(v.normalize(), 0.0f);
    EXPECT_TRUE(std::isnan(v.mData[0]));
    EXPECT_TRUE(std::isnan(v.mData[1]));
    EXPECT_TRUE(std::isnan(v.mData[2]));
}

TEST(Vector3D, ManhattanLengthAndOrdering)
{
    EXPECT_EQ(cVector3D(-1, 2, -3).lengthManHat(), 6.0f);
    // Lexicographic on x, then y, then z.
    EXPECT_TRUE(cVector3D(1, 9, 9) < cVector3D(2, 0, 0));
    EXPECT_TRUE(cVector3D(1, 2, 3) < cVector3D(1, 2, 4));
    EXPECT_FALSE(cVector3D(1, 2, 3) < cVector3D(1, 2, 3));
    EXPECT_TRUE(cVector3D(1, 3, 0) > cVector3D(1, 2, 5));
    EXPECT_FALSE(cVector3D(1, 2, 3) > cVector3D(1, 2, 3));
}

TEST(Vector3D, StreamFormat)
{
    std::ostringstream os;
    os << cVector3D(1, 2, 3);
    EXPECT_EQ(os.str(), "Vector3D: [1, 2, 3]");

    std::ostringstream fixed;
    fixed << std::fixed << std::setprecision(2) << cVector3D(0.5f, -1, 2.25f) << "|";
    EXPECT_EQ(fixed.str(), "Vector3D: [0.50, -1.00, 2.25]|");
}
