#ifndef QV_CAMERA_H
#define QV_CAMERA_H

#include <cfloat>
#include <climits>

#include "QV_math.h"
#include "QV_vector.h"

// Orbit camera: looks at mTarget from mDistance at a heading about the
// vertical axis and an elevation, both in whole degrees.
class cCamera
{
public:
    int mHeading;   // never wrapped
    int mElevation; // kept within -89 ... 89
    float mDistance;
    cVector3D mPosition; // eye, derived by Update
    cVector3D mTarget;

    cCamera() : mHeading(0), mElevation(0), mDistance(0.0f) {}

    void Setup(float xx, float yy, float zz, float d, int h, int e)
    {
        mDistance = d;
        mHeading = h;
        mElevation = ClampElevation(e);
        mTarget = cVector3D(xx, yy, zz);
        Update();
    }
    // The eye follows at the next Update.
    void SetTarget(cVector3D t) { mTarget = t; }
    // Mouse motion in pixels, one degree per pixel: right lowers the heading,
    // down raises the eye. The eye follows at the next Update. A heading that
    // would leave the int range drops whole turns instead of overflowing.
    void Turn(int h, int e)
    {
        long long heading = static_cast<long long>(mHeading) - h;
        if (heading > INT_MAX || heading < INT_MIN)
            heading %= 360;
        mHeading = static_cast<int>(heading);
        mElevation = ClampElevation(static_cast<long long>(mElevation) + e);
    }
    // Recomputes the eye from heading, elevation, distance and target.
    void Update()
    {
        const float cosE = Math::abs(Math::cos((float)mElevation));
        const cVector3D o(Math::sin((float)mHeading) * cosE, Math::sin((float)mElevation),
                          Math::cos((float)mHeading) * cosE);
        mPosition = mTarget + o * mDistance;
    }
    // Sets the eye distance; the eye follows at the next Update. Only finite
    // positive distances are taken: zero would put the eye on the target, and
    // negative, infinite or not-a-number ones would break the view.
    void SetDistance(float d)
    {
        if (d > 0.0f && d <= FLT_MAX)
            mDistance = d;
    }

private:
    static int ClampElevation(long long e) { return static_cast<int>(e > 89 ? 89 : (e < -89 ? -89 : e)); }
};

#endif // QV_CAMERA_H
