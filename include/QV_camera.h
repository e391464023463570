#ifndef _QV_CAMERA_H_
#define _QV_CAMERA_H_

#include "QV_math.h"
#include "QV_vector.h"

// Orbit camera: looks at mTarget from mDistance at a heading about the
// vertical axis and an elevation, both in whole degrees.
class cCamera
{
public:
    int mHeading;
    int mElevation; // kept within -89 ... 89
    float mDistance;
    cVector3D mPosition; // eye, derived by Update
    cVector3D mTarget;

    cCamera() : mHeading(0), mElevation(0), mDistance(0.0f) {}

    void Setup(float xx, float yy, float zz, float d, int h, int e)
    {
        mDistance = d;
        mHeading = h;
        mElevation = e;
        mTarget = cVector3D(xx, yy, zz);
        ClampElevation();
        Update();
    }
    void SetTarget(cVector3D t) { mTarget = t; }
    // Mouse motion in pixels, one degree per pixel: right lowers the heading,
    // down raises the eye.
    void Turn(int h, int e)
    {
        mHeading = mHeading - h;
        mElevation = mElevation + e;
        ClampElevation();
    }
    void Update()
    {
        const float cosE = Math::abs(Math::cos((float)mElevation));
        const cVector3D o(Math::sin((float)mHeading) * cosE, Math::sin((float)mElevation),
                          Math::cos((float)mHeading) * cosE);
        mPosition = mTarget + o * mDistance;
    }
    // Sets the eye distance; the eye moves at the next Update. Negative and
    // not-a-number distances are ignored.
    void SetDistance(float d)
    {
        if (d >= 0.0f)
            mDistance = d;
    }

private:
    void ClampElevation()
    {
        if (mElevation > 89)
            mElevation = 89;
        else if (mElevation < -89)
            mElevation = -89;
    }
};

#endif // _QV_CAMERA_H_
