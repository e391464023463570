// Foot locks: engaging on a backward slide, holding, releasing, moving the
// root only along the ground, and surviving skeletons whose reference
// direction is undefined. Then the contact locks' frame on its own, and the
// two locks inside a walking actor.

#include <gtest/gtest.h>

#include <cmath>

#include "QV_actor.h"
#include "QV_contact.h"
#include "QV_footlock.h"
#include "support/qv_expect.h"

using qvtest::SameMatrix;
using qvtest::VecNear;

namespace
{
// An armature with a root at the origin, a reference child one unit along
// +x (so the reference direction is +x) and a foot bone whose world matrix
// the tests place by hand: Evaluate reads world matrices only.
struct LockRig
{
    cArmature arm;
    cPose pose;
    cFootLock lock;

    LockRig()
    {
        arm.mBones.resize(3);
        arm.mBones[0].mName = "Bone";
        arm.mBones[1].mName = "Bone.001";
        arm.mBones[2].mName = "Bone.007";
        arm.mBones[1].mRestTransform.setTransform(1, 0, 0);
        arm.mBones[2].mRestTransform.setTransform(0, -1, 0);
        for (auto& b : arm.mBones)
            b.mTransform = b.mRestTransform;
        for (int i = 1; i < 3; ++i)
        {
            arm.mBones[i].mParent = &arm.mBones[0];
            arm.mBones[0].mChildren.push_back(&arm.mBones[i]);
        }
        arm.mRootBone = &arm.mBones[0];
        arm.Update();
        pose.Setup(arm);
    }
    cBone& root() { return arm.mBones[0]; }
    cBone& foot() { return arm.mBones[2]; }
    void PutFoot(float x, float y, float z) { foot().mWorldTransform.setTransform(x, y, z); }
    cVector3D RootShift() { return pose.mPoseRoot->mTransform.getTransform(); }
    void Evaluate() { lock.Evaluate(&root(), pose); }
};
} // namespace

TEST(FootLockSetup, RecordsTheFootAndFreesTheLock)
{
    LockRig r;
    r.PutFoot(0.5f, 0.0f, 0.25f);
    r.lock.mLock = true;
    r.lock.mOffset = cVector3D(1, 0, 1);
    r.lock.mLockedPosition = cVector3D(2, 2, 2);
    r.lock.Setup(&r.foot(), 0, 2, 0);
    EXPECT_EQ(r.lock.mBone, &r.foot());
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mDir, {0, 2, 0}, 0.0f)); // stored as given
    EXPECT_TRUE(VecNear(r.lock.mLastPosition, {0.5f, 0, 0.25f}, 0.0f));
    EXPECT_TRUE(VecNear(r.lock.mOffset, {1, 0, 1}, 0.0f)); // kept
    EXPECT_TRUE(VecNear(r.lock.mLockedPosition, {2, 2, 2}, 0.0f));
}

TEST(FootLockEvaluate, ABackwardSlideEngagesAndMovesTheRootBack)
{
    LockRig r;
    r.PutFoot(0.5f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.PutFoot(0.4f, 0, 0); // slid back by 0.1 along -x
    r.Evaluate();
    EXPECT_TRUE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mDir, {1, 0, 0}));
    EXPECT_TRUE(VecNear(r.lock.mOffset, {0.1f, 0, 0}, 1e-7f));
    EXPECT_TRUE(VecNear(r.RootShift(), {0.1f, 0, 0}, 1e-7f));
    EXPECT_TRUE(VecNear(r.lock.mLastPosition, {0.5f, 0, 0}, 1e-7f)); // where it stood
    EXPECT_TRUE(VecNear(r.lock.mLockedPosition, {0.4f, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, AForwardMoveReleasesAndLeavesTheRoot)
{
    LockRig r;
    r.PutFoot(0.5f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.lock.mLock = true;
    r.lock.mOffset = cVector3D(0.3f, 0, 0.3f);
    r.PutFoot(0.6f, 0, 0);
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mOffset, {0, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(r.RootShift(), {0, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(r.lock.mLastPosition, {0.6f, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, SlideWithAVerticalPart)
{
    LockRig r;
    r.PutFoot(0.3f, 0.0f, 0.0f);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    // The foot moves by (-0.1, 0.05, 0.02): tn = last - P = (0.1, -0.05, -0.02).
    r.PutFoot(0.2f, 0.05f, 0.02f);
    r.Evaluate();
    EXPECT_TRUE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mOffset, {0.1f, 0, -0.02f}, 1e-6f));
    EXPECT_EQ(r.lock.mOffset.mData[1], 0.0f);
    EXPECT_TRUE(VecNear(r.RootShift(), {0.1f, 0, -0.02f}, 1e-6f));
    EXPECT_EQ(r.RootShift().mData[1], 0.0f);
    // The foot's last position: back where it stood, at its present height.
    EXPECT_TRUE(VecNear(r.lock.mLastPosition, {0.3f, 0.05f, 0.0f}, 1e-6f));
}

TEST(FootLockEvaluate, AFootThatDidNotMoveReleases)
{
    LockRig r;
    r.PutFoot(0.5f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.lock.mLock = true;
    r.Evaluate(); // zero movement: no direction to compare
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.RootShift(), {0, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(r.lock.mDir, {1, 0, 0}));
    EXPECT_TRUE(VecNear(r.lock.mLastPosition, {0.5f, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, ASideStepAcrossTheDirectionReleases)
{
    LockRig r;
    r.PutFoot(0, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.PutFoot(0, 0, 0.2f); // dot product exactly 0
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.RootShift(), {0, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, HoldsOverFramesKeepingTheFirstLockedPosition)
{
    LockRig r;
    r.PutFoot(1.0f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    float x = 1.0f;
    cVector3D total;
    for (int frame = 0; frame < 5; ++frame)
    {
        // Each frame the animation drags the foot further back from where
        // the lock left it: 0.1, 0.2, ... 0.5.
        const cVector3D last = r.lock.mLastPosition;
        x = last.mData[0] - 0.1f * (float)(frame + 1);
        r.PutFoot(x, 0, last.mData[2]);
        r.Evaluate();
        total = total + r.lock.mOffset;
        EXPECT_TRUE(r.lock.mLock) << "frame " << frame;
        EXPECT_TRUE(VecNear(r.lock.mLockedPosition, {0.9f, 0, 0}, 1e-6f)) << "frame " << frame;
        EXPECT_TRUE(VecNear(r.lock.mLastPosition, last, 1e-6f)) << "frame " << frame;
    }
    // The root's shifts add up from frame to frame.
    EXPECT_TRUE(VecNear(r.RootShift(), total, 1e-6f));
    EXPECT_TRUE(VecNear(r.RootShift(), {1.5f, 0, 0}, 1e-5f));
    // Then the foot swings forward: the lock lets go, the root stays.
    r.PutFoot(r.lock.mLastPosition.mData[0] + 0.3f, 0.1f, 0);
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.RootShift(), total, 1e-6f));
    // A new lock records a new engagement position.
    const float here = r.lock.mLastPosition.mData[0];
    r.PutFoot(here - 0.05f, 0, 0);
    r.Evaluate();
    EXPECT_TRUE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mLockedPosition, {here - 0.05f, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, TheDirectionIsRecomputedFromTheRootAndItsFirstChild)
{
    LockRig r;
    r.PutFoot(0, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    // Turn the whole skeleton 90 degrees about y: the first child now lies
    // along -z from the root.
    r.root().mOrientation = qvtest::AxisAngle(0, 1, 0, 90);
    r.root().mTransform.setTransform(2, 1, 3);
    r.arm.Update();
    r.PutFoot(0, 0, 0.1f); // moved along +z, against the new direction -z
    r.Evaluate();
    EXPECT_TRUE(VecNear(r.lock.mDir, {0, 0, -1}, 1e-6f));
    EXPECT_TRUE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mOffset, {0, 0, -0.1f}, 1e-7f));
}

TEST(FootLockEvaluate, ARootWithoutChildrenKeepsTheLastDirectionAndReleases)
{
    LockRig r;
    r.PutFoot(0.5f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.PutFoot(0.4f, 0, 0);
    r.Evaluate(); // engages, direction +x
    ASSERT_TRUE(r.lock.mLock);
    const cVector3D shift = r.RootShift();
    r.root().mChildren.clear();
    r.PutFoot(0.3f, 0, 0);
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(VecNear(r.lock.mDir, {1, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(r.RootShift(), shift, 0.0f));
}

TEST(FootLockEvaluate, AFirstChildOnTheRootKeepsTheLastDirectionAndReleases)
{
    LockRig r;
    r.PutFoot(0.5f, 0, 0);
    r.lock.Setup(&r.foot(), 0, 1, 0);
    r.arm.mBones[1].mWorldTransform = r.root().mWorldTransform; // coincides
    r.PutFoot(0.4f, 0, 0);
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    // Never evaluated with a defined direction: still the one Setup gave.
    EXPECT_TRUE(VecNear(r.lock.mDir, {0, 1, 0}, 0.0f));
    EXPECT_TRUE(std::isfinite(r.lock.mDir.mData[0]) && std::isfinite(r.lock.mDir.mData[1]) &&
                std::isfinite(r.lock.mDir.mData[2]));
    EXPECT_TRUE(VecNear(r.RootShift(), {0, 0, 0}, 0.0f));
}

TEST(FootLockEvaluate, ALockWithoutABoneIsSkipped)
{
    LockRig r;
    r.lock.Setup(nullptr, 0, 1, 0);
    const cMatrix4D before = r.pose.mPoseRoot->mTransform;
    r.Evaluate();
    EXPECT_FALSE(r.lock.mLock);
    EXPECT_TRUE(SameMatrix(r.pose.mPoseRoot->mTransform, before));
}

// ---------------------------------------------------------------------------
// The points a foot stands on (HeelDrop, FootContactPoints)

TEST(FootContactRule, TheHeelDropsToTheLowerOfBallAndToeTipButNeverBelowAFootLength)
{
    // In either precision: never above the ankle, the lower of the two
    // points, and a foot length (either sign) at the most.
    EXPECT_EQ(HeelDrop(1.0f, 0.8f, 0.9f, 0.5f), 1.0f - 0.8f);
    EXPECT_EQ(HeelDrop(1.0, 0.9, 0.7, 0.5), 1.0 - 0.7);
    EXPECT_EQ(HeelDrop(1.0f, 1.2f, 1.1f, 0.5f), 0.0f);
    EXPECT_EQ(HeelDrop(1.0, -4.0, 0.0, -0.5), 0.5);
    EXPECT_EQ(HeelDrop(1.0f, -4.0f, 0.0f, -0.5f), 0.5f);

    // A foot pointing forwards and down, 0.5 long, its ball 0.25 below the
    // ankle; no toes, short toes (tip 0.4 below), toes reaching far below.
    const struct
    {
        float mToes; // length, 0: none
        float mDrop;
    } feet[] = {{0.0f, 0.25f}, {0.3f, 0.4f}, {4.0f, 0.5f}};
    for (const auto& f : feet)
    {
        SCOPED_TRACE("toes " + std::to_string(f.mToes));
        cArmature arm;
        arm.mBones.resize(f.mToes > 0 ? 3 : 2);
        arm.mBones[1].mRestTransform.setFromEuler(0, 0, -120); // +y to (0.866, -0.5, 0)
        arm.mBones[1].mRestTransform.setTransform(0, 2, 0);
        arm.mBones[1].mLength = 0.5f;
        arm.mBones[1].mParent = &arm.mBones[0];
        arm.mBones[0].mChildren.push_back(&arm.mBones[1]);
        if (f.mToes > 0)
        {
            arm.mBones[2].mRestTransform.setTransform(0, 0.5f, 0); // straight on from the ball
            arm.mBones[2].mLength = f.mToes;
            arm.mBones[2].mParent = &arm.mBones[1];
            arm.mBones[1].mChildren.push_back(&arm.mBones[2]);
        }
        for (cBone& b : arm.mBones)
            b.mTransform = b.mRestTransform;
        arm.mRootBone = &arm.mBones[0];
        arm.Update();
        cFootLock lock;
        lock.Setup(&arm.mBones[1], 0, 1, 0);
        cVector3D p[cFootLock::kContactPoints];
        lock.ContactPoints(p);
        EXPECT_TRUE(VecNear(p[cFootLock::kHeel], {0, 2.0f - f.mDrop, 0}));
        EXPECT_TRUE(VecNear(p[cFootLock::kBall], {0.4330127f, 1.75f, 0}));
        if (f.mToes > 0)
        {
            EXPECT_TRUE(
                VecNear(p[cFootLock::kToeTip], {0.8660254f * (0.5f + f.mToes), 2.0f - 0.5f * (0.5f + f.mToes), 0}));
        }
        else
        {
            EXPECT_EQ(lock.mToe, nullptr);
            EXPECT_TRUE(qvtest::VecNear(p[cFootLock::kToeTip], p[cFootLock::kBall], 0.0f)) << "without toes, the ball";
        }
    }
}

// ---------------------------------------------------------------------------
// The contact locks, one frame (HoldContacts)

namespace
{
// A root at the origin with a reference child one unit along +x, and two
// feet of unit length whose world matrices the tests place by hand:
// HoldContacts reads world matrices only. At rest both feet point forward
// and a little up (turned -80 degrees about z), so the heel is the ankle and
// the lowest point; the right one stands at (0.5, 0, 0), the left one swings
// half a unit up at (-0.5, 0.5, 0).
struct ContactRig
{
    enum
    {
        kRoot,
        kAhead,
        kRightFoot,
        kLeftFoot
    };
    cArmature arm;
    cPose pose;
    cFootLock right, left;

    ContactRig()
    {
        arm.mBones.resize(4);
        const char* names[4] = {"Bone", "Bone.001", "Bone.007", "Bone.008"};
        for (int i = 0; i < 4; ++i)
        {
            arm.mBones[i].mName = names[i];
            arm.mBones[i].mLength = 1.0f;
            if (i > 0)
            {
                arm.mBones[i].mParent = &arm.mBones[kRoot];
                arm.mBones[kRoot].mChildren.push_back(&arm.mBones[i]);
            }
        }
        arm.mBones[kAhead].mRestTransform.setTransform(1, 0, 0);
        arm.mBones[kRightFoot].mRestTransform = Foot(-80, 0.5f, 0.0f);
        arm.mBones[kLeftFoot].mRestTransform = Foot(-80, -0.5f, 0.5f);
        for (cBone& b : arm.mBones)
            b.mTransform = b.mRestTransform;
        arm.mRootBone = &arm.mBones[kRoot];
        arm.Update();
        pose.Setup(arm);
        right.Setup(&arm.mBones[kRightFoot], 0, 1, 0);
        left.Setup(&arm.mBones[kLeftFoot], 0, 1, 0);
    }
    // A foot turned rz degrees about z (its tail then points along
    // (-sin rz, cos rz, 0)), its ankle at (x, y, 0).
    static cMatrix4D Foot(float rz, float x, float y)
    {
        cMatrix4D m;
        m.setFromEuler(0, 0, rz);
        m.setTransform(x, y, 0);
        return m;
    }
    void Place(int bone, float rz, float x, float y) { arm.mBones[bone].mWorldTransform = Foot(rz, x, y); }
    cVector3D Root() const { return pose.mPoseRoot->mTransform.getTransform(); }
    void Step() { HoldContacts(&arm.mBones[kRoot], pose, right, left); }
};
} // namespace

TEST(ContactLocks, TheFirstFrameHoldsTheAnklesAndThenFollowsThePoints)
{
    ContactRig r;
    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f); // the ankle slid back
    r.Step();
    EXPECT_TRUE(r.right.mLock);
    EXPECT_TRUE(VecNear(r.Root(), {0.1f, 0, 0}));
    EXPECT_TRUE(r.right.mContactPrimed);
    EXPECT_TRUE(r.left.mContactPrimed);
    // The points as the corrected pose will have them.
    EXPECT_TRUE(VecNear(r.right.mContactLast[cFootLock::kHeel], {0.5f, 0, 0}));
}

TEST(ContactLocks, TheLowestPointSlidingBackCarriesTheRootAsTheFootRollsOntoTheBall)
{
    ContactRig r;
    r.Step(); // at rest: primes, nothing moves
    EXPECT_TRUE(VecNear(r.Root(), {0, 0, 0}, 0.0f));

    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f);
    r.Step();
    EXPECT_TRUE(r.right.mLock);
    EXPECT_EQ(r.right.mContact, cFootLock::kHeel);
    EXPECT_TRUE(VecNear(r.right.mLockedPosition, {0.4f, 0, 0}));
    EXPECT_TRUE(VecNear(r.Root(), {0.1f, 0, 0}));
    EXPECT_TRUE(VecNear(r.right.mOffset, {0.1f, 0, 0}));
    EXPECT_FALSE(r.left.mLock);

    // Pitched down, the heel lifts and the ball is lowest; it slid back by
    // another 0.1.
    const cVector3D ball = ContactRig::Foot(-80, 0.5f, 0.0f) * cVector3D(0, 1, 0) - cVector3D(0.1f, 0, 0);
    const cMatrix4D pitched = ContactRig::Foot(-100, 0, 0);
    const cVector3D ankle = ball - pitched * cVector3D(0, 1, 0);
    r.Place(ContactRig::kRightFoot, -100, ankle.mData[0], ankle.mData[1] + 0.3f);
    r.Step();
    EXPECT_EQ(r.right.mContact, cFootLock::kBall);
    EXPECT_TRUE(r.right.mLock);
    EXPECT_TRUE(VecNear(r.right.mLockedPosition, {0.4f, 0, 0})) << "still the same contact";
    EXPECT_TRUE(VecNear(r.Root(), {0.2f, 0, 0}));
}

TEST(ContactLocks, OfTwoFeetSlidingBackTheLowerStandsAndTheOtherOnlyAsItComesDown)
{
    ContactRig r;
    r.Step();
    // The left foot slides back too, but 0.02 above the right one: more than
    // a hundredth of its length, so it has no say.
    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f);
    r.Place(ContactRig::kLeftFoot, -80, -0.7f, 0.02f);
    r.Step();
    EXPECT_TRUE(VecNear(r.Root(), {0.1f, 0, 0}));
    EXPECT_TRUE(r.right.mLock);
    EXPECT_FALSE(r.left.mLock);
    EXPECT_TRUE(VecNear(r.left.mOffset, {0, 0, 0}, 0.0f));

    // Half way into the band it has half a say: the root takes the weighted
    // mean of the slides (0.1 at weight 1, 0.2 at weight 0.5), shared out
    // between the locks by weight. (A slide counts from where the last
    // correction left each point: 0.5 and -0.6.)
    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f);
    r.Place(ContactRig::kLeftFoot, -80, -0.8f, 0.005f);
    r.Step();
    const float shift = (0.1f + 0.5f * 0.2f) / 1.5f;
    EXPECT_TRUE(VecNear(r.Root(), {0.1f + shift, 0, 0}));
    EXPECT_TRUE(r.left.mLock);
    EXPECT_TRUE(VecNear(r.right.mOffset, {shift / 1.5f, 0, 0}));
    EXPECT_TRUE(VecNear(r.left.mOffset, {shift * 0.5f / 1.5f, 0, 0}));
}

TEST(ContactLocks, AFootSwingingForwardIsNotTheGroundHoweverLowItDips)
{
    ContactRig r;
    r.Step();
    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f);
    r.Place(ContactRig::kLeftFoot, -80, -0.2f, -0.1f); // forward, and lower
    r.Step();
    EXPECT_TRUE(VecNear(r.Root(), {0.1f, 0, 0}));
    EXPECT_FALSE(r.left.mLock);
}

TEST(ContactLocks, AFootWithoutABoneIsSkipped)
{
    ContactRig r;
    r.left.Setup(nullptr, 0, 1, 0);
    r.Step();
    r.Place(ContactRig::kRightFoot, -80, 0.4f, 0.0f);
    r.Step();
    EXPECT_TRUE(VecNear(r.Root(), {0.1f, 0, 0}));
    EXPECT_FALSE(r.left.mLock);
    EXPECT_FALSE(r.left.mContactPrimed);
}

// ---------------------------------------------------------------------------
// The two locks inside the actor

namespace
{
// Root "Bone" one unit above the ground, a reference child ahead of it along
// +x, and two legs hanging down (rest turned 180 degrees about z) with a foot
// at each tail. Slot 0 swings the right leg back and the left leg forward
// over 1000 ms, so the right foot slides back (against +x) all through the
// cycle while the left foot swings forward.
struct WalkRig
{
    cActor actor;
    enum
    {
        kRoot,
        kAhead,
        kRightLeg,
        kLeftLeg,
        kRightFoot,
        kLeftFoot,
        kBones
    };
    WalkRig()
    {
        cArmature& arm = actor.mArmature;
        arm.mBones.resize(kBones);
        const char* names[kBones] = {"Bone", "Bone.001", "Bone.002", "Bone.003", "Bone.007", "Bone.008"};
        const int parents[kBones] = {-1, kRoot, kRoot, kRoot, kRightLeg, kLeftLeg};
        for (int i = 0; i < kBones; ++i)
        {
            cBone& b = arm.mBones[i];
            b.mName = names[i];
            b.mLength = (i == kRightLeg || i == kLeftLeg) ? 1.0f : 0.2f;
            if (parents[i] >= 0)
            {
                b.mParent = &arm.mBones[parents[i]];
                arm.mBones[parents[i]].mChildren.push_back(&b);
            }
        }
        arm.mBones[kRoot].mRestTransform.setTransform(0, 1, 0);
        arm.mBones[kAhead].mRestTransform.setTransform(0.5f, 0, 0);
        arm.mBones[kRightLeg].mRestTransform.setFromEuler(0, 0, 180);
        arm.mBones[kRightLeg].mRestTransform.setTransform(0, 0, 0.2f);
        arm.mBones[kLeftLeg].mRestTransform.setFromEuler(0, 0, 180);
        arm.mBones[kLeftLeg].mRestTransform.setTransform(0, 0, -0.2f);
        arm.mBones[kRightFoot].mRestTransform.setTransform(0, 1, 0);
        arm.mBones[kLeftFoot].mRestTransform.setTransform(0, 1, 0);
        for (auto& b : arm.mBones)
            b.mTransform = b.mRestTransform;
        arm.mRootBone = &arm.mBones[kRoot];
        actor.mPose.Setup(arm);
        actor.mPose2.Setup(arm);

        for (cAction& a : actor.mAction)
        {
            a.mLength = 1000;
            a.mChannels.resize(kBones);
            for (auto& c : a.mChannels)
                c.mKeyFrames.resize(1); // identity
        }
        // With the leg's rest turned 180 degrees, +angle about z puts the
        // foot at +sin(angle) along x.
        Keys(actor.mAction[0].mChannels[kRightLeg], 30, -30);
        Keys(actor.mAction[0].mChannels[kLeftLeg], -30, 30);
        actor.mNextAction = 0;
        actor.SetConstraints();
        actor.UpdateArmature();
    }
    static void Keys(cChannel& c, float from, float to)
    {
        c.mKeyFrames.resize(2);
        c.mKeyFrames[0].mTime = 0;
        c.mKeyFrames[0].mValue = qvtest::AxisAngle(0, 0, 1, from);
        c.mKeyFrames[1].mTime = 1000;
        c.mKeyFrames[1].mValue = qvtest::AxisAngle(0, 0, 1, to);
    }
    cVector3D World(int i) const { return actor.mArmature.mBones[i].mWorldTransform.getTransform(); }
};
} // namespace

TEST(ActorFootLocks, AttachToTheNamedFeetStartingFromTheOrigin)
{
    WalkRig w;
    EXPECT_EQ(w.actor.mLeftFoot.mBone, &w.actor.mArmature.mBones[WalkRig::kLeftFoot]);
    EXPECT_EQ(w.actor.mRightFoot.mBone, &w.actor.mArmature.mBones[WalkRig::kRightFoot]);
    // Set up before the first world matrices were computed.
    EXPECT_TRUE(VecNear(w.actor.mLeftFoot.mLastPosition, {0, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(w.actor.mRightFoot.mLastPosition, {0, 0, 0}, 0.0f));
    EXPECT_TRUE(VecNear(w.actor.mLeftFoot.mDir, {0, 1, 0}, 0.0f));
}

TEST(ActorFootLocks, AFirstFrameLockPutsTheFootOverTheOrigin)
{
    WalkRig w;
    // At 0 ms the left foot stands behind the root (x = -0.5): measured from
    // the origin it has moved back, so its lock engages and the root moves
    // until that foot's x and z are 0.
    w.actor.Animate(0);
    EXPECT_TRUE(w.actor.mLeftFoot.mLock);
    EXPECT_FALSE(w.actor.mRightFoot.mLock);
    EXPECT_TRUE(VecNear(w.World(WalkRig::kLeftFoot), {0, w.World(WalkRig::kLeftFoot).mData[1], 0}, 1e-6f));
}

TEST(ActorFootLocks, TheSupportingFootStaysAndTheRootTravelsAlongTheGround)
{
    WalkRig w;
    w.actor.Animate(0);
    w.actor.Animate(40); // from here on the right foot slides back every frame
    const float rootHeight = w.World(WalkRig::kRoot).mData[1];
    cVector3D footAt = w.World(WalkRig::kRightFoot);
    float rootX = w.World(WalkRig::kRoot).mData[0];
    for (int frame = 0; frame < 50; ++frame)
    {
        const cVector3D rootBefore = w.actor.mArmature.mRootBone->mTransform.getTransform();
        w.actor.Animate(16);
        const cVector3D rootAfter = w.actor.mArmature.mRootBone->mTransform.getTransform();
        ASSERT_TRUE(w.actor.mRightFoot.mLock) << "frame " << frame;
        EXPECT_FALSE(w.actor.mLeftFoot.mLock) << "frame " << frame;
        // The root moves by the two locks' offsets, and never vertically.
        EXPECT_TRUE(VecNear(rootAfter - rootBefore, w.actor.mRightFoot.mOffset + w.actor.mLeftFoot.mOffset, 1e-6f))
            << "frame " << frame;
        EXPECT_EQ(w.World(WalkRig::kRoot).mData[1], rootHeight) << "frame " << frame;
        // The root's world position is its local translation: the second
        // pose application has happened.
        EXPECT_TRUE(VecNear(w.World(WalkRig::kRoot), rootAfter, 0.0f));
        // The supporting foot does not slide over the ground.
        const cVector3D foot = w.World(WalkRig::kRightFoot);
        EXPECT_NEAR(foot.mData[0], footAt.mData[0], 1e-5f) << "frame " << frame;
        EXPECT_NEAR(foot.mData[2], footAt.mData[2], 1e-5f) << "frame " << frame;
        EXPECT_TRUE(VecNear(w.actor.mRightFoot.mLastPosition, foot, 1e-5f)) << "frame " << frame;
        footAt = foot;
        // The character travels forward.
        EXPECT_GT(w.World(WalkRig::kRoot).mData[0], rootX) << "frame " << frame;
        rootX = w.World(WalkRig::kRoot).mData[0];
    }
}

TEST(ActorFootLocks, BothLockedOffsetsAddUp)
{
    WalkRig w;
    // Both legs swing back in slot 2.
    WalkRig::Keys(w.actor.mAction[2].mChannels[WalkRig::kRightLeg], 30, -30);
    WalkRig::Keys(w.actor.mAction[2].mChannels[WalkRig::kLeftLeg], 30, -30);
    w.actor.mNextAction = 2;
    w.actor.Animate(0);
    w.actor.Animate(40);
    w.actor.Animate(16);
    const cVector3D rootBefore = w.actor.mArmature.mRootBone->mTransform.getTransform();
    w.actor.Animate(16);
    ASSERT_TRUE(w.actor.mRightFoot.mLock);
    ASSERT_TRUE(w.actor.mLeftFoot.mLock);
    const cVector3D shift = w.actor.mArmature.mRootBone->mTransform.getTransform() - rootBefore;
    EXPECT_TRUE(VecNear(shift, w.actor.mRightFoot.mOffset + w.actor.mLeftFoot.mOffset, 1e-6f));
    // Each lock saw the same uncorrected slide, so the root moves twice it.
    EXPECT_NEAR(shift.mData[0], 2.0f * w.actor.mRightFoot.mOffset.mData[0], 1e-6f);
}

TEST(ActorFootLocks, PausedFramesChangeNothing)
{
    WalkRig w;
    w.actor.Animate(0);
    w.actor.Animate(100);
    const cFootLock right = w.actor.mRightFoot;
    const cMatrix4D root = w.actor.mArmature.mRootBone->mWorldTransform;
    // The application does not call Animate while paused; drawing and
    // reading the armature leave everything as it is.
    w.actor.UpdateArmature();
    EXPECT_TRUE(SameMatrix(w.actor.mArmature.mRootBone->mWorldTransform, root));
    EXPECT_TRUE(VecNear(w.actor.mRightFoot.mLastPosition, right.mLastPosition, 0.0f));
    EXPECT_EQ(w.actor.mRightFoot.mLock, right.mLock);
}
