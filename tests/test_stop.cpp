// The stop with the cross-fade and the contact locks on: a walk asked to
// stand finishes its step (walks on to where its legs are nearest the
// stand's, within the next step) and fades from there; with the cross-fade
// alone the fade starts at once, as it always has.
#include <gtest/gtest.h>

#include <string>

#include "QV_character.h"
#include "QV_xml.h"

namespace
{

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

void LoadWalker(cActor& a, bool contactLock)
{
    ReadActorFromXML(kWalker.c_str(), a);
    ASSERT_EQ(PrepareCharacter(a), "");
    a.mCrossFade = true;
    a.mContactLock = contactLock;
}

// Walks for walkMs, then releases W; returns how long after the release the
// fade into the stand began (ms), or -1 when it had not within 2 s.
int FadeAfterRelease(cActor& a, unsigned int walkMs, unsigned int dt)
{
    sSteering walk;
    walk.mWalk = true;
    for (unsigned int t = 0; t < walkMs; t += dt)
        StepCharacter(a, dt, walk);
    for (unsigned int t = dt; t <= 2000; t += dt)
    {
        StepCharacter(a, dt, sSteering());
        if (a.mCurrentAction == kStandSlot)
        {
            EXPECT_TRUE(a.Fade().mActive) << "the stand fades in";
            return (int)t;
        }
        EXPECT_FALSE(a.Fade().mActive) << "no fade while the step is finished";
    }
    return -1;
}

TEST(Stop, WithBothSwitchesAWalkFinishesItsStepBeforeFadingIntoTheStand)
{
    cActor probe;
    LoadWalker(probe, true);
    const unsigned int step = (probe.mAction[kWalkSlot].mLength - kRestartTime) / 2;
    int waited = 0, atOnce = 0;
    for (unsigned int walkMs = 2000; walkMs < 3200; walkMs += 16)
    {
        SCOPED_TRACE(walkMs);
        cActor a;
        LoadWalker(a, true);
        const int after = FadeAfterRelease(a, walkMs, 16);
        ASSERT_GE(after, 0);
        EXPECT_LE(after, (int)step + 32) << "within the next step";
        (after > 32 ? waited : atOnce)++;
    }
    EXPECT_GT(waited, 5) << "released mid-step, the walk carries on";
    EXPECT_GT(atOnce, 0) << "released where the legs pass, it stops at once";
}

TEST(Stop, WithTheCrossFadeAloneTheFadeStartsAtOnce)
{
    cActor a;
    LoadWalker(a, false);
    EXPECT_EQ(FadeAfterRelease(a, 2345, 16), 16);
}

TEST(Stop, PressingWAgainWhileTheStepFinishesWalksOn)
{
    cActor a;
    LoadWalker(a, true);
    sSteering walk;
    walk.mWalk = true;
    for (unsigned int t = 0; t < 2000; t += 16)
        StepCharacter(a, 16, walk);
    // Released where a stop must wait (found by trying each frame).
    bool waiting = false;
    for (int tries = 0; tries < 100 && !waiting; ++tries)
    {
        StepCharacter(a, 16, sSteering());
        waiting = a.mCurrentAction == kWalkSlot && !a.Fade().mActive;
        if (!waiting)
        {
            for (unsigned int t = 0; t < 1500; t += 16)
                StepCharacter(a, 16, walk);
        }
    }
    ASSERT_TRUE(waiting);
    for (unsigned int t = 0; t < 2000; t += 16)
    {
        StepCharacter(a, 16, walk);
        EXPECT_EQ(a.mCurrentAction, kWalkSlot);
        EXPECT_FALSE(a.Fade().mActive);
    }
}

} // namespace
