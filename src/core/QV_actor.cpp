#include "QV_actor.h"

#include <math.h>

#include <algorithm>

#include "QV_character.h"
#include "QV_contact.h"
#include "QV_legik.h"

cActor::cActor()
{
    mTime = 0;
    mHeading = 0.0f;
    mBlend = 250;
    mCurrentAction = 0;
    mWalkCycle = 0;
    mNextAction = kStandSlot;
}

void cActor::SetConstraints()
{
    std::vector<cBone>& bones = mArmature.mBones;

    auto left = std::find(bones.begin(), bones.end(), std::string(kLeftFootBone));
    mLeftFoot.Setup(left != bones.end() ? &*left : nullptr, 0.0f, 1.0f, 0.0f);

    auto right = std::find(bones.begin(), bones.end(), std::string(kRightFootBone));
    mRightFoot.Setup(right != bones.end() ? &*right : nullptr, 0.0f, 1.0f, 0.0f);
}

void cActor::UpdateArmature()
{
    if (mArmature.mRootBone)
        mArmature.Update();
}

void cActor::ApplyPose(const cPose& pose) { mArmature.UpdateFrom(pose.mPoseBones); }

namespace
{
float LowestHeight(const cVector3D points[cFootLock::kContactPoints])
{
    float low = points[0].mData[1];
    for (int k = 1; k < cFootLock::kContactPoints; ++k)
        low = fminf(low, points[k].mData[1]);
    return low;
}
} // namespace

void cActor::Recentre()
{
    cBone* root = mArmature.mRootBone;
    if (!root)
        return;
    for (int axis = 0; axis < 3; axis += 2)
    {
        const float at = root->mTransform._m[12 + axis];
        // Beyond 2^62 the shift would not fit mOriginShift; no walk gets there.
        if (!(fabsf(at) > kRecentreDistance) || !(fabsf(at) < 0x1p62f))
            continue;
        // A whole number, so every position moves by exactly as much as the
        // others near it (x - k is exact for x near k).
        const float k = rintf(at);
        root->mTransform._m[12 + axis] -= k;
        for (cBone& b : mArmature.mBones)
            b.mWorldTransform._m[12 + axis] -= k;
        for (cFootLock* lock : {&mLeftFoot, &mRightFoot})
        {
            lock->mLastPosition.mData[axis] -= k;
            lock->mLockedPosition.mData[axis] -= k;
            for (cVector3D& point : lock->mContactLast)
                point.mData[axis] -= k;
        }
        mOriginShift[axis] += (long long)k;
    }
}

void cActor::Animate(unsigned int t)
{
    cMatrix4D m;
    cQuaternion q;

    Recentre();

    mTime += t;
    if (mTime > mAction[mCurrentAction].mLength)
        mTime = kRestartTime;

    mPose.Set(mArmature);
    mPose2.Set(mArmature);

    mAction[mCurrentAction].EvaluateAt(mTime, mPose);
    ApplyRootHeight(mAction[mCurrentAction].RootHeightAt(mTime));

    // The cross-fade blends the outgoing action in and takes up a request
    // itself (the switch below then has nothing to do). Switched off, a fade
    // in progress is dropped rather than resumed when it is switched on.
    if (mCrossFade)
    {
        // Prepared on first use, and again should the actor have been loaded
        // after it was prepared.
        if (!mFader.Ready(mPose.mPoseBones.size()))
            PrepareCrossFade();
        mFader.FinishSteps(mContactLock);
        if (mFader.Step(t, mAction, mNextAction, mBlend, mCurrentAction, mTime, mPose, mPose2))
            ApplyRootHeight(mFader.Fade().mHeight);
    }
    else
        mFader.Stop();

    // The request takes effect on the next frame, at the clock as it stands
    // (a stop waiting to finish its step aside). A slot number beyond the
    // actor's slots is not followed.
    if (mNextAction != mCurrentAction && mNextAction < kActionSlots && !(mCrossFade && mFader.Waiting()))
        mCurrentAction = mNextAction;

    m.setFromEuler(0.0f, 0.0f, mHeading);
    q.setFromMatrix(m);
    if (mPose.mPoseRoot)
        mPose.mPoseRoot->mOrientation = q * mPose.mPoseRoot->mOrientation;

    ApplyPose(mPose);

    // In a stop's fade one foot stands throughout and the other swings clear
    // until the fade ends.
    const cFootLock* stance = nullptr;
    if (mContactLock && mCrossFade && mFader.Stopping())
        stance = StopStance();
    else
        mStopStance = nullptr;
    KeepSwingClear(stance, t);
    if (mContactLock)
    {
        HoldContacts(mArmature.mRootBone, mPose, mRightFoot, mLeftFoot, stance);
    }
    else
    {
        mRightFoot.Evaluate(mArmature.mRootBone, mPose);
        mLeftFoot.Evaluate(mArmature.mRootBone, mPose);
    }

    // The locks move the root and nothing else: only the translations need
    // recomputing (the armature makes sure, and does the whole pass if
    // anything else changed).
    mArmature.UpdateMovedRoot(mPose.mPoseBones);
}

const cFootLock* cActor::StopStance()
{
    if (mStopStance)
        return mStopStance;
    // The foot that stood last; where both or neither did, the lower.
    if (mRightFoot.mLock != mLeftFoot.mLock)
        return mStopStance = mRightFoot.mLock ? &mRightFoot : &mLeftFoot;
    cVector3D right[cFootLock::kContactPoints], left[cFootLock::kContactPoints];
    if (mRightFoot.mBone)
        mRightFoot.ContactPoints(right);
    if (mLeftFoot.mBone)
        mLeftFoot.ContactPoints(left);
    const bool rightLower = !mLeftFoot.mBone || (mRightFoot.mBone && LowestHeight(right) <= LowestHeight(left));
    return mStopStance = rightLower ? &mRightFoot : &mLeftFoot;
}

void cActor::KeepSwingClear(const cFootLock* stance, unsigned int dt)
{
    // The stand has both feet on the ground: blended in, it lowers the
    // swinging foot long before the fade ends, and a foot that lands early
    // is dragged to where the stand puts it. Kept above the standing foot's
    // lowest point by an arch that comes down at the end of the fade, it
    // lands once, where it will stand. A stop cut short (W again, or the
    // switches off) lets the foot down at a leg's length a second rather
    // than at once.
    if (stance)
        mSwingFoot = stance == &mRightFoot ? &mLeftFoot : &mRightFoot;
    cFootLock* swing = mSwingFoot;
    if (!swing || !swing->mBone || !swing->mBone->mParent || !swing->mBone->mParent->mParent)
        return;
    const cBone* shin = swing->mBone->mParent;
    const float leg = fabsf(shin->mLength) + fabsf(shin->mParent->mLength);
    float lift = 0.0f;
    if (stance && stance->mBone)
    {
        const float u = mFader.Fade().mWeight;
        const float v = 2.0f * u - 1.0f;
        const float clear = kSwingClearance * leg * (1.0f - v * v * v * v);
        cVector3D now[cFootLock::kContactPoints], ground[cFootLock::kContactPoints];
        swing->ContactPoints(now);
        stance->ContactPoints(ground);
        lift = fmaxf(0.0f, LowestHeight(ground) + clear - LowestHeight(now));
    }
    else
        lift = fmaxf(0.0f, mSwingLift - leg * kSwingFall * (float)dt);
    mSwingLift = isfinite(lift) ? lift : 0.0f;
    if (!(mSwingLift > 0.0f))
    {
        mSwingFoot = stance ? mSwingFoot : nullptr;
        return;
    }
    sLegReach reach;
    reach.mArm = &mArmature;
    reach.mFoot = swing->mBone;
    reach.mTarget = swing->mBone->mWorldTransform.getTransform() + cVector3D(0.0f, mSwingLift, 0.0f);
    if (reach.Validate(mPose) && reach.Run(mPose))
        ApplyPose(mPose);
}

void cActor::PrepareCrossFade()
{
    mFader.Prepare(mArmature, mAction, &mRightFoot, &mLeftFoot, mPose.mPoseBones.size());
}

void cActor::ApplyRootHeight(float height)
{
    // Files without heights leave the root's height alone, as they always
    // have; once any clip keys it, a clip without heights stands at rest.
    bool keyed = false;
    for (const cAction& a : mAction)
        keyed = keyed || !a.mRootHeight.empty();
    if (!keyed || !mPose.mPoseRoot || !mArmature.mRootBone)
        return;
    // The root has no parent: its local translation is in world axes, and
    // only the vertical is set, so the locks' horizontal travel is kept.
    mPose.mPoseRoot->mTransform._m[13] = mArmature.mRootBone->mRestTransform._m[13] + height;
}
