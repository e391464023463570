// The 4 x 4 matrix: column-major layout, product order and rounding, the
// rotation builders' sense and composition order, which elements each setter
// writes, and the debug print.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "QV_matrix.h"
#include "QV_quaternion.h"

namespace
{
const double kDegToRad = 3.14159265358979323846 / 180.0;

// Reference rotations about one axis, written out column by column.
cMatrix4D RotX(double deg)
{
    const float c = std::cos(deg * kDegToRad), s = std::sin(deg * kDegToRad);
    const float a[16] = {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
    return cMatrix4D(a);
}
cMatrix4D RotY(double deg)
{
    const float c = std::cos(deg * kDegToRad), s = std::sin(deg * kDegToRad);
    const float a[16] = {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
    return cMatrix4D(a);
}
cMatrix4D RotZ(double deg)
{
    const float c = std::cos(deg * kDegToRad), s = std::sin(deg * kDegToRad);
    const float a[16] = {c, s, 0, 0, -s, c, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    return cMatrix4D(a);
}

// A matrix whose every element is distinct and recognisable: 100 + index.
cMatrix4D Sentinel()
{
    float a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = 100.0f + i;
    return cMatrix4D(a);
}

void ExpectNear(const cMatrix4D& a, const cMatrix4D& b, float tol)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a._m[i], b._m[i], tol) << "element " << i;
}

void ExpectVec(const cVector3D& v, float x, float y, float z, float tol = 1e-6f)
{
    EXPECT_NEAR(v.mData[0], x, tol);
    EXPECT_NEAR(v.mData[1], y, tol);
    EXPECT_NEAR(v.mData[2], z, tol);
}

const int kBlock[9] = {0, 1, 2, 4, 5, 6, 8, 9, 10};
} // namespace

TEST(Matrix4D, DefaultIsIdentity)
{
    const cMatrix4D m;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m._m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
    ExpectVec(m.getTransform(), 0, 0, 0, 0);

    cMatrix4D s = Sentinel();
    s.setIdentity();
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(s._m[i], m._m[i]) << i;
}

TEST(Matrix4D, LayoutIsColumnMajor)
{
    float a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = static_cast<float>(i);
    const cMatrix4D m(a);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m._m[i], a[i]);
    ExpectVec(m.getTransform(), 12, 13, 14, 0);
    // m[c][r] and M[c][r] both name column c, row r.
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
        {
            EXPECT_EQ(m.m[c][r], a[c * 4 + r]);
            EXPECT_EQ(m[c][r], a[c * 4 + r]);
        }
    // Column 0 is the image of the x axis (plus the translation).
    ExpectVec(m * cVector3D(1, 0, 0), 0 + 12, 1 + 13, 2 + 14, 0);
}

TEST(Matrix4D, ProductAppliesRightOperandFirst)
{
    cMatrix4D a;
    a.setTransform(1, 0, 0);
    cMatrix4D b;
    b.setFromEuler(0, 0, 90);
    ExpectVec((a * b) * cVector3D(1, 0, 0), 1, 1, 0);
    ExpectVec((b * a) * cVector3D(1, 0, 0), 0, 2, 0);
}

TEST(Matrix4D, ProductMatchesSuccessiveTransformsAndComputesBottomRow)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    for (int n = 0; n < 200; ++n)
    {
        float fa[16], fb[16];
        for (int i = 0; i < 16; ++i)
        {
            fa[i] = u(rng);
            fb[i] = u(rng);
        }
        const cMatrix4D a(fa), b(fb);
        const cMatrix4D c = a * b;
        for (int col = 0; col < 4; ++col)
            for (int row = 0; row < 4; ++row)
            {
                double ref = 0.0;
                for (int k = 0; k < 4; ++k)
                    ref += double(fa[k * 4 + row]) * double(fb[col * 4 + k]);
                ASSERT_NEAR(c._m[col * 4 + row], ref, 1e-5) << "row " << row << " col " << col;
            }
    }
}

// The four terms of each element are summed left to right in column order:
// (1e8 + 1) - 1e8 + 1 is 1 in single precision; any other order gives 0 or 2.
TEST(Matrix4D, ProductSumsTermsInColumnOrder)
{
    cMatrix4D a;
    a._m[0] = 1e8f;  // row 0, column 0
    a._m[4] = 1.0f;  // row 0, column 1
    a._m[8] = -1e8f; // row 0, column 2
    a._m[12] = 1.0f; // row 0, column 3
    cMatrix4D ones;  // column 0 all ones
    ones._m[1] = ones._m[2] = ones._m[3] = 1.0f;
    const cMatrix4D c = a * ones;
    EXPECT_EQ(c._m[0], 1.0f);
}

TEST(Matrix4D, ProductIntoLeftOperandIsSafe)
{
    cMatrix4D a, b;
    a.setFromEuler(10, 20, 30);
    a.setTransform(1, 2, 3);
    b.setFromEuler(-5, 40, 7);
    b.setTransform(-4, 0, 9);
    const cMatrix4D expected = a * b;
    a = a * b;
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(a._m[i], expected._m[i]);
}

TEST(Matrix4D, PointTransformAddsTranslationAndIgnoresBottomRow)
{
    cMatrix4D m;
    m.setFromEuler(0, 0, 90);
    m.setTransform(5, 6, 7);
    m._m[3] = 3.0f;
    m._m[7] = -2.0f;
    m._m[11] = 9.0f;
    m._m[15] = 4.0f;
    ExpectVec(m * cVector3D(1, 0, 0), 5, 7, 7);
    ExpectVec(m * cVector3D(0, 2, 0), 3, 6, 7);
}

TEST(Matrix4D, EulerSingleAxesAreRightHandedAndInDegrees)
{
    cMatrix4D m;
    m.setFromEuler(0, 0, 90); // x onto y
    EXPECT_NEAR(m._m[0], 0.0f, 1e-6f);
    EXPECT_NEAR(m._m[1], 1.0f, 1e-6f);
    EXPECT_NEAR(m._m[4], -1.0f, 1e-6f);
    EXPECT_NEAR(m._m[5], 0.0f, 1e-6f);
    EXPECT_EQ(m._m[10], 1.0f);
    ExpectVec(m * cVector3D(1, 0, 0), 0, 1, 0);

    m.setFromEuler(90, 0, 0); // y onto z
    ExpectVec(m * cVector3D(0, 1, 0), 0, 0, 1);
    m.setFromEuler(0, 90, 0); // z onto x
    ExpectVec(m * cVector3D(0, 0, 1), 1, 0, 0);

    for (float deg : {1.0f, 30.0f, -45.0f, 135.0f})
    {
        m.setFromEuler(deg, 0, 0);
        ExpectNear(m, RotX(deg), 1e-6f);
        m.setFromEuler(0, deg, 0);
        ExpectNear(m, RotY(deg), 1e-6f);
        m.setFromEuler(0, 0, deg);
        ExpectNear(m, RotZ(deg), 1e-6f);
    }
}

TEST(Matrix4D, EulerComposesZTimesYTimesX)
{
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(-180.0f, 180.0f);
    for (int n = 0; n < 200; ++n)
    {
        const float rx = u(rng), ry = u(rng), rz = u(rng);
        cMatrix4D m;
        m.setFromEuler(rx, ry, rz);
        ExpectNear(m, RotZ(rz) * RotY(ry) * RotX(rx), 2e-6f);
    }
    // x first, then z: (1, 0, 0) stays under x and goes to (0, 1, 0) under z;
    // z first would carry it on to (0, 0, 1).
    cMatrix4D m;
    m.setFromEuler(90, 0, 90);
    ExpectVec(m * cVector3D(0, 1, 0), 0, 0, 1);
    ExpectVec(m * cVector3D(1, 0, 0), 0, 1, 0);
}

TEST(Matrix4D, QuatMatchesAxisRotations)
{
    const float h = std::sqrt(0.5f);
    cMatrix4D m;
    m.setFromQuat(cQuaternion(0, 0, h, h)); // 90 degrees about z
    ExpectNear(m, RotZ(90), 1e-6f);
    m.setFromQuat(cQuaternion(h, 0, 0, h));
    ExpectNear(m, RotX(90), 1e-6f);
    m.setFromQuat(cQuaternion(0, h, 0, h));
    ExpectNear(m, RotY(90), 1e-6f);
    m.setFromQuat(cQuaternion());
    ExpectNear(m, cMatrix4D(), 0.0f);
}

TEST(Matrix4D, QuatIsUsedWithoutNormalising)
{
    cMatrix4D m;
    m.setFromQuat(cQuaternion(1, 0, 0, 1)); // length sqrt(2)
    EXPECT_EQ(m._m[0], 1.0f);
    EXPECT_EQ(m._m[5], -1.0f);
    EXPECT_EQ(m._m[6], 2.0f);
    EXPECT_EQ(m._m[9], -2.0f);
    EXPECT_EQ(m._m[10], -1.0f);
}

TEST(Matrix4D, AxisAngleMatchesEulerAndQuaternion)
{
    cMatrix4D a, e;
    cVector3D axis(0, 0, 5); // not unit length, and passed by value
    a.setFromAxisAngle(axis, 90);
    e.setFromEuler(0, 0, 90);
    ExpectNear(a, e, 1e-6f);
    ExpectVec(axis, 0, 0, 5, 0);

    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int n = 0; n < 200; ++n)
    {
        cVector3D ax(u(rng), u(rng), u(rng));
        if (ax.length() < 0.1f)
            continue;
        const float ang = u(rng) * 360.0f;
        a.setFromAxisAngle(ax, ang);
        cVector3D unit = ax;
        unit.normalize();
        const float s = std::sin(ang * 0.5 * kDegToRad), c = std::cos(ang * 0.5 * kDegToRad);
        cMatrix4D q;
        q.setFromQuat(cQuaternion(unit.mData[0] * s, unit.mData[1] * s, unit.mData[2] * s, c));
        ExpectNear(a, q, 2e-6f);
    }
}

TEST(Matrix4D, AxisAngleWithZeroAxisGivesNaNBlock)
{
    cMatrix4D m;
    m.setFromAxisAngle(cVector3D(), 30);
    for (int i : kBlock)
        EXPECT_TRUE(std::isnan(m._m[i])) << i;
    EXPECT_EQ(m._m[15], 1.0f);
}

TEST(Matrix4D, RotationSettersKeepTranslation)
{
    cMatrix4D r;
    r.setFromEuler(10, 20, 30);

    cMatrix4D e = Sentinel(), q = Sentinel(), a = Sentinel(), s = Sentinel();
    e.setFromEuler(10, 20, 30);
    q.setFromQuat(cQuaternion(0.1f, 0.2f, 0.3f, 0.9f));
    a.setFromAxisAngle(cVector3D(1, 1, 0), 40);
    s.setRotation(r);

    for (const cMatrix4D* m : {&e, &q, &a, &s})
    {
        for (int i = 12; i < 16; ++i)
            EXPECT_EQ(m->_m[i], 100.0f + i) << i;
        for (int i : kBlock)
            EXPECT_LT(std::fabs(m->_m[i]), 2.0f) << i;
    }
    for (int i : {3, 7, 11})
    {
        EXPECT_EQ(e._m[i], 0.0f) << i;
        EXPECT_EQ(q._m[i], 0.0f) << i;
        EXPECT_EQ(a._m[i], 100.0f + i) << i;
        EXPECT_EQ(s._m[i], 100.0f + i) << i;
    }
    for (int i : kBlock)
        EXPECT_EQ(s._m[i], r._m[i]) << i;
}

TEST(Matrix4D, RotationOfRestAndQuaternionIsTheFullProductsBlockBitForBit)
{
    // What setRotationOf replaces in the world pass: r.setFromQuat(q);
    // setRotation(rest * r). Random rests and quaternions, then the edge
    // cases: a block of negative zeros (the product's zero fourth term turns
    // their sum into +0), infinite and not-a-number translations (which the
    // fourth term carries into the block), and a zero quaternion.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    std::vector<std::pair<cMatrix4D, cQuaternion>> cases;
    for (int i = 0; i < 2000; ++i)
    {
        cMatrix4D rest;
        for (float& e : rest._m)
            e = u(rng);
        cases.push_back({rest, cQuaternion(u(rng), u(rng), u(rng), u(rng))});
    }
    for (float t : {5.0f, -5.0f, 0.0f, INFINITY, NAN})
    {
        cMatrix4D rest;
        for (int i : kBlock)
            rest._m[i] = -0.0f;
        rest.setTransform(t, -t, t);
        cases.push_back({rest, cQuaternion()});
        cases.push_back({rest, cQuaternion(0, 0, 0, 0)});
    }
    for (const auto& c : cases)
    {
        cMatrix4D r;
        r.setFromQuat(c.second);
        cMatrix4D expected = Sentinel(), got = Sentinel();
        expected.setRotation(c.first * r);
        got.setRotationOf(c.first, c.second);
        ASSERT_EQ(std::memcmp(expected._m, got._m, sizeof got._m), 0) << c.first << "\n" << c.second;
    }
}

TEST(Matrix4D, TranslationSettersTouchOnlyTheLastColumn)
{
    cMatrix4D a = Sentinel(), b = Sentinel(), t = Sentinel();
    a.setTransform(cVector3D(1, 2, 3));
    b.setTransform(1, 2, 3);
    t.translate(cVector3D(1, 2, 3));
    for (int i = 0; i < 12; ++i)
    {
        EXPECT_EQ(a._m[i], 100.0f + i);
        EXPECT_EQ(b._m[i], 100.0f + i);
        EXPECT_EQ(t._m[i], 100.0f + i);
    }
    ExpectVec(a.getTransform(), 1, 2, 3, 0);
    ExpectVec(b.getTransform(), 1, 2, 3, 0);
    EXPECT_EQ(a._m[15], 1.0f);
    EXPECT_EQ(b._m[15], 1.0f);
    ExpectVec(t.getTransform(), 113, 115, 117, 0);
    EXPECT_EQ(t._m[15], 115.0f);
}

TEST(Matrix4D, TranslateDoesNotRotateTheOffset)
{
    cMatrix4D m;
    m.setFromEuler(0, 0, 90);
    m.translate(cVector3D(1, 2, 3));
    ExpectVec(m.getTransform(), 1, 2, 3, 0);
    m.translate(cVector3D(1, 0, 0));
    ExpectVec(m.getTransform(), 2, 2, 3, 0);
    // Same as translating after the matrix.
    cMatrix4D r, t;
    r.setFromEuler(0, 0, 90);
    t.setTransform(2, 2, 3);
    ExpectNear(m, t * r, 0.0f);
}

TEST(Matrix4D, ElementwiseSumAndDifference)
{
    const cMatrix4D s = Sentinel(), i;
    const cMatrix4D sum = s + i, diff = s - i;
    for (int k = 0; k < 16; ++k)
    {
        EXPECT_EQ(sum._m[k], s._m[k] + i._m[k]);
        EXPECT_EQ(diff._m[k], s._m[k] - i._m[k]);
    }
}

TEST(Matrix4D, StreamFormat)
{
    float a[16];
    for (int i = 0; i < 16; ++i)
        a[i] = static_cast<float>(i);
    std::ostringstream os;
    os << cMatrix4D(a) << "|";
    EXPECT_EQ(os.str(), "Matrix4D: [0, 4, 8, 12 ]\n"
                        "          [1, 5, 9, 13 ]\n"
                        "          [2, 6, 10, 14 ]\n"
                        "          [3, 7, 11, 15 ]|");
}
