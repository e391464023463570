// qvexport: what it writes passes the Khronos glTF validator (the generated
// walker with its body, captured walks imported by qvimport, .gltf and .glb,
// baked and in place, a walk path); Assimp reads every format back through
// the capture layer's reader, and the joints stand where the demo's stand.
//
// Index
//   [SECTION] helpers
//   [SECTION] validated by the Khronos validator
//   [SECTION] read back by Assimp
//   [SECTION] the body
//   [SECTION] what the formats cannot hold
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "QV_base64.h"
#include "QV_capture.h"
#include "QV_export.h"
#include "QV_export_math.h"
#include "QV_png.h"
#include "support/run_program.h"

using namespace qvexport;

namespace
{

// ---------------------------------------------------------------------------
// [SECTION] helpers

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
const std::string kMocap = std::string(QV_SOURCE_DIR) + "/../shared/mocap/";
const std::string kExporter = std::string(QV_BINARY_DIR) + "/qvexport";

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "qvexport_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string WalkerText() { return qvtest::FileText(kWalker); }

// The walker with texture coordinates (its places, front view) and a small
// texture of its own, as an imported body carries them.
std::string TexturedWalkerText()
{
    std::string text = WalkerText();
    const size_t vertices = (size_t)std::atol(text.c_str() + text.find("<body vertices=\"") + 16);
    std::string uv = "<texcoords>\n";
    for (size_t v = 0; v < vertices; ++v)
        uv += std::to_string((v % 97) / 97.0) + " " + std::to_string((v % 89) / 89.0) + "\n";
    sImage image;
    image.mWidth = 8;
    image.mHeight = 4;
    for (unsigned int i = 0; i < image.mWidth * image.mHeight * 4; ++i)
        image.mPixels.push_back((unsigned char)(i * 37 % 256));
    const std::string texture = uv + "</texcoords>\n<texture>\n" + Base64Lines(EncodePng(image)) + "</texture>\n";
    text.insert(text.find("</body>"), texture);
    return text;
}

// The validator's verdict on files: its status (0: no errors) and what it
// printed. Node.js or the npm package missing is a failure, not a skip: the
// validator is what these tests are for.
qvtest::sRun Validate(const std::vector<std::string>& files)
{
    EXPECT_STRNE(QV_NODE, "") << "Node.js is not installed (tools/deps.sh test installs it)";
    setenv("NODE_PATH", QV_NPM_MODULES, 1);
    std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" 1>&2", QV_NODE,
                                     std::string(QV_SOURCE_DIR) + "/tools/gltf_validate.js"};
    args.insert(args.end(), files.begin(), files.end());
    return qvtest::RunProgram("/bin/sh", args, TempPath("validator.txt"));
}

void ExpectValid(const std::vector<std::string>& files)
{
    const qvtest::sRun r = Validate(files);
    EXPECT_EQ(r.mStatus, 0) << r.mErr;
    // Every file has its line, clean: the script did look at each.
    for (const std::string& f : files)
        EXPECT_NE(r.mErr.find(f + ": 0 errors, 0 warnings"), std::string::npos) << r.mErr;
}

// Writes the scene as .gltf and .glb under name and returns both paths.
std::vector<std::string> WriteBoth(const sScene& scene, const std::string& name)
{
    const std::vector<std::string> files = {TempPath(name + ".gltf"), TempPath(name + ".glb")};
    WriteFile(files[0], FormatGltf(scene, false));
    WriteFile(files[1], FormatGltf(scene, true));
    return files;
}

// Every joint's world transform at one frame (travel included).
std::vector<sTransform> World(const sScene& scene, const sClip& clip, size_t frame)
{
    std::vector<sTransform> world(scene.mJoints.size());
    for (size_t j = 0; j < world.size(); ++j)
    {
        const int p = scene.mJoints[j].mParent;
        world[j] =
            p < 0 ? Compose(clip.mTravel[frame], clip.mFrames[frame][j]) : Compose(world[p], clip.mFrames[frame][j]);
    }
    return world;
}

double Distance(const std::array<double, 3>& a, const qvimport::sVec3& b)
{
    return std::sqrt((a[0] - b.x) * (a[0] - b.x) + (a[1] - b.y) * (a[1] - b.y) + (a[2] - b.z) * (a[2] - b.z));
}

// ---------------------------------------------------------------------------
// [SECTION] validated by the Khronos validator

TEST(QvExportValidator, TheWalkerWithItsBodyIsValidGltfAndGlb)
{
    sOptions opt;
    const sScene scene = SampleActor(WalkerText(), opt);
    ASSERT_FALSE(scene.mBody.Empty());
    ASSERT_EQ(scene.mClips.size(), 3u);
    ExpectValid(WriteBoth(scene, "walker"));
    // And with a texture embedded.
    const sScene textured = SampleActor(TexturedWalkerText(), opt);
    ASSERT_FALSE(textured.mBody.mTexture.Empty());
    ExpectValid(WriteBoth(textured, "textured"));
}

TEST(QvExportValidator, InPlaceAnkleLocksAndAPathAreValidToo)
{
    sOptions inPlace;
    inPlace.mInPlace = true;
    inPlace.mContactLock = false;
    inPlace.mCrossFade = false;
    ExpectValid(WriteBoth(SampleActor(WalkerText(), inPlace), "inplace"));
    sOptions path;
    path.mPath = ParsePath("walk 2, left 90, walk 1, stop");
    path.mFrameMs = 16;
    ExpectValid(WriteBoth(SampleActor(WalkerText(), path), "path"));
}

TEST(QvExportValidator, CapturedWalksImportedByQvimportAreValid)
{
    for (const char* clip : {"131_01", "131_02"})
    {
        const std::string bvh = kMocap + clip + ".bvh";
        ASSERT_TRUE(std::ifstream(bvh).good()) << "the captured clips are missing: " << bvh;
        const qvimport::sImportResult imported = qvimport::ImportFile(bvh, qvimport::sOptions());
        ExpectValid(WriteBoth(SampleActor(imported.mXml, sOptions()), clip));
    }
}

// A file the validator finds errors in fails: the check can fail.
TEST(QvExportValidator, TheCheckFailsOnABrokenFile)
{
    sOptions opt;
    opt.mAction = "walk";
    std::string gltf = FormatGltf(SampleActor(WalkerText(), opt), false);
    const size_t version = gltf.find("\"version\":\"2.0\"");
    ASSERT_NE(version, std::string::npos);
    gltf.replace(version, 15, "\"version\":\"1.0\"");
    const std::string path = TempPath("broken.gltf");
    WriteFile(path, gltf);
    const qvtest::sRun r = Validate({path});
    EXPECT_EQ(r.mStatus, 1) << r.mErr;
}

// ---------------------------------------------------------------------------
// [SECTION] read back by Assimp

// Assimp's joints, by name, stand where the exported scene's do, frame by
// frame: the file holds the motion the actor played.
void ExpectReadBack(const sScene& scene, const std::string& path, double tolerance)
{
    const qvimport::sCapture cap = qvimport::ReadScene(path);
    const sClip& clip = scene.mClips[0];
    ASSERT_GE(cap.Frames(), clip.mFrames.size() - 1) << path;
    std::map<std::string, int> byName;
    for (size_t i = 0; i < cap.mJoints.size(); ++i)
        byName[cap.mJoints[i].mName] = (int)i;
    double worst = 0;
    int compared = 0;
    for (size_t f = 0; f < clip.mFrames.size() && f < cap.Frames(); f += 7)
    {
        // The reader samples at its own rate; compare where it has a frame
        // at the clip's frame time.
        const double t = f * clip.mFrameTime;
        const double at = t * cap.mRate;
        if (std::fabs(at - std::round(at)) > 1e-6 || (size_t)std::round(at) >= cap.Frames())
            continue;
        const std::vector<sTransform> world = World(scene, clip, f);
        for (size_t j = 0; j < scene.mJoints.size(); ++j)
        {
            const auto found = byName.find(scene.mJoints[j].mName);
            ASSERT_NE(found, byName.end()) << scene.mJoints[j].mName << " in " << path;
            worst =
                std::max(worst, Distance(world[j].mTranslation, cap.mPosition[(size_t)std::round(at)][found->second]));
            ++compared;
        }
    }
    EXPECT_GT(compared, 100) << path;
    EXPECT_LT(worst, tolerance) << path;
    printf("%s: %d joint places compared, worst %.3g units\n", path.c_str(), compared, worst);
}

TEST(QvExportReadBack, AssimpReadsGltfGlbAndBvhWithTheJointsWhereTheActorHadThem)
{
    sOptions opt;
    opt.mAction = "walk";
    opt.mCycles = 2;
    const sScene scene = SampleActor(WalkerText(), opt);
    const std::vector<std::string> files = WriteBoth(scene, "readback");
    for (const std::string& f : files)
        ExpectReadBack(scene, f, 1e-4);
    const std::string bvh = TempPath("readback.bvh");
    WriteFile(bvh, FormatBvh(scene));
    // BVH holds angles to a millionth of a degree and places to 1e-8 units.
    ExpectReadBack(scene, bvh, 1e-4);
}

TEST(QvExportReadBack, InPlaceTheTravelNodeCarriesTheRootWhereTheBakedRootGoes)
{
    // Along a path with both turns, so that the heading's part is checked.
    sOptions baked;
    baked.mPath = ParsePath("walk 1, left 120, walk 1, right 200, stop");
    sOptions inPlace = baked;
    inPlace.mInPlace = true;
    const sScene a = SampleActor(WalkerText(), baked), b = SampleActor(WalkerText(), inPlace);
    ASSERT_EQ(a.mClips[0].mFrames.size(), b.mClips[0].mFrames.size());
    double worst = 0, rootAway = 0;
    for (size_t f = 0; f < a.mClips[0].mFrames.size(); ++f)
    {
        const std::vector<sTransform> wa = World(a, a.mClips[0], f), wb = World(b, b.mClips[0], f);
        for (size_t j = 0; j < wa.size(); ++j)
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::fabs(wa[j].mTranslation[k] - wb[j].mTranslation[k]));
        const sTransform& loop = b.mClips[0].mFrames[f][0];
        rootAway = std::max(rootAway, std::hypot(loop.mTranslation[0] - b.mJoints[0].mRest.mTranslation[0],
                                                 loop.mTranslation[2] - b.mJoints[0].mRest.mTranslation[2]));
    }
    EXPECT_LT(worst, 1e-4);
    EXPECT_EQ(rootAway, 0.0) << "in place, the root stays over its rest place";
    // Baked, a walk starts over the rest place and goes on from there.
    sOptions walk;
    walk.mAction = "walk";
    const sScene w = SampleActor(WalkerText(), walk);
    const sTransform& start = w.mClips[0].mFrames[0][0];
    EXPECT_NEAR(start.mTranslation[0], w.mJoints[0].mRest.mTranslation[0], 1e-9);
    EXPECT_NEAR(start.mTranslation[2], w.mJoints[0].mRest.mTranslation[2], 1e-9);
    const sTransform& end = w.mClips[0].mFrames.back()[0];
    EXPECT_GT(std::hypot(end.mTranslation[0] - start.mTranslation[0], end.mTranslation[2] - start.mTranslation[2]),
              1.0);
    // And Assimp sees the travel node's motion in the in-place file.
    ExpectReadBack(b, WriteBoth(b, "inplace_readback")[1], 1e-4);
}

// ---------------------------------------------------------------------------
// [SECTION] the body

// Assimp reads the skinned mesh back (its joints, weights, texture
// coordinates and embedded texture) and skins it, at the first frame, where
// the exported joints and inverse bind matrices put it: the walker's body as
// the file's first frame poses it.
TEST(QvExportBody, AssimpSkinsTheExportedBodyWhereTheJointsPutIt)
{
    sOptions opt;
    opt.mAction = "walk";
    const sScene scene = SampleActor(TexturedWalkerText(), opt);
    const cBody& body = scene.mBody;
    ASSERT_EQ(body.mTexture.mWidth, 8u);
    const std::vector<sTransform> world = World(scene, scene.mClips[0], 0);
    for (const std::string& path : WriteBoth(scene, "body"))
    {
        const qvimport::sCapture cap = qvimport::ReadScene(path);
        ASSERT_EQ(cap.mBody.mInfluences.size(), body.VertexCount()) << path;
        EXPECT_EQ(cap.mBody.mTriangles.size(), body.mTriangles.size());
        EXPECT_EQ(cap.mBody.mTexture.mWidth, body.mTexture.mWidth);
        EXPECT_EQ(cap.mBody.mTexture.mPixels, body.mTexture.mPixels) << "the texture, losslessly";
        ASSERT_EQ(cap.mBody.mTexCoords.size(), body.mTexCoords.size());
        ASSERT_GT(cap.Frames(), 0u);
        for (const std::vector<qvimport::sSkinInfluence>& vertex : cap.mBody.mInfluences)
            for (const qvimport::sSkinInfluence& s : vertex)
                ASSERT_LT((size_t)s.mJoint, cap.mJoints.size());
        double worst = 0, worstUv = 0;
        for (size_t v = 0; v < body.VertexCount(); ++v)
        {
            // Ours: each joint's world frame times its inverse rest frame.
            const cVector3D& rest = body.mRestPositions[v];
            const sInfluences& in = body.mInfluences[v];
            std::array<double, 3> ours = {0, 0, 0};
            for (unsigned int k = 0; k < in.mCount; ++k)
            {
                const sTransform skin = Compose(world[in.mBone[k]], Inverse(scene.mJoints[in.mBone[k]].mRestWorld));
                const tVec p = Rotate(skin.mRotation, {rest.mData[0], rest.mData[1], rest.mData[2]});
                for (int c = 0; c < 3; ++c)
                    ours[c] += in.mWeight[k] * (p[c] + skin.mTranslation[c]);
            }
            // Assimp's: the place in each joint's frame at the first frame.
            std::array<double, 3> theirs = {0, 0, 0};
            double sum = 0;
            for (const qvimport::sSkinInfluence& s : cap.mBody.mInfluences[v])
            {
                const qvimport::sQuat& q = cap.mRotation[0][s.mJoint];
                const qvimport::sVec3& at = cap.mPosition[0][s.mJoint];
                const tVec p = Rotate({q.x, q.y, q.z, q.w}, {s.mLocal.x, s.mLocal.y, s.mLocal.z});
                theirs[0] += s.mWeight * (p[0] + at.x);
                theirs[1] += s.mWeight * (p[1] + at.y);
                theirs[2] += s.mWeight * (p[2] + at.z);
                sum += s.mWeight;
            }
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::fabs(ours[c] - theirs[c] / sum));
            for (int c = 0; c < 2; ++c)
                worstUv = std::max(worstUv, std::fabs(body.mTexCoords[v * 2 + c] - cap.mBody.mTexCoords[v * 2 + c]));
        }
        printf("%s: %zu vertices, worst skinned place %.3g units apart, texture coordinates %.3g\n", path.c_str(),
               body.VertexCount(), worst, worstUv);
        EXPECT_LT(worst, 1e-4) << path;
        EXPECT_LT(worstUv, 1e-6) << path;
    }
}

// ---------------------------------------------------------------------------
// [SECTION] what the formats cannot hold

std::string Replaced(std::string text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A joint holds a rotation and a translation: a rest matrix that stretches
// is refused with the bone's name, not written wrongly.
TEST(QvExportLimits, ARestMatrixThatStretchesIsRefusedByName)
{
    const std::string text = Replaced(WalkerText(), "<matrix>-1.000000,0.000000,0.000000,0.000000, 0.000000,-0.980581",
                                      "<matrix>-1.500000,0.000000,0.000000,0.000000, 0.000000,-0.980581");
    try
    {
        SampleActor(text, sOptions());
        ADD_FAILURE() << "a stretching rest matrix was written";
    }
    catch (const cExportError& e)
    {
        EXPECT_EQ(std::string(e.what()), "the bone 'Bone.001' has a rest matrix that stretches, shears or mirrors: "
                                         "glTF and BVH joints hold only rotations and translations");
    }
}

// BVH names are single words: blanks and braces become '_', and a name that
// then repeats another gets a suffix; Assimp reads the file with them.
TEST(QvExportLimits, BvhNamesAreWordsAndStayDistinct)
{
    std::string text = WalkerText();
    for (const char* name : {"Bone.002", "Bone.003"})
        for (size_t at; (at = text.find(name)) != std::string::npos;)
            text.replace(at, 8, name == std::string("Bone.002") ? "Left {hip}" : "Left _hip_");
    sOptions opt;
    opt.mAction = "walk";
    const sScene scene = SampleActor(text, opt);
    const std::string bvh = FormatBvh(scene);
    EXPECT_NE(bvh.find("JOINT Left__hip_\n"), std::string::npos);
    EXPECT_NE(bvh.find("JOINT Left__hip__2\n"), std::string::npos);
    const std::string path = TempPath("names.bvh");
    WriteFile(path, bvh);
    std::vector<bool> parent(scene.mJoints.size(), false);
    for (const sJoint& j : scene.mJoints)
        if (j.mParent >= 0)
            parent[j.mParent] = true;
    const size_t leaves = std::count(parent.begin(), parent.end(), false);
    EXPECT_EQ(qvimport::ReadScene(path).mJoints.size(), scene.mJoints.size() + leaves)
        << "every joint, and an End Site for each without children";
}

// What would fill the memory is refused before it is sampled, with what to
// change: an hour's walk of the walker's 25 bones at 10 ms frames.
TEST(QvExportLimits, AWalkTooLongToSampleIsRefusedBeforeItIsPlayed)
{
    sOptions opt;
    opt.mPath = ParsePath("walk 3600");
    try
    {
        SampleActor(WalkerText(), opt);
        ADD_FAILURE() << "an hour's walk was sampled";
    }
    catch (const cExportError& e)
    {
        EXPECT_EQ(std::string(e.what()), "the path is too long to sample: more than 4000000 joint transforms in all "
                                         "(fewer --cycles, a longer --frame, or a shorter path)");
    }
    opt.mFrameMs = 100; // the same hour in 100 ms frames fits
    EXPECT_EQ(SampleActor(WalkerText(), opt).mClips[0].mFrames.size(), 36001u);
}

} // namespace
