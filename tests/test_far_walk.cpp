// Walking far from the origin: the walker placed 2^22 units out walks as it
// does at the origin, and a long walk that crosses the re-centring distance
// again and again moves smoothly in true (shifted-back) positions.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"

namespace
{
// What a walk did: horizontal distance between the true start and end of
// the root, and the frames in which each foot lock held its foot.
struct sWalk
{
    double mDistance = 0.0;
    int mLeftLocked = 0;
    int mRightLocked = 0;
};

void LoadWalker(cActor& actor)
{
    const std::string path = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
    ReadActorFromXML(path.c_str(), actor);
    EXPECT_EQ(PrepareCharacter(actor), "");
}

// The root's true position: where the library holds it plus the shift.
void TrueRoot(const cActor& a, double out[3])
{
    const cMatrix4D& m = a.mArmature.mRootBone->mWorldTransform;
    for (int i = 0; i < 3; ++i)
        out[i] = (double)m._m[12 + i] + (double)a.mOriginShift[i];
}

// Puts the standing character `x` and `z` units out, as a program placing it
// there would: the root moved, the world matrices and the locks' remembered
// feet recomputed there.
void PlaceAt(cActor& a, float x, float z)
{
    a.mArmature.mRootBone->mTransform._m[12] += x;
    a.mArmature.mRootBone->mTransform._m[14] += z;
    a.UpdateArmature();
    a.SetConstraints();
}

// A minute of walking straight on in the demo's 16 ms frames.
sWalk WalkAMinute(cActor& a)
{
    sWalk w;
    double start[3], end[3];
    TrueRoot(a, start);
    sSteering walk;
    walk.mWalk = true;
    for (int frame = 0; frame < 3750; ++frame)
    {
        StepCharacter(a, 16, walk);
        w.mLeftLocked += a.mLeftFoot.mLock ? 1 : 0;
        w.mRightLocked += a.mRightFoot.mLock ? 1 : 0;
    }
    TrueRoot(a, end);
    w.mDistance = std::hypot(end[0] - start[0], end[2] - start[2]);
    return w;
}
} // namespace

TEST(FarWalk, TwoToTheTwentySecondUnitsOutTheWalkerWalksAsAtTheOrigin)
{
    cActor home;
    LoadWalker(home);
    const sWalk atHome = WalkAMinute(home);
    ASSERT_GT(atHome.mDistance, 50.0) << "the walker barely walked at the origin";
    EXPECT_EQ(home.mOriginShift[0], 0);

    cActor far;
    LoadWalker(far);
    const float out = 4194304.0f; // 2^22: floats there step by half a unit
    PlaceAt(far, out, -out);
    const sWalk away = WalkAMinute(far);
    EXPECT_NEAR(away.mDistance, atHome.mDistance, 0.01 * atHome.mDistance);
    EXPECT_EQ(away.mLeftLocked, atHome.mLeftLocked);
    EXPECT_EQ(away.mRightLocked, atHome.mRightLocked);

    // The actor knows where it truly is: about 2^22 units out on both axes,
    // while its own numbers stay near the origin.
    double root[3];
    TrueRoot(far, root);
    EXPECT_NEAR(root[0], 4194304.0, 200.0);
    EXPECT_NEAR(root[2], -4194304.0, 200.0);
    const cVector3D held = far.mArmature.mRootBone->mWorldTransform.getTransform();
    EXPECT_LE(std::fabs(held.mData[0]), cActor::kRecentreDistance + 1.0f);
    EXPECT_LE(std::fabs(held.mData[2]), cActor::kRecentreDistance + 1.0f);
}

// Ten minutes of walking, zig-zagging, at the demo's frame step: the scene is
// moved back many times, and in true positions the root never jumps, the
// foot locks' remembered feet stay with the body, and every bone stays at
// its distance from the root.
static void WalkTenMinutesZigZag(bool switchesOn)
{
    SCOPED_TRACE(switchesOn ? "cross-fade and contact locks on" : "switches off");
    cActor a;
    LoadWalker(a);
    a.mCrossFade = a.mContactLock = switchesOn;
    sSteering steer;
    steer.mWalk = true;
    for (int frame = 0; frame < 10; ++frame) // the first step from standing jumps a little
        StepCharacter(a, 16, steer);
    double last[3];
    TrueRoot(a, last);
    int shifts = 0;
    long long lastX = 0, lastZ = 0;
    for (int frame = 0; frame < 37500; ++frame)
    {
        // Zig-zag: 45 degrees left, half a minute on, 45 degrees back right.
        const int phase = frame % 3750;
        steer.mTurnLeft = phase < 28;
        steer.mTurnRight = phase >= 1875 && phase < 1903;
        StepCharacter(a, 16, steer);
        double root[3];
        TrueRoot(a, root);
        ASSERT_LT(std::hypot(root[0] - last[0], root[2] - last[2]), 0.2) << "the root jumped at frame " << frame;
        for (int i = 0; i < 3; ++i)
            last[i] = root[i];
        const cVector3D r = a.mArmature.mRootBone->mWorldTransform.getTransform();
        for (const cFootLock* lock : {&a.mLeftFoot, &a.mRightFoot})
        {
            ASSERT_LT((lock->mLastPosition - r).length(), 3.0f) << "a foot marker left the body at frame " << frame;
            // The contact points are followed only while the contact locks are on.
            for (const cVector3D& point : lock->mContactLast)
                ASSERT_TRUE(!switchesOn || (point - r).length() < 3.0f)
                    << "a contact point left the body at frame " << frame;
        }
        for (const cBone& b : a.mArmature.mBones)
            ASSERT_LT((b.mWorldTransform.getTransform() - r).length(), 3.0f) << b.mName << " at frame " << frame;
        if (a.mOriginShift[0] != lastX || a.mOriginShift[2] != lastZ)
            ++shifts;
        lastX = a.mOriginShift[0];
        lastZ = a.mOriginShift[2];
    }
    EXPECT_GE(shifts, 3) << "the walk never went far enough to be moved back";
}

TEST(FarWalk, MovingTheSceneBackIsInvisibleInTruePositions)
{
    WalkTenMinutesZigZag(false);
    WalkTenMinutesZigZag(true);
}
