// Double-precision transforms for the exporter: the library's single-
// precision matrices become unit quaternions and translations before any
// format sees them. Conventions as the library's: column vectors, matrices
// column-major (element of row r, column c at [c * 4 + r]), quaternions
// (x, y, z, w), angles in radians unless a name says degrees.
#ifndef QV_EXPORT_MATH_H
#define QV_EXPORT_MATH_H

#include <array>
#include <cmath>

#include "QV_export.h"
#include "QV_matrix.h"

namespace qvexport
{

typedef std::array<double, 4> tQuat;
typedef std::array<double, 3> tVec;
typedef std::array<double, 9> tMat3; // column-major 3 x 3
typedef std::array<double, 16> tMat4;

// The 3 x 3 block of a library matrix.
inline tMat3 Block(const cMatrix4D& m)
{
    return {m._m[0], m._m[1], m._m[2], m._m[4], m._m[5], m._m[6], m._m[8], m._m[9], m._m[10]};
}

// How far a 3 x 3 block is from a rotation: the largest difference of its
// columns' dot products from the identity's, and whether it mirrors.
inline double RotationError(const tMat3& a)
{
    double worst = 0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
        {
            const double dot = a[i * 3] * a[j * 3] + a[i * 3 + 1] * a[j * 3 + 1] + a[i * 3 + 2] * a[j * 3 + 2];
            worst = std::fmax(worst, std::fabs(dot - (i == j ? 1.0 : 0.0)));
        }
    const double det =
        a[0] * (a[4] * a[8] - a[7] * a[5]) - a[3] * (a[1] * a[8] - a[7] * a[2]) + a[6] * (a[1] * a[5] - a[4] * a[2]);
    return det < 0 ? 2.0 : worst;
}

inline tQuat Normalised(tQuat q)
{
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& v : q)
        v /= n;
    return q;
}

// The unit quaternion of a rotation block (Shepperd's method: the largest
// of the four squares first, for accuracy near half turns).
inline tQuat QuatOf(const tMat3& m)
{
    const double m00 = m[0], m10 = m[1], m20 = m[2], m01 = m[3], m11 = m[4], m21 = m[5], m02 = m[6], m12 = m[7],
                 m22 = m[8];
    const double tr = m00 + m11 + m22;
    tQuat q;
    if (tr > 0)
    {
        const double s = std::sqrt(tr + 1.0) * 2;
        q = {(m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s, 0.25 * s};
    }
    else if (m00 > m11 && m00 > m22)
    {
        const double s = std::sqrt(1.0 + m00 - m11 - m22) * 2;
        q = {0.25 * s, (m01 + m10) / s, (m02 + m20) / s, (m21 - m12) / s};
    }
    else if (m11 > m22)
    {
        const double s = std::sqrt(1.0 + m11 - m00 - m22) * 2;
        q = {(m01 + m10) / s, 0.25 * s, (m12 + m21) / s, (m02 - m20) / s};
    }
    else
    {
        const double s = std::sqrt(1.0 + m22 - m00 - m11) * 2;
        q = {(m02 + m20) / s, (m12 + m21) / s, 0.25 * s, (m10 - m01) / s};
    }
    return Normalised(q);
}

inline tMat3 MatOf(const tQuat& q)
{
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
            2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
            2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
}

inline tQuat Mul(const tQuat& a, const tQuat& b)
{
    return {
        a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1], a[3] * b[1] + a[1] * b[3] + a[2] * b[0] - a[0] * b[2],
        a[3] * b[2] + a[2] * b[3] + a[0] * b[1] - a[1] * b[0], a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

inline tQuat Conjugate(const tQuat& q) { return {-q[0], -q[1], -q[2], q[3]}; }

inline tVec Rotate(const tQuat& q, const tVec& v)
{
    const tMat3 m = MatOf(q);
    return {m[0] * v[0] + m[3] * v[1] + m[6] * v[2], m[1] * v[0] + m[4] * v[1] + m[7] * v[2],
            m[2] * v[0] + m[5] * v[1] + m[8] * v[2]};
}

// a then b: the transform that applies b first (a * b as matrices).
inline sTransform Compose(const sTransform& a, const sTransform& b)
{
    sTransform out;
    out.mRotation = Normalised(Mul(a.mRotation, b.mRotation));
    const tVec t = Rotate(a.mRotation, b.mTranslation);
    for (int i = 0; i < 3; ++i)
        out.mTranslation[i] = a.mTranslation[i] + t[i];
    return out;
}

inline sTransform Inverse(const sTransform& a)
{
    sTransform out;
    out.mRotation = Conjugate(a.mRotation);
    const tVec t = Rotate(out.mRotation, a.mTranslation);
    out.mTranslation = {-t[0], -t[1], -t[2]};
    return out;
}

inline tMat4 MatrixOf(const sTransform& a)
{
    const tMat3 r = MatOf(a.mRotation);
    return {r[0],
            r[1],
            r[2],
            0,
            r[3],
            r[4],
            r[5],
            0,
            r[6],
            r[7],
            r[8],
            0,
            a.mTranslation[0],
            a.mTranslation[1],
            a.mTranslation[2],
            1};
}

} // namespace qvexport

#endif // QV_EXPORT_MATH_H
