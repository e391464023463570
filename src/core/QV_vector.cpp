#include "QV_vector.h"

#include <ostream>

cVector3D& cVector3D::operator+=(const cVector3D& rhs)
{
    mData[0] += rhs.mData[0];
    mData[1] += rhs.mData[1];
    mData[2] += rhs.mData[2];
    return *this;
}

cVector3D& cVector3D::operator-=(const cVector3D& rhs)
{
    mData[0] -= rhs.mData[0];
    mData[1] -= rhs.mData[1];
    mData[2] -= rhs.mData[2];
    return *this;
}

cVector3D& cVector3D::operator*=(float rhs)
{
    mData[0] *= rhs;
    mData[1] *= rhs;
    mData[2] *= rhs;
    return *this;
}

cVector3D& cVector3D::operator/=(float rhs)
{
    mData[0] /= rhs;
    mData[1] /= rhs;
    mData[2] /= rhs;
    return *this;
}

bool cVector3D::operator<(const cVector3D& rhs) const
{
    for (int i = 0; i < 3; ++i)
    {
        if (mData[i] < rhs.mData[i])
            return true;
        if (rhs.mData[i] < mData[i])
            return false;
    }
    return false;
}

bool cVector3D::operator>(const cVector3D& rhs) const { return rhs < *this; }

float cVector3D::lengthManHat() const { return Math::abs(mData[0]) + Math::abs(mData[1]) + Math::abs(mData[2]); }

std::ostream& operator<<(std::ostream& os, const cVector3D& in)
{
    os << "Vector3D: [" << in.mData[0] << ", " << in.mData[1] << ", " << in.mData[2] << "]";
    return os;
}
