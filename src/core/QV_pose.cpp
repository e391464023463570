#include "QV_pose.h"

#include <algorithm>
#include <functional>

#include <math.h>

void cPose::Setup(cArmature& arm)
{
    mPoseBones = arm.mBones;
    mSource = arm.mBones.data();
    mSourceCount = arm.mBones.size();
    mPoseRoot = nullptr;
    if (arm.mRootBone)
    {
        auto it = std::find(mPoseBones.begin(), mPoseBones.end(), arm.mRootBone->mName);
        if (it != mPoseBones.end())
            mPoseRoot = &*it;
    }
}

void cPose::Set(const cArmature& arm)
{
    const size_t n = std::min(arm.mBones.size(), mPoseBones.size());
    for (size_t i = 0; i < n; ++i)
    {
        mPoseBones[i].mOrientation = arm.mBones[i].mOrientation;
        mPoseBones[i].mTransform = arm.mBones[i].mTransform;
    }
}

cBone* cPose::PoseCopyOf(const cBone* link)
{
    std::less<const cBone*> before;
    if (!mSource || before(link, mSource) || !before(link, mSource + mSourceCount))
        return nullptr;
    const size_t i = (size_t)(link - mSource);
    return i < mPoseBones.size() ? &mPoseBones[i] : nullptr;
}

void cPose::UpdateFrom(cBone& bone, const cMatrix4D* parentWorld)
{
    bone.UpdateWorld(parentWorld);
    for (const cBone* link : bone.mChildren)
        if (cBone* child = PoseCopyOf(link))
            UpdateFrom(*child, &bone.mWorldTransform);
}

void cPose::Update()
{
    if (!mPoseRoot)
        return;
    cBone* parent = mPoseRoot->mParent ? PoseCopyOf(mPoseRoot->mParent) : nullptr;
    UpdateFrom(*mPoseRoot, parent ? &parent->mWorldTransform : nullptr);
}

void cPose::Blend(float t, const cPose& p2)
{
    const size_t n = std::min(mPoseBones.size(), p2.mPoseBones.size());
    for (size_t i = 0; i < n; ++i)
    {
        const cQuaternion q = cQuaternion::nlerp(t, mPoseBones[i].mOrientation, p2.mPoseBones[i].mOrientation);
        // Opposite orientations meet at zero half way; such a bone keeps its
        // own orientation rather than take on not-a-numbers.
        if (isfinite(q.mData[0]) && isfinite(q.mData[1]) && isfinite(q.mData[2]) && isfinite(q.mData[3]))
            mPoseBones[i].mOrientation = q;
    }
}
