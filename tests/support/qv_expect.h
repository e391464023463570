#ifndef QV_TEST_QV_EXPECT_H
#define QV_TEST_QV_EXPECT_H

// Comparison helpers for the math types, for GoogleTest. Header only.
//
//     EXPECT_TRUE(qvtest::VecNear(bone.mWorldTransform.getTransform(), {1, 2, 0}));
//     EXPECT_TRUE(qvtest::QuatNear(q, expected, 1e-6f));
//     EXPECT_TRUE(qvtest::SameMatrix(a, b));   // bit for bit
//
// Each returns an AssertionResult that prints both values on failure.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "QV_matrix.h"
#include "QV_quaternion.h"
#include "QV_vector.h"

namespace qvtest
{
inline bool AllFinite(const cQuaternion& q)
{
    return std::isfinite(q.mData[0]) && std::isfinite(q.mData[1]) && std::isfinite(q.mData[2]) &&
           std::isfinite(q.mData[3]);
}

inline ::testing::AssertionResult VecNear(const cVector3D& a, const cVector3D& b, float tol = 1e-5f)
{
    for (int i = 0; i < 3; ++i)
        if (!(std::fabs(a.mData[i] - b.mData[i]) <= tol))
        {
            std::ostringstream os;
            os << "(" << a.mData[0] << ", " << a.mData[1] << ", " << a.mData[2] << ") vs (" << b.mData[0] << ", "
               << b.mData[1] << ", " << b.mData[2] << "), tolerance " << tol;
            return ::testing::AssertionFailure() << os.str();
        }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult QuatNear(const cQuaternion& a, const cQuaternion& b, float tol = 1e-5f)
{
    for (int i = 0; i < 4; ++i)
        if (!(std::fabs(a.mData[i] - b.mData[i]) <= tol))
        {
            std::ostringstream os;
            os << "(x " << a.mData[0] << ", y " << a.mData[1] << ", z " << a.mData[2] << ", w " << a.mData[3]
               << ") vs (x " << b.mData[0] << ", y " << b.mData[1] << ", z " << b.mData[2] << ", w " << b.mData[3]
               << "), tolerance " << tol;
            return ::testing::AssertionFailure() << os.str();
        }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameQuat(const cQuaternion& a, const cQuaternion& b)
{
    if (std::memcmp(a.mData, b.mData, sizeof a.mData) == 0)
        return ::testing::AssertionSuccess();
    return QuatNear(a, b, 0.0f) << " (expected bit-identical)";
}

inline ::testing::AssertionResult MatNear(const cMatrix4D& a, const cMatrix4D& b, float tol = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        if (!(std::fabs(a._m[i] - b._m[i]) <= tol))
            return ::testing::AssertionFailure()
                   << "element " << i << ": " << a._m[i] << " vs " << b._m[i] << ", tolerance " << tol;
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult SameMatrix(const cMatrix4D& a, const cMatrix4D& b)
{
    if (std::memcmp(a._m, b._m, sizeof a._m) == 0)
        return ::testing::AssertionSuccess();
    for (int i = 0; i < 16; ++i)
        if (std::memcmp(&a._m[i], &b._m[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure()
                   << "element " << i << ": " << a._m[i] << " vs " << b._m[i] << " (expected bit-identical)";
    return ::testing::AssertionFailure();
}

// The rotation of degrees about a unit axis, as a quaternion.
inline cQuaternion AxisAngle(float x, float y, float z, float degrees)
{
    const float s = std::sin(degrees * 0.5f * 3.14159265358979f / 180.0f);
    const float c = std::cos(degrees * 0.5f * 3.14159265358979f / 180.0f);
    return cQuaternion(x * s, y * s, z * s, c);
}

// The direction m turns v into (translation left out).
inline cVector3D Rotate(const cMatrix4D& m, const cVector3D& v) { return m * v - m.getTransform(); }
} // namespace qvtest

#endif // QV_TEST_QV_EXPECT_H
