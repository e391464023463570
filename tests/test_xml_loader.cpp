// The actor file loader on well-formed files: what a file turns into.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "QV_xml.h"
#include "data/xml_test_files.h"

namespace
{

cActor Load(const std::string& text)
{
    cActor actor;
    ReadActorFromMemory(text.data(), text.size(), actor);
    return actor;
}

void ExpectMatrix(const cMatrix4D& m, const float (&expected)[16], float tol = 0.0f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m._m[i], expected[i], tol) << "element " << i;
}

} // namespace

TEST(XmlLoaderExample, LoadsToTheStatedValues)
{
    cActor a = Load(xmltest::Example());

    EXPECT_EQ(a.mName, "figure");
    ASSERT_EQ(a.mArmature.mBones.size(), 2u);
    cBone& root = a.mArmature.mBones[0];
    cBone& child = a.mArmature.mBones[1];
    EXPECT_EQ(root.mName, "Bone");
    EXPECT_EQ(child.mName, "Bone.001");
    EXPECT_FLOAT_EQ(root.mLength, 1.2f);
    EXPECT_FLOAT_EQ(child.mLength, 0.8f);

    // The root: identity rotation, translation (0, 0, 1) in the file, turned
    // by -90 degrees about x: (x, y, z) -> (x, z, -y), translation (0, 1, 0).
    EXPECT_EQ(a.mArmature.mRootBone, &root);
    EXPECT_EQ(root.mParent, nullptr);
    const float rootRest[16] = {1, 0, 0, 0, 0, 0, -1, 0, 0, 1, 0, 0, 0, 1, 0, 1};
    ExpectMatrix(root.mRestTransform, rootRest, 1e-6f);
    ExpectMatrix(root.mTransform, rootRest, 1e-6f);
    // The fix-up's own zeros are the float cosine of -90 degrees, not 0.
    cMatrix4D fixup;
    fixup.setFromEuler(-90.0f, 0.0f, 0.0f);
    EXPECT_EQ(root.mRestTransform._m[5], fixup._m[5]);
    EXPECT_EQ(root.mRestTransform._m[10], fixup._m[10]);

    // The child keeps its file matrix: origin 1.2 along the root's +y.
    const float childRest[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 1.2f, 0, 1};
    ExpectMatrix(child.mRestTransform, childRest);
    ExpectMatrix(child.mTransform, childRest);
    EXPECT_EQ(child.mParent, &root);
    ASSERT_EQ(root.mChildren.size(), 1u);
    EXPECT_EQ(root.mChildren[0], &child);
    EXPECT_TRUE(child.mChildren.empty());

    // Both poses are copies of the finished armature.
    ASSERT_EQ(a.mPose.mPoseBones.size(), 2u);
    ASSERT_EQ(a.mPose2.mPoseBones.size(), 2u);
    EXPECT_EQ(a.mPose.mPoseRoot, &a.mPose.mPoseBones[0]);
    EXPECT_EQ(a.mPose2.mPoseRoot, &a.mPose2.mPoseBones[0]);
    ExpectMatrix(a.mPose.mPoseBones[0].mRestTransform, rootRest, 1e-6f);

    // The one action.
    EXPECT_EQ(a.mAction[0].mName, "nod");
    EXPECT_EQ(a.mAction[0].mLength, 1000u);
    ASSERT_EQ(a.mAction[0].mChannels.size(), 2u);
    for (const cChannel& c : a.mAction[0].mChannels)
    {
        ASSERT_EQ(c.mKeyFrames.size(), 2u);
        EXPECT_EQ(c.mKeyFrames[0].mTime, 0u);
        EXPECT_EQ(c.mKeyFrames[1].mTime, 1000u);
        EXPECT_EQ(c.mKeyFrames[0].mValue.mData[3], 1.0f);
        EXPECT_EQ(c.mKeyFrames[0].mValue.mData[0], 0.0f);
    }
    const cQuaternion& q = a.mAction[0].mChannels[1].mKeyFrames[1].mValue;
    EXPECT_EQ(q.mData[0], 0.7071f);
    EXPECT_EQ(q.mData[1], 0.0f);
    EXPECT_EQ(q.mData[2], 0.0f);
    EXPECT_EQ(q.mData[3], 0.7071f);
    for (int i = 1; i < 3; ++i)
    {
        EXPECT_TRUE(a.mAction[i].mName.empty());
        EXPECT_TRUE(a.mAction[i].mChannels.empty());
    }
}
