// The quaternion: Hamilton product order and its agreement with the matrix
// product, Euler composition order, the four branches of the matrix
// conversion, nlerp without shortest arc or clamping, and the debug print.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sstream>

#include "QV_matrix.h"
#include "QV_quaternion.h"

namespace
{
const double kDegToRad = 3.14159265358979323846 / 180.0;

cQuaternion AxisAngle(double ax, double ay, double az, double deg)
{
    const double len = std::sqrt(ax * ax + ay * ay + az * az);
    const double s = std::sin(deg * 0.5 * kDegToRad) / len, c = std::cos(deg * 0.5 * kDegToRad);
    return cQuaternion(float(ax * s), float(ay * s), float(az * s), float(c));
}

cQuaternion RandomUnit(std::mt19937& rng)
{
    std::normal_distribution<float> n(0.0f, 1.0f);
    cQuaternion q(n(rng), n(rng), n(rng), n(rng));
    q.normalize();
    return q;
}

cMatrix4D MatrixOf(const cQuaternion& q)
{
    cMatrix4D m;
    m.setFromQuat(q);
    return m;
}

cMatrix4D Diagonal(float a, float b, float c)
{
    cMatrix4D m;
    m._m[0] = a;
    m._m[5] = b;
    m._m[10] = c;
    return m;
}

void ExpectQuat(const cQuaternion& q, float x, float y, float z, float w, float tol = 1e-6f)
{
    EXPECT_NEAR(q.mData[0], x, tol);
    EXPECT_NEAR(q.mData[1], y, tol);
    EXPECT_NEAR(q.mData[2], z, tol);
    EXPECT_NEAR(q.mData[3], w, tol);
}

// Equal as rotations: q or -q.
void ExpectSameRotation(const cQuaternion& a, const cQuaternion& b, float tol)
{
    float dot = 0.0f;
    for (int i = 0; i < 4; ++i)
        dot += a.mData[i] * b.mData[i];
    const float sign = dot < 0.0f ? -1.0f : 1.0f;
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(a.mData[i], sign * b.mData[i], tol) << "component " << i;
}

void ExpectBlockNear(const cMatrix4D& a, const cMatrix4D& b, float tol)
{
    for (int i : {0, 1, 2, 4, 5, 6, 8, 9, 10})
        EXPECT_NEAR(a._m[i], b._m[i], tol) << "element " << i;
}
} // namespace

TEST(Quaternion, ConstructionAndComponentOrder)
{
    ExpectQuat(cQuaternion(), 0, 0, 0, 1, 0);
    const cQuaternion q(1, 2, 3, 4);
    ExpectQuat(q, 1, 2, 3, 4, 0);
    EXPECT_EQ(q[0], 1.0f);
    EXPECT_EQ(q[3], 4.0f);
    cQuaternion r;
    r = q;
    ExpectQuat(cQuaternion(r), 1, 2, 3, 4, 0);
    r.setIdentity();
    ExpectQuat(r, 0, 0, 0, 1, 0);
    ExpectQuat(q + cQuaternion(1, 1, 1, 1), 2, 3, 4, 5, 0);
}

TEST(Quaternion, HamiltonProductOrder)
{
    const cQuaternion i(1, 0, 0, 0), j(0, 1, 0, 0), k(0, 0, 1, 0);
    ExpectQuat(i * j, 0, 0, 1, 0, 0);
    ExpectQuat(j * i, 0, 0, -1, 0, 0);
    ExpectQuat(j * k, 1, 0, 0, 0, 0);
    ExpectQuat(k * i, 0, 1, 0, 0, 0);
    ExpectQuat(k * k, 0, 0, 0, -1, 0);

    const cQuaternion q(0.1f, -0.2f, 0.3f, 0.9f);
    ExpectQuat(q * cQuaternion(), 0.1f, -0.2f, 0.3f, 0.9f, 0);
    ExpectQuat(cQuaternion() * q, 0.1f, -0.2f, 0.3f, 0.9f, 0);

    // General case, written out; operands unchanged.
    const cQuaternion a(1, 2, 3, 4), b(-5, 6, 7, 8);
    ExpectQuat(a * b, 4 * -5 + 1 * 8 + 2 * 7 - 3 * 6, 4 * 6 + 2 * 8 + 3 * -5 - 1 * 7, 4 * 7 + 3 * 8 + 1 * 6 - 2 * -5,
               4 * 8 - 1 * -5 - 2 * 6 - 3 * 7, 0);
    ExpectQuat(a, 1, 2, 3, 4, 0);
    ExpectQuat(b, -5, 6, 7, 8, 0);

    cQuaternion c = i;
    c *= j;
    ExpectQuat(c, 0, 0, 1, 0, 0);
}

// As rotations, p * q applies q first: its matrix is matrix(p) * matrix(q).
TEST(Quaternion, ProductMatchesMatrixProduct)
{
    std::mt19937 rng(21);
    for (int n = 0; n < 500; ++n)
    {
        const cQuaternion p = RandomUnit(rng), q = RandomUnit(rng);
        ExpectBlockNear(MatrixOf(p * q), MatrixOf(p) * MatrixOf(q), 2e-6f);
    }
    // 90 about z after 90 about x: y -> z -> z; x -> x -> y.
    const cMatrix4D m = MatrixOf(AxisAngle(0, 0, 1, 90) * AxisAngle(1, 0, 0, 90));
    const cVector3D y = m * cVector3D(0, 1, 0), x = m * cVector3D(1, 0, 0);
    EXPECT_NEAR(y.mData[2], 1.0f, 1e-6f);
    EXPECT_NEAR(x.mData[1], 1.0f, 1e-6f);
}

TEST(Quaternion, Normalize)
{
    cQuaternion q(0, 0, 0, 2);
    EXPECT_EQ(q.normalize(), 2.0f);
    ExpectQuat(q, 0, 0, 0, 1, 0);

    cQuaternion r(1, -1, 1, -1);
    EXPECT_EQ(r.normalize(), 2.0f);
    ExpectQuat(r, 0.5f, -0.5f, 0.5f, -0.5f, 0);

    cQuaternion z(0, 0, 0, 0);
    EXPECT_EQ(z.normalize(), 0.0f);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(std::isnan(z.mData[i])) << i;
}

TEST(Quaternion, EulerUsesHalfAnglesInDegrees)
{
    const float h = std::sqrt(0.5f);
    cQuaternion q;
    q.setFromEuler(90, 0, 0);
    ExpectQuat(q, h, 0, 0, h);
    q.setFromEuler(0, 0, 180);
    ExpectQuat(q, 0, 0, 1, 0);
    q.setFromEuler(0, 1, 0);
    ExpectQuat(q, 0, std::sin(0.5 * kDegToRad), 0, std::cos(0.5 * kDegToRad));
}

TEST(Quaternion, EulerSingleAxisAgreesWithMatrixEuler)
{
    for (float deg : {90.0f, -30.0f, 145.0f})
    {
        const float angles[3][3] = {{deg, 0, 0}, {0, deg, 0}, {0, 0, deg}};
        for (const auto& a : angles)
        {
            cQuaternion q;
            q.setFromEuler(a[0], a[1], a[2]);
            cMatrix4D m;
            m.setFromEuler(a[0], a[1], a[2]);
            ExpectBlockNear(MatrixOf(q), m, 1e-6f);
        }
    }
}

// x * y * z: as a matrix Rx * Ry * Rz, the opposite of the matrix's Euler order.
TEST(Quaternion, EulerComposesXTimesYTimesZ)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-180.0f, 180.0f);
    for (int n = 0; n < 200; ++n)
    {
        const float rx = u(rng), ry = u(rng), rz = u(rng);
        cQuaternion q;
        q.setFromEuler(rx, ry, rz);
        ExpectSameRotation(q, AxisAngle(1, 0, 0, rx) * AxisAngle(0, 1, 0, ry) * AxisAngle(0, 0, 1, rz), 1e-6f);
        cMatrix4D mx, my, mz;
        mx.setFromEuler(rx, 0, 0);
        my.setFromEuler(0, ry, 0);
        mz.setFromEuler(0, 0, rz);
        ExpectBlockNear(MatrixOf(q), mx * my * mz, 2e-6f);
    }

    cQuaternion q;
    q.setFromEuler(90, 90, 0);
    cMatrix4D m;
    m.setFromEuler(90, 90, 0);
    cQuaternion fromMatrix;
    fromMatrix.setFromMatrix(m);
    float dot = 0.0f;
    for (int i = 0; i < 4; ++i)
        dot += q.mData[i] * fromMatrix.mData[i];
    EXPECT_LT(std::fabs(dot), 0.9f); // a different rotation
}

TEST(Quaternion, FromMatrixTraceBranch)
{
    cQuaternion q(1, 2, 3, 4);
    q.setFromMatrix(cMatrix4D());
    ExpectQuat(q, 0, 0, 0, 1, 0);

    // The translation column and the bottom row play no part.
    cMatrix4D m;
    m.setFromEuler(0, 0, 90);
    const cQuaternion expected = AxisAngle(0, 0, 1, 90);
    m.setTransform(5, 6, 7);
    m._m[3] = m._m[7] = m._m[11] = 9.0f;
    q.setFromMatrix(m);
    ExpectQuat(q, expected.mData[0], expected.mData[1], expected.mData[2], expected.mData[3]);
}

// A half turn about each axis leaves the trace at -1: each takes the branch
// of its own axis, which gives an exact result (the others would divide by 0).
TEST(Quaternion, FromMatrixHalfTurnsTakeTheAxisBranches)
{
    cQuaternion q;
    q.setFromMatrix(Diagonal(1, -1, -1));
    ExpectQuat(q, 1, 0, 0, 0, 0);
    q.setFromMatrix(Diagonal(-1, 1, -1));
    ExpectQuat(q, 0, 1, 0, 0, 0);
    q.setFromMatrix(Diagonal(-1, -1, 1));
    ExpectQuat(q, 0, 0, 1, 0, 0);
}

// Ties between diagonal elements fall through to the later branch. These
// matrices are not rotations, so each branch gives its own answer: the branch
// that ran puts 0.25 * 2 * sqrt(2) into its own component.
TEST(Quaternion, FromMatrixTiesFallThrough)
{
    const float big = 0.25f * 2.0f * std::sqrt(2.0f), small = 1.0f / (2.0f * std::sqrt(2.0f));
    cQuaternion q;

    cMatrix4D m = Diagonal(0, 0, -1); // _m[0] == _m[5]: not the x branch
    m._m[1] = m._m[4] = 0.5f;
    q.setFromMatrix(m);
    ExpectQuat(q, small, big, 0, 0);

    m = Diagonal(0, -1, 0); // _m[0] == _m[10]: the z branch
    m._m[2] = m._m[8] = 0.5f;
    q.setFromMatrix(m);
    ExpectQuat(q, small, 0, big, 0);

    m = Diagonal(-1, 0, 0); // _m[5] == _m[10]: the z branch
    m._m[6] = m._m[9] = 0.5f;
    q.setFromMatrix(m);
    ExpectQuat(q, 0, small, big, 0);
}

// 179 degrees about z: the trace is about 0.0003, below the threshold, so the
// z branch runs and keeps full precision where the trace formula would not.
TEST(Quaternion, FromMatrixNearHalfTurn)
{
    cMatrix4D m;
    m.setFromEuler(0, 0, 179);
    const float t = m._m[0] + m._m[5] + m._m[10] + 1.0f;
    EXPECT_LT(t, Math::ALMOSTZERO);
    cQuaternion q;
    q.setFromMatrix(m);
    ExpectQuat(q, 0, 0, std::sin(89.5 * kDegToRad), std::cos(89.5 * kDegToRad), 2e-7f);
    EXPECT_GT(q.mData[3], 0.0f);
    ExpectBlockNear(MatrixOf(q), m, 5e-7f);

    m.setFromEuler(0, 0, 178); // above the threshold: trace branch, w > 0
    q.setFromMatrix(m);
    ExpectQuat(q, 0, 0, std::sin(89.0 * kDegToRad), std::cos(89.0 * kDegToRad), 1e-4f);
    EXPECT_GT(q.mData[3], 0.0f);
}

// Rotation -> quaternion -> rotation reproduces the block, and quaternion ->
// rotation -> quaternion gives back the same rotation, across all branches.
// Just above the threshold the trace formula divides by a small, cancelled
// trace, so its tolerance grows as 1 / t; the axis branches stay accurate.
TEST(Quaternion, MatrixRoundTrips)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> u(-180.0f, 180.0f), near(176.0f, 180.0f);
    std::normal_distribution<float> n(0.0f, 1.0f);
    int branchCount[4] = {0, 0, 0, 0};
    for (int i = 0; i < 3000; ++i)
    {
        cMatrix4D m;
        cQuaternion q;
        if (i % 3 == 0)
        {
            q = RandomUnit(rng);
            m = MatrixOf(q);
        }
        else if (i % 3 == 1) // (near) half turns about random axes
        {
            q = AxisAngle(n(rng), n(rng), n(rng), near(rng));
            m = MatrixOf(q);
        }
        else // no quaternion to compare with: only the block is checked
            m.setFromEuler(u(rng), u(rng), u(rng));

        const float t = m._m[0] + m._m[5] + m._m[10] + 1.0f;
        int branch = 3;
        if (t > Math::ALMOSTZERO)
            branch = 0;
        else if (m._m[0] > m._m[5] && m._m[0] > m._m[10])
            branch = 1;
        else if (m._m[5] > m._m[10])
            branch = 2;
        ++branchCount[branch];
        const float tol = branch == 0 ? 2e-6f + 3e-6f / t : 1e-6f;

        cQuaternion back;
        back.setFromMatrix(m);
        ExpectBlockNear(MatrixOf(back), m, tol);
        if (i % 3 != 2)
            ExpectSameRotation(back, q, tol);
        // The branch that ran leaves its own component positive.
        EXPECT_GT(back.mData[branch == 0 ? 3 : branch - 1], 0.0f);
    }
    for (int b = 0; b < 4; ++b)
        EXPECT_GT(branchCount[b], 100) << "branch " << b;
}

TEST(Quaternion, NlerpEndpointsAreNormalised)
{
    const cQuaternion s(0, 0, 0, 3), d(0, 4, 0, 0);
    ExpectQuat(cQuaternion::nlerp(0, s, d), 0, 0, 0, 1, 0);
    ExpectQuat(cQuaternion::nlerp(1, s, d), 0, 1, 0, 0, 0);
    ExpectQuat(s, 0, 0, 0, 3, 0);

    const cQuaternion z90 = AxisAngle(0, 0, 1, 90);
    ExpectSameRotation(cQuaternion::nlerp(0.5f, cQuaternion(), z90), AxisAngle(0, 0, 1, 45), 1e-6f);
}

// No sign flip: from identity towards -q90 the path goes the long way round.
TEST(Quaternion, NlerpHasNoShortestArc)
{
    const cQuaternion z90 = AxisAngle(0, 0, 1, 90);
    const cQuaternion minus(-z90.mData[0], -z90.mData[1], -z90.mData[2], -z90.mData[3]);
    const cQuaternion q = cQuaternion::nlerp(0.25f, cQuaternion(), minus);
    // Blend (0, 0, -0.25 * h, 0.75 - 0.25 * h), h = sin 45: turned backwards
    // (a flipped end would give a positive z).
    const float h = std::sqrt(0.5f);
    cQuaternion expected(0, 0, -0.25f * h, 0.75f - 0.25f * h);
    expected.normalize();
    ExpectQuat(q, expected.mData[0], expected.mData[1], expected.mData[2], expected.mData[3]);
    EXPECT_LT(q.mData[2], 0.0f);

    const cQuaternion half = cQuaternion::nlerp(0.5f, z90, minus);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(std::isnan(half.mData[i])) << i;
}

TEST(Quaternion, NlerpExtrapolatesOutsideUnitInterval)
{
    const float h = std::sqrt(0.5f);
    const cQuaternion z90(0, 0, h, h);
    cQuaternion expected(0, 0, 2 * h, 1 + 2 * (h - 1));
    expected.normalize();
    const cQuaternion q = cQuaternion::nlerp(2, cQuaternion(), z90);
    ExpectQuat(q, expected.mData[0], expected.mData[1], expected.mData[2], expected.mData[3]);
    cQuaternion back(0, 0, -h, 2 - h); // t = -1: s - (d - s)
    back.normalize();
    ExpectQuat(cQuaternion::nlerp(-1, cQuaternion(), z90), back.mData[0], back.mData[1], back.mData[2], back.mData[3]);
}

TEST(Quaternion, StreamFormat)
{
    std::ostringstream os;
    os << cQuaternion() << "|" << cQuaternion(1, -2, 3.5f, 4);
    EXPECT_EQ(os.str(), "Quaternion: [0, 0, 0], 1.|Quaternion: [1, -2, 3.5], 4.");
}
