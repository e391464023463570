#ifndef QV_VECTOR_H
#define QV_VECTOR_H

#include <iosfwd>

#include "QV_math.h"

// Three single-precision components, x, y and z. Any three floats are a valid
// vector; unit length is never assumed.
class cVector3D
{
public:
    union
    {
        float mData[3];
    };

    cVector3D() : mData{0.0f, 0.0f, 0.0f} {}
    cVector3D(const cVector3D& in) = default;
    cVector3D(float xx, float yy, float zz) : mData{xx, yy, zz} {}
    cVector3D& operator=(const cVector3D& rhs) = default;

    float operator[](int i) const { return mData[i]; }

    cVector3D operator+(const cVector3D& rhs) const
    {
        return cVector3D(mData[0] + rhs.mData[0], mData[1] + rhs.mData[1], mData[2] + rhs.mData[2]);
    }
    cVector3D operator-(const cVector3D& rhs) const
    {
        return cVector3D(mData[0] - rhs.mData[0], mData[1] - rhs.mData[1], mData[2] - rhs.mData[2]);
    }
    cVector3D operator*(float rhs) const { return cVector3D(mData[0] * rhs, mData[1] * rhs, mData[2] * rhs); }
    cVector3D operator/(float rhs) const { return cVector3D(mData[0] / rhs, mData[1] / rhs, mData[2] / rhs); }
    cVector3D& operator+=(const cVector3D& rhs);
    cVector3D& operator-=(const cVector3D& rhs);
    cVector3D& operator*=(float rhs);
    cVector3D& operator/=(float rhs);

    // Lexicographic order on (x, y, z).
    bool operator<(const cVector3D& rhs) const;
    bool operator>(const cVector3D& rhs) const;

    float dot(const cVector3D& rhs) const
    {
        return mData[0] * rhs.mData[0] + mData[1] * rhs.mData[1] + mData[2] * rhs.mData[2];
    }
    // this x rhs, right-handed.
    cVector3D cross(const cVector3D& rhs) const
    {
        return cVector3D(mData[1] * rhs.mData[2] - mData[2] * rhs.mData[1],
                         mData[2] * rhs.mData[0] - mData[0] * rhs.mData[2],
                         mData[0] * rhs.mData[1] - mData[1] * rhs.mData[0]);
    }
    float length() const { return Math::sqrt(mData[0] * mData[0] + mData[1] * mData[1] + mData[2] * mData[2]); }
    // Sum of the absolute components.
    float lengthManHat() const;

    // Divides the vector by its length and returns the length it had. There is
    // no zero check: a zero vector turns into three not-a-numbers.
    float normalize()
    {
        const float len = Math::sqrt(mData[0] * mData[0] + mData[1] * mData[1] + mData[2] * mData[2]);
        mData[0] /= len;
        mData[1] /= len;
        mData[2] /= len;
        return len;
    }
};

// "Vector3D: [x, y, z]" with no line end.
std::ostream& operator<<(std::ostream& os, const cVector3D& in);

#endif // QV_VECTOR_H
