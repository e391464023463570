#include "QV_quaternion.h"

#include <ostream>

#include "QV_matrix.h"

void cQuaternion::setFromEuler(float xx, float yy, float zz)
{
    const cQuaternion qx(Math::sin(xx / 2.0f), 0.0f, 0.0f, Math::cos(xx / 2.0f));
    const cQuaternion qy(0.0f, Math::sin(yy / 2.0f), 0.0f, Math::cos(yy / 2.0f));
    const cQuaternion qz(0.0f, 0.0f, Math::sin(zz / 2.0f), Math::cos(zz / 2.0f));
    *this = (qx * qy) * qz;
}

void cQuaternion::setFromMatrix(const cMatrix4D& m)
{
    const float* e = m._m;
    const float t = e[0] + e[5] + e[10] + 1.0f;

    if (t > Math::ALMOSTZERO)
    {
        const float s = 0.5f / Math::sqrt(t);
        mData[3] = 0.25f / s;
        mData[0] = (e[6] - e[9]) * s;
        mData[1] = (e[8] - e[2]) * s;
        mData[2] = (e[1] - e[4]) * s;
    }
    else if (e[0] > e[5] && e[0] > e[10])
    {
        const float s = 2.0f * Math::sqrt(1.0f + e[0] - e[5] - e[10]);
        mData[0] = 0.25f * s;
        mData[1] = (e[4] + e[1]) / s;
        mData[2] = (e[8] + e[2]) / s;
        mData[3] = (e[6] - e[9]) / s;
    }
    else if (e[5] > e[10])
    {
        const float s = 2.0f * Math::sqrt(1.0f + e[5] - e[0] - e[10]);
        mData[0] = (e[4] + e[1]) / s;
        mData[1] = 0.25f * s;
        mData[2] = (e[9] + e[6]) / s;
        mData[3] = (e[8] - e[2]) / s;
    }
    else
    {
        const float s = 2.0f * Math::sqrt(1.0f + e[10] - e[0] - e[5]);
        mData[0] = (e[8] + e[2]) / s;
        mData[1] = (e[9] + e[6]) / s;
        mData[2] = 0.25f * s;
        mData[3] = (e[1] - e[4]) / s;
    }
}

std::ostream& operator<<(std::ostream& os, const cQuaternion& in)
{
    os << "Quaternion: [" << in.mData[0] << ", " << in.mData[1] << ", " << in.mData[2] << "], " << in.mData[3] << ".";
    return os;
}
