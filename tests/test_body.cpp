// The skinned body: read from the actor file (upright, weights normalised,
// the texture's base64),
// bound to the rest pose, skinned with the bones (positions, blends at a
// joint, normals), without allocating; and every rule the reader checks in a
// body, each broken alone, refused with its one line.

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "QV_base64.h"
#include "QV_body.h"
#include "QV_xml.h"
#include "data/xml_test_files.h"
#include "support/alloc_counter.h"
#include "support/qv_expect.h"

using namespace xmltest;

namespace
{

void Load(const std::string& text, cActor& actor) { ReadActorFromMemory(text.data(), text.size(), actor); }

// The point at (x, y, z) in a bone's own frame, placed by its world matrix.
cVector3D InBone(const cBone& b, float x, float y, float z) { return b.mWorldTransform * cVector3D(x, y, z); }

TEST(BodyReading, AFileWithoutABodyHasAnEmptyBody)
{
    cActor actor;
    Load(Example(), actor);
    EXPECT_TRUE(actor.mBody.Empty());
    EXPECT_EQ(actor.mBody.VertexCount(), 0u);
    EXPECT_TRUE(actor.mBody.mTexture.Empty());
}

TEST(BodyReading, TheBodyIsTurnedUprightLikeTheRootAndItsWeightsAreNormalised)
{
    cActor actor;
    Load(ExampleWithBody(Edit(ExampleBody(), "0 0.5 1 0.5; 0 0.5 1 0.5;", "0 0.499 1 0.499; 0 0.25 1 0.75;")), actor);
    const cBody& body = actor.mBody;
    ASSERT_EQ(body.VertexCount(), 6u);
    ASSERT_EQ(body.TriangleCount(), 4u);
    // The file's (x, y, z) is (x, z, -y) upright: +z up becomes +y up.
    EXPECT_TRUE(qvtest::VecNear(body.mRestPositions[0], cVector3D(0.1f, 1.0f, 0.0f)));
    EXPECT_TRUE(qvtest::VecNear(body.mRestPositions[3], cVector3D(-0.1f, 1.0f, -2.0f)));
    EXPECT_TRUE(qvtest::VecNear(body.mRestNormals[5], cVector3D(0.0f, 1.0f, 0.0f)));
    // 0.499 + 0.499 is within the tolerance and stored as halves.
    EXPECT_EQ(body.mInfluences[4].mCount, 2u);
    EXPECT_FLOAT_EQ(body.mInfluences[4].mWeight[0], 0.5f);
    EXPECT_FLOAT_EQ(body.mInfluences[4].mWeight[1], 0.5f);
    EXPECT_FLOAT_EQ(body.mInfluences[5].mWeight[1], 0.75f);
    EXPECT_EQ(body.mInfluences[2].mBone[0], 1u);
    EXPECT_EQ(body.mTriangles[5], 4u);
    EXPECT_TRUE(body.mTexCoords.empty());
    // Bound: one bind inverse and one skin matrix a bone, the skinned
    // buffers sized like the rest ones.
    EXPECT_EQ(body.mBindInverse.size(), 2u);
    EXPECT_EQ(body.mSkinMatrices.size(), 2u);
    EXPECT_EQ(body.mPositions.size(), 6u);
    EXPECT_EQ(body.mNormals.size(), 6u);
}

TEST(BodyReading, NormalsAreReadAsDirectionsOfUnitLength)
{
    cActor actor;
    Load(ExampleWithBody(Edit(ExampleBody(), "<normals>0 0 1 ", "<normals>3 0 4 ")), actor);
    EXPECT_TRUE(qvtest::VecNear(actor.mBody.mRestNormals[0], cVector3D(0.6f, 0.8f, 0.0f)));
}

TEST(BodyReading, TexCoordsAreKeptAsWritten)
{
    cActor actor;
    const std::string uv = "<texcoords>0 0  1 0  0 1  1 1  0 0.6  1 0.6</texcoords>\n";
    Load(ExampleWithBody(Edit(ExampleBody(), "<weights>", uv + "<weights>")), actor);
    ASSERT_EQ(actor.mBody.mTexCoords.size(), 12u);
    EXPECT_FLOAT_EQ(actor.mBody.mTexCoords[5], 1.0f);
    EXPECT_FLOAT_EQ(actor.mBody.mTexCoords[11], 0.6f);
}

class BodySkinning : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Load(ExampleWithBody(), actor);
        actor.UpdateArmature();
    }
    cBone& Bone(int i) { return actor.mArmature.mBones[i]; }
    void Turn(int bone, float x, float y, float z)
    {
        Bone(bone).mOrientation.setFromEuler(x, y, z);
        actor.UpdateArmature();
        actor.mBody.Skin(actor.mArmature);
    }
    cActor actor;
};

TEST_F(BodySkinning, AtRestTheSkinnedBodyIsTheRestBody)
{
    actor.mBody.Skin(actor.mArmature);
    for (size_t i = 0; i < actor.mBody.VertexCount(); ++i)
    {
        EXPECT_TRUE(qvtest::VecNear(actor.mBody.mPositions[i], actor.mBody.mRestPositions[i])) << "vertex " << i;
        EXPECT_TRUE(qvtest::VecNear(actor.mBody.mNormals[i], actor.mBody.mRestNormals[i])) << "vertex " << i;
    }
}

TEST_F(BodySkinning, VerticesFollowTheirBonesAndBlendAtTheJoint)
{
    Turn(0, 0.0f, 0.0f, 30.0f);
    Turn(1, 50.0f, 0.0f, 20.0f);
    const cBody& body = actor.mBody;
    // Each vertex keeps its place in its bone's frame: the strip's ends lie
    // 0.1 to either side of the head of Bone and the tip of Bone.001.
    EXPECT_TRUE(qvtest::VecNear(body.mPositions[0], InBone(Bone(0), 0.1f, 0.0f, 0.0f)));
    EXPECT_TRUE(qvtest::VecNear(body.mPositions[1], InBone(Bone(0), -0.1f, 0.0f, 0.0f)));
    EXPECT_TRUE(qvtest::VecNear(body.mPositions[2], InBone(Bone(1), 0.1f, 0.8f, 0.0f)));
    EXPECT_TRUE(qvtest::VecNear(body.mPositions[3], InBone(Bone(1), -0.1f, 0.8f, 0.0f)));
    // The joint's vertices follow both bones by halves.
    const cVector3D a = InBone(Bone(0), 0.1f, 1.2f, 0.0f), b = InBone(Bone(1), 0.1f, 0.0f, 0.0f);
    EXPECT_TRUE(qvtest::VecNear(body.mPositions[4], (a + b) * 0.5f));
    // Bone's tip and Bone.001's head are one point: a vertex at the joint's
    // centre would not move off it, and these two lie 0.1 from it.
    const cVector3D joint = Bone(1).mWorldTransform.getTransform();
    EXPECT_LT((body.mPositions[4] - joint).length(), 0.1f + 1e-5f);
}

TEST_F(BodySkinning, NormalsTurnWithTheBonesAndStayOfUnitLength)
{
    Turn(1, 90.0f, 0.0f, 0.0f);
    const cBody& body = actor.mBody;
    // At rest the normals point along each bone's local +z.
    const cMatrix4D& w1 = Bone(1).mWorldTransform;
    const cVector3D z1(w1._m[8], w1._m[9], w1._m[10]);
    EXPECT_TRUE(qvtest::VecNear(body.mNormals[2], z1));
    EXPECT_TRUE(qvtest::VecNear(body.mNormals[0], cVector3D(0.0f, 1.0f, 0.0f)));
    for (const cVector3D& n : body.mNormals)
        EXPECT_NEAR(n.length(), 1.0f, 1e-6f);
    // Halfway between up and Bone.001's turned +z: the normalised sum.
    cVector3D half = z1 + cVector3D(0.0f, 1.0f, 0.0f);
    half.normalize();
    EXPECT_TRUE(qvtest::VecNear(body.mNormals[4], half));
}

TEST(BodySkinVertices, ABlendThatCancelsOutKeepsTheRestNormal)
{
    cMatrix4D skin[2];
    for (int i = 0; i < 3; ++i)
        skin[1]._m[i * 5] = -1.0f; // a half turn and a mirror: the blend of both is flat
    sInfluences in;
    in.mCount = 2;
    in.mBone[1] = 1;
    in.mWeight[0] = in.mWeight[1] = 0.5f;
    const cVector3D rest(1.0f, 2.0f, 3.0f), normal(0.0f, 0.0f, 1.0f);
    cVector3D p, n;
    SkinVertices(skin, &in, &rest, &normal, 1, &p, &n);
    EXPECT_TRUE(qvtest::VecNear(p, cVector3D(0.0f, 0.0f, 0.0f)));
    EXPECT_TRUE(qvtest::VecNear(n, normal));
}

TEST_F(BodySkinning, SkinningAllocatesNothing)
{
    qvtest::AllocationScope scope;
    for (int i = 0; i < 10; ++i)
        actor.mBody.Skin(actor.mArmature);
    EXPECT_EQ(scope.Allocations(), 0u);
}

TEST(BodyBinding, ABoneWithAFlatRestFrameCannotCarryTheBodyButMayCarryNone)
{
    // Bone.001 squashed to a plane: accepted as a bone, refused as one the
    // body follows, accepted again when no vertex follows it.
    const std::string flat = Edit(Example(), "1,0,0,0, 0,1,0,1.2, 0,0,1,0", "1,0,0,0, 0,1,0,1.2, 0,0,0,0");
    EXPECT_EQ(MessageOf(flat), "(loaded)");
    const std::string bound = Edit(flat, "</QVArmature>", ExampleBody() + "</QVArmature>");
    EXPECT_EQ(MessageOf(bound), "XML ERROR: the body is bound to the bone 'Bone.001', whose rest frame is flat or "
                                "nearly so and cannot be inverted.");
    const std::string unbound =
        Edit(bound, "0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.5; 0 0.5 1 0.5;", "0 1; 0 1; 0 1; 0 1; 0 1 1 0; 0 1;");
    EXPECT_EQ(MessageOf(unbound), "(loaded)");
}

TEST(BodyBinding, AtMostFourBonesMoveAVertex)
{
    // A chain of five bones, the body's first vertex on all five.
    std::string bones, nodes, channels;
    for (int i = 0; i < 5; ++i)
    {
        const std::string name = "B" + std::to_string(i);
        bones += Bone(name, "1", i ? "1,0,0,0, 0,1,0,1, 0,0,1,0" : "1,0,0,0, 0,1,0,0, 0,0,1,0");
        nodes += Node(name, i ? "B" + std::to_string(i - 1) : "NULL");
        channels += IdentityChannel();
    }
    const std::string file = Document(Armature("chain", "5", bones, nodes), Action("still", "1000", channels));
    const std::string four = Edit(ExampleBody(), "<weights>0 1;", "<weights>0 0.25 1 0.25 2 0.25 3 0.25;");
    EXPECT_EQ(MessageOf(Edit(file, "</QVArmature>", four + "</QVArmature>")), "(loaded)");
    const std::string five = Edit(ExampleBody(), "<weights>0 1;", "<weights>0 0.2 1 0.2 2 0.2 3 0.2 4 0.2;");
    EXPECT_EQ(MessageOf(Edit(file, "</QVArmature>", five + "</QVArmature>")),
              "XML ERROR: the body's 'weights', number 9: more than 4 bones move one vertex.");
}

TEST(BodyTexture, Base64IsWrittenInLinesOf76AndReadBack)
{
    const auto b64 = [](const std::string& s) { return Base64Lines(std::vector<unsigned char>(s.begin(), s.end())); };
    EXPECT_EQ(b64(""), "");
    EXPECT_EQ(b64("f"), "Zg==\n");
    EXPECT_EQ(b64("fo"), "Zm8=\n");
    EXPECT_EQ(b64("foo"), "Zm9v\n");
    EXPECT_EQ(b64("foobar"), "Zm9vYmFy\n");
    const std::string lines = b64(std::string(58, 'x')); // 57 bytes fill a line, the 58th starts the next
    EXPECT_EQ(lines.find('\n'), 76u);
    EXPECT_EQ(lines.size(), 76u + 1 + 4 + 1);
    // Read back, white space and all.
    std::vector<unsigned char> bytes;
    std::string why;
    ASSERT_TRUE(DecodeBase64(lines.c_str(), bytes, why)) << why;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string(58, 'x'));
    ASSERT_TRUE(DecodeBase64(" Zm9v\nYmE= ", bytes, why)) << why;
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "fooba");
}

struct sCase
{
    const char* mName;
    std::string mBody; // the body element
    const char* mDetail;
};

void PrintTo(const sCase& c, std::ostream* os) { *os << c.mName; }

std::string Body(const std::string& from, const std::string& to) { return Edit(ExampleBody(), from, to); }

std::vector<sCase> Cases()
{
    const std::string uv = "<texcoords>0 0  1 0  0 1  1 1  0 0.6  1 0.6</texcoords>";
    const std::string textured = Body("<weights>", uv + "<weights>");
    return {
        {"NoVertexCount", Body(" vertices=\"6\"", ""), "Expecting 'vertices' attribute for 'body'."},
        {"NoVertices", Body("vertices=\"6\"", "vertices=\"0\""),
         "'vertices' of the body says '0'; it must be from 1 to 1000000."},
        {"TooManyVertices", Body("vertices=\"6\"", "vertices=\"1000001\""),
         "'vertices' of the body says '1000001'; it must be from 1 to 1000000."},
        {"NegativeTriangleCount", Body("triangles=\"4\"", "triangles=\"-4\""),
         "'triangles' of the body says '-4'; it must be from 1 to 2000000."},
        {"NoPositions", Body("<positions>0.1 0 1  -0.1 0 1  0.1 2 1  -0.1 2 1  0.1 1.2 1  -0.1 1.2 1</positions>", ""),
         "the body has no 'positions' element."},
        {"TooFewPositions", Body(" -0.1 1.2 1</positions>", "</positions>"),
         "the body's 'positions' holds 15 numbers; its vertices need 18."},
        {"TooManyNormals", Body("0 0 1</normals>", "0 0 1 0 0 1</normals>"),
         "the body's 'normals' holds 21 numbers; its vertices need 18."},
        {"PositionNotANumber", Body("<positions>0.1 0 1", "<positions>0.1 O 1"),
         "the body's 'positions', number 2: 'O' is not a number."},
        {"PositionWithACommaInside", Body("<positions>0.1 0 1", "<positions>0.1,0 1"),
         "the body's 'positions', number 1: '0.1,0' is not a number."},
        {"PositionNotFinite", Body("<positions>0.1 0 1", "<positions>0.1 nan 1"),
         "the body's 'positions', number 2: the value must be a finite number."},
        {"PositionBeyondTheFloats", Body("<positions>0.1 0 1", "<positions>0.1 1e39 1"),
         "the body's 'positions', number 2: the value lies beyond 1000000."},
        {"PositionFarOut", Body("<positions>0.1 0 1", "<positions>0.1 0 1000001"),
         "the body's 'positions', number 3: the value lies beyond 1000000."},
        {"SemicolonInPositions", Body("<positions>0.1 0 1", "<positions>0.1 0 1;"),
         "the body's 'positions', number 3: ';' belongs in the weights only."},
        {"ZeroNormal", Body("<normals>0 0 1", "<normals>0 0 0"),
         "the body's normal of vertex 1 has no direction (length 0.000000)."},
        {"BoneOutOfRange", Body("<weights>0 1;", "<weights>2 1;"),
         "the body's 'weights', number 1: the bone 2 does not exist; bones count from 0 to 1 in the order of the "
         "skeleton."},
        {"FractionalBone", Body("<weights>0 1;", "<weights>0.5 1;"),
         "the body's 'weights', number 1: '0.5' is not a whole number."},
        {"BoneTwice", Body("0 0.5 1 0.5;", "0 0.5 0 0.5;"),
         "the body's 'weights', number 11: the vertex names the bone 0 twice."},
        {"NegativeWeight", Body("0 0.5 1 0.5;", "0 1.5 1 -0.5;"),
         "the body's 'weights', number 10: a weight must lie between 0 and 1."},
        {"WeightNotFinite", Body("0 0.5 1 0.5;", "0 inf 1 0.5;"),
         "the body's 'weights', number 10: the value must be a finite number."},
        {"WeightsShort", Body("0 0.5 1 0.5;", "0 0.5 1 0.48;"),
         "the body's vertex 5 has weights summing to 0.98; they must sum to 1 within 0.01."},
        {"WeightsOver", Body("<weights>0 1;", "<weights>0 1 1 0.02;"),
         "the body's vertex 1 has weights summing to 1.02; they must sum to 1 within 0.01."},
        {"VertexWithoutBone", Body("<weights>0 1;", "<weights>;"),
         "the body's vertex 1 has no bone; give each vertex one to 4 pairs of bone and weight."},
        {"BoneWithoutWeight", Body("<weights>0 1;", "<weights>0;"),
         "the body's 'weights', number 1: a bone without its weight; give each vertex pairs of bone and weight, "
         "ended by ';'."},
        {"TooFewGroups", Body("0 0.5 1 0.5;</weights>", "</weights>"),
         "the body's 'weights' has 5 groups; its 6 vertices need one each."},
        {"TooManyGroups", Body("0 0.5 1 0.5;</weights>", "0 0.5 1 0.5; 0 1;</weights>"),
         "the body's 'weights' has more groups than its 6 vertices."},
        {"LastGroupOpen", Body("0 0.5 1 0.5;</weights>", "0 0.5 1 0.5</weights>"),
         "the body's 'weights' ends inside a vertex's group; end every group with ';'."},
        {"NoWeights", Body("<weights>0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.5; 0 0.5 1 0.5;</weights>", ""),
         "the body has no 'weights' element."},
        {"VertexOutOfRange", Body("<triangles>0 1 4", "<triangles>0 1 6"),
         "the body's 'triangles', number 3: the vertex 6 does not exist; vertices count from 0 to 5."},
        {"NegativeVertex", Body("<triangles>0 1 4", "<triangles>0 -1 4"),
         "the body's 'triangles', number 2: '-1' is not a whole number."},
        {"TrianglesShort", Body(" 5 3 2</triangles>", "</triangles>"),
         "the body's 'triangles' holds 9 numbers; its triangles need 12."},
        {"NoTriangles", Body("<triangles>0 1 4  1 5 4  4 5 2  5 3 2</triangles>", ""),
         "the body has no 'triangles' element."},
        {"TexCoordsShort", Body("<weights>", "<texcoords>0 0 1 0</texcoords><weights>"),
         "the body's 'texcoords' holds 4 numbers; its vertices need 12."},
        {"TextureWithoutTexCoords", Body("</body>", "<texture>AAAA</texture></body>"),
         "the body has a texture but no 'texcoords' to place it."},
        {"TextureNotBase64", Edit(textured, "</body>", "<texture>iVBO*w0K</texture></body>"),
         "the body's texture cannot be read: the base64 text holds '*'."},
        {"TextureCutShort", Edit(textured, "</body>", "<texture>iVBORw0</texture></body>"),
         "the body's texture cannot be read: the base64 text does not end on a whole group of four."},
        {"TexturePastItsPadding", Edit(textured, "</body>", "<texture>iVBORw==AAAA</texture></body>"),
         "the body's texture cannot be read: base64 text follows its '=' padding."},
        {"TextureNotAPng", Edit(textured, "</body>", "<texture>R0lGODlhAQABAAAAACw=</texture></body>"),
         "the body's texture cannot be read: not a PNG image libpng can read (Not a PNG file)."},
        {"EmptyTexture", Edit(textured, "</body>", "<texture></texture></body>"),
         "the body's texture cannot be read: not a PNG image libpng can read (no image data)."},
    };
}

class BodyRefusals : public ::testing::TestWithParam<sCase>
{
};

TEST_P(BodyRefusals, AreOneLineNamingTheProblem)
{
    const sCase& c = GetParam();
    EXPECT_EQ(MessageOf(ExampleWithBody(c.mBody)), std::string("XML ERROR: ") + c.mDetail);
}

INSTANTIATE_TEST_SUITE_P(EachRule, BodyRefusals, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<sCase>& info) { return std::string(info.param.mName); });

} // namespace
