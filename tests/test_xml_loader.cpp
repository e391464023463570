// The actor file loader on well-formed files: what a file turns into.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

namespace
{

// Loads into the caller's actor: the bones' links point into its vectors.
void Load(const std::string& text, cActor& actor) { ReadActorFromMemory(text.data(), text.size(), actor); }

void ExpectMatrix(const cMatrix4D& m, const float (&expected)[16], float tol = 0.0f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m._m[i], expected[i], tol) << "element " << i;
}

} // namespace

TEST(XmlLoaderExample, LoadsToTheStatedValues)
{
    cActor a;
    Load(xmltest::Example(), a);

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
    for (unsigned int i = 1; i < kActionSlots; ++i)
    {
        EXPECT_TRUE(a.mAction[i].mName.empty());
        EXPECT_TRUE(a.mAction[i].mChannels.empty());
    }
}

namespace
{

// The rest matrix of the second (non-root) bone of the example, with its
// matrix text replaced.
cMatrix4D ChildMatrix(const std::string& matrixText)
{
    cActor a;
    Load(Edit(Example(), "1,0,0,0, 0,1,0,1.2, 0,0,1,0", matrixText), a);
    return a.mArmature.mBones[1].mRestTransform;
}

} // namespace

TEST(XmlLoaderLayout, ElementsInEitherOrderLoadTheSameActor)
{
    const std::string reversed =
        "<QVArmature><actions>" + ExampleAction() + "</actions><armature name=\"figure\"><heirachy>" + ExampleNodes() +
        "</heirachy><skeleton bones=\"2\">" + ExampleBones() + "</skeleton></armature></QVArmature>";
    cActor a;
    Load(reversed, a);
    ASSERT_EQ(a.mArmature.mBones.size(), 2u);
    EXPECT_EQ(a.mArmature.mRootBone, &a.mArmature.mBones[0]);
    EXPECT_EQ(a.mArmature.mBones[1].mParent, &a.mArmature.mBones[0]);
    EXPECT_EQ(a.mAction[0].mName, "nod");
    EXPECT_EQ(a.mAction[0].mChannels.size(), 2u);
}

TEST(XmlLoaderLayout, DeclarationCommentsAndLineEndingsAreIgnored)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- an actor -->\n" +
                       Edit(Example(), "<heirachy>", "<heirachy><!-- the tree -->") + "<!-- end -->\n";
    cActor a;
    Load(text, a);
    EXPECT_EQ(a.mName, "figure");
    EXPECT_EQ(a.mArmature.mBones[1].mParent, &a.mArmature.mBones[0]);

    // Windows line endings and a byte-order mark.
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : Example())
        crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
    cActor b;
    Load(crlf, b);
    EXPECT_EQ(b.mName, "figure");
    EXPECT_EQ(b.mArmature.mBones.size(), 2u);
}

TEST(XmlLoaderLayout, NodeTextLosesSurroundingBlanksButNamesKeepThem)
{
    cActor a;
    Load(Edit(Example(), ">Bone</node>", ">\n   Bone \t </node>"), a);
    EXPECT_EQ(a.mArmature.mBones[1].mParent, &a.mArmature.mBones[0]);

    // A node whose name attribute has a leading blank describes no bone.
    cActor b;
    const std::string text = Edit(Example(), "<node name=\"Bone.001\">", "<node name=\" Bone.001\">");
    EXPECT_THROW(ReadActorFromMemory(text.data(), text.size(), b), cXmlError);
}

TEST(XmlLoaderLayout, AnyElementAfterTheFirstBoneNodeActionOrChannelCounts)
{
    // A sibling of another name after the first bone is read as a bone.
    std::string text =
        Edit(Example(), "<bone name=\"Bone.001\" len=\"0.8\"><matrix>1,0,0,0, 0,1,0,1.2, 0,0,1,0</matrix></bone>",
             "<joint name=\"Bone.001\" len=\"0.8\"><matrix>1,0,0,0, 0,1,0,1.2, 0,0,1,0</matrix></joint>");
    cActor b;
    Load(text, b);
    ASSERT_EQ(b.mArmature.mBones.size(), 2u);
    EXPECT_EQ(b.mArmature.mBones[1].mName, "Bone.001");
    EXPECT_EQ(b.mArmature.mBones[1].mParent, &b.mArmature.mBones[0]);

    // Between keys, elements of other names are skipped.
    const std::string keys = Key("0", "1", "0", "0", "0") + "<note t=\"5\"/>" + Key("1000", "1", "0", "0", "0");
    cActor c;
    Load(Document(ExampleArmature(), Action("nod", "1000", Channel("2", keys) + IdentityChannel())), c);
    ASSERT_EQ(c.mAction[0].mChannels[0].mKeyFrames.size(), 2u);
    EXPECT_EQ(c.mAction[0].mChannels[0].mKeyFrames[1].mTime, 1000u);

    // Elements before the first "bone" are not bones.
    cActor d;
    Load(Edit(Example(), "<skeleton bones=\"2\">", "<skeleton bones=\"2\"><info/>"), d);
    EXPECT_EQ(d.mArmature.mBones.size(), 2u);
}

TEST(XmlLoaderNumbers, CountsAndTimesAreTruncated)
{
    std::string text = Edit(Example(), "<skeleton bones=\"2\">", "<skeleton bones=\"2.9\">");
    text = Edit(text, "<keyframes keys=\"2\">", "<keyframes keys=\"2.99\">");
    text = Edit(text, "<key t=\"1000\">", "<key t=\"33.9\">");
    text = Edit(text, "<action name=\"nod\" len=\"1000\">", "<action name=\"nod\" len=\"999.99\">");
    cActor a;
    Load(text, a);
    EXPECT_EQ(a.mArmature.mBones.size(), 2u);
    EXPECT_EQ(a.mAction[0].mChannels[0].mKeyFrames.size(), 2u);
    EXPECT_EQ(a.mAction[0].mChannels[0].mKeyFrames[1].mTime, 33u);
    EXPECT_EQ(a.mAction[0].mLength, 999u);
}

TEST(XmlLoaderNumbers, AttributesReadThroughAtof)
{
    // Characters after the number are ignored; blanks before it are skipped;
    // an exponent is honoured; the quaternion is stored as written (not
    // normalised: its length, 1.003, is within the loader's tolerance).
    std::string text = Edit(Example(), "len=\"1.2\"", "len=\" 1.5e0m\"");
    text = Edit(text, "w=\"0.7071\" x=\"0.7071\"", "w=\"6e-1\" x=\"-0.805\"");
    cActor a;
    Load(text, a);
    EXPECT_EQ(a.mArmature.mBones[0].mLength, 1.5f);
    const cQuaternion& q = a.mAction[0].mChannels[1].mKeyFrames[1].mValue;
    EXPECT_EQ(q.mData[3], 0.6f);
    EXPECT_EQ(q.mData[0], -0.805f);
}

TEST(XmlLoaderMatrix, FieldsFillTheRowsOfTheTopThreeRows)
{
    const cMatrix4D m = ChildMatrix("1,2,3,4, 5,6,7,8, 9,10,11,12");
    const float expected[16] = {1, 5, 9, 0, 2, 6, 10, 0, 3, 7, 11, 0, 4, 8, 12, 1};
    ExpectMatrix(m, expected);
}

TEST(XmlLoaderMatrix, RootIsTurnedAsAWholeAndOthersAreNot)
{
    // Root: rotation (x, y, z) -> (x, z, -y), translation (0, 3, -2).
    cActor a;
    Load(Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", "1,0,0,0,0,1,0,2,0,0,1,3"), a);
    const cMatrix4D& r = a.mArmature.mBones[0].mRestTransform;
    const cVector3D y = r * cVector3D(0, 1, 0) - r * cVector3D(0, 0, 0);
    EXPECT_NEAR(y.mData[0], 0.0f, 1e-6f);
    EXPECT_NEAR(y.mData[1], 0.0f, 1e-6f);
    EXPECT_NEAR(y.mData[2], -1.0f, 1e-6f);
    EXPECT_NEAR(r._m[12], 0.0f, 1e-6f);
    EXPECT_NEAR(r._m[13], 3.0f, 1e-6f);
    EXPECT_NEAR(r._m[14], -2.0f, 1e-6f);

    // The same text on a non-root bone: identity rotation, translation (0, 2, 3).
    const cMatrix4D c = ChildMatrix("1,0,0,0,0,1,0,2,0,0,1,3");
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 2, 3, 1};
    ExpectMatrix(c, expected);
}

TEST(XmlLoaderMatrix, SixteenNumbersAndLineBreaksReadLikeTwelve)
{
    const cMatrix4D twelve = ChildMatrix("1,2,3,4,5,6,7,8,9,10,11,12");
    const cMatrix4D sixteen = ChildMatrix("1,2,3,4, 5,6,7,8, 9,10,11,12, 0,0,0,1");
    const cMatrix4D lines = ChildMatrix("1, 2, 3, 4,\n  5, 6, 7, 8,\n  9, 10, 11, 12");
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_EQ(sixteen._m[i], twelve._m[i]) << i;
        EXPECT_EQ(lines._m[i], twelve._m[i]) << i;
    }
}

TEST(XmlLoaderMatrix, AFieldThatIsNotANumberSpoilsTheLaterFields)
{
    // Field 3 fails; its characters stay in the stream in front of every
    // later field, so those fail as well and read 0. Earlier fields stand.
    const cMatrix4D m = ChildMatrix("1,2,x3,4, 5,6,7,8, 9,10,11,12");
    EXPECT_EQ(m._m[0], 1.0f);
    EXPECT_EQ(m._m[4], 2.0f);
    const int later[] = {8, 12, 1, 5, 9, 13, 2, 6, 10, 14};
    for (int i : later)
        EXPECT_EQ(m._m[i], 0.0f) << i;
    EXPECT_EQ(m._m[15], 1.0f);

    // An empty field fails alone: nothing stays behind.
    const cMatrix4D e = ChildMatrix("1,,3,4, 5,6,7,8, 9,10,11,12");
    EXPECT_EQ(e._m[4], 0.0f);
    EXPECT_EQ(e._m[8], 3.0f);
    EXPECT_EQ(e._m[14], 12.0f);

    // Trailing characters that cannot start a number spoil what follows too.
    const cMatrix4D t = ChildMatrix("1,2m,3,4, 5,6,7,8, 9,10,11,12");
    EXPECT_EQ(t._m[4], 2.0f);
    EXPECT_EQ(t._m[8], 0.0f);
    EXPECT_EQ(t._m[14], 0.0f);
}

TEST(XmlLoaderMatrix, LoadMatrixLeavesTheBottomRowAlone)
{
    TiXmlDocument doc;
    doc.Parse("<matrix>1,2,3,4,5,6,7,8,9,10,11,12</matrix>");
    cMatrix4D m;
    for (int i = 0; i < 16; ++i)
        m._m[i] = -7.0f;
    LoadMatrix(doc.RootElement(), m);
    EXPECT_EQ(m._m[3], -7.0f);
    EXPECT_EQ(m._m[7], -7.0f);
    EXPECT_EQ(m._m[11], -7.0f);
    EXPECT_EQ(m._m[15], -7.0f);
    EXPECT_EQ(m._m[13], 8.0f);
}

TEST(XmlLoaderHierarchy, NodeOrderDoesNotChangeTheTreeButOrdersChildren)
{
    const std::string bones = Bone("Root", "1", "1,0,0,0,0,1,0,0,0,0,1,0") + Bone("A", "1", "1,0,0,0,0,1,0,0,0,0,1,0") +
                              Bone("B", "1", "1,0,0,0,0,1,0,0,0,0,1,0");
    const std::string channels = IdentityChannel() + IdentityChannel() + IdentityChannel();
    // Children's nodes before their parent's, B's before A's.
    cActor a;
    Load(Document(Armature("t", "3", bones, Node("B", "Root") + Node("A", "Root") + Node("Root", "NULL")),
                  Action("x", "1000", channels)),
         a);
    std::vector<cBone>& bs = a.mArmature.mBones;
    EXPECT_EQ(a.mArmature.mRootBone, &bs[0]);
    ASSERT_EQ(bs[0].mChildren.size(), 2u);
    EXPECT_EQ(bs[0].mChildren[0], &bs[2]);
    EXPECT_EQ(bs[0].mChildren[1], &bs[1]);
    EXPECT_EQ(bs[1].mParent, &bs[0]);
    EXPECT_EQ(bs[2].mParent, &bs[0]);
    // The pose of the linked armature finds the same root.
    EXPECT_EQ(a.mPose.mPoseRoot, &a.mPose.mPoseBones[0]);
}

TEST(XmlLoaderActions, ActionsFillSlotsInFileOrder)
{
    const std::string ch = IdentityChannel() + IdentityChannel();
    cActor a;
    Load(Document(ExampleArmature(),
                  Action("walk", "800", ch) + Action("stand", "500", ch) + Action("walk2", "900", ch)),
         a);
    EXPECT_EQ(a.mAction[0].mName, "walk");
    EXPECT_EQ(a.mAction[1].mName, "stand");
    EXPECT_EQ(a.mAction[2].mName, "walk2");
    EXPECT_EQ(a.mAction[0].mLength, 800u);
    EXPECT_EQ(a.mAction[1].mLength, 500u);
    EXPECT_EQ(a.mAction[2].mLength, 900u);
}

TEST(XmlLoaderActions, FewerChannelsThanBonesLeaveTheRestEmpty)
{
    cActor a;
    Load(Document(ExampleArmature(), Action("nod", "1000", IdentityChannel())), a);
    ASSERT_EQ(a.mAction[0].mChannels.size(), 2u);
    EXPECT_EQ(a.mAction[0].mChannels[0].mKeyFrames.size(), 2u);
    EXPECT_TRUE(a.mAction[0].mChannels[1].mKeyFrames.empty());
}

TEST(XmlLoaderActions, EqualKeyTimesAndKeysAfterTheLengthLoad)
{
    const std::string keys =
        Key("0", "1", "0", "0", "0") + Key("0", "1", "0", "0", "0") + Key("1500", "1", "0", "0", "0");
    cActor a;
    Load(Document(ExampleArmature(), Action("nod", "1000", Channel("3", keys))), a);
    ASSERT_EQ(a.mAction[0].mChannels[0].mKeyFrames.size(), 3u);
    EXPECT_EQ(a.mAction[0].mChannels[0].mKeyFrames[2].mTime, 1500u);
}

TEST(XmlLoaderFiles, ReadsAFileFromDisk)
{
    const std::string path = std::string(QV_BINARY_DIR) + "/test_xml_loader_example.xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string text = Example();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    cActor a;
    ReadActorFromXML(path.c_str(), a);
    EXPECT_EQ(a.mName, "figure");
    EXPECT_EQ(a.mArmature.mBones.size(), 2u);
    std::remove(path.c_str());
}

TEST(XmlLoaderFiles, TextAfterANulByteIsIgnored)
{
    std::string text = Example();
    text += '\0';
    text += "<garbage";
    cActor a;
    Load(text, a);
    EXPECT_EQ(a.mName, "figure");
}

TEST(XmlLoaderFiles, TheDocumentedExampleLoads)
{
    std::ifstream in(std::string(QV_SOURCE_DIR) + "/docs/actor-file.md");
    std::stringstream doc;
    doc << in.rdbuf();
    const std::string md = doc.str();
    const size_t start = md.find("```xml\n");
    ASSERT_NE(start, std::string::npos);
    const size_t end = md.find("```", start + 7);
    ASSERT_NE(end, std::string::npos);
    cActor a;
    Load(md.substr(start + 7, end - start - 7), a);
    EXPECT_EQ(a.mName, "figure");
    ASSERT_EQ(a.mArmature.mBones.size(), 2u);
    EXPECT_EQ(a.mArmature.mBones[1].mParent, &a.mArmature.mBones[0]);
    EXPECT_EQ(a.mAction[0].mChannels[1].mKeyFrames[1].mValue.mData[0], 0.7071f);
}
