// qvexport's walks hold what the demo plays: exported, imported back with
// qvimport and played, a walk keeps its speed (within 2 %) and cadence
// (within 1 %); measured in the exported file itself, from the joint
// transforms Assimp reads out of it, the feet stand still while down; a walk
// path turns as the demo's keys turn the character.
//
// Index
//   [SECTION] playing an actor file as the demo does
//   [SECTION] the round trip
//   [SECTION] feet in the exported file
//   [SECTION] the walk path
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "QV_capture.h"
#include "QV_export.h"
#include "QV_export_math.h"
#include "QV_footlock.h"
#include "QV_measure_host.h"
#include "QV_motion_trace.h"
#include "support/run_program.h"

using namespace qvexport;

namespace
{

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
const std::string kMocap = std::string(QV_SOURCE_DIR) + "/../shared/mocap/";

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "qvexport_walk_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// ---------------------------------------------------------------------------
// [SECTION] playing an actor file as the demo does

struct sGait
{
    double mSpeed = 0;   // the root's travel over the ground per second, units
    double mCadence = 0; // steps per minute: two a stride, strides per loop × the clock's restarts
};

// 15 s of walking with the contact locks at 1 ms frames (at the usual 16 ms
// a loop lasts a whole number of frames, and a loop 1 ms longer can take a
// frame more: 1.3 % of a stride); the speed over the last 12 s, the cadence
// from the clock's restarts over them.
sGait Walk(const std::string& actorText, int stridesPerLoop)
{
    measure::sSwitches sw;
    sw.mContactLock = true;
    measure::cHost host(measure::sActorText{actorText}, sw);
    cVector3D start;
    int restarts = 0;
    unsigned int first = 0, last = 0;
    for (unsigned int t = 0; t < 15000; ++t)
    {
        const unsigned int clock = host.actor().mTime;
        host.Frame(1, true);
        if (t < 3000)
            start = host.Root();
        else if (host.actor().mTime < clock)
        {
            first = restarts++ ? first : t;
            last = t;
        }
    }
    const cVector3D end = host.Root();
    sGait g;
    g.mSpeed = std::hypot(end.mData[0] - start.mData[0], end.mData[2] - start.mData[2]) / 12.0;
    g.mCadence = restarts > 1 ? 120000.0 * stridesPerLoop * (restarts - 1) / (last - first) : 0;
    return g;
}

double ShinLength(const std::string& actorText)
{
    const measure::cHost host(measure::sActorText{actorText});
    return host.Foot(measure::kLeft).mBone->mParent->mLength;
}

std::string Text(const std::string& path) { return qvtest::FileText(path); }

// ---------------------------------------------------------------------------
// [SECTION] the round trip

// The actor's walk exported (six loops, so that the importer finds steady
// cycles), imported back from the file with the default options, played.
void ExpectRoundTrip(const std::string& actorText, const std::string& label, int originalStrides, eFormat format)
{
    sOptions opt;
    opt.mAction = "walk";
    opt.mCycles = 6;
    const sScene scene = SampleActor(actorText, opt);
    const std::string path = TempPath(label + (format == eFormat::kBvh ? ".bvh" : ".glb"));
    WriteFile(path, format == eFormat::kBvh ? FormatBvh(scene) : FormatGltf(scene, true));
    const qvimport::sImportResult back = qvimport::ImportFile(path, qvimport::sOptions());
    const sGait before = Walk(actorText, originalStrides);
    const sGait after = Walk(back.mXml, back.mCapturedWalk.mCycles);
    // The importer scales the figure to its standing hip height, which it
    // finds over its own ground: speeds compare in shins (the left foot's
    // parent bone, the same bone in both files).
    const double speedBefore = before.mSpeed / ShinLength(actorText), speedAfter = after.mSpeed / ShinLength(back.mXml);
    printf("%s: speed %.4f -> %.4f shins/s (%+.2f %%), cadence %.2f -> %.2f steps/min (%+.2f %%)\n", label.c_str(),
           speedBefore, speedAfter, 100 * (speedAfter / speedBefore - 1), before.mCadence, after.mCadence,
           100 * (after.mCadence / before.mCadence - 1));
    EXPECT_NEAR(speedAfter / speedBefore, 1.0, 0.02) << label;
    EXPECT_NEAR(after.mCadence / before.mCadence, 1.0, 0.01) << label;
}

TEST(QvExportRoundTrip, TheWalkerExportedAndImportedBackWalksAtItsSpeedAndCadence)
{
    ExpectRoundTrip(Text(kWalker), "walker_glb", 1, eFormat::kGlb);
    ExpectRoundTrip(Text(kWalker), "walker_bvh", 1, eFormat::kBvh);
}

TEST(QvExportRoundTrip, ACapturedWalkImportedExportedAndImportedAgainKeepsItsGait)
{
    const std::string bvh = kMocap + "131_01.bvh";
    ASSERT_TRUE(std::ifstream(bvh).good()) << "the captured clips are missing: " << bvh;
    const qvimport::sImportResult first = qvimport::ImportFile(bvh, qvimport::sOptions());
    ExpectRoundTrip(first.mXml, "131_01_glb", first.mCapturedWalk.mCycles, eFormat::kGlb);
}

// A take that walks, turns a corner and walks on: the importer loops a
// stretch that walks straight, not strides through the turn, so the feet it
// plants stay within the legs' reach; the speed is still the walk's.
TEST(QvExportRoundTrip, AWalkThatTurnsACornerIsLoopedFromAStraightStretch)
{
    sOptions opt;
    opt.mPath = ParsePath("walk 4, left 90, walk 4, stop");
    const sScene scene = SampleActor(Text(kWalker), opt);
    const std::string path = TempPath("corner.glb");
    WriteFile(path, FormatGltf(scene, true));
    const qvimport::sImportResult back = qvimport::ImportFile(path, qvimport::sOptions());
    const double frameMs = opt.mFrameMs;
    // The turn's frames: from the end of the first 4 s (the start, standing,
    // is one frame) to the end of the quarter turn at 0.1 degree a ms.
    const int turnBegin = (int)(4000 / frameMs), turnEnd = (int)((4000 + 900) / frameMs) + 1;
    for (int w = 0; w < 2; ++w)
    {
        const int a = back.mActor.mCycleFrames[w][0], b = back.mActor.mCycleFrames[w][1];
        EXPECT_TRUE(b <= turnBegin || a >= turnEnd) << "walk " << w << ": frames " << a << "-" << b;
    }
    EXPECT_LT(back.mActor.mPlant[0].mLargestShift, 0.1);
    EXPECT_LT(back.mActor.mPlant[0].mLargestMiss, 1e-6);
    const sGait straight = Walk(Text(kWalker), 1);
    const sGait after = Walk(back.mXml, back.mCapturedWalk.mCycles);
    const double ratio = (after.mSpeed / ShinLength(back.mXml)) / (straight.mSpeed / ShinLength(Text(kWalker)));
    EXPECT_NEAR(ratio, 1.0, 0.05);
}

// The walker's walk as a game asset has it: one stride made to loop, in
// place (the travel left out) or travelling; its last frame the first again,
// as exported, or dropped (a loop that wraps from its last frame to its
// first). Imported with no options, each walks at the walker's speed and
// cadence; the first part of the stride alone is no loop and is refused.
TEST(QvExportRoundTrip, AWalkOfOneStrideMadeToLoopImportsAsAWalk)
{
    const std::string walker = Text(kWalker);
    const sGait original = Walk(walker, 1);
    const double originalSpeed = original.mSpeed / ShinLength(walker);
    for (bool inPlace : {true, false})
        for (bool wraps : {false, true})
        {
            const std::string label = std::string(inPlace ? "in place" : "travelling") + (wraps ? ", wraps" : "");
            sOptions opt;
            opt.mAction = "walk";
            opt.mInPlace = inPlace;
            sScene scene = SampleActor(walker, opt);
            sClip& clip = scene.mClips.at(0);
            if (inPlace)
                clip.mTravel.assign(clip.mFrames.size(), sTransform());
            if (wraps)
            {
                clip.mFrames.pop_back();
                clip.mTravel.pop_back();
            }
            const std::string path = TempPath("loop.glb");
            WriteFile(path, FormatGltf(scene, true));
            const qvimport::sImportResult back = qvimport::ImportFile(path, qvimport::sOptions());
            EXPECT_EQ(back.mLoopTimes, 3) << label;
            const sGait after = Walk(back.mXml, back.mCapturedWalk.mCycles);
            // In place, the speed is the one the standing feet slide back at
            // (PutInMotion): 4.5 % over the walk's here.
            EXPECT_NEAR(after.mSpeed / ShinLength(back.mXml) / originalSpeed, 1.0, inPlace ? 0.05 : 0.02) << label;
            EXPECT_NEAR(after.mCadence / original.mCadence, 1.0, 0.01) << label;
        }
    sOptions opt;
    opt.mAction = "walk";
    sScene scene = SampleActor(walker, opt);
    std::vector<std::vector<sTransform>>& frames = scene.mClips.at(0).mFrames;
    frames.resize(frames.size() * 7 / 10);
    scene.mClips[0].mTravel.resize(frames.size());
    const std::string path = TempPath("part.glb");
    WriteFile(path, FormatGltf(scene, true));
    EXPECT_THROW(qvimport::ImportFile(path, qvimport::sOptions()), qvimport::cImportError);
}

// ---------------------------------------------------------------------------
// [SECTION] feet in the exported file

// The heel, ball and toe tip of a foot, placed by the foot's and the toes'
// frames as the file has them (Assimp's world rotation and position of each
// joint) and the rest pose the file holds: the points the contact locks
// stand on (FootContactPoints).
struct sFootJoints
{
    int mFoot = -1, mToe = -1;       // in the scene's joints
    int mFootCap = -1, mToeCap = -1; // in Assimp's
    cVector3D mHeel;                 // in the foot's frame
    float mFootLength = 0, mToeLength = 0;
};

cMatrix4D FrameOf(const qvimport::sQuat& q, const qvimport::sVec3& p)
{
    const tMat3 r = MatOf({q.x, q.y, q.z, q.w});
    cMatrix4D m;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            m._m[c * 4 + k] = (float)r[c * 3 + k];
    m.setTransform((float)p.x, (float)p.y, (float)p.z);
    return m;
}

sFootJoints FindFoot(const sScene& scene, const qvimport::sCapture& cap, const char* name)
{
    sFootJoints f;
    for (size_t j = 0; j < scene.mJoints.size(); ++j)
        if (scene.mJoints[j].mName == name)
            f.mFoot = (int)j;
    for (size_t j = 0; j < scene.mJoints.size(); ++j)
        if (f.mToe < 0 && scene.mJoints[j].mParent == f.mFoot)
            f.mToe = (int)j;
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
    {
        if (cap.mJoints[j].mName == name)
            f.mFootCap = (int)j;
        if (f.mToe >= 0 && cap.mJoints[j].mName == scene.mJoints[f.mToe].mName)
            f.mToeCap = (int)j;
    }
    const sJoint& foot = scene.mJoints[f.mFoot];
    f.mFootLength = (float)foot.mLength;
    f.mToeLength = f.mToe >= 0 ? (float)scene.mJoints[f.mToe].mLength : 0.0f;
    // The heel straight below the ankle at rest, as far down as the ball or
    // toe tip (HeelDrop), in the foot's frame.
    const tVec ball = Rotate(foot.mRestWorld.mRotation, {0, foot.mLength, 0});
    double tipY = foot.mRestWorld.mTranslation[1] + ball[1];
    if (f.mToe >= 0)
    {
        const sJoint& toe = scene.mJoints[f.mToe];
        tipY = toe.mRestWorld.mTranslation[1] + Rotate(toe.mRestWorld.mRotation, {0, toe.mLength, 0})[1];
    }
    const double ankleY = foot.mRestWorld.mTranslation[1];
    const double drop = HeelDrop(ankleY, ankleY + ball[1], tipY, foot.mLength);
    const tVec heel = Rotate(Conjugate(foot.mRestWorld.mRotation), {0, -drop, 0});
    f.mHeel = cVector3D((float)heel[0], (float)heel[1], (float)heel[2]);
    return f;
}

TEST(QvExportFeet, InTheExportedFileTheFeetSlideUnderOnePercentOfAStrideWhileDown)
{
    sOptions opt;
    opt.mAction = "walk";
    opt.mCycles = 4;
    const sScene scene = SampleActor(Text(kWalker), opt);
    for (bool binary : {false, true})
    {
        const std::string path = TempPath(binary ? "feet.glb" : "feet.gltf");
        WriteFile(path, FormatGltf(scene, binary));
        const qvimport::sCapture cap = qvimport::ReadScene(path);
        ASSERT_GT(cap.Frames(), 300u);
        // A stride: the root's travel over one loop, from the file.
        const size_t loop = (cap.Frames() - 1) / opt.mCycles;
        const qvimport::sVec3 a = cap.mPosition[0][0], b = cap.mPosition[loop][0];
        const double stride = std::hypot(b.x - a.x, b.z - a.z);
        ASSERT_GT(stride, 0.5);
        double height = 0;
        for (const sJoint& j : scene.mJoints)
            height = std::max(height, j.mRestWorld.mTranslation[1]);
        int contacts = 0;
        double worst = 0;
        for (const char* name : {"Bone.008", "Bone.007"})
        {
            const sFootJoints f = FindFoot(scene, cap, name);
            ASSERT_GE(f.mFootCap, 0) << name;
            measure::sTrack tracks[cFootLock::kContactPoints];
            for (size_t fr = 0; fr < cap.Frames(); ++fr)
            {
                const cMatrix4D foot = FrameOf(cap.mRotation[fr][f.mFootCap], cap.mPosition[fr][f.mFootCap]);
                const cMatrix4D toe =
                    f.mToeCap >= 0 ? FrameOf(cap.mRotation[fr][f.mToeCap], cap.mPosition[fr][f.mToeCap]) : foot;
                cVector3D points[cFootLock::kContactPoints];
                FootContactPoints(foot, f.mFootLength, f.mHeel, f.mToeCap >= 0 ? &toe : nullptr, f.mToeLength, points);
                for (int k = 0; k < cFootLock::kContactPoints; ++k)
                    tracks[k].Add(points[k]);
            }
            for (int k = 0; k < cFootLock::kContactPoints; ++k)
            {
                std::vector<double> slides;
                measure::ContactSlides(tracks[k], measure::ContactLevel(tracks[k], 0.001 * height), true, slides);
                contacts += (int)slides.size();
                for (double s : slides)
                    worst = std::max(worst, 100.0 * s / stride);
            }
        }
        printf("%s: %d contacts, worst slide %.2f %% of a %.3f-unit stride\n", path.c_str(), contacts, worst, stride);
        EXPECT_GE(contacts, 2 * opt.mCycles) << "each foot comes down every stride";
        EXPECT_LT(worst, 1.0);
    }
}

// ---------------------------------------------------------------------------
// [SECTION] the walk path

// "walk 2, left 90, walk 2, stop": the figure ends up facing a quarter turn
// to its left, having walked some way along both legs of the path, and
// stands still at the end.
TEST(QvExportPath, APathTurnsAQuarterAndStopsAsTheDemoWould)
{
    sOptions opt;
    opt.mPath = ParsePath("walk 2, left 90, walk 2, stop");
    const sScene scene = SampleActor(Text(kWalker), opt);
    ASSERT_EQ(scene.mClips.size(), 1u);
    const sClip& clip = scene.mClips[0];
    EXPECT_EQ(clip.mName, "path");
    EXPECT_EQ(clip.mFrames.size(), 1u + 200 + 90 + 200 + 100);
    // The root's heading: its turn about the vertical from the first frame.
    const tQuat q0 = clip.mFrames[0][0].mRotation, q1 = clip.mFrames.back()[0].mRotation;
    const tVec f0 = Rotate(q0, {1, 0, 0}), f1 = Rotate(q1, {1, 0, 0});
    const double turn = std::atan2(f0[2] * f1[0] - f0[0] * f1[2], f0[0] * f1[0] + f0[2] * f1[2]) * 180 / M_PI;
    EXPECT_NEAR(std::fabs(turn), 90.0, 3.0);
    const std::array<double, 3>& p0 = clip.mFrames[0][0].mTranslation;
    const std::array<double, 3>& mid = clip.mFrames[1 + 200 + 90][0].mTranslation;
    const std::array<double, 3>& p1 = clip.mFrames.back()[0].mTranslation;
    const double firstLeg = std::hypot(mid[0] - p0[0], mid[2] - p0[2]);
    const double secondLeg = std::hypot(p1[0] - mid[0], p1[2] - mid[2]);
    EXPECT_GT(firstLeg, 1.0);
    EXPECT_GT(secondLeg, 1.0);
    // The two legs at right angles.
    const double angle = std::acos(((mid[0] - p0[0]) * (p1[0] - mid[0]) + (mid[2] - p0[2]) * (p1[2] - mid[2])) /
                                   (firstLeg * secondLeg)) *
                         180 / M_PI;
    EXPECT_NEAR(angle, 90.0, 20.0);
    // To the figure's left: seen from above (+y), the second leg turns
    // anticlockwise from the first.
    const double up = (mid[2] - p0[2]) * (p1[0] - mid[0]) - (mid[0] - p0[0]) * (p1[2] - mid[2]);
    EXPECT_GT(up, 0.0);
    const std::array<double, 3>& beforeEnd = clip.mFrames[clip.mFrames.size() - 20][0].mTranslation;
    EXPECT_LT(std::hypot(p1[0] - beforeEnd[0], p1[2] - beforeEnd[2]), 0.01) << "standing at the end";
}

// The path's frames are the demo's: the same steps driven through
// StepCharacter (as the demo's keys drive it) put every bone's head where
// the clip's joints are, frame by frame, the re-centring added back.
TEST(QvExportPath, EveryFrameOfAPathIsWhereTheDemoPutsTheBones)
{
    sOptions opt;
    opt.mPath = ParsePath("walk 1, right 30, walk 1, stop");
    opt.mFrameMs = 16;
    const std::string text = Text(kWalker);
    const sScene scene = SampleActor(text, opt);
    const sClip& clip = scene.mClips[0];
    measure::sSwitches sw;
    sw.mContactLock = sw.mCrossFade = true;
    measure::cHost host(measure::sActorText{text}, sw);
    std::vector<sSteering> steps(1); // the first frame stands
    for (int f = 0; f < 63; ++f)     // 1 s at 16 ms frames, rounded
        steps.push_back({true, false, false});
    for (int f = 0; f < 19; ++f) // 30 degrees at 1.6 degrees a frame
        steps.push_back({true, false, true});
    for (int f = 0; f < 63; ++f)
        steps.push_back({true, false, false});
    for (int f = 0; f < 63; ++f)
        steps.push_back({false, false, false});
    ASSERT_EQ(clip.mFrames.size(), steps.size());
    double worst = 0;
    for (size_t f = 0; f < steps.size(); ++f)
    {
        host.Frame(opt.mFrameMs, steps[f]);
        std::vector<sTransform> world(scene.mJoints.size());
        for (size_t j = 0; j < world.size(); ++j)
        {
            const int p = scene.mJoints[j].mParent;
            world[j] = p < 0 ? clip.mFrames[f][j] : Compose(world[p], clip.mFrames[f][j]);
            const cBone* bone = nullptr;
            for (const cBone& b : host.actor().mArmature.mBones)
                bone = b.mName == scene.mJoints[j].mName ? &b : bone;
            ASSERT_NE(bone, nullptr);
            const cVector3D head = host.Unshifted(bone->mWorldTransform.getTransform());
            for (int k = 0; k < 3; ++k)
                worst = std::max(worst, std::fabs(world[j].mTranslation[k] - head.mData[k]));
        }
    }
    EXPECT_LT(worst, 1e-4);
}

TEST(QvExportPath, ThePathSyntaxReadsItsStepsAndNamesWhatItCannotRead)
{
    const std::vector<sPathStep> s = ParsePath("walk 4, left 90,right 45.5 , stand 2, stop");
    ASSERT_EQ(s.size(), 5u);
    EXPECT_EQ(s[0].mKind, sPathStep::kWalk);
    EXPECT_EQ(s[0].mAmount, 4.0);
    EXPECT_EQ(s[1].mKind, sPathStep::kLeft);
    EXPECT_EQ(s[2].mKind, sPathStep::kRight);
    EXPECT_EQ(s[2].mAmount, 45.5);
    EXPECT_EQ(s[3].mKind, sPathStep::kStand);
    EXPECT_EQ(s[4].mKind, sPathStep::kStand);
    EXPECT_EQ(s[4].mAmount, 1.0);
    for (const char* bad : {"", "walk", "walk -1", "jump 2", "walk 2,", "walk 2 3", "left nan", "walk 1e9", "stop 2x"})
    {
        try
        {
            ParsePath(bad);
            ADD_FAILURE() << "read '" << bad << "'";
        }
        catch (const cExportError& e)
        {
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
            EXPECT_EQ(std::string(e.what()).rfind("--path: ", 0), 0u) << e.what();
        }
    }
}

} // namespace
