// The cross-fade stepped on its own, as cActor::Animate steps it but with no
// actor: two bones, three actions that hold the root at fixed turns about x
// (10, 30 and -20 degrees), no feet (so a fade starts the incoming action at
// the carried clock). What shows is checked against cPose::Blend of the two
// sides with the eased weight.

#include <gtest/gtest.h>

#include <cmath>

#include "QV_crossfade.h"
#include "support/qv_expect.h"
#include "support/synthetic_actor.h"

namespace
{
struct FadeRig
{
    cArmature arm;
    cAction actions[3];
    cPose pose, scratch;
    cCrossFade fade;
    unsigned int current = 0, time = 100, next = 0;
    static constexpr unsigned int kBlend = 250;

    FadeRig()
    {
        qvtest::BuildTwoBoneArmature(arm);
        arm.Update();
        pose.Setup(arm);
        scratch.Setup(arm);
        const float degrees[3] = {10, 30, -20};
        for (int s = 0; s < 3; ++s)
        {
            actions[s].mLength = 1000;
            actions[s].mChannels.resize(2);
            actions[s].mChannels[0].mKeyFrames.resize(1);
            actions[s].mChannels[0].mKeyFrames[0].mValue = qvtest::AxisAngle(1, 0, 0, degrees[s]);
            actions[s].mChannels[1].mKeyFrames.resize(1);
        }
        fade.Prepare(arm, actions, nullptr, nullptr, pose.mPoseBones.size());
    }

    // One frame as the actor runs it: the clock on, the playing action into
    // the pose, then the fade.
    bool Frame(unsigned int dt)
    {
        time += dt;
        pose.Set(arm);
        actions[current].EvaluateAt(time, pose);
        return fade.Step(dt, actions, next, kBlend, current, time, pose, scratch);
    }

    // The root's turn about x on screen, degrees.
    float Angle() const
    {
        const cQuaternion& q = pose.mPoseRoot->mOrientation;
        return (float)(2.0 * atan2(q.mData[0], q.mData[3]) * 180.0 / M_PI);
    }

    // The blend of slot `to` over slot `from` at fade weight w, as the fade
    // should show it.
    cQuaternion Expected(unsigned int from, unsigned int to, float w)
    {
        cPose in, out;
        in.Setup(arm);
        out.Setup(arm);
        actions[to].EvaluateAt(time, in);
        actions[from].EvaluateAt(time, out);
        in.Blend(1.0f - w * w * (3.0f - 2.0f * w), out);
        return in.mPoseRoot->mOrientation;
    }
};
} // namespace

TEST(CrossFadeStep, IsReadyOnlyForThePoseItWasPreparedFor)
{
    cCrossFade fresh;
    EXPECT_FALSE(fresh.Ready(0));
    FadeRig r;
    EXPECT_TRUE(r.fade.Ready(2));
    EXPECT_FALSE(r.fade.Ready(3)) << "an actor loaded again after preparing has another pose";
}

TEST(CrossFadeStep, ARequestFadesInEasedOverTheBlendThenLeavesTheIncomingActionAlone)
{
    FadeRig r;
    EXPECT_FALSE(r.Frame(16)) << "nothing to blend without a request";
    EXPECT_NEAR(r.Angle(), 10.0f, 1e-4f);

    r.next = 1;
    EXPECT_FALSE(r.Frame(16)) << "the request takes effect from the next frame";
    EXPECT_EQ(r.current, 1u);
    EXPECT_EQ(r.time, 132u) << "without feet the incoming action starts at the carried clock";
    ASSERT_TRUE(r.fade.Fade().mActive);
    EXPECT_EQ(r.fade.Fade().mFrom, 0u);
    EXPECT_EQ(r.fade.Fade().mWeight, 0.0f);

    float last = 10.0f;
    for (int k = 1; k < 5; ++k)
    {
        SCOPED_TRACE("frame " + std::to_string(k));
        EXPECT_TRUE(r.Frame(50));
        const float w = 50.0f * (float)k / 250.0f;
        EXPECT_NEAR(r.fade.Fade().mWeight, w, 1e-6f);
        EXPECT_TRUE(qvtest::QuatNear(r.pose.mPoseRoot->mOrientation, r.Expected(0, 1, w), 1e-6f));
        EXPECT_EQ(r.fade.Fade().mTime, 132u + 50u * (unsigned int)k) << "the outgoing clock runs on";
        EXPECT_GT(r.Angle(), last);
        last = r.Angle();
    }
    EXPECT_FALSE(r.Frame(50)) << "the fade ends after its 250 ms";
    EXPECT_FALSE(r.fade.Fade().mActive);
    EXPECT_NEAR(r.Angle(), 30.0f, 1e-4f);
}

TEST(CrossFadeStep, AskingBackForTheOutgoingActionTurnsTheFadeBackFromTheMixOnScreen)
{
    FadeRig r;
    r.Frame(16);
    r.next = 1;
    r.Frame(16);
    r.Frame(50);
    r.Frame(50);
    const unsigned int outgoingClock = r.fade.Fade().mTime + 50;
    const unsigned int incomingClock = r.time + 50;
    r.next = 0;
    EXPECT_TRUE(r.Frame(50)); // weight 0.6 shown, then turned back
    const float shown = r.Angle();
    EXPECT_EQ(r.current, 0u);
    EXPECT_EQ(r.time, outgoingClock) << "the action fading out comes back where it is";
    EXPECT_EQ(r.fade.Fade().mFrom, 1u);
    EXPECT_EQ(r.fade.Fade().mTime, incomingClock);
    EXPECT_NEAR(r.fade.Fade().mWeight, 0.4f, 1e-6f);
    EXPECT_TRUE(r.Frame(50));
    EXPECT_LT(r.Angle(), shown) << "on its way back to 10 degrees";
    EXPECT_GT(r.Angle(), 10.0f + 0.5f * (shown - 10.0f)) << "without a jump";
}

TEST(CrossFadeStep, AThirdActionDuringAFadeFreezesWhatIsOnScreenAndFadesItOut)
{
    FadeRig r;
    r.Frame(16);
    r.next = 1;
    r.Frame(16);
    r.Frame(50);
    r.next = 2;
    EXPECT_TRUE(r.Frame(50));
    const float shown = r.Angle();
    EXPECT_EQ(r.current, 2u);
    ASSERT_TRUE(r.fade.Fade().mActive);
    EXPECT_TRUE(r.fade.Fade().mFrozen);
    EXPECT_EQ(r.fade.Fade().mWeight, 0.0f);
    // A frame of no time shows the frozen side alone.
    EXPECT_TRUE(r.Frame(0));
    EXPECT_NEAR(r.Angle(), shown, 1e-3f);
    float last = shown;
    for (int k = 0; k < 4; ++k)
    {
        EXPECT_TRUE(r.Frame(50));
        EXPECT_LT(r.Angle(), last) << "on its way to -20 degrees, frame " << k;
        last = r.Angle();
    }
    EXPECT_FALSE(r.Frame(50));
    EXPECT_NEAR(r.Angle(), -20.0f, 1e-4f);
}

TEST(CrossFadeStep, StopDropsARunningFade)
{
    FadeRig r;
    r.Frame(16);
    r.next = 1;
    r.Frame(16);
    r.Frame(50);
    r.fade.Stop();
    EXPECT_FALSE(r.fade.Fade().mActive);
    EXPECT_FALSE(r.Frame(50));
    EXPECT_NEAR(r.Angle(), 30.0f, 1e-4f) << "the incoming action alone";
}
