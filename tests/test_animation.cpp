// Keyframe channels, actions and the actor's frame step: bracket search and
// nlerp, channel-to-bone order, the clock that restarts at 34 ms, the action
// switch that takes effect one frame late, and the heading.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>

#include "QV_action.h"
#include "QV_actor.h"
#include "QV_channel.h"
#include "support/qv_expect.h"
#include "support/synthetic_actor.h"

using qvtest::AllFinite;
using qvtest::AxisAngle;
using qvtest::QuatNear;
using qvtest::SameMatrix;
using qvtest::SameQuat;
using qvtest::VecNear;

namespace
{
cChannel MakeChannel(std::initializer_list<std::pair<unsigned int, cQuaternion>> keys)
{
    cChannel c;
    for (const auto& k : keys)
    {
        sKeyFrame f;
        f.mTime = k.first;
        f.mValue = k.second;
        c.mKeyFrames.push_back(f);
    }
    return c;
}

cQuaternion Eval(const cChannel& c, unsigned int t)
{
    cQuaternion q(9, 9, 9, 9); // any key result overwrites it
    c.EvaluateAt(t, q);
    return q;
}

cQuaternion Normalised(cQuaternion q)
{
    q.normalize();
    return q;
}

const cQuaternion kA(0.1f, 0.2f, 0.3f, 0.9f); // deliberately not unit length
const cQuaternion kB(-0.4f, 0.1f, 0.5f, 0.7f);
const cQuaternion kC(0.6f, -0.3f, 0.1f, 0.2f);
const cQuaternion kD(0.0f, 0.8f, -0.2f, 0.5f);
} // namespace

// ---------------------------------------------------------------------------
// Channel evaluation

TEST(ChannelEvaluate, MidpointOfTwoKeysIsTheHalfTurn)
{
    const cChannel c = MakeChannel({{0, cQuaternion()}, {1000, AxisAngle(0, 0, 1, 90)}});
    EXPECT_TRUE(QuatNear(Eval(c, 500), AxisAngle(0, 0, 1, 45), 1e-6f));
    EXPECT_TRUE(QuatNear(Eval(c, 250), cQuaternion::nlerp(0.25f, cQuaternion(), AxisAngle(0, 0, 1, 90)), 0.0f));
}

TEST(ChannelEvaluate, BracketIsTheLastKeyNotLaterThanTheTime)
{
    const cChannel c = MakeChannel({{0, kA}, {33, kB}, {66, kC}, {100, kD}});
    // key1 = 1, key2 = 2, span 33, param 17 / 33.
    EXPECT_TRUE(SameQuat(Eval(c, 50), cQuaternion::nlerp(17.0f / 33.0f, kB, kC)));
    EXPECT_TRUE(SameQuat(Eval(c, 65), cQuaternion::nlerp(32.0f / 33.0f, kB, kC)));
    EXPECT_TRUE(SameQuat(Eval(c, 99), cQuaternion::nlerp(33.0f / 34.0f, kC, kD)));
}

TEST(ChannelEvaluate, ExactlyOnAKey)
{
    const cChannel c = MakeChannel({{0, kA}, {33, kB}, {66, kC}, {100, kD}});
    EXPECT_TRUE(SameQuat(Eval(c, 0), Normalised(kA)));
    EXPECT_TRUE(SameQuat(Eval(c, 33), Normalised(kB)));
    EXPECT_TRUE(SameQuat(Eval(c, 66), Normalised(kC)));
    // The last key is handed on as stored, not normalised.
    EXPECT_TRUE(SameQuat(Eval(c, 100), kD));
}

TEST(ChannelEvaluate, PastTheLastKeyHoldsIt)
{
    const cChannel c = MakeChannel({{0, kA}, {100, kB}});
    for (unsigned int t : {101u, 1000u, 123456u, UINT_MAX})
        EXPECT_TRUE(SameQuat(Eval(c, t), kB)) << "t = " << t;
}

TEST(ChannelEvaluate, SingleKeyAtEveryTime)
{
    const cChannel c = MakeChannel({{0, kC}});
    for (unsigned int t : {0u, 1u, 500u, UINT_MAX})
        EXPECT_TRUE(SameQuat(Eval(c, t), kC)) << "t = " << t;
}

TEST(ChannelEvaluate, EqualKeyTimesTakeTheLaterKey)
{
    const cChannel c = MakeChannel({{0, kA}, {100, kB}, {100, kC}, {200, kD}});
    EXPECT_TRUE(SameQuat(Eval(c, 100), Normalised(kC)));
    EXPECT_TRUE(SameQuat(Eval(c, 150), cQuaternion::nlerp(0.5f, kC, kD)));
    // Just before the pair: interpolates towards the first of the two.
    EXPECT_TRUE(SameQuat(Eval(c, 50), cQuaternion::nlerp(0.5f, kA, kB)));
    // Equal times at the end: the last one is held.
    const cChannel e = MakeChannel({{0, kA}, {100, kB}, {100, kC}});
    EXPECT_TRUE(SameQuat(Eval(e, 100), kC));
    EXPECT_TRUE(SameQuat(Eval(e, 5000), kC));
}

TEST(ChannelEvaluate, BeforeTheFirstKeyHoldsTheFirstKey)
{
    const cChannel c = MakeChannel({{100, kA}, {200, kB}});
    for (unsigned int t : {0u, 50u, 99u})
    {
        const cQuaternion q = Eval(c, t);
        EXPECT_TRUE(AllFinite(q)) << "t = " << t;
        EXPECT_TRUE(QuatNear(q, Normalised(kA), 1e-6f)) << "t = " << t;
    }
    // Two keys at the same late time: the span before them is zero.
    const cChannel z = MakeChannel({{100, kA}, {100, kB}, {200, kC}});
    EXPECT_TRUE(QuatNear(Eval(z, 10), Normalised(kA), 1e-6f));
    EXPECT_TRUE(SameQuat(Eval(z, 100), Normalised(kB)));
}

TEST(ChannelEvaluate, KeysOutOfOrderNeverGiveNotANumbers)
{
    // Before every key the first span (200 ms down to 100 ms) is negative:
    // the first key is held.
    const cChannel c = MakeChannel({{200, kA}, {100, kB}, {300, kC}});
    for (unsigned int t = 0; t <= 400; t += 5)
        EXPECT_TRUE(AllFinite(Eval(c, t))) << "t = " << t;
    EXPECT_TRUE(QuatNear(Eval(c, 50), Normalised(kA), 1e-6f));
    // From 100 ms on the bracket is key 1, by the rule "last key not later".
    EXPECT_TRUE(SameQuat(Eval(c, 150), cQuaternion::nlerp(0.25f, kB, kC)));
    EXPECT_TRUE(SameQuat(Eval(c, 250), cQuaternion::nlerp(0.75f, kB, kC)));
    // A later key that lies earlier than the one before it wins the bracket.
    const cChannel d = MakeChannel({{0, kA}, {200, kB}, {100, kC}});
    EXPECT_TRUE(SameQuat(Eval(d, 150), kC));
}

TEST(ChannelEvaluate, OppositeKeysHalfWayNeverGiveNotANumbers)
{
    const cQuaternion q = AxisAngle(1, 0, 0, 40);
    const cQuaternion minusQ(-q.mData[0], -q.mData[1], -q.mData[2], -q.mData[3]);
    const cChannel c = MakeChannel({{0, q}, {100, minusQ}});
    const cQuaternion mid = Eval(c, 50);
    EXPECT_TRUE(AllFinite(mid));
    EXPECT_TRUE(QuatNear(mid, q, 0.0f));
}

TEST(ChannelEvaluate, ZeroKeysNeverGiveNotANumbers)
{
    // A file may hold an all-zero quaternion: it has no direction to
    // normalise, so the lower key is held as it stands.
    const cQuaternion zero(0, 0, 0, 0);
    const cChannel both = MakeChannel({{0, zero}, {100, zero}});
    EXPECT_TRUE(AllFinite(Eval(both, 50)));
    const cChannel first = MakeChannel({{0, zero}, {100, AxisAngle(0, 0, 1, 90)}});
    for (unsigned int t : {0u, 1u, 50u, 99u, 100u})
        EXPECT_TRUE(AllFinite(Eval(first, t))) << t;
}

TEST(ChannelEvaluate, NoShortestArcCorrection)
{
    // The end key is a 10 degree turn about +x written with a negative sign:
    // interpolation runs the long way round, through turns about -x.
    const cQuaternion q = AxisAngle(1, 0, 0, 10);
    const cQuaternion end(-q.mData[0], -q.mData[1], -q.mData[2], -q.mData[3]);
    const cChannel c = MakeChannel({{0, cQuaternion()}, {100, end}});
    const cQuaternion r = Eval(c, 25);
    EXPECT_TRUE(SameQuat(r, cQuaternion::nlerp(0.25f, cQuaternion(), end)));
    EXPECT_LT(r.mData[0], 0.0f);
}

TEST(ChannelEvaluate, NoKeysLeavesTheOrientationAlone)
{
    const cChannel c;
    cQuaternion q = kB;
    c.EvaluateAt(0, q);
    EXPECT_TRUE(SameQuat(q, kB));
    c.EvaluateAt(12345, q);
    EXPECT_TRUE(SameQuat(q, kB));
}

// ---------------------------------------------------------------------------
// Actions

namespace
{
// An armature of n unlinked bones under a root, and a pose set up from it.
struct PoseRig
{
    cArmature arm;
    cPose pose;
    explicit PoseRig(size_t n)
    {
        arm.mBones.resize(n);
        for (size_t i = 1; i < n; ++i)
        {
            arm.mBones[i].mParent = &arm.mBones[0];
            arm.mBones[0].mChildren.push_back(&arm.mBones[i]);
        }
        arm.mRootBone = &arm.mBones[0];
        pose.Setup(arm);
    }
};
} // namespace

TEST(ActionEvaluate, SingleKeyChannelsGiveOnePoseAtEveryTime)
{
    PoseRig r(3);
    cAction a;
    a.mLength = 500;
    a.mChannels = {MakeChannel({{0, kA}}), MakeChannel({{0, kB}}), MakeChannel({{0, kC}})};
    for (unsigned int t : {0u, 250u, 500u, 9999u})
    {
        a.EvaluateAt(t, r.pose);
        EXPECT_TRUE(SameQuat(r.pose.mPoseBones[0].mOrientation, kA));
        EXPECT_TRUE(SameQuat(r.pose.mPoseBones[1].mOrientation, kB));
        EXPECT_TRUE(SameQuat(r.pose.mPoseBones[2].mOrientation, kC));
    }
}

TEST(ActionEvaluate, BeyondItsLengthEveryBoneHoldsItsLastKey)
{
    PoseRig r(2);
    cAction a;
    a.mLength = 100;
    a.mChannels = {MakeChannel({{0, kA}, {100, kB}}), MakeChannel({{0, kC}, {60, kD}})};
    a.EvaluateAt(150, r.pose);
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[0].mOrientation, kB));
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[1].mOrientation, kD));
}

TEST(ActionEvaluate, WritesOrientationsOnly)
{
    PoseRig r(2);
    r.pose.mPoseBones[1].mTransform.setTransform(1, 2, 3);
    r.pose.mPoseBones[1].mWorldTransform.setTransform(4, 5, 6);
    r.pose.mPoseBones[1].mRestTransform.setFromEuler(10, 20, 30);
    const cBone before = r.pose.mPoseBones[1];
    cAction a;
    a.mChannels = {MakeChannel({{0, kA}}), MakeChannel({{0, kB}, {10, kC}})};
    a.EvaluateAt(5, r.pose);
    const cBone& after = r.pose.mPoseBones[1];
    EXPECT_TRUE(SameMatrix(after.mTransform, before.mTransform));
    EXPECT_TRUE(SameMatrix(after.mWorldTransform, before.mWorldTransform));
    EXPECT_TRUE(SameMatrix(after.mRestTransform, before.mRestTransform));
    EXPECT_TRUE(SameQuat(after.mOrientation, cQuaternion::nlerp(0.5f, kB, kC)));
}

TEST(ActionEvaluate, ChannelOrderIsBoneOrder)
{
    PoseRig r(2);
    cAction a;
    a.mChannels = {MakeChannel({{0, kA}}), MakeChannel({{0, kB}})};
    std::swap(a.mChannels[0], a.mChannels[1]);
    a.EvaluateAt(0, r.pose);
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[0].mOrientation, kB));
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[1].mOrientation, kA));
}

TEST(ActionEvaluate, AnEmptySlotLeavesThePoseAsItIs)
{
    PoseRig r(3);
    for (auto& b : r.pose.mPoseBones)
        b.mOrientation = kD;
    cAction empty;
    empty.EvaluateAt(100, r.pose);
    for (auto& b : r.pose.mPoseBones)
        EXPECT_TRUE(SameQuat(b.mOrientation, kD));
}

TEST(ActionEvaluate, FewerChannelsThanBonesDriveOnlyTheFirstBones)
{
    PoseRig r(4);
    for (auto& b : r.pose.mPoseBones)
        b.mOrientation = kD;
    cAction a;
    a.mChannels = {MakeChannel({{0, kA}}), cChannel(), MakeChannel({{0, kC}})};
    a.EvaluateAt(0, r.pose);
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[0].mOrientation, kA));
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[1].mOrientation, kD)); // channel without keys
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[2].mOrientation, kC));
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[3].mOrientation, kD)); // no channel
}

TEST(ActionEvaluate, MoreChannelsThanBonesStopAtTheLastBone)
{
    PoseRig r(1);
    cAction a;
    a.mChannels = {MakeChannel({{0, kA}}), MakeChannel({{0, kB}})};
    a.EvaluateAt(0, r.pose);
    ASSERT_EQ(r.pose.mPoseBones.size(), 1u);
    EXPECT_TRUE(SameQuat(r.pose.mPoseBones[0].mOrientation, kA));
}

// ---------------------------------------------------------------------------
// Actor: clock, action switch, heading, pose application

namespace
{
// Root "Bone" with one child; no feet, so the foot locks stay out of the
// way. Slot 0 turns the root about x, slot 1 about y, slot 2 about z, each
// linearly in time from the identity to 90 degrees over its length.
struct ClockActor
{
    cActor actor;
    explicit ClockActor(unsigned int len0 = 1000, unsigned int len1 = 500, unsigned int len2 = 800)
    {
        cArmature& arm = actor.mArmature;
        qvtest::BuildTwoBoneArmature(arm);
        arm.mBones[0].mLength = 1.0f;
        arm.mBones[1].mLength = 0.5f;
        arm.mBones[0].mRestTransform.setTransform(0, 1, 0);
        arm.mBones[0].mTransform = arm.mBones[0].mRestTransform;
        actor.mPose.Setup(arm);
        actor.mPose2.Setup(arm);
        const unsigned int lens[kActionSlots] = {len0, len1, len2};
        const float axes[kActionSlots][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        for (unsigned int s = 0; s < kActionSlots; ++s)
        {
            cAction& a = actor.mAction[s];
            a.mLength = lens[s];
            const cQuaternion end = AxisAngle(axes[s][0], axes[s][1], axes[s][2], 90);
            a.mChannels = {MakeChannel({{0, cQuaternion()}, {lens[s], end}}),
                           MakeChannel({{0, AxisAngle(0, 0, 1, 10)}})};
        }
        actor.SetConstraints();
        actor.UpdateArmature();
    }
    // What slot s shows for the root at time t.
    cQuaternion Expected(unsigned int slot, unsigned int t) const
    {
        cQuaternion q;
        actor.mAction[slot].mChannels[0].EvaluateAt(t, q);
        return q;
    }
    const cQuaternion& Root() const { return actor.mArmature.mRootBone->mOrientation; }
};
} // namespace

TEST(ActorClock, AdvancesAndPlaysAtTheClock)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(400);
    EXPECT_EQ(a.actor.mTime, 400u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 400)));
    a.actor.Animate(300);
    EXPECT_EQ(a.actor.mTime, 700u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 700)));
}

TEST(ActorClock, LandingOnTheLengthPlaysItThenRestartsAt34)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(600);
    a.actor.Animate(400);
    EXPECT_EQ(a.actor.mTime, 1000u); // equal to the length: played as it is
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 1000)));
    a.actor.Animate(1);
    EXPECT_EQ(a.actor.mTime, 34u); // not 0, not the 1 ms overshoot
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 34)));
    a.actor.Animate(16);
    EXPECT_EQ(a.actor.mTime, 50u);
}

TEST(ActorClock, ALongFrameRestartsAt34NotAtTheOvershoot)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(2500);
    EXPECT_EQ(a.actor.mTime, 34u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 34)));
}

TEST(ActorClock, AnActionShorterThan34msShowsItsLastKeys)
{
    ClockActor a(20, 500, 800);
    a.actor.mNextAction = 0;
    a.actor.Animate(25); // past the 20 ms length on the first frame
    EXPECT_EQ(a.actor.mTime, 34u);
    for (unsigned int dt : {0u, 1u, 5u, 16u, 100u})
    {
        a.actor.Animate(dt); // 34 + dt is always past the length again
        EXPECT_EQ(a.actor.mTime, 34u);
        EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 20)));
    }
}

TEST(ActorClock, AnimateZeroRepeatsTheFrame)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.mHeading = 33.0f;
    a.actor.Animate(123);
    const cQuaternion root = a.Root();
    const cMatrix4D world = a.actor.mArmature.mBones[1].mWorldTransform;
    a.actor.Animate(0);
    EXPECT_EQ(a.actor.mTime, 123u);
    EXPECT_TRUE(SameQuat(a.Root(), root));
    EXPECT_TRUE(SameMatrix(a.actor.mArmature.mBones[1].mWorldTransform, world));
}

TEST(ActorSwitch, TheRequestedActionStartsOneFrameLateAtTheCarriedClock)
{
    ClockActor a(1000, 500, 800);
    a.actor.mNextAction = 0;
    a.actor.Animate(800);
    a.actor.mNextAction = 2;
    a.actor.Animate(100);
    // Still the outgoing action this frame.
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 900)));
    EXPECT_EQ(a.actor.mCurrentAction, 2u);
    EXPECT_EQ(a.actor.mTime, 900u); // not reset by the switch
    // Next frame: 900 + 10 exceeds the new action's 800 ms, so it restarts.
    a.actor.Animate(10);
    EXPECT_EQ(a.actor.mTime, 34u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(2, 34)));
}

TEST(ActorSwitch, TheCarriedClockIsKeptWhenItFitsTheNewAction)
{
    ClockActor a(1000, 500, 800);
    a.actor.mNextAction = 0;
    a.actor.Animate(200);
    a.actor.mNextAction = 1;
    a.actor.Animate(100);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 300)));
    a.actor.Animate(100);
    EXPECT_EQ(a.actor.mTime, 400u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(1, 400)));
}

TEST(ActorSwitch, StartUpPlaysSlotZeroOnceThenStands)
{
    ClockActor a;
    EXPECT_EQ(a.actor.mCurrentAction, 0u);
    EXPECT_EQ(a.actor.mNextAction, 1u);
    a.actor.Animate(10);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 10)));
    EXPECT_EQ(a.actor.mCurrentAction, 1u);
    a.actor.Animate(10);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(1, 20)));
}

TEST(ActorSwitch, ASlotNumberBeyondTheSlotsIsNotFollowed)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(10);
    a.actor.mNextAction = 3;
    a.actor.Animate(10);
    a.actor.Animate(10);
    EXPECT_EQ(a.actor.mCurrentAction, 0u);
    EXPECT_TRUE(SameQuat(a.Root(), a.Expected(0, 30)));
}

TEST(ActorHeading, ZeroHeadingLeavesTheActionsValue)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(300);
    EXPECT_TRUE(QuatNear(a.Root(), a.Expected(0, 300), 1e-7f));
}

TEST(ActorHeading, IsTurnedOnTheLeftOfTheActionsValue)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.mHeading = 90.0f;
    a.actor.Animate(500);
    const cQuaternion value = a.Expected(0, 500); // a turn about x
    const cQuaternion heading = AxisAngle(0, 0, 1, 90);
    EXPECT_TRUE(QuatNear(a.Root(), heading * value, 1e-6f));
    // The other order is a different rotation: the test tells them apart.
    EXPECT_FALSE(QuatNear(a.Root(), value * heading, 1e-3f));
    // Positive heading: counter-clockwise about the root's z, so the root's
    // rest x axis (unchanged by the x turn) ends on +y.
    EXPECT_TRUE(VecNear(qvtest::Rotate(a.actor.mArmature.mRootBone->mTransform, {1, 0, 0}), {0, 1, 0}, 1e-6f));
}

TEST(ActorHeading, IsAppliedAfreshEveryFrame)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.mHeading = 30.0f;
    a.actor.Animate(100);
    const cQuaternion once = a.Root();
    for (int i = 0; i < 5; ++i)
        a.actor.Animate(0);
    EXPECT_TRUE(SameQuat(a.Root(), once)); // not 30 degrees more per frame
    a.actor.mHeading = -45.0f;
    a.actor.Animate(0);
    EXPECT_TRUE(QuatNear(a.Root(), AxisAngle(0, 0, 1, -45) * a.Expected(0, 100), 1e-6f));
}

TEST(ActorPose, BothPosesAreRefreshedFromTheArmature)
{
    ClockActor a;
    a.actor.mNextAction = 0;
    a.actor.Animate(100);
    const cQuaternion armRoot = a.Root();
    const cMatrix4D armLocal = a.actor.mArmature.mRootBone->mTransform;
    a.actor.mArmature.mRootBone->mTransform.translate(cVector3D(2, 0, 0)); // as a foot lock would
    a.actor.Animate(100);
    // mPose2 holds the armature as it was at the start of this frame.
    EXPECT_TRUE(SameQuat(a.actor.mPose2.mPoseRoot->mOrientation, armRoot));
    EXPECT_TRUE(VecNear(a.actor.mPose2.mPoseRoot->mTransform.getTransform(),
                        armLocal.getTransform() + cVector3D(2, 0, 0), 0.0f));
    // The accumulated translation travels through the pose into the armature.
    EXPECT_TRUE(VecNear(a.actor.mArmature.mRootBone->mWorldTransform.getTransform(), {2, 1, 0}, 0.0f));
}

TEST(ActorPose, ApplyPoseCopiesTransformAndOrientationOnly)
{
    ClockActor a;
    cPose& p = a.actor.mPose;
    p.Set(a.actor.mArmature);
    p.mPoseBones[1].mOrientation = AxisAngle(1, 0, 0, 90);
    p.mPoseBones[1].mTransform.setTransform(0, 3, 0);
    p.mPoseBones[1].mName = "Renamed";
    p.mPoseBones[1].mLength = 42.0f;
    p.mPoseBones[1].mRestTransform.setTransform(7, 7, 7);
    a.actor.ApplyPose(p);
    const cBone& b = a.actor.mArmature.mBones[1];
    EXPECT_EQ(b.mName, "Bone.001");
    EXPECT_EQ(b.mLength, 0.5f);
    EXPECT_TRUE(VecNear(b.mRestTransform.getTransform(), {0, 1, 0}, 0.0f));
    EXPECT_EQ(b.mParent, &a.actor.mArmature.mBones[0]);
    EXPECT_TRUE(SameQuat(b.mOrientation, AxisAngle(1, 0, 0, 90)));
    // World matrices are recomputed: the child's head is 3 up the root.
    EXPECT_TRUE(VecNear(b.mWorldTransform.getTransform(), {0, 4, 0}, 0.0f));
}

TEST(ActorPose, EmptyActionSlotsLeaveTheBonesAsTheyAre)
{
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 12, 4);
    actor.mAction[1].mChannels.clear();
    actor.mAction[2].mChannels.resize(3); // fewer channels than bones
    std::vector<cQuaternion> before;
    for (const auto& b : actor.mArmature.mBones)
        before.push_back(b.mOrientation);
    actor.mCurrentAction = 1;
    actor.mNextAction = 1;
    actor.Animate(16);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(SameQuat(actor.mArmature.mBones[i].mOrientation, before[i])) << "bone " << i;
    actor.mNextAction = 2;
    actor.Animate(16);
    actor.Animate(16);
    for (const auto& b : actor.mArmature.mBones)
        EXPECT_TRUE(AllFinite(b.mOrientation));
}

// Drawing an actor without a skeleton is checked in test_gl_draw.cpp.
TEST(ActorWithoutSkeleton, UpdateAndConstraintsDoNothing)
{
    cActor actor;
    actor.UpdateArmature();
    actor.SetConstraints();
    EXPECT_EQ(actor.mLeftFoot.mBone, nullptr);
    EXPECT_EQ(actor.mRightFoot.mBone, nullptr);
}

TEST(ActorDefaults, AsConstructed)
{
    cActor actor;
    EXPECT_EQ(actor.mTime, 0u);
    EXPECT_EQ(actor.mHeading, 0.0f);
    EXPECT_EQ(actor.mBlend, 250u);
    EXPECT_EQ(actor.mCurrentAction, 0u);
    EXPECT_EQ(actor.mWalkCycle, 0u);
    EXPECT_EQ(actor.mNextAction, 1u);
}

// ---------------------------------------------------------------------------
// The synthetic actor the benchmarks and allocation tests build on

TEST(SyntheticActor, IsWellFormedLikeALoadedActor)
{
    for (unsigned int n : {1u, 9u, 20u, 200u})
    {
        cActor actor;
        qvtest::BuildSyntheticActor(actor, n, 5, 700);
        const cArmature& arm = actor.mArmature;
        ASSERT_EQ(arm.mBones.size(), n);
        ASSERT_EQ(arm.mRootBone, &arm.mBones[0]);
        EXPECT_EQ(arm.mRootBone->mParent, nullptr);
        // Every other bone hangs from an earlier bone, listed once there.
        for (unsigned int i = 1; i < n; ++i)
        {
            const cBone& b = arm.mBones[i];
            ASSERT_NE(b.mParent, nullptr);
            EXPECT_LT(b.mParent, &b);
            EXPECT_EQ(std::count(b.mParent->mChildren.begin(), b.mParent->mChildren.end(), &b), 1);
        }
        EXPECT_EQ(actor.mPose.mPoseRoot, &actor.mPose.mPoseBones[0]);
        EXPECT_EQ(actor.mPose2.mPoseRoot, &actor.mPose2.mPoseBones[0]);
        EXPECT_EQ(actor.mLeftFoot.mBone != nullptr, n >= 9) << n << " bones";
        EXPECT_EQ(actor.mRightFoot.mBone != nullptr, n >= 9) << n << " bones";
        for (const cAction& a : actor.mAction)
        {
            EXPECT_EQ(a.mLength, 700u);
            ASSERT_EQ(a.mChannels.size(), n);
            for (const cChannel& c : a.mChannels)
            {
                ASSERT_EQ(c.mKeyFrames.size(), 5u);
                EXPECT_EQ(c.mKeyFrames.front().mTime, 0u);
                EXPECT_EQ(c.mKeyFrames.back().mTime, 700u);
                for (size_t k = 0; k < c.mKeyFrames.size(); ++k)
                {
                    const cQuaternion& q = c.mKeyFrames[k].mValue;
                    EXPECT_NEAR(q.mData[0] * q.mData[0] + q.mData[1] * q.mData[1] + q.mData[2] * q.mData[2] +
                                    q.mData[3] * q.mData[3],
                                1.0f, 1e-5f);
                    if (k > 0)
                    {
                        EXPECT_LE(c.mKeyFrames[k - 1].mTime, c.mKeyFrames[k].mTime);
                    }
                }
            }
        }
        // The root stands one unit up, its z axis vertical.
        EXPECT_TRUE(VecNear(arm.mRootBone->mWorldTransform.getTransform(), {0, 1, 0}, 1e-6f));
        EXPECT_TRUE(VecNear(qvtest::Rotate(arm.mRootBone->mWorldTransform, {0, 0, 1}), {0, 1, 0}, 1e-6f));
    }
}
