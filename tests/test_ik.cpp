// Two-bone IK: one pass turns the end bone about z by half the angle between
// the directions to its tip and to the target, with the sign taken from the
// cross product; thresholds, alignment, and chains that Setup refuses.

#include <gtest/gtest.h>

#include <cmath>

#include "QV_action.h"
#include "QV_armature.h"
#include "QV_iksolver.h"
#include "support/qv_expect.h"

using qvtest::AxisAngle;
using qvtest::QuatNear;
using qvtest::SameMatrix;
using qvtest::SameQuat;
using qvtest::VecNear;

namespace
{
// "Bone" (root, at the origin, pointing up, length 1) -> "Bone.001" (the
// upper bone) -> "Bone.002" (the end bone, length 1, its joint at (0, 2, 0)
// and its tip at (0, 3, 0)). Identity rest rotations, so the bones' frames
// are the world's.
struct Chain
{
    cArmature arm;
    cIK ik;
    cAction unused;

    explicit Chain(float endLength = 1.0f)
    {
        arm.mBones.resize(3);
        arm.mBones[0].mName = "Bone";
        arm.mBones[1].mName = "Bone.001";
        arm.mBones[2].mName = "Bone.002";
        arm.mBones[0].mLength = 1.0f;
        arm.mBones[1].mLength = 1.0f;
        arm.mBones[2].mLength = endLength;
        arm.mBones[1].mRestTransform.setTransform(0, 1, 0);
        arm.mBones[2].mRestTransform.setTransform(0, 1, 0);
        for (int i = 0; i < 3; ++i)
        {
            arm.mBones[i].mTransform = arm.mBones[i].mRestTransform;
            if (i > 0)
            {
                arm.mBones[i].mParent = &arm.mBones[i - 1];
                arm.mBones[i - 1].mChildren.push_back(&arm.mBones[i]);
            }
        }
        arm.mRootBone = &arm.mBones[0];
        arm.Update();
        ik.mIKBones[0] = &end();
    }
    cBone& upper() { return arm.mBones[1]; }
    cBone& end() { return arm.mBones[2]; }
    cVector3D Tip() { return end().mWorldTransform * cVector3D(0, end().mLength, 0); }
    void Solve(float x, float y, float z)
    {
        ik.mTarget = cVector3D(x, y, z);
        ik.EvaluateAt(0, unused);
    }
};
} // namespace

TEST(IKSetup, FindsTheEndBoneAndItsParentByName)
{
    Chain c;
    EXPECT_TRUE(c.ik.Setup(c.arm));
    EXPECT_EQ(c.ik.mIndices[0], 2u);
    EXPECT_EQ(c.ik.mIndices[1], 1u);
    EXPECT_EQ(c.ik.mIKBones[1], &c.upper());
}

TEST(IKSetup, ResolvesTheParentInTheArmatureGiven)
{
    // The end bone may be a copy (a pose bone, say): the parent is the
    // armature's bone of that name.
    Chain c;
    const cBone copy = c.end();
    c.ik.mIKBones[0] = const_cast<cBone*>(&copy);
    ASSERT_TRUE(c.ik.Setup(c.arm));
    EXPECT_EQ(c.ik.mIKBones[1], &c.upper());
    EXPECT_EQ(c.ik.mIndices[0], 2u);
}

TEST(IKSetup, RefusesANameThatIsNotInTheArmature)
{
    Chain c;
    cBone stranger;
    stranger.mName = "Elsewhere";
    stranger.mParent = &c.upper();
    c.ik.mIKBones[0] = &stranger;
    EXPECT_FALSE(c.ik.Setup(c.arm));
    EXPECT_EQ(c.ik.mIKBones[1], nullptr);
}

TEST(IKSetup, RefusesAParentThatIsNotInTheArmature)
{
    Chain c;
    cBone outsideParent;
    outsideParent.mName = "Elsewhere";
    cBone end = c.end();
    end.mParent = &outsideParent;
    c.ik.mIKBones[0] = &end;
    EXPECT_FALSE(c.ik.Setup(c.arm));
    EXPECT_EQ(c.ik.mIKBones[1], nullptr);
}

TEST(IKSetup, RefusesAnEndBoneWithoutParentOrNoEndBone)
{
    Chain c;
    c.ik.mIKBones[0] = &c.arm.mBones[0];
    EXPECT_FALSE(c.ik.Setup(c.arm));
    EXPECT_EQ(c.ik.mIKBones[1], nullptr);
    c.ik.mIKBones[0] = nullptr;
    EXPECT_FALSE(c.ik.Setup(c.arm));
}

TEST(IKSetup, ARefusedChainIsNeverTurned)
{
    Chain c;
    c.ik.mIKBones[0] = &c.arm.mBones[0]; // the root: no parent
    ASSERT_FALSE(c.ik.Setup(c.arm));
    const cQuaternion before = c.arm.mBones[0].mOrientation;
    c.Solve(-5, 0, 0);
    EXPECT_TRUE(SameQuat(c.arm.mBones[0].mOrientation, before));
    // A solver never set up at all does nothing either.
    cIK fresh;
    cAction a;
    fresh.mTarget = cVector3D(1, 1, 1);
    fresh.EvaluateAt(0, a);
    EXPECT_TRUE(VecNear(fresh.mEffector, {0, 0, 0}, 0.0f));
}

TEST(IKPass, TargetCounterClockwiseOfTheTipTurnsByMinusHalfTheAngle)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // From the joint (0, 2, 0): tip straight up, target straight left, 90
    // degrees apart. toeffector x totarget = (0,1,0) x (-1,0,0) = (0,0,1):
    // z >= 0 gives the turn -90, and the sum with the identity half of it.
    c.Solve(-1, 2, 0);
    EXPECT_TRUE(QuatNear(c.end().mOrientation, AxisAngle(0, 0, 1, -45), 1e-6f));
    // The end bone's world matrix follows at once, and mEffector reports it.
    const float h = std::sqrt(0.5f);
    EXPECT_TRUE(VecNear(c.Tip(), {h, 2 + h, 0}, 1e-6f));
    EXPECT_TRUE(VecNear(c.ik.mEffector, c.Tip(), 0.0f));
    // The parent is left alone.
    EXPECT_TRUE(SameQuat(c.upper().mOrientation, cQuaternion()));
}

TEST(IKPass, TargetClockwiseOfTheTipTurnsByPlusHalfTheAngle)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // (0,1,0) x (1,0,0) = (0,0,-1): z < 0 gives the turn +90.
    c.Solve(1, 2, 0);
    EXPECT_TRUE(QuatNear(c.end().mOrientation, AxisAngle(0, 0, 1, 45), 1e-6f));
    const float h = std::sqrt(0.5f);
    EXPECT_TRUE(VecNear(c.ik.mEffector, {-h, 2 + h, 0}, 1e-6f));
}

TEST(IKPass, ACrossProductOfExactlyZeroCountsAsPositive)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // Target straight below the joint: 180 degrees, cross product zero.
    c.Solve(0, 0, 0);
    EXPECT_TRUE(QuatNear(c.end().mOrientation, AxisAngle(0, 0, 1, -90), 1e-6f));
}

TEST(IKPass, TheSumMovesAnExistingOrientationPartOfTheWay)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    const cQuaternion start = AxisAngle(0, 0, 1, 30);
    c.end().mOrientation = start;
    c.arm.Update();
    // Tip direction from the joint: 30 degrees counter-clockwise from up.
    // Target 60 degrees further counter-clockwise, straight left of the
    // joint: cross.z > 0, turn -60.
    c.Solve(-2, 2, 0);
    cQuaternion expected = start + AxisAngle(0, 0, 1, -60);
    expected.normalize();
    EXPECT_TRUE(QuatNear(c.end().mOrientation, expected, 1e-5f));
}

TEST(IKPass, ATipAtOrWithinTheThresholdTurnsNothing)
{
    // A short end bone, so that a target 0.01 away lies far off its direction.
    Chain c(0.004f);
    ASSERT_TRUE(c.ik.Setup(c.arm));
    const cVector3D tip = c.Tip();
    c.Solve(tip.mData[0] + 0.01f, tip.mData[1], tip.mData[2]); // exactly 0.01 away
    EXPECT_TRUE(SameQuat(c.end().mOrientation, cQuaternion()));
    EXPECT_TRUE(VecNear(c.ik.mEffector, tip, 0.0f));
    c.Solve(tip.mData[0] + 0.005f, tip.mData[1], tip.mData[2]);
    EXPECT_TRUE(SameQuat(c.end().mOrientation, cQuaternion()));
    // Just past the threshold, it turns.
    c.Solve(tip.mData[0] + 0.0101f, tip.mData[1], tip.mData[2]);
    EXPECT_FALSE(SameQuat(c.end().mOrientation, cQuaternion()));
}

TEST(IKPass, NearlyAlignedDirectionsTurnNothing)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // 2 degrees off the tip's direction (cosine above 0.999): no turn.
    const float two = 2.0f * 3.14159265f / 180.0f;
    c.Solve(-std::sin(two) * 3.0f, 2.0f + std::cos(two) * 3.0f, 0);
    EXPECT_TRUE(SameQuat(c.end().mOrientation, cQuaternion()));
    EXPECT_TRUE(VecNear(c.ik.mEffector, {0, 3, 0}, 1e-6f));
    // 3 degrees off (cosine below 0.999): a turn of minus half of it.
    const float three = 3.0f * 3.14159265f / 180.0f;
    c.Solve(-std::sin(three) * 3.0f, 2.0f + std::cos(three) * 3.0f, 0);
    EXPECT_TRUE(QuatNear(c.end().mOrientation, AxisAngle(0, 0, 1, -1.5f), 1e-4f));
}

TEST(IKPass, DirectionsAreMeasuredInTheXYPlane)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // The end bone leans 45 degrees out of the x-y plane: its tip direction
    // (0, 0.71, 0.71) projects onto straight up. The target lies 45 degrees
    // counter-clockwise of up in the plane (60 degrees in space).
    const cQuaternion lean = AxisAngle(1, 0, 0, 45);
    c.end().mOrientation = lean;
    c.arm.Update();
    c.Solve(-1, 3, 0);
    cQuaternion expected = lean + AxisAngle(0, 0, 1, -45);
    expected.normalize();
    EXPECT_TRUE(QuatNear(c.end().mOrientation, expected, 1e-5f));
}

TEST(IKPass, ATargetOffOnlyInZTurnsNothing)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    c.Solve(0, 3, 5);
    EXPECT_TRUE(SameQuat(c.end().mOrientation, cQuaternion()));
    EXPECT_TRUE(VecNear(c.ik.mEffector, {0, 3, 0}, 0.0f));
}

TEST(IKPass, ATargetOnTheJointTurnsNothing)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    c.Solve(0, 2, 0); // no direction to the target
    EXPECT_TRUE(SameQuat(c.end().mOrientation, cQuaternion()));
    for (const cBone& b : c.arm.mBones)
        EXPECT_TRUE(qvtest::AllFinite(b.mOrientation));
}

TEST(IKPass, EveryCallWorksOnTheEndBoneOnly)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    const cMatrix4D upperWorld = c.upper().mWorldTransform;
    for (int i = 0; i < 4; ++i)
        c.Solve(-2, 1, 0);
    EXPECT_TRUE(SameQuat(c.upper().mOrientation, cQuaternion()));
    EXPECT_TRUE(SameMatrix(c.upper().mWorldTransform, upperWorld));
    EXPECT_FALSE(SameQuat(c.end().mOrientation, cQuaternion()));
}

TEST(IKPass, AnOrientationOppositeToTheTurnIsLeftAlone)
{
    Chain c;
    ASSERT_TRUE(c.ik.Setup(c.arm));
    // The turn for this target is -90 about z; an orientation equal to its
    // negation would sum to zero.
    const cQuaternion turn = AxisAngle(0, 0, 1, -90);
    c.end().mOrientation = cQuaternion(-turn.mData[0], -turn.mData[1], -turn.mData[2], -turn.mData[3]);
    c.arm.Update();
    // With that orientation (a -90 turn as well) the tip points along +x;
    // a target 90 degrees counter-clockwise of it is straight up.
    c.Solve(0, 5, 0);
    EXPECT_TRUE(qvtest::AllFinite(c.end().mOrientation));
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(std::isfinite(c.end().mWorldTransform._m[i]));
}
