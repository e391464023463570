// The two-bone reach of a leg (sLegReach) on the walker's right leg: the
// ankle meets a target within reach, the foot keeps its turn in the world,
// a target out of reach straightens the leg towards it, and what cannot be
// solved is refused.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "QV_character.h"
#include "QV_legik.h"
#include "QV_xml.h"

namespace
{
const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

struct Leg
{
    cActor actor;
    cBone* foot = nullptr;

    Leg()
    {
        ReadActorFromXML(kWalker.c_str(), actor);
        EXPECT_EQ(PrepareCharacter(actor), "");
        // Mid swing, so that the knee is bent and its plane is known.
        actor.mPose.Set(actor.mArmature);
        actor.mAction[kWalkSlot].EvaluateAt(700, actor.mPose);
        actor.ApplyPose(actor.mPose);
        foot = actor.mRightFoot.mBone;
    }

    sLegReach Reach(const cVector3D& target) const
    {
        sLegReach r;
        r.mArm = &actor.mArmature;
        r.mFoot = foot;
        r.mTarget = target;
        return r;
    }

    cVector3D Ankle() const { return foot->mWorldTransform.getTransform(); }
    cVector3D Hip() const { return foot->mParent->mParent->mWorldTransform.getTransform(); }
};

float Distance(const cVector3D& a, const cVector3D& b) { return (a - b).length(); }
} // namespace

TEST(LegReach, TheAnkleMeetsATargetWithinReachAndTheFootKeepsItsTurn)
{
    for (const cVector3D& move : {cVector3D(0, 0.1f, 0), cVector3D(0, 0.2f, 0.1f), cVector3D(0.05f, -0.05f, -0.1f)})
    {
        Leg leg;
        const cMatrix4D before = leg.foot->mWorldTransform;
        const float thigh = Distance(leg.Hip(), leg.foot->mParent->mWorldTransform.getTransform());
        const cVector3D target = leg.Ankle() + move;
        const sLegReach reach = leg.Reach(target);
        ASSERT_TRUE(reach.Validate(leg.actor.mPose));
        ASSERT_TRUE(reach.Run(leg.actor.mPose));
        leg.actor.ApplyPose(leg.actor.mPose);
        EXPECT_LT(Distance(leg.Ankle(), target), 1e-4f);
        for (int k : {0, 1, 2, 4, 5, 6, 8, 9, 10})
            EXPECT_NEAR(leg.foot->mWorldTransform._m[k], before._m[k], 1e-4f) << k;
        EXPECT_NEAR(Distance(leg.Hip(), leg.foot->mParent->mWorldTransform.getTransform()), thigh, 1e-5f)
            << "the bones keep their lengths";
    }
}

TEST(LegReach, ATargetOutOfReachStraightensTheLegTowardsIt)
{
    Leg leg;
    const cBone* shin = leg.foot->mParent;
    const float length = Distance(leg.Hip(), shin->mWorldTransform.getTransform()) +
                         Distance(shin->mWorldTransform.getTransform(), leg.Ankle());
    const cVector3D target = leg.Hip() + cVector3D(0, -10, 1);
    ASSERT_TRUE(leg.Reach(target).Run(leg.actor.mPose));
    leg.actor.ApplyPose(leg.actor.mPose);
    EXPECT_NEAR(Distance(leg.Hip(), leg.Ankle()), length, 1e-3f);
    cVector3D want = target - leg.Hip(), got = leg.Ankle() - leg.Hip();
    want.normalize();
    got.normalize();
    EXPECT_GT(want.dot(got), 0.99999f);
}

TEST(LegReach, WhatCannotBeSolvedIsRefused)
{
    Leg leg;
    EXPECT_FALSE(leg.Reach(cVector3D(NAN, 0, 0)).Validate(leg.actor.mPose)) << "a target that is not a number";
    sLegReach noFoot = leg.Reach(leg.Ankle());
    noFoot.mFoot = nullptr;
    EXPECT_FALSE(noFoot.Validate(leg.actor.mPose));
    sLegReach root = leg.Reach(leg.Ankle());
    root.mFoot = leg.actor.mArmature.mRootBone;
    EXPECT_FALSE(root.Validate(leg.actor.mPose)) << "the root has no shin and thigh above it";
    cPose small;
    EXPECT_FALSE(leg.Reach(leg.Ankle()).Validate(small)) << "a pose without the armature's bones";
}
