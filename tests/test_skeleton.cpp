// Bones, armatures and poses: world matrices of small hand-built skeletons,
// and pose buffers that stay independent of the armature they copy.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "QV_armature.h"
#include "QV_bone.h"
#include "QV_pose.h"
#include "QV_xml.h"
#include "support/qv_expect.h"

using qvtest::AxisAngle;
using qvtest::MatNear;
using qvtest::QuatNear;
using qvtest::Rotate;
using qvtest::SameMatrix;
using qvtest::VecNear;

namespace
{
// Links child under parent, the way the loader does.
void Link(cBone& parent, cBone& child)
{
    child.mParent = &parent;
    parent.mChildren.push_back(&child);
}

// A bone's local translation lives in mTransform (and, at load time, in the
// rest matrix it was copied from).
void Place(cBone& b, float x, float y, float z)
{
    b.mRestTransform.setTransform(x, y, z);
    b.mTransform = b.mRestTransform;
}

// root (index 0) with one child (index 1) two units up the root's y axis,
// the root itself one unit along x.
struct TwoBones
{
    cArmature arm;
    TwoBones()
    {
        arm.mBones.resize(2);
        arm.mBones[0].mName = "Bone";
        arm.mBones[1].mName = "Bone.001";
        arm.mBones[0].mLength = 2.0f;
        arm.mBones[1].mLength = 1.0f;
        Place(arm.mBones[0], 1, 0, 0);
        Place(arm.mBones[1], 0, 2, 0);
        Link(arm.mBones[0], arm.mBones[1]);
        arm.mRootBone = &arm.mBones[0];
    }
    cBone& root() { return arm.mBones[0]; }
    cBone& child() { return arm.mBones[1]; }
};

const cQuaternion kZ90 = AxisAngle(0, 0, 1, 90);
const cQuaternion kX90 = AxisAngle(1, 0, 0, 90);
} // namespace

// ---------------------------------------------------------------------------
// World matrices

TEST(BoneWorld, RootOrientationTurnsAndKeepsTranslation)
{
    cBone root;
    root.mTransform.setTransform(3, 4, 5);
    root.mOrientation = cQuaternion(0.0f, 0.0f, 0.70710678f, 0.70710678f);
    root.Update();
    // 90 degrees about z, right-handed: x onto y, y onto -x.
    EXPECT_TRUE(VecNear(Rotate(root.mWorldTransform, {1, 0, 0}), {0, 1, 0}));
    EXPECT_TRUE(VecNear(Rotate(root.mWorldTransform, {0, 1, 0}), {-1, 0, 0}));
    EXPECT_TRUE(VecNear(root.mWorldTransform.getTransform(), {3, 4, 5}, 0.0f));
}

TEST(BoneWorld, ChildHeadFollowsParentTranslationAndRotation)
{
    TwoBones s;
    s.arm.Update();
    EXPECT_TRUE(VecNear(s.child().mWorldTransform.getTransform(), {1, 2, 0}));

    s.root().mOrientation = kZ90;
    s.arm.Update();
    // The child's offset (0, 2, 0) is turned by the parent, then the parent's
    // translation is added: parent world * local, not the other way round.
    EXPECT_TRUE(VecNear(s.child().mWorldTransform.getTransform(), {-1, 0, 0}));
    EXPECT_TRUE(VecNear(s.root().mWorldTransform.getTransform(), {1, 0, 0}, 0.0f));
}

TEST(BoneWorld, OrientationActsInTheRestFrame)
{
    // Rest turned 90 degrees about x, orientation 90 degrees about z: the
    // local rotation is rest * R(orientation), so R acts first.
    cBone b;
    b.mRestTransform.setFromEuler(90, 0, 0);
    b.mTransform = b.mRestTransform;
    b.mOrientation = kZ90;
    b.Update();
    // x --R(z90)--> y --rest(x90)--> z. The other order would leave y.
    EXPECT_TRUE(VecNear(Rotate(b.mTransform, {1, 0, 0}), {0, 0, 1}));
    EXPECT_TRUE(VecNear(Rotate(b.mWorldTransform, {1, 0, 0}), {0, 0, 1}));
}

TEST(BoneWorld, TranslationComesOnlyFromTransform)
{
    TwoBones s;
    s.arm.Update();
    // Moving the rest matrix after loading moves nothing.
    s.child().mRestTransform.setTransform(0, 5, 0);
    s.arm.Update();
    EXPECT_TRUE(VecNear(s.child().mWorldTransform.getTransform(), {1, 2, 0}));
    // Moving mTransform's translation does, and Update keeps it.
    s.child().mTransform.setTransform(0, 3, 0);
    s.arm.Update();
    EXPECT_TRUE(VecNear(s.child().mWorldTransform.getTransform(), {1, 3, 0}));
    EXPECT_TRUE(VecNear(s.child().mTransform.getTransform(), {0, 3, 0}, 0.0f));
}

TEST(BoneWorld, TransformRotationIsRebuiltNotAccumulated)
{
    TwoBones s;
    s.root().mRestTransform.setFromEuler(0, 30, 0);
    s.root().mOrientation = AxisAngle(1, 0, 0, 20);
    s.child().mOrientation = AxisAngle(0, 0, 1, 50);
    s.arm.Update();
    const cMatrix4D rootWorld = s.root().mWorldTransform;
    const cMatrix4D childWorld = s.child().mWorldTransform;
    for (int i = 0; i < 50; ++i)
        s.arm.Update();
    EXPECT_TRUE(SameMatrix(s.root().mWorldTransform, rootWorld));
    EXPECT_TRUE(SameMatrix(s.child().mWorldTransform, childWorld));
}

TEST(BoneWorld, IdentityOrientationRestoresRestRotationKeepingTranslation)
{
    TwoBones s;
    s.child().mRestTransform.setFromEuler(0, 0, 40);
    s.child().mOrientation = AxisAngle(0, 1, 0, 70);
    s.child().mTransform.setTransform(0.5f, 2.5f, -1.0f);
    s.arm.Update();
    s.child().mOrientation = cQuaternion();
    s.arm.Update();
    const cMatrix4D& t = s.child().mTransform;
    const cMatrix4D& r = s.child().mRestTransform;
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            EXPECT_NEAR(t._m[c * 4 + row], r._m[c * 4 + row], 1e-6f) << "row " << row << " column " << c;
    EXPECT_TRUE(VecNear(t.getTransform(), {0.5f, 2.5f, -1.0f}, 0.0f));
}

TEST(BoneWorld, ChildrenAreUpdatedAfterTheirParentInListOrder)
{
    // root -> a, b (in that order); a -> c.
    cArmature arm;
    arm.mBones.resize(4);
    Place(arm.mBones[1], 0, 1, 0);
    Place(arm.mBones[2], 2, 0, 0);
    Place(arm.mBones[3], 0, 0, 3);
    Link(arm.mBones[0], arm.mBones[1]);
    Link(arm.mBones[0], arm.mBones[2]);
    Link(arm.mBones[1], arm.mBones[3]);
    arm.mRootBone = &arm.mBones[0];
    arm.mBones[0].mTransform.setTransform(10, 0, 0);
    arm.mBones[0].mOrientation = kZ90;
    arm.mBones[1].mOrientation = kX90;
    arm.Update();

    // Every world matrix is the one computed from a fresh parent.
    for (int i = 1; i < 4; ++i)
    {
        const cBone& b = arm.mBones[i];
        EXPECT_TRUE(MatNear(b.mWorldTransform, b.mParent->mWorldTransform * b.mTransform)) << "bone " << i;
    }
    EXPECT_TRUE(VecNear(arm.mBones[1].mWorldTransform.getTransform(), {9, 0, 0}));
    EXPECT_TRUE(VecNear(arm.mBones[2].mWorldTransform.getTransform(), {10, 2, 0}));
    // c: (0, 0, 3) turned by a's x90 then root's z90, plus a's head.
    // x90: (0, 0, 3) -> (0, -3, 0); z90: -> (3, 0, 0).
    EXPECT_TRUE(VecNear(arm.mBones[3].mWorldTransform.getTransform(), {12, 0, 0}));
}

TEST(BoneWorld, UpdateOnAChildUsesTheParentAsItStands)
{
    TwoBones s;
    s.arm.Update();
    s.root().mTransform.setTransform(7, 0, 0); // not yet propagated
    s.child().Update();
    EXPECT_TRUE(VecNear(s.child().mWorldTransform.getTransform(), {1, 2, 0}));
    EXPECT_TRUE(VecNear(s.root().mWorldTransform.getTransform(), {1, 0, 0}));
}

TEST(ArmatureUpdate, BonesNotLinkedUnderTheRootKeepTheirWorldMatrix)
{
    cArmature arm;
    arm.mBones.resize(3);
    Place(arm.mBones[1], 0, 2, 0);
    Place(arm.mBones[2], 5, 5, 5);
    Link(arm.mBones[0], arm.mBones[1]);
    arm.mRootBone = &arm.mBones[0];
    cMatrix4D marker;
    marker.setTransform(-4, -4, -4);
    arm.mBones[2].mWorldTransform = marker;
    arm.Update();
    EXPECT_TRUE(SameMatrix(arm.mBones[2].mWorldTransform, marker));
}

TEST(ArmatureUpdate, WithoutARootDoesNothing)
{
    cArmature arm;
    arm.mBones.resize(1);
    arm.mRootBone = nullptr;
    arm.mBones[0].mTransform.setTransform(1, 1, 1);
    arm.Update();
    EXPECT_TRUE(VecNear(arm.mBones[0].mWorldTransform.getTransform(), {0, 0, 0}, 0.0f));
}

namespace
{
// Seven bones listed children first, so that the list is no walk order:
// root 6 -> 2, 4; 2 -> 0, 5; 4 -> 1; 1 -> 3.
void BuildShuffledTree(cArmature& arm)
{
    arm.mBones.resize(7);
    const int parent[7] = {2, 4, 6, 1, 6, 2, -1};
    for (int i = 0; i < 7; ++i)
    {
        cBone& b = arm.mBones[i];
        Place(b, 0.3f * i, 1.0f + 0.1f * i, -0.2f * i);
        b.mRestTransform.setFromEuler(7.0f * i, -5.0f * i, 11.0f * i);
        b.mTransform = b.mRestTransform;
        b.mOrientation = AxisAngle(1, (float)i, 2, 13.0f * (float)i - 30.0f);
    }
    for (int i : {2, 4, 0, 5, 1, 3})
        Link(arm.mBones[parent[i]], arm.mBones[i]);
    arm.mRootBone = &arm.mBones[6];
}
} // namespace

TEST(ArmatureUpdate, ARecordedHierarchyGivesWhatTheLinksGiveBitForBit)
{
    cArmature linked, recorded;
    BuildShuffledTree(linked);
    BuildShuffledTree(recorded);
    recorded.RecordHierarchy();
    ASSERT_TRUE(recorded.HierarchyRecorded());
    EXPECT_FALSE(linked.HierarchyRecorded());
    for (int frame = 0; frame < 3; ++frame)
    {
        for (cArmature* arm : {&linked, &recorded})
        {
            arm->mBones[6].mTransform.translate(cVector3D(0.5f, 0, -0.25f));
            for (size_t i = 0; i < 7; ++i)
                arm->mBones[i].mOrientation = arm->mBones[i].mOrientation * AxisAngle(0, 1, 1, 9.0f + frame);
            arm->Update();
        }
        for (size_t i = 0; i < 7; ++i)
        {
            EXPECT_TRUE(SameMatrix(recorded.mBones[i].mWorldTransform, linked.mBones[i].mWorldTransform))
                << "bone " << i << ", frame " << frame;
            EXPECT_TRUE(SameMatrix(recorded.mBones[i].mTransform, linked.mBones[i].mTransform));
        }
    }
}

TEST(ArmatureUpdate, ARecordIsSetAsideWhenTheRootOrTheBonesChange)
{
    cArmature arm;
    BuildShuffledTree(arm);
    arm.RecordHierarchy();
    ASSERT_TRUE(arm.HierarchyRecorded());

    // Another root: only its own branch is updated, as the links give it.
    arm.mRootBone = &arm.mBones[4];
    EXPECT_FALSE(arm.HierarchyRecorded());
    cMatrix4D marker;
    marker.setTransform(-4, -4, -4);
    arm.mBones[2].mWorldTransform = marker;
    arm.Update();
    EXPECT_TRUE(SameMatrix(arm.mBones[2].mWorldTransform, marker)) << "outside the new root's branch";
    EXPECT_TRUE(SameMatrix(arm.mBones[3].mWorldTransform, arm.mBones[1].mWorldTransform * arm.mBones[3].mTransform));
    arm.mRootBone = &arm.mBones[6];
    EXPECT_TRUE(arm.HierarchyRecorded());

    // Bones added: the vector is another.
    arm.mBones.emplace_back();
    EXPECT_FALSE(arm.HierarchyRecorded());
}

TEST(ArmatureUpdate, LinksThatLoopOrLeaveTheBonesRecordNothing)
{
    // 0 -> 1 -> 2 -> 1: following the links would never end.
    cArmature loop;
    loop.mBones.resize(3);
    Link(loop.mBones[0], loop.mBones[1]);
    Link(loop.mBones[1], loop.mBones[2]);
    Link(loop.mBones[2], loop.mBones[1]);
    loop.mRootBone = &loop.mBones[0];
    loop.RecordHierarchy();
    EXPECT_FALSE(loop.HierarchyRecorded());

    cBone stray;
    cArmature out;
    out.mBones.resize(2);
    Link(out.mBones[0], out.mBones[1]);
    Link(out.mBones[1], stray);
    out.mRootBone = &out.mBones[0];
    out.RecordHierarchy();
    EXPECT_FALSE(out.HierarchyRecorded());

    cArmature none;
    none.RecordHierarchy();
    EXPECT_FALSE(none.HierarchyRecorded());
}

// The pass after a move of the root: two armatures kept in step, one
// updated in full every time, the other with the short pass after each move.
namespace
{
::testing::AssertionResult SameWorlds(const cArmature& a, const cArmature& b)
{
    for (size_t i = 0; i < a.mBones.size(); ++i)
        if (std::memcmp(a.mBones[i].mWorldTransform._m, b.mBones[i].mWorldTransform._m, 64) != 0 ||
            std::memcmp(a.mBones[i].mTransform._m, b.mBones[i].mTransform._m, 64) != 0)
            return ::testing::AssertionFailure() << "bone " << i << " (" << a.mBones[i].mName << ")";
    return ::testing::AssertionSuccess();
}

// Whether any world matrix's rotation columns differ in their bits.
bool RotationsDiffer(const std::vector<cMatrix4D>& before, const cArmature& arm)
{
    for (size_t i = 0; i < before.size(); ++i)
        if (std::memcmp(before[i]._m, arm.mBones[i].mWorldTransform._m, 48) != 0)
            return true;
    return false;
}

const cVector3D kMoves[] = {{0.25f, 0, -0.5f},       {-3.0f, 0.1f, 2.0f}, {2.75f, 0, -1.5f}, {1e-30f, 0, 0},
                            {-1e-30f, -0.1f, 1e30f}, {0, 0, -1e30f},      {-5.0f, 0, 0},     {10.0f, -0.05f, 0.25f}};
} // namespace

TEST(ArmatureMovedRoot, TheWalkersTranslationsComeOutAsTheWholePassGivesThem)
{
    const std::string walker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
    cActor whole, moved;
    ReadActorFromXML(walker.c_str(), whole);
    ReadActorFromXML(walker.c_str(), moved);
    int frames = 0;
    for (unsigned int t = 34; t < 1200; t += 37)
        for (const cVector3D& move : kMoves)
        {
            for (cActor* a : {&whole, &moved})
            {
                a->mPose.Set(a->mArmature);
                a->mAction[0].EvaluateAt(t, a->mPose);
                a->ApplyPose(a->mPose);
                a->mPose.mPoseRoot->mTransform.translate(move); // as the foot locks do
            }
            whole.ApplyPose(whole.mPose);
            ASSERT_TRUE(moved.mArmature.UpdateMovedRoot(moved.mPose.mPoseBones)) << "t " << t;
            ASSERT_TRUE(SameWorlds(whole.mArmature, moved.mArmature)) << "t " << t << ", move " << move;
            ++frames;
        }
    EXPECT_GT(frames, 200);
}

TEST(ArmatureMovedRoot, ZerosWhoseSignFollowsTheRootsAreRecomputed)
{
    // Rest matrices whose rotation blocks are zero (the loader accepts
    // them): the root's of negative zeros, which its negative rest
    // translation keeps negative in its world matrix, the others' of
    // positive zeros. Every rotation element of the root's child is then
    // a sum of negative zeros and, last, the root's translation times zero,
    // so the signs of the root's translation show in the bits of the
    // rotations below it. The root crosses zero on every axis.
    auto build = [](cArmature& arm) {
        arm.mBones.resize(5);
        for (size_t i = 0; i < 5; ++i)
        {
            cBone& b = arm.mBones[i];
            b.mRestTransform = cMatrix4D(std::vector<float>(16, i ? 0.0f : -0.0f).data());
            if (i == 0)
                b.mRestTransform.setTransform(-1.0f, -1.0f, -1.0f);
            else
                b.mRestTransform.setTransform(0.0f, 1.0f, 0.0f);
            b.mTransform = b.mRestTransform;
            if (i > 0)
                Link(arm.mBones[i - 1], b);
        }
        arm.mRootBone = &arm.mBones[0];
        arm.RecordHierarchy();
    };
    cArmature whole, moved;
    build(whole);
    build(moved);
    std::vector<cBone> pose = whole.mBones;
    whole.UpdateFrom(pose);
    moved.UpdateFrom(pose);
    int signsShown = 0;
    const float xs[] = {1.0f, -1.0f, -0.0f, 0.0f, 2.0f, -3.0f};
    for (float x : xs)
        for (int axis = 0; axis < 3; ++axis)
        {
            pose[0].mTransform._m[12 + axis] = x;
            std::vector<cMatrix4D> before;
            for (const cBone& b : whole.mBones)
                before.push_back(b.mWorldTransform);
            whole.UpdateFrom(pose);
            signsShown += RotationsDiffer(before, whole);
            EXPECT_TRUE(moved.UpdateMovedRoot(pose));
            ASSERT_TRUE(SameWorlds(whole, moved)) << "x " << x << ", axis " << axis;
        }
    // The case is real: translations alone would have kept the old signs.
    EXPECT_GT(signsShown, 0);
}

TEST(ArmatureMovedRoot, AnyOtherChangeTakesTheWholePass)
{
    const std::string walker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
    cActor whole, moved;
    ReadActorFromXML(walker.c_str(), whole);
    ReadActorFromXML(walker.c_str(), moved);
    enum
    {
        kOrientation,
        kChildTranslation,
        kBottomRow,
        kRootOrientation,
        kNotRecorded,
        kChanges
    };
    for (int change = 0; change < kChanges; ++change)
    {
        for (cActor* a : {&whole, &moved})
        {
            a->mPose.Set(a->mArmature);
            a->mAction[0].EvaluateAt(100 + change, a->mPose);
            a->ApplyPose(a->mPose);
            std::vector<cBone>& p = a->mPose.mPoseBones;
            p[0].mTransform.translate(cVector3D(0.5f, 0, 0));
            switch (change)
            {
            case kOrientation: p[5].mOrientation = AxisAngle(1, 0, 0, 20); break;
            case kChildTranslation: p[3].mTransform.translate(cVector3D(0, 0.25f, 0)); break;
            case kBottomRow: p[4].mTransform._m[7] = 0.5f; break;
            case kRootOrientation: p[0].mOrientation = AxisAngle(0, 1, 0, 5); break;
            case kNotRecorded: a->mArmature.mRootBone = &a->mArmature.mBones[1]; break;
            }
        }
        whole.ApplyPose(whole.mPose);
        EXPECT_FALSE(moved.mArmature.UpdateMovedRoot(moved.mPose.mPoseBones)) << "change " << change;
        EXPECT_TRUE(SameWorlds(whole.mArmature, moved.mArmature)) << "change " << change;
        for (cActor* a : {&whole, &moved})
        {
            a->mArmature.mRootBone = &a->mArmature.mBones[0];
            a->mArmature.mBones[4].mTransform._m[7] = 0.0f;
        }
    }
}

// ---------------------------------------------------------------------------
// Bones as values

TEST(BoneValue, DefaultsAreTheRestPose)
{
    cBone b;
    EXPECT_TRUE(b.mName.empty());
    EXPECT_EQ(b.mParent, nullptr);
    EXPECT_TRUE(b.mChildren.empty());
    EXPECT_TRUE(SameMatrix(b.mTransform, cMatrix4D()));
    EXPECT_TRUE(SameMatrix(b.mRestTransform, cMatrix4D()));
    EXPECT_TRUE(SameMatrix(b.mWorldTransform, cMatrix4D()));
    EXPECT_TRUE(qvtest::SameQuat(b.mOrientation, cQuaternion(0, 0, 0, 1)));
}

TEST(BoneValue, NameMatchIsExactAndCaseSensitive)
{
    cBone b;
    b.mName = "Bone.008";
    EXPECT_TRUE(b == std::string("Bone.008"));
    EXPECT_FALSE(b == std::string("bone.008"));
    EXPECT_FALSE(b == std::string("Bone.00"));
    EXPECT_FALSE(b == std::string("Bone.008 "));
}

TEST(BoneValue, CopyKeepsTheLinksOfTheSource)
{
    TwoBones s;
    const cBone copy = s.child();
    EXPECT_EQ(copy.mParent, &s.root());
    const cBone rootCopy = s.root();
    ASSERT_EQ(rootCopy.mChildren.size(), 1u);
    EXPECT_EQ(rootCopy.mChildren[0], &s.child());
}

// ---------------------------------------------------------------------------
// Poses

TEST(PoseSetup, CopiesEveryBoneAndFindsItsOwnRoot)
{
    cArmature arm;
    arm.mBones.resize(3);
    arm.mBones[0].mName = "Hand";
    arm.mBones[1].mName = "Bone";
    arm.mBones[2].mName = "Arm";
    Link(arm.mBones[1], arm.mBones[2]);
    Link(arm.mBones[2], arm.mBones[0]);
    arm.mRootBone = &arm.mBones[1];

    cPose p;
    p.Setup(arm);
    ASSERT_EQ(p.mPoseBones.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(p.mPoseBones[i].mName, arm.mBones[i].mName);
    // The pose's own copy, at the root's index, not the armature's bone.
    EXPECT_EQ(p.mPoseRoot, &p.mPoseBones[1]);
    EXPECT_NE(p.mPoseRoot, arm.mRootBone);
    // The copied links still lead into the armature.
    EXPECT_EQ(p.mPoseBones[2].mParent, &arm.mBones[1]);
}

TEST(PoseSetup, WithoutAnArmatureRootLeavesNoPoseRoot)
{
    cArmature arm;
    arm.mBones.resize(2);
    arm.mRootBone = nullptr;
    cPose p;
    p.Setup(arm);
    EXPECT_EQ(p.mPoseBones.size(), 2u);
    EXPECT_EQ(p.mPoseRoot, nullptr);
    p.Update(); // nothing to do, no crash
}

TEST(PoseSet, CarriesOrientationAndWholeTransformOnly)
{
    TwoBones s;
    s.arm.Update();
    cPose p;
    p.Setup(s.arm);
    const cMatrix4D poseWorld = p.mPoseBones[0].mWorldTransform;
    const cMatrix4D poseRest = p.mPoseBones[0].mRestTransform;

    s.root().mTransform.translate(cVector3D(0.25f, 0, -3));
    s.root().mOrientation = kX90;
    s.root().mRestTransform.setTransform(9, 9, 9);
    s.arm.Update();
    p.Set(s.arm);

    EXPECT_TRUE(VecNear(p.mPoseRoot->mTransform.getTransform(), {1.25f, 0, -3}, 0.0f));
    EXPECT_TRUE(SameMatrix(p.mPoseRoot->mTransform, s.root().mTransform));
    EXPECT_TRUE(qvtest::SameQuat(p.mPoseRoot->mOrientation, kX90));
    EXPECT_TRUE(SameMatrix(p.mPoseBones[0].mWorldTransform, poseWorld));
    EXPECT_TRUE(SameMatrix(p.mPoseBones[0].mRestTransform, poseRest));
}

TEST(PoseSet, FromALargerArmatureStaysWithinThePose)
{
    TwoBones small;
    cPose p;
    p.Setup(small.arm);
    cArmature big;
    big.mBones.resize(5);
    for (auto& b : big.mBones)
        b.mOrientation = kZ90;
    p.Set(big);
    ASSERT_EQ(p.mPoseBones.size(), 2u);
    EXPECT_TRUE(qvtest::SameQuat(p.mPoseBones[1].mOrientation, kZ90));
}

TEST(PoseSet, TwoPosesAndTheArmatureAreIndependent)
{
    TwoBones s;
    s.arm.Update();
    cPose a, b;
    a.Setup(s.arm);
    b.Setup(s.arm);
    const cMatrix4D armRoot = s.root().mTransform;

    a.mPoseRoot->mOrientation = kZ90;
    a.mPoseRoot->mTransform.translate(cVector3D(5, 0, 0));
    a.mPoseBones[1].mOrientation = kX90;

    EXPECT_TRUE(qvtest::SameQuat(b.mPoseRoot->mOrientation, cQuaternion()));
    EXPECT_TRUE(SameMatrix(b.mPoseRoot->mTransform, armRoot));
    EXPECT_TRUE(qvtest::SameQuat(s.root().mOrientation, cQuaternion()));
    EXPECT_TRUE(qvtest::SameQuat(s.child().mOrientation, cQuaternion()));
    EXPECT_TRUE(SameMatrix(s.root().mTransform, armRoot));
}

TEST(PoseBlend, EndpointsAndMidpoint)
{
    TwoBones s;
    cPose a, b;
    a.Setup(s.arm);
    b.Setup(s.arm);
    for (auto& bone : b.mPoseBones)
        bone.mOrientation = kX90;
    a.mPoseBones[0].mOrientation = cQuaternion(0, 0, 0, 2); // not unit

    cPose keep;
    keep.Setup(s.arm);
    keep.mPoseBones = a.mPoseBones;
    keep.Blend(0.0f, b);
    EXPECT_TRUE(QuatNear(keep.mPoseBones[0].mOrientation, cQuaternion(0, 0, 0, 1), 0.0f));

    cPose take;
    take.Setup(s.arm);
    take.Blend(1.0f, b);
    for (auto& bone : take.mPoseBones)
        EXPECT_TRUE(QuatNear(bone.mOrientation, kX90, 1e-6f));

    a.mPoseBones[0].mOrientation = cQuaternion();
    a.Blend(0.5f, b);
    for (auto& bone : a.mPoseBones)
        EXPECT_TRUE(QuatNear(bone.mOrientation, AxisAngle(1, 0, 0, 45), 1e-6f));
}

TEST(PoseBlend, ChangesOnlyThisPosesOrientations)
{
    TwoBones s;
    cPose a, b;
    a.Setup(s.arm);
    b.Setup(s.arm);
    b.mPoseBones[1].mOrientation = kZ90;
    b.mPoseBones[1].mTransform.setTransform(4, 4, 4);
    const cMatrix4D aTransform = a.mPoseBones[1].mTransform;
    a.Blend(0.3f, b);
    EXPECT_TRUE(SameMatrix(a.mPoseBones[1].mTransform, aTransform));
    EXPECT_TRUE(qvtest::SameQuat(b.mPoseBones[1].mOrientation, kZ90));
    EXPECT_TRUE(VecNear(b.mPoseBones[1].mTransform.getTransform(), {4, 4, 4}, 0.0f));
}

TEST(PoseBlend, OppositeOrientationsNeverTurnIntoNotANumbers)
{
    TwoBones s;
    cPose a, b;
    a.Setup(s.arm);
    b.Setup(s.arm);
    b.mPoseBones[0].mOrientation = cQuaternion(0, 0, 0, -1); // the same rotation, opposite sign
    a.Blend(0.5f, b);
    EXPECT_TRUE(qvtest::AllFinite(a.mPoseBones[0].mOrientation));
    EXPECT_TRUE(QuatNear(a.mPoseBones[0].mOrientation, cQuaternion(), 0.0f));
}

TEST(PoseBlend, AShorterSecondPoseIsNotReadPastItsEnd)
{
    TwoBones s;
    cPose a, b;
    a.Setup(s.arm);
    b.mPoseBones.resize(1);
    b.mPoseBones[0].mOrientation = kZ90;
    a.Blend(1.0f, b);
    EXPECT_TRUE(QuatNear(a.mPoseBones[0].mOrientation, kZ90, 1e-6f));
    EXPECT_TRUE(QuatNear(a.mPoseBones[1].mOrientation, cQuaternion(), 0.0f));
}

// cPose::Update walks the pose's own copies from its root down (each copied
// link leads to the pose bone with the linked bone's index) and never writes
// the armature.
TEST(PoseUpdate, ReachesThePoseCopiesAndLeavesTheArmatureAlone)
{
    // root -> a -> c, root -> b, plus d linked nowhere.
    cArmature arm;
    arm.mBones.resize(5);
    const char* names[5] = {"Bone", "A", "B", "C", "D"};
    for (int i = 0; i < 5; ++i)
        arm.mBones[i].mName = names[i];
    Place(arm.mBones[1], 0, 1, 0);
    Place(arm.mBones[2], 1, 0, 0);
    Place(arm.mBones[3], 0, 0, 2);
    Place(arm.mBones[4], 3, 3, 3);
    Link(arm.mBones[0], arm.mBones[1]);
    Link(arm.mBones[0], arm.mBones[2]);
    Link(arm.mBones[1], arm.mBones[3]);
    arm.mRootBone = &arm.mBones[0];
    arm.Update();

    cPose p;
    p.Setup(arm);
    const cMatrix4D dWorld = p.mPoseBones[4].mWorldTransform;
    p.mPoseBones[0].mOrientation = kZ90;
    p.mPoseBones[0].mTransform.setTransform(0, 0, 5);
    p.mPoseBones[1].mOrientation = kX90;
    p.mPoseBones[3].mOrientation = AxisAngle(0, 1, 0, 30);

    std::vector<cMatrix4D> armWorld, armLocal;
    std::vector<cQuaternion> armOrient;
    for (auto& b : arm.mBones)
    {
        armWorld.push_back(b.mWorldTransform);
        armLocal.push_back(b.mTransform);
        armOrient.push_back(b.mOrientation);
    }

    p.Update();

    for (size_t i = 0; i < arm.mBones.size(); ++i)
    {
        EXPECT_TRUE(SameMatrix(arm.mBones[i].mWorldTransform, armWorld[i])) << "armature bone " << i;
        EXPECT_TRUE(SameMatrix(arm.mBones[i].mTransform, armLocal[i])) << "armature bone " << i;
        EXPECT_TRUE(qvtest::SameQuat(arm.mBones[i].mOrientation, armOrient[i])) << "armature bone " << i;
    }
    // The unlinked bone is not reached.
    EXPECT_TRUE(SameMatrix(p.mPoseBones[4].mWorldTransform, dWorld));

    // The pose bones hold what the armature computes from the same values.
    for (size_t i = 0; i < arm.mBones.size(); ++i)
    {
        arm.mBones[i].mOrientation = p.mPoseBones[i].mOrientation;
        arm.mBones[i].mTransform = p.mPoseBones[i].mTransform;
    }
    arm.Update();
    for (size_t i = 0; i < 4; ++i)
        EXPECT_TRUE(SameMatrix(p.mPoseBones[i].mWorldTransform, arm.mBones[i].mWorldTransform)) << "bone " << i;
    EXPECT_TRUE(VecNear(p.mPoseBones[1].mWorldTransform.getTransform(), {-1, 0, 5}));
}
