#include "QV_footlock.h"

#include <math.h>

namespace
{
bool Finite(const cVector3D& v) { return isfinite(v.mData[0]) && isfinite(v.mData[1]) && isfinite(v.mData[2]); }

// The bone's world matrix in the rest pose, from the rest matrices alone (the
// world matrices may not have been computed yet).
cMatrix4D RestWorld(const cBone& b)
{
    cMatrix4D m = b.mRestTransform;
    for (const cBone* p = b.mParent; p; p = p->mParent)
        m = p->mRestTransform * m;
    return m;
}
} // namespace

bool LockDirection(const cBone* root, cVector3D& dir)
{
    if (root->mChildren.empty())
        return false;
    cVector3D d = root->mChildren[0]->mWorldTransform.getTransform() - root->mWorldTransform.getTransform();
    if (!(d.length() > 0.0f))
        return false;
    d.normalize();
    if (!Finite(d))
        return false;
    dir = d;
    return true;
}

void cFootLock::Setup(cBone* b, float xx, float yy, float zz)
{
    mDir = cVector3D(xx, yy, zz);
    mBone = b;
    mLock = false;
    mToe = nullptr;
    mHeel = cVector3D();
    mContactPrimed = false;
    if (!b)
        return;
    mLastPosition = b->mWorldTransform.getTransform();

    // The heel lies straight below the ankle in the rest pose (HeelDrop),
    // kept in the foot's frame, so it follows the foot's pitch.
    if (!b->mChildren.empty())
        mToe = b->mChildren[0];
    const cMatrix4D rest = RestWorld(*b);
    const cMatrix4D toeRest = mToe ? rest * mToe->mRestTransform : cMatrix4D();
    cVector3D atRest[kContactPoints];
    FootContactPoints(rest, b->mLength, cVector3D(), mToe ? &toeRest : nullptr, mToe ? mToe->mLength : 0.0f, atRest);
    const float drop =
        HeelDrop(rest.getTransform().mData[1], atRest[kBall].mData[1], atRest[kToeTip].mData[1], b->mLength);
    // The world drop (0, -drop, 0) in the foot's rest frame: the transposed
    // rotation applied to it.
    const cVector3D heel(-drop * rest._m[1], -drop * rest._m[5], -drop * rest._m[9]);
    if (Finite(heel))
        mHeel = heel;
}

void cFootLock::ContactPoints(cVector3D out[kContactPoints]) const
{
    FootContactPoints(mBone->mWorldTransform, mBone->mLength, mHeel, mToe ? &mToe->mWorldTransform : nullptr,
                      mToe ? mToe->mLength : 0.0f, out);
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
    const bool dirDefined = LockDirection(root, mDir);
    // The contact points were not followed this frame.
    mContactPrimed = false;

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
