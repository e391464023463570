// The stop with the cross-fade and the contact locks on: a walk asked to
// stand finishes its step (walks on, within the next step, to where one foot
// stands alone) and fades from there, the standing foot held where it is and
// the swinging one brought down once, beside it; with the cross-fade alone
// the fade starts at once, as it always has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

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

float Ground(const cVector3D& a, const cVector3D& b)
{
    return hypotf(a.mData[0] - b.mData[0], a.mData[2] - b.mData[2]);
}

// The largest distance any bone's head moved since the last call.
float HeadMove(const cActor& a, std::vector<cVector3D>& heads)
{
    float worst = 0.0f;
    for (size_t i = 0; i < heads.size(); ++i)
    {
        const cVector3D h = a.mArmature.mBones[i].mWorldTransform.getTransform();
        worst = std::max(worst, (h - heads[i]).length());
        heads[i] = h;
    }
    return worst;
}

// One stop on the walker, frame by frame, from the release until the stand
// has stood half a second: the farthest any contact point (heel, ball, toe
// tip) moves over the ground while down on it, how often the swinging foot
// (the one not down when the fade begins) comes down, how far apart the
// ankles end along the walk, and the largest move of a bone's head in a
// frame.
struct sStop
{
    float mSlide = 0, mApartAlong = 0, mMove = 0, mSteadyMove = 0, mStride = 0;
    int mLandings = 0;
    bool mFaded = false;
};

sStop TraceStop(unsigned int walkMs, unsigned int dt)
{
    cActor a;
    LoadWalker(a, true);
    sSteering walk;
    walk.mWalk = true;
    std::vector<cVector3D> heads(a.mArmature.mBones.size());
    sStop r;
    // Down: within a thousandth of the walker's height of its floor, y = 0.
    const float ground = 0.004f;
    for (unsigned int t = 0; t < walkMs; t += dt)
    {
        const float z = a.mArmature.mRootBone->mWorldTransform._m[14];
        StepCharacter(a, dt, walk);
        const float move = HeadMove(a, heads);
        if (t > 2000)
        {
            r.mSteadyMove = std::max(r.mSteadyMove, move);
            r.mStride += a.mArmature.mRootBone->mWorldTransform._m[14] - z;
        }
    }
    // The walk runs along +z: travel per cycle.
    r.mStride *= (float)(a.mAction[kWalkSlot].mLength - kRestartTime + 1) / (float)(walkMs - 2000);

    cFootLock* feet[2] = {&a.mRightFoot, &a.mLeftFoot};
    cVector3D from[2][cFootLock::kContactPoints];
    bool down[2][cFootLock::kContactPoints] = {};
    int swing = -1;
    bool swingDown = false;
    unsigned int after = 0;
    for (unsigned int t = 0; t < 3000 && after < 500; t += dt)
    {
        StepCharacter(a, dt, sSteering());
        r.mMove = std::max(r.mMove, HeadMove(a, heads));
        for (int f = 0; f < 2; ++f)
        {
            cVector3D p[cFootLock::kContactPoints];
            feet[f]->ContactPoints(p);
            bool any = false;
            for (int k = 0; k < cFootLock::kContactPoints; ++k)
            {
                const bool now = p[k].mData[1] <= ground;
                if (now && !down[f][k])
                    from[f][k] = p[k];
                if (now)
                    r.mSlide = std::max(r.mSlide, Ground(p[k], from[f][k]));
                down[f][k] = now;
                any = any || now;
            }
            if (a.mCurrentAction == kStandSlot && swing < 0 && !any)
                swing = f;
            if (f == swing)
            {
                r.mLandings += any && !swingDown;
                swingDown = any;
            }
        }
        if (a.mCurrentAction != kStandSlot)
            continue;
        r.mFaded = true;
        if (!a.Fade().mActive)
            after += dt;
    }
    r.mApartAlong = fabsf(a.mRightFoot.mBone->mWorldTransform._m[14] - a.mLeftFoot.mBone->mWorldTransform._m[14]);
    return r;
}
} // namespace

TEST(Stop, WithBothSwitchesTheStandingFootHoldsAndTheSwingingFootLandsOnceBesideIt)
{
    for (unsigned int dt : {1u, 16u, 33u})
        for (unsigned int walkMs = 3000; walkMs < 4200; walkMs += 96)
        {
            SCOPED_TRACE("dt " + std::to_string(dt) + ", released after " + std::to_string(walkMs) + " ms");
            const sStop r = TraceStop(walkMs, dt);
            ASSERT_TRUE(r.mFaded);
            ASSERT_GT(r.mStride, 2.0f);
            // As in steady walking: under 1 % of a stride.
            EXPECT_LT(r.mSlide, 0.01f * r.mStride) << "no foot that is down moves";
            EXPECT_EQ(r.mLandings, 1) << "the swinging foot comes down once";
            // The stand's feet lie side by side, a hip width apart.
            EXPECT_LT(r.mApartAlong, 0.05f * r.mStride) << "beside the standing foot";
            EXPECT_LE(r.mMove, 1.5f * r.mSteadyMove);
        }
}

TEST(Stop, PressingWAgainDuringTheStopsFadeWalksOnWithoutASnap)
{
    for (unsigned int dt : {1u, 16u})
    {
        SCOPED_TRACE(dt);
        cActor a;
        LoadWalker(a, true);
        sSteering walk;
        walk.mWalk = true;
        std::vector<cVector3D> heads(a.mArmature.mBones.size());
        float steady = 0.0f;
        for (unsigned int t = 0; t < 3000; t += dt)
        {
            StepCharacter(a, dt, walk);
            const float move = HeadMove(a, heads);
            if (t > 2000)
                steady = std::max(steady, move);
        }
        // Released until the stop's fade is under way, with the swinging foot
        // lifted clear.
        unsigned int t = 0;
        while (t < 2000 && !(a.Fade().mActive && a.Fade().mWeight > 0.4f))
        {
            StepCharacter(a, dt, sSteering());
            HeadMove(a, heads);
            t += dt;
        }
        ASSERT_TRUE(a.Fade().mActive);
        ASSERT_EQ(a.mCurrentAction, kStandSlot);
        float worst = 0.0f;
        for (unsigned int w = 0; w < 1500; w += dt)
        {
            StepCharacter(a, dt, walk);
            worst = std::max(worst, HeadMove(a, heads));
        }
        EXPECT_EQ(a.mCurrentAction, kWalkSlot) << "walks on";
        EXPECT_FALSE(a.Fade().mActive);
        EXPECT_LE(worst, 1.5f * steady);
    }
}
