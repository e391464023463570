// The walking character's rules and step, without a window: what a file
// needs to be played as the walker, and how the steering becomes heading and
// requested action.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "QV_character.h"
#include "QV_xml.h"
#include "support/synthetic_actor.h"

namespace
{
cBone* Find(cActor& actor, const char* name)
{
    for (cBone& b : actor.mArmature.mBones)
        if (b.mName == name)
            return &b;
    return nullptr;
}
} // namespace

TEST(WalkerProblem, TheShippedWalkerAndASyntheticActorCanBePlayed)
{
    // A first child straight above the root (a spine over the hips) still
    // gives the locks a direction, if not a good one: it is played.
    {
        cActor upright;
        qvtest::BuildSyntheticActor(upright, 9, 4);
        cMatrix4D& m = upright.mArmature.mRootBone->mChildren[0]->mRestTransform;
        m.setIdentity();
        m.setTransform(0.0f, 0.0f, 0.8f); // the root's local +z is the world's up
        EXPECT_EQ(WalkerProblem(upright), "");
    }

    cActor walker;
    ReadActorFromXML("data/walker.xml", walker);
    EXPECT_EQ(WalkerProblem(walker), "");

    cActor synthetic;
    qvtest::BuildSyntheticActor(synthetic, 9, 4);
    EXPECT_EQ(WalkerProblem(synthetic), "");
}

// Each defect, made on an otherwise playable actor, is named by its own
// one-line message.
TEST(WalkerProblem, EachDefectIsNamed)
{
    struct Case
    {
        const char* what;
        void (*spoil)(cActor&);
        const char* expected; // a part of the message
    };
    const Case cases[] = {
        {"no second walk", [](cActor& a) { a.mAction[kSecondWalkSlot].mChannels.clear(); }, "three actions"},
        {"no left foot", [](cActor& a) { Find(a, kLeftFootBone)->mName = "Left"; }, "left foot bone named 'Bone.008'"},
        {"no right foot", [](cActor& a) { Find(a, kRightFootBone)->mName = "Right"; },
         "right foot bone named 'Bone.007'"},
        {"root without children", [](cActor& a) { a.mArmature.mRootBone->mChildren.clear(); }, "at least one child"},
        {"first child on the root",
         [](cActor& a) { a.mArmature.mRootBone->mChildren[0]->mRestTransform.setTransform(0.0f, 0.0f, 0.0f); },
         "'Bone.001' sits on the root"},
        {"first child a hair's breadth from the root",
         [](cActor& a) { a.mArmature.mRootBone->mChildren[0]->mRestTransform.setTransform(1e-5f, 0.0f, 0.0f); },
         "sits on the root"},
    };
    for (const Case& c : cases)
    {
        cActor actor;
        qvtest::BuildSyntheticActor(actor, 9, 4);
        c.spoil(actor);
        const std::string message = WalkerProblem(actor);
        EXPECT_EQ(message.compare(0, 11, "XML ERROR: "), 0) << c.what << ": " << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << c.what;
    }
}

// The step over many frames of mixed lengths and steering: the heading moves
// by kTurnRate a millisecond only while walking, both flags cancel, the
// heading stays within one turn and agrees with the unwrapped sum, and the
// requested slot follows the walk flag and the walk cycle.
TEST(StepCharacter, SteeringBecomesHeadingAndRequestedSlot)
{
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 9, 4);
    const unsigned int dts[] = {1, 16, 33, 7, 250};
    double unwrapped = 0.0;
    for (int frame = 0; frame < 4000; ++frame)
    {
        sSteering s;
        s.mWalk = (frame / 50) % 4 != 3;
        s.mTurnLeft = (frame / 300) % 3 != 1;
        s.mTurnRight = (frame / 700) % 2 == 1;
        actor.mWalkCycle = (frame / 900) % 2 ? kSecondWalkSlot : kWalkSlot;
        const unsigned int dt = dts[frame % 5];
        StepCharacter(actor, dt, s);

        if (s.mWalk)
            unwrapped += ((int)s.mTurnLeft - (int)s.mTurnRight) * (double)dt * kTurnRate;
        ASSERT_LT(std::fabs(actor.mHeading), 360.0f) << "frame " << frame;
        ASSERT_NEAR(std::remainder(actor.mHeading - unwrapped, 360.0), 0.0, 0.05) << "frame " << frame;
        ASSERT_EQ(actor.mNextAction, s.mWalk ? actor.mWalkCycle : kStandSlot) << "frame " << frame;
    }
    EXPECT_GT(std::fabs(unwrapped), 720.0); // the run really went round
}
