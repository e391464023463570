#include "QV_matrix.h"

#include <ostream>

cMatrix4D cMatrix4D::operator+(const cMatrix4D& in) const
{
    cMatrix4D out;
    for (int i = 0; i < 16; ++i)
        out._m[i] = _m[i] + in._m[i];
    return out;
}

cMatrix4D cMatrix4D::operator-(const cMatrix4D& in) const
{
    cMatrix4D out;
    for (int i = 0; i < 16; ++i)
        out._m[i] = _m[i] - in._m[i];
    return out;
}

void cMatrix4D::setFromEuler(float rx, float ry, float rz)
{
    const float cX = Math::cos(rx), sX = Math::sin(rx);
    const float cY = Math::cos(ry), sY = Math::sin(ry);
    const float cZ = Math::cos(rz), sZ = Math::sin(rz);

    _m[0] = cZ * cY;
    _m[1] = sZ * cY;
    _m[2] = -sY;
    _m[3] = 0.0f;
    _m[4] = -sZ * cX + cZ * sY * sX;
    _m[5] = cZ * cX + sZ * sY * sX;
    _m[6] = cY * sX;
    _m[7] = 0.0f;
    _m[8] = sZ * sX + cZ * sY * cX;
    _m[9] = -cZ * sX + sZ * sY * cX;
    _m[10] = cY * cX;
    _m[11] = 0.0f;
}

void cMatrix4D::setFromAxisAngle(cVector3D axis, float ang)
{
    const float s = Math::sin(ang);
    const float t = 1.0f - Math::cos(ang);
    axis.normalize();
    const float x = axis.mData[0], y = axis.mData[1], z = axis.mData[2];

    _m[0] = 1.0f + (Math::sqr(x) - 1.0f) * t;
    _m[1] = z * s + x * t * y;
    _m[2] = -y * s + x * t * z;
    _m[4] = -z * s + x * t * y;
    _m[5] = 1.0f + (Math::sqr(y) - 1.0f) * t;
    _m[6] = x * s + y * t * z;
    _m[8] = y * s + x * t * z;
    _m[9] = -x * s + y * t * z;
    _m[10] = 1.0f + (Math::sqr(z) - 1.0f) * t;
}

std::ostream& operator<<(std::ostream& os, const cMatrix4D& in)
{
    for (int r = 0; r < 4; ++r)
    {
        os << (r == 0 ? "Matrix4D: [" : "          [") << in._m[r] << ", " << in._m[r + 4] << ", " << in._m[r + 8]
           << ", " << in._m[r + 12] << " ]";
        if (r < 3)
            os << std::endl;
    }
    return os;
}
