// Motion fidelity on the walker, driven as the demo drives it: with the
// cross-fade and the contact locks off, every frame is bit for bit what it
// always was, snaps and slides included; with either or both on, every frame
// is bit for bit as recorded when they were last changed. With both on, no
// bone tip moves further in a frame when W is pressed or released (or any
// request comes at any moment) than in steady walking, within half again,
// and neither the heel nor the ball of a planted foot slides as far as 1 %
// of a stride.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_motion_trace.h"
#include "QV_xml.h"
#include "support/qv_expect.h"
#include "support/scripted_run.h"
#include "support/synthetic_actor.h"

namespace
{
const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
const unsigned int kSteps[3] = {1, 16, 33};

measure::sSwitches Switches(bool on)
{
    measure::sSwitches s;
    s.mCrossFade = s.mContactLock = on;
    return s;
}

void LoadWalker(cActor& actor)
{
    ReadActorFromXML(kWalker.c_str(), actor);
    EXPECT_EQ(PrepareCharacter(actor), "");
}

bool AllFinite(const cActor& actor)
{
    for (const cBone& b : actor.mArmature.mBones)
        for (float v : b.mWorldTransform._m)
            if (!std::isfinite(v))
                return false;
    return true;
}
} // namespace

TEST(MotionFidelity, SwitchesOffLeaveEveryFrameBitIdentical)
{
    // Fingerprints of the scripted run with the switches off: the synthetic
    // actor's as recorded before the switches existed, the walker's of the
    // data/walker.xml walkergen writes today (they change with the walk).
    const uint64_t walker[3] = {0x5e6100a2e78777bcull, 0xc67f5e0aa32251c6ull, 0x6fe386502312a306ull};
    const uint64_t synthetic[3] = {0x004902fa28328c6bull, 0x1b2df80074bfe261ull, 0xed16982fd1e29987ull};
    for (int i = 0; i < 3; ++i)
    {
        cActor a;
        LoadWalker(a);
        EXPECT_EQ(qvtest::ScriptedRunHash(a, kSteps[i]), walker[i]) << "walker, dt " << kSteps[i];
        cActor s;
        qvtest::BuildSyntheticActor(s, 40, 7, 900);
        EXPECT_EQ(qvtest::ScriptedRunHash(s, kSteps[i]), synthetic[i]) << "synthetic, dt " << kSteps[i];
    }
}

TEST(MotionFidelity, SwitchesOnKeepEveryFrameAsRecorded)
{
    // Fingerprints of the scripted run with the cross-fade, the contact
    // locks and both switched on: the synthetic actor's recorded while each
    // was still written into the actor itself (moving them into units of
    // their own changes no frame, bit for bit), the walker's of the
    // data/walker.xml walkergen writes today (they change with the walk).
    struct sCase
    {
        bool mCrossFade, mContactLock;
        uint64_t mWalker[3], mSynthetic[3];
    };
    const sCase cases[] = {
        {true,
         false,
         {0xedd24df085677957ull, 0xd75b0b3bd6706d98ull, 0xd68af89d80f73e1aull},
         {0x70bd7417eb6bf8e1ull, 0x3e182a50781930e7ull, 0x51a2a62d0a50d9dfull}},
        {false,
         true,
         {0xe2236fb6ff6acfbfull, 0x7b83aecd8e81ca07ull, 0x4c4f4df03dadcc86ull},
         {0xc2bcfb4e798f861dull, 0xf556339a0349ff7aull, 0x3b3c6c130afb9739ull}},
        // Both on, a stop finishes the walk's step, fades from where one
        // foot stands alone while the walk slows to a halt, holds that foot
        // and keeps the other clear until it lands (cStopIndex,
        // cActor::KeepSwingClear): recorded again with that. The scripted
        // run stops twice (its first frame asks the stand of an actor that
        // starts on the walk slot, and at 8 s), on the walker and on the
        // synthetic actor alike (it has both feet), so both changed.
        {true,
         true,
         {0x2bfa580e886a6486ull, 0x4d948947422ac6a2ull, 0x079088a9dfe43e8eull},
         {0x2397fa119a295d4cull, 0x860eea29c82392baull, 0x19d5777d15da43b2ull}},
    };
    for (const sCase& c : cases)
        for (int i = 0; i < 3; ++i)
        {
            SCOPED_TRACE(std::string(c.mCrossFade ? "cross-fade " : "") + (c.mContactLock ? "contact locks " : "") +
                         "dt " + std::to_string(kSteps[i]));
            cActor a;
            LoadWalker(a);
            a.mCrossFade = c.mCrossFade;
            a.mContactLock = c.mContactLock;
            const uint64_t walker = qvtest::ScriptedRunHash(a, kSteps[i]);
            EXPECT_EQ(walker, c.mWalker[i]) << "walker: 0x" << std::hex << walker;
            cActor s;
            qvtest::BuildSyntheticActor(s, 40, 7, 900);
            s.mCrossFade = c.mCrossFade;
            s.mContactLock = c.mContactLock;
            const uint64_t synthetic = qvtest::ScriptedRunHash(s, kSteps[i]);
            EXPECT_EQ(synthetic, c.mSynthetic[i]) << "synthetic: 0x" << std::hex << synthetic;
        }
}

TEST(MotionFidelity, SwitchesOffStillSnapAndSkidAsBefore)
{
    // What the default shows, as measured before the switches existed (the
    // steady moves re-measured with the walk of today's data/walker.xml).
    const double steady[3] = {0.011, 0.180, 0.368};
    const double ballLow[3] = {2.2, 3.0, 4.3};
    for (int i = 0; i < 3; ++i)
    {
        const measure::sMotionReport r = measure::TraceMotion(kWalker, kSteps[i], Switches(false));
        SCOPED_TRACE("dt " + std::to_string(kSteps[i]));
        EXPECT_NEAR(r.mSteadyMove, steady[i], 0.002);
        EXPECT_GT(r.mStartMove, 1.3);
        EXPECT_GT(r.mStopMove, 1.4);
        EXPECT_GT(r.mBallSlide, ballLow[i]);
        EXPECT_GT(r.mHeelSlide, 1.2);
        EXPECT_NEAR(r.mSpeed, 2.5, 0.1);
        EXPECT_TRUE(r.mFinite);
    }
}

// Far out, the actor shifts its scene back by whole units (a jump of about
// 128 in every position); the trace measures on the floor the walk began
// on, so no move, slide or speed sees the shift. The steady run here covers
// about 200 units, with starts and stops on both sides of a shift.
TEST(MotionFidelity, TheTraceMeasuresThroughTheActorsRecentring)
{
    measure::sRunPlan far;
    far.mSteadyMs = 80000;
    far.mTrials = 4;
    for (bool on : {false, true})
    {
        SCOPED_TRACE(on ? "switches on" : "switches off");
        const measure::sMotionReport near = measure::TraceMotion(kWalker, 16, Switches(on));
        const measure::sMotionReport r = measure::TraceMotion(kWalker, 16, Switches(on), far);
        EXPECT_NEAR(r.mSteadyMove, near.mSteadyMove, 0.01);
        EXPECT_LT(r.mStartMove, 2.0);
        EXPECT_LT(r.mStopMove, 2.0);
        EXPECT_NEAR(r.mSpeed, near.mSpeed, 0.02 * near.mSpeed);
        EXPECT_LT(r.mHeelSlide, near.mHeelSlide + 0.5);
        EXPECT_LT(r.mBallSlide, near.mBallSlide + 0.5);
        EXPECT_LT(r.mStopGlide, 100.0);
    }
}

TEST(MotionFidelity, BothSwitchesOnStartAndStopSmoothlyOnPlantedFeet)
{
    double speedOff[3];
    for (int i = 0; i < 3; ++i)
        speedOff[i] = measure::TraceMotion(kWalker, kSteps[i], Switches(false)).mSpeed;
    for (int i = 0; i < 3; ++i)
    {
        const measure::sMotionReport r = measure::TraceMotion(kWalker, kSteps[i], Switches(true));
        SCOPED_TRACE("dt " + std::to_string(kSteps[i]));
        EXPECT_LE(r.mStartMove, 1.5 * r.mSteadyMove);
        EXPECT_LE(r.mStopMove, 1.5 * r.mSteadyMove);
        EXPECT_LT(r.mHeelSlide, 1.0);
        EXPECT_LT(r.mBallSlide, 1.0);
        EXPECT_GE(r.mHeelContacts, 18);
        EXPECT_GE(r.mBallContacts, 18);
        // The walk starts where the legs agree half way through the fade,
        // so no foot has to glide a step forward along the ground. (What
        // glides, 11 to 13 % of a stride, is the foot that fades from flat
        // into early swing: the mix of the two poses dips its ball and toes
        // a few hundredths below the ground as the swing carries it on.)
        EXPECT_LT(r.mStartGlide, 15.0);
        // A stop finishes its step, holds the standing foot and brings the
        // swinging one down where it will stand: no foot that is down moves
        // further than in steady walking (stopped at once, half a stride).
        EXPECT_LT(r.mStopGlide, 1.0);
        // The root keeps moving while the heel rises: no travel is lost to
        // the ankle lifting off.
        EXPECT_GE(r.mSpeed, speedOff[i]);
        EXPECT_TRUE(r.mFinite);
    }
}

TEST(MotionFidelity, RequestsAtAnyMomentNeverSnap)
{
    // W, C and F at random moments, often within a running fade: a change
    // back to the outgoing action, a third action while two are mixed, the
    // contact locks coming and going. No frame moves a bone tip further than
    // half again the steady walk's worst.
    for (unsigned int dt : kSteps)
    {
        const double steady = measure::TraceMotion(kWalker, dt, Switches(true)).mSteadyMove;
        double brisk = 0;
        {
            measure::cHost h(kWalker, Switches(true));
            std::vector<cVector3D> tips(h.actor().mArmature.mBones.size());
            h.actor().mWalkCycle = kSecondWalkSlot;
            for (unsigned int t = 0; t < 3000; t += dt)
                h.Frame(dt, true);
            measure::TipMove(h, tips);
            for (unsigned int t = 0; t < 6000; t += dt)
            {
                h.Frame(dt, true);
                brisk = std::max(brisk, measure::TipMove(h, tips));
            }
        }
        measure::cHost h(kWalker, Switches(true));
        std::vector<cVector3D> tips(h.actor().mArmature.mBones.size());
        h.Frame(dt, false);
        measure::TipMove(h, tips);
        std::mt19937 rng(11);
        bool walk = false;
        double worst = 0;
        unsigned int next = 0;
        int requests = 0, turned = 0, froze = 0;
        for (unsigned int t = 0; t < 40000; t += dt)
        {
            if (t >= next)
            {
                const unsigned int r = rng() % 4;
                if (r < 2)
                    walk = !walk;
                else if (r == 2)
                    h.actor().mWalkCycle = h.actor().mWalkCycle == kWalkSlot ? kSecondWalkSlot : kWalkSlot;
                else
                    h.actor().mContactLock = !h.actor().mContactLock;
                next = t + 30 + rng() % 500;
                ++requests;
            }
            const sActionFade before = h.actor().Fade();
            const unsigned int current = h.actor().mCurrentAction;
            h.Frame(dt, walk);
            worst = std::max(worst, measure::TipMove(h, tips));
            const sActionFade& after = h.actor().Fade();
            turned += before.mActive && !before.mFrozen && after.mActive && after.mFrom == current &&
                      h.actor().mCurrentAction == before.mFrom;
            froze += !before.mFrozen && after.mFrozen;
        }
        EXPECT_GT(requests, 100);
        EXPECT_GT(turned, 5) << "fades turned back";
        EXPECT_GE(froze, 2) << "fades interrupted by a third action";
        EXPECT_LE(worst, 1.5 * std::max(steady, brisk)) << "dt " << dt;
        EXPECT_TRUE(h.Finite());
    }
}

TEST(MotionFidelity, AFinishedFadeLeavesTheIncomingActionAlone)
{
    cActor a;
    LoadWalker(a);
    a.mCrossFade = true;
    sSteering walk;
    walk.mWalk = true;
    for (int i = 0; i < 100; ++i)
        StepCharacter(a, 16, sSteering());
    StepCharacter(a, 16, walk);
    StepCharacter(a, 16, walk);
    EXPECT_TRUE(a.Fade().mActive);
    EXPECT_EQ(a.mCurrentAction, kWalkSlot);
    for (int i = 0; i < 16 && a.Fade().mActive; ++i)
        StepCharacter(a, 16, walk);
    ASSERT_FALSE(a.Fade().mActive) << "a 250 ms fade still runs after 18 frames of 16 ms";
    // From here on, what shows is the walk at its own clock, as without a fade.
    StepCharacter(a, 16, walk);
    cPose expected;
    expected.Setup(a.mArmature);
    a.mAction[kWalkSlot].EvaluateAt(a.mTime, expected);
    for (size_t i = 1; i < a.mArmature.mBones.size(); ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(a.mArmature.mBones[i].mOrientation.mData[k], expected.mPoseBones[i].mOrientation.mData[k])
                << a.mArmature.mBones[i].mName;
}

TEST(MotionFidelity, AFadeTurnsTheShortWayWhateverSignTheKeysHave)
{
    // Two bones, no feet. Slot 0 holds the root 10 degrees about x, slot 1
    // 30 degrees, written with the opposite sign: the same turn, but a plain
    // nlerp between the two keys would swing the long way round.
    cActor a;
    cArmature& arm = a.mArmature;
    qvtest::BuildTwoBoneArmature(arm);
    a.mPose.Setup(arm);
    a.mPose2.Setup(arm);
    const cQuaternion q30 = qvtest::AxisAngle(1, 0, 0, 30);
    const cQuaternion keys[kActionSlots] = {qvtest::AxisAngle(1, 0, 0, 10),
                                            cQuaternion(-q30.mData[0], -q30.mData[1], -q30.mData[2], -q30.mData[3]),
                                            cQuaternion()};
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        a.mAction[s].mLength = 1000;
        a.mAction[s].mChannels.resize(2);
        a.mAction[s].mChannels[0].mKeyFrames.resize(1);
        a.mAction[s].mChannels[0].mKeyFrames[0].mValue = keys[s];
        a.mAction[s].mChannels[1].mKeyFrames.resize(1);
    }
    a.SetConstraints();
    a.UpdateArmature();
    a.mCrossFade = true;
    a.mNextAction = 0;
    a.Animate(16);
    a.Animate(300); // the start-up fade has ended
    a.mNextAction = 1;
    float last = 10.0f;
    for (int frame = 0; frame < 20; ++frame)
    {
        a.Animate(16);
        const cMatrix4D& m = arm.mRootBone->mWorldTransform;
        // The turn about x, from where the root's y axis points.
        const float angle = (float)(atan2(m._m[6], m._m[5]) * 180.0 / M_PI);
        EXPECT_GE(angle, last - 1e-3f) << "frame " << frame;
        EXPECT_LE(angle, 30.0f + 1e-3f) << "frame " << frame;
        last = angle;
    }
    EXPECT_NEAR(last, 30.0f, 1e-3f);
}

TEST(MotionFidelity, ContactLocksGiveNoNotANumbersWhereAnkleLocksGiveNone)
{
    // Walkers altered in ways the loader accepts: feet and toes of zero or
    // huge length, a foot or the root's first child with an all-zero rest
    // matrix, a root whose first child sits on it, all-zero keys in the
    // legs, an empty stand slot, a walk shorter than the clock's restart.
    enum Change
    {
        kZeroFoot,
        kHugeToes,
        kZeroFootMatrix,
        kChildOnTheRoot,
        kZeroLegKeys,
        kEmptyStand,
        kShortWalk,
        kChanges
    };
    int comparable = 0;
    for (int change = 0; change < kChanges; ++change)
    {
        bool finite[2] = {true, true};
        for (int on = 0; on < 2; ++on)
        {
            cActor a;
            ReadActorFromXML(kWalker.c_str(), a);
            std::vector<cBone>& bones = a.mArmature.mBones;
            cBone& foot = bones[7]; // Bone.007, the right foot
            switch (change)
            {
            case kZeroFoot: foot.mLength = bones[8].mLength = 0.0f; break;
            case kHugeToes: bones[9].mLength = 1e30f; break;
            case kZeroFootMatrix: foot.mRestTransform = cMatrix4D(std::vector<float>(16, 0.0f).data()); break;
            case kChildOnTheRoot:
                a.mArmature.mRootBone->mChildren[0]->mRestTransform.setTransform(0, 0, 0);
                a.mArmature.mRootBone->mChildren[0]->mTransform.setTransform(0, 0, 0);
                break;
            case kZeroLegKeys:
                for (cAction& action : a.mAction)
                    for (int b : {2, 4, 7, 9})
                        for (sKeyFrame& k : action.mChannels[b].mKeyFrames)
                            k.mValue = cQuaternion(0, 0, 0, 0);
                break;
            case kEmptyStand: a.mAction[kStandSlot].mChannels.clear(); break;
            case kShortWalk: a.mAction[kWalkSlot].mLength = 20; break;
            }
            a.SetConstraints();
            a.UpdateArmature();
            a.mCrossFade = a.mContactLock = on == 1;
            for (unsigned int t = 0; t < 8000 && finite[on]; t += 16)
            {
                sSteering s;
                s.mWalk = (t / 700) % 2 == 1;
                s.mTurnLeft = (t / 1100) % 2 == 1;
                a.mWalkCycle = (t / 1900) % 2 == 1 ? kSecondWalkSlot : kWalkSlot;
                StepCharacter(a, 16, s);
                finite[on] = AllFinite(a);
            }
        }
        if (finite[0])
        {
            EXPECT_TRUE(finite[1]) << "change " << change;
            ++comparable;
        }
    }
    // The default keeps every one of these finite: none is skipped.
    EXPECT_EQ(comparable, (int)kChanges);
}
