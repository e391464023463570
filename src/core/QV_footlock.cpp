#include "QV_footlock.h"

#include <math.h>

void cFootLock::Setup(cBone* b, float xx, float yy, float zz)
{
    mDir = cVector3D(xx, yy, zz);
    mBone = b;
    mLock = false;
    if (b)
        mLastPosition = b->mWorldTransform.getTransform();
}

void cFootLock::Evaluate(cBone* root, cPose& pose)
{
    if (!mBone || !root || !pose.mPoseRoot)
        return;

    const cVector3D p = mBone->mWorldTransform.getTransform();

    // The displacement that would bring the foot back to where it was last.
    cVector3D tn = mLastPosition - p;
    const cVector3D t = tn;

    // Reference direction: from the root towards its first child. Where it is
    // undefined (no child, or a child on the root) the previous direction is
    // kept, and the lock is released below.
    bool dirDefined = false;
    if (!root->mChildren.empty())
    {
        cVector3D dir = root->mChildren[0]->mWorldTransform.getTransform() - root->mWorldTransform.getTransform();
        if (dir.length() > 0.0f)
        {
            dir.normalize();
            if (isfinite(dir.mData[0]) && isfinite(dir.mData[1]) && isfinite(dir.mData[2]))
            {
                mDir = dir;
                dirDefined = true;
            }
        }
    }

    tn.normalize();

    // Locked while the foot moves against the reference direction. A zero
    // movement gives a not-a-number product, which fails the test.
    if (dirDefined && tn.dot(mDir) > 0.0f)
    {
        if (!mLock)
            mLockedPosition = p;
        mLock = true;
        mOffset.mData[0] = t.mData[0];
        mOffset.mData[2] = t.mData[2];
    }
    else
    {
        mLock = false;
        mOffset.mData[0] = 0.0f;
        mOffset.mData[2] = 0.0f;
    }

    mLastPosition = p + mOffset;
    pose.mPoseRoot->mTransform.translate(mOffset);
}
