// Once an actor is set up, its frame step allocates nothing: Animate with
// its pose refreshes, action evaluation, action switches, heading, foot locks
// and two pose applications, with the cross-fade and the contact locks as
// well (a stop included), and the library's other per-frame operations.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_iksolver.h"
#include "QV_xml.h"
#include "support/alloc_counter.h" // the one inclusion in this program
#include "support/synthetic_actor.h"

TEST(AllocCounter, SeesAllocations)
{
    qvtest::AllocationScope scope;
    std::vector<int>* v = new std::vector<int>(100);
    delete v;
    EXPECT_GE(scope.Allocations(), 2u);
    EXPECT_GE(scope.Releases(), 2u);
}

TEST(AnimateAllocations, NoneOnceTheActorIsSetUp)
{
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 200, 12, 900);
    actor.mNextAction = 0;
    actor.Animate(16); // first frame: nothing is allocated lazily either

    // A run of frames with everything the application does per frame:
    // walking and standing, switching cycles, turning, long and zero frames,
    // clock restarts.
    const unsigned int steps[] = {16, 17, 0, 33, 250, 1, 16, 1200, 16, 5};
    unsigned long long allocations = 0;
    {
        qvtest::AllocationScope scope;
        for (int frame = 0; frame < 2000; ++frame)
        {
            actor.mNextAction = (frame / 37) % 5 == 0 ? 1u : ((frame / 300) % 2 == 0 ? 0u : 2u);
            actor.mHeading += (frame % 50 < 25) ? 1.6f : -0.8f;
            actor.Animate(steps[frame % 10]);
        }
        allocations = scope.Allocations();
    }
    EXPECT_EQ(allocations, 0u);
}

TEST(AnimateAllocations, NoneWithTheCrossFadeAndTheContactLocks)
{
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 200, 12, 900);
    actor.mCrossFade = true;
    actor.mContactLock = true;
    actor.mNextAction = 0;
    actor.Animate(16); // the first frame builds the fade's leg index, once

    // Fades started, turned back and interrupted by a third action, the
    // contact locks switched off and on again (each return follows the
    // ankles for a frame), long frames and zero frames.
    const unsigned int steps[] = {16, 17, 0, 33, 250, 1, 16, 1200, 16, 5};
    unsigned long long allocations = 0;
    int fadingFrames = 0;
    {
        qvtest::AllocationScope scope;
        for (int frame = 0; frame < 2000; ++frame)
        {
            actor.mNextAction = (frame / 7) % 3 == 0 ? (unsigned int)(frame / 11) % 3 : actor.mNextAction;
            actor.mContactLock = (frame / 150) % 4 != 3;
            actor.mHeading += (frame % 50 < 25) ? 1.6f : -0.8f;
            actor.Animate(steps[frame % 10]);
            fadingFrames += actor.Fade().mActive ? 1 : 0;
        }
        allocations = scope.Allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_GT(fadingFrames, 200);
}

TEST(AnimateAllocations, NoneInTheOtherPerFrameOperations)
{
    cActor actor;
    qvtest::BuildSyntheticActor(actor, 40, 6);
    cIK ik;
    ik.mIKBones[0] = &actor.mArmature.mBones[20];
    ASSERT_TRUE(ik.Setup(actor.mArmature));
    cQuaternion q;

    unsigned long long allocations = 0;
    {
        qvtest::AllocationScope scope;
        for (unsigned int t = 0; t < 300; t += 7)
        {
            actor.mPose.Set(actor.mArmature);
            actor.mAction[2].EvaluateAt(t, actor.mPose2);
            actor.mPose.Blend(0.3f, actor.mPose2);
            actor.mPose.Update();
            actor.mAction[0].mChannels[3].EvaluateAt(t, q);
            actor.ApplyPose(actor.mPose);
            actor.UpdateArmature();
            actor.mLeftFoot.Evaluate(actor.mArmature.mRootBone, actor.mPose);
            ik.mTarget = cVector3D(0.01f * (float)t, 1.0f, 0.0f);
            ik.EvaluateAt(t, actor.mAction[0]);
        }
        allocations = scope.Allocations();
    }
    EXPECT_EQ(allocations, 0u);
}

TEST(AnimateAllocations, NoneInAStopWithBothSwitches)
{
    // The walker's stops: the step finished, the standing foot held, the
    // swinging leg lifted by its two-bone reach, a stop cut short by W.
    cActor actor;
    ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), actor);
    ASSERT_EQ(PrepareCharacter(actor), "");
    actor.mCrossFade = actor.mContactLock = true;
    unsigned long long allocations = 0;
    int stopping = 0;
    {
        qvtest::AllocationScope scope;
        for (int frame = 0; frame < 3000; ++frame)
        {
            sSteering s;
            s.mWalk = (frame % 300) < 150 || (frame % 600) == 170;
            StepCharacter(actor, 16, s);
            stopping += actor.mCurrentAction == kStandSlot && actor.Fade().mActive;
        }
        allocations = scope.Allocations();
    }
    EXPECT_EQ(allocations, 0u);
    EXPECT_GT(stopping, 50);
}
