// The walker's body, as walkergen writes it and the demo loads it: a few
// thousand vertices bound to the limbs, torso and head; closed and wound
// outward, with normals that agree; standing on the ground at rest; blended
// across the knees and elbows; and skinned through the walks, turning and
// standing without any edge stretching or collapsing far.

#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "QV_character.h"
#include "QV_gait_params.h"
#include "QV_walker_body.h"
#include "QV_walker_skeleton.h"
#include "QV_xml.h"

namespace
{

class WalkerBody : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sWalker = new cActor;
        ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), *sWalker);
    }
    static void TearDownTestSuite()
    {
        delete sWalker;
        sWalker = nullptr;
    }
    static const cBody& Body() { return sWalker->mBody; }
    static cActor* sWalker;
};
cActor* WalkerBody::sWalker = nullptr;

// The weight a vertex gives a bone (0 when the bone does not move it).
float WeightOf(const sInfluences& in, int bone)
{
    for (unsigned int k = 0; k < in.mCount; ++k)
        if (in.mBone[k] == (unsigned int)bone)
            return in.mWeight[k];
    return 0.0f;
}

TEST_F(WalkerBody, HasAFewThousandVerticesOnTheLimbsTorsoAndHeadAndNoTexture)
{
    const cBody& body = Body();
    EXPECT_GE(body.VertexCount(), 2000u);
    EXPECT_LE(body.VertexCount(), 6000u);
    EXPECT_TRUE(body.mTexture.Empty());
    EXPECT_TRUE(body.mTexCoords.empty());
    using namespace walker;
    for (int bone :
         {kPelvis, kSpine, kChest,     kNeck,      kHead,      kThighR,    kThighL,   kShinR,    kShinL, kFootR, kFootL,
          kToesR,  kToesL, kClavicleR, kClavicleL, kUpperArmR, kUpperArmL, kForearmR, kForearmL, kHandR, kHandL})
    {
        size_t moved = 0;
        for (const sInfluences& in : body.mInfluences)
            moved += WeightOf(in, bone) >= 0.25f ? 1 : 0;
        EXPECT_GE(moved, 14u) << "bone " << BoneName(bone) << " moves only " << moved << " vertices by a quarter";
    }
}

TEST_F(WalkerBody, IsClosedWoundOutwardAndItsNormalsAgree)
{
    const cBody& body = Body();
    // Closed and consistently wound: every edge is walked once each way.
    std::map<std::pair<unsigned int, unsigned int>, int> edges;
    for (size_t t = 0; t < body.mTriangles.size(); t += 3)
        for (int k = 0; k < 3; ++k)
            ++edges[{body.mTriangles[t + k], body.mTriangles[t + (k + 1) % 3]}];
    size_t open = 0;
    for (const auto& e : edges)
        if (e.second != 1 || edges.count({e.first.second, e.first.first}) == 0)
            ++open;
    EXPECT_EQ(open, 0u) << "edges that are not shared by two triangles wound opposite ways";

    // Outward: the enclosed volume is positive (about 0.8 cubic units for a
    // figure 4 units tall), and each normal leans the way of every triangle
    // at its vertex.
    double volume = 0.0;
    size_t disagreeing = 0;
    for (size_t t = 0; t < body.mTriangles.size(); t += 3)
    {
        const cVector3D& a = body.mRestPositions[body.mTriangles[t]];
        const cVector3D& b = body.mRestPositions[body.mTriangles[t + 1]];
        const cVector3D& c = body.mRestPositions[body.mTriangles[t + 2]];
        volume += a.dot(b.cross(c)) / 6.0;
        const cVector3D face = (b - a).cross(c - a);
        for (int k = 0; k < 3; ++k)
            disagreeing += face.dot(body.mRestNormals[body.mTriangles[t + k]]) < 0.0f ? 1 : 0;
    }
    EXPECT_GT(volume, 0.4);
    EXPECT_LT(volume, 2.0);
    EXPECT_EQ(disagreeing, 0u);
}

TEST_F(WalkerBody, StandsWithItsSolesOnTheGroundAtRest)
{
    float lowest = 1e9f, highest = -1e9f;
    for (const cVector3D& p : Body().mRestPositions)
    {
        lowest = std::min(lowest, p.mData[1]);
        highest = std::max(highest, p.mData[1]);
    }
    EXPECT_NEAR(lowest, 0.0f, 0.01f);
    EXPECT_NEAR(highest, 3.95f, 0.05f); // the top of the head bone
}

TEST_F(WalkerBody, KneesAndElbowsBlendTheirTwoBones)
{
    using namespace walker;
    const int pairs[][2] = {{kThighR, kShinR}, {kThighL, kShinL}, {kUpperArmR, kForearmR}, {kUpperArmL, kForearmL}};
    for (const auto& pair : pairs)
    {
        size_t shared = 0;
        for (const sInfluences& in : Body().mInfluences)
            shared += WeightOf(in, pair[0]) >= 0.2f && WeightOf(in, pair[1]) >= 0.2f ? 1 : 0;
        EXPECT_GE(shared, 14u) << BoneName(pair[0]) << " and " << BoneName(pair[1]) << ": a ring at least";
    }
}

TEST_F(WalkerBody, IsTheGeneratorsBodyTurnedUprightWithTheRoot)
{
    // Body coordinates (x right, y forward, z up, from the root's head) to
    // the file (half a turn about z, lifted to the root's height) to the
    // library (file +z up becomes +y): (x, y, z) -> (-x, z + h, y).
    const walker::Body params = walker::DefaultActorParams().body;
    const author::sFileBody made = walker::MakeBody(params);
    const cBody& body = Body();
    ASSERT_EQ(made.mPositions.size(), 3 * body.VertexCount());
    const double h = params.RootHeight();
    for (size_t v = 0; v < body.VertexCount(); v += 97)
    {
        const double* p = &made.mPositions[3 * v];
        const cVector3D want((float)-p[0], (float)(p[2] + h), (float)p[1]);
        EXPECT_LT((body.mRestPositions[v] - want).length(), 1e-3f) << "vertex " << v;
    }
}

// Lengths of the body's edges, skinned or at rest.
std::vector<float> EdgeLengths(const cBody& body, const std::vector<cVector3D>& at)
{
    std::vector<float> out;
    for (size_t t = 0; t < body.mTriangles.size(); t += 3)
        for (int k = 0; k < 3; ++k)
            out.push_back((at[body.mTriangles[t + k]] - at[body.mTriangles[t + (k + 1) % 3]]).length());
    return out;
}

TEST(WalkerBodyInMotion, BendsThroughBothWalksTurnsAndStandingWithoutTearing)
{
    cActor actor;
    ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), actor);
    ASSERT_EQ(PrepareCharacter(actor), "");
    cBody& body = actor.mBody;
    const std::vector<float> rest = EdgeLengths(body, body.mRestPositions);

    // Two strides of each walk, turning, then standing; 16 ms frames.
    float stretch = 1.0f, squash = 1.0f;
    int frames = 0;
    for (int phase = 0; phase < 4; ++phase)
    {
        sSteering steer;
        steer.mWalk = phase < 3;
        steer.mTurnLeft = phase == 1;
        actor.mWalkCycle = phase == 2 ? kSecondWalkSlot : kWalkSlot;
        for (int f = 0; f < 150; ++f, ++frames)
        {
            StepCharacter(actor, 16, steer);
            body.Skin(actor.mArmature);
            const std::vector<float> now = EdgeLengths(body, body.mPositions);
            for (size_t e = 0; e < now.size(); ++e)
            {
                ASSERT_TRUE(std::isfinite(now[e])) << "frame " << frames;
                stretch = std::max(stretch, now[e] / rest[e]);
                squash = std::min(squash, now[e] / rest[e]);
            }
        }
    }
    // The skin stretches over a bending knee and creases where the toes bend
    // up (the foot's top at the ball, to an eighth at push-off), but no edge
    // grows to twice its length or shrinks to nothing.
    std::printf("over %d frames the body's edges stretched to %.2f and shrank to %.2f of their rest lengths\n", frames,
                stretch, squash);
    EXPECT_LT(stretch, 2.0f);
    EXPECT_GT(squash, 0.1f);
}

} // namespace
