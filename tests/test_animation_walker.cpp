// The frame step on the real character, data/walker.xml: walking carries
// the root over the ground and never up or down, turning turns the path,
// and nothing turns into not-a-numbers over a long run.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"
#include "support/qv_expect.h"

namespace
{
bool Finite(const cMatrix4D& m)
{
    for (float v : m._m)
        if (!std::isfinite(v))
            return false;
    return true;
}

class Walker : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string path = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
        try
        {
            ReadActorFromXML(path.c_str(), actor);
        }
        catch (const cXmlError& e)
        {
            FAIL() << path << ": " << e.what();
        }
        ASSERT_EQ(PrepareCharacter(actor), "");
        ASSERT_NE(actor.mLeftFoot.mBone, nullptr);
        ASSERT_NE(actor.mRightFoot.mBone, nullptr);
    }
    cVector3D Root() const { return actor.mArmature.mRootBone->mWorldTransform.getTransform(); }
    cActor actor;
};
} // namespace

TEST_F(Walker, WalkingTravelsAlongTheGroundOnly)
{
    // Settle into the walk first: the first frames' locks measure from the
    // origin.
    actor.mNextAction = 0;
    for (int i = 0; i < 10; ++i)
        actor.Animate(16);
    const float height = actor.mArmature.mRootBone->mTransform.getTransform().mData[1];
    const cVector3D start = Root();
    int lockedFrames = 0;
    for (int frame = 0; frame < 600; ++frame) // about ten seconds
    {
        actor.Animate(16);
        ASSERT_EQ(actor.mArmature.mRootBone->mTransform.getTransform().mData[1], height) << "frame " << frame;
        if (actor.mLeftFoot.mLock || actor.mRightFoot.mLock)
            ++lockedFrames;
        EXPECT_EQ(actor.mLeftFoot.mOffset.mData[1], 0.0f);
        EXPECT_EQ(actor.mRightFoot.mOffset.mData[1], 0.0f);
    }
    for (const cBone& b : actor.mArmature.mBones)
        EXPECT_TRUE(Finite(b.mWorldTransform)) << b.mName;
    const cVector3D moved = Root() - start;
    const float distance = std::hypot(moved.mData[0], moved.mData[2]);
    EXPECT_GT(lockedFrames, 300);
    EXPECT_GT(distance, 1.0f) << "the walk should carry the character over the ground";
}

TEST_F(Walker, TurningBendsThePath)
{
    actor.mNextAction = 0;
    for (int i = 0; i < 10; ++i)
        actor.Animate(16);
    // Walk straight for a while, then keep turning left (the application's
    // 0.1 degree per millisecond) and compare the directions travelled.
    cVector3D a = Root();
    for (int i = 0; i < 200; ++i)
        actor.Animate(16);
    cVector3D b = Root();
    for (int i = 0; i < 200; ++i)
    {
        actor.mHeading += 0.1f * 16;
        actor.Animate(16);
    }
    cVector3D c = Root();
    cVector3D straight = b - a;
    cVector3D turned = c - b;
    straight.mData[1] = turned.mData[1] = 0.0f;
    ASSERT_GT(straight.length(), 0.1f);
    ASSERT_GT(turned.length(), 0.1f);
    straight.normalize();
    turned.normalize();
    EXPECT_LT(straight.dot(turned), 0.95f) << "the path should bend while turning";
    for (const cBone& bone : actor.mArmature.mBones)
        EXPECT_TRUE(Finite(bone.mWorldTransform)) << bone.mName;
}

TEST_F(Walker, StandingKeepsTheCharacterRoughlyInPlace)
{
    actor.mNextAction = 1;
    for (int i = 0; i < 10; ++i)
        actor.Animate(16);
    const cVector3D start = Root();
    for (int frame = 0; frame < 300; ++frame)
        actor.Animate(16);
    const cVector3D moved = Root() - start;
    EXPECT_EQ(moved.mData[1], 0.0f);
    EXPECT_LT(std::hypot(moved.mData[0], moved.mData[2]), 0.5f);
}
