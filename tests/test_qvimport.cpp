// qvimport: captured walks imported, loaded with the library's loader and
// played the way the demo plays its character walk forwards on planted feet
// at the captured cadence; key reduction keeps its bound; every bad input is
// one line and a failing status.
//
// Index
//   [SECTION] Playing    the demo's character step and what is measured
//   [SECTION] Captured   the two BVH clips end to end (skipped without them)
//   [SECTION] Synthetic  a small walker written here as glTF and as Collada; a
//                        capture moved, turned and scaled; Assimp's samples
//   [SECTION] Keys       the reduction bound over hand-picked channels
//   [SECTION] Errors     the program's failures
//   [SECTION] Files      the user's files: written whole or not at all, never
//                        the input; the hip heights the demo plays
//
// The BVH clips are from the CMU Graphics Lab Motion Capture Database
// (mocap.cs.cmu.edu), created with funding from NSF EIA-0196217.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "QV_capture.h"
#include "QV_character.h"
#include "QV_xml.h"
#include "support/base64.h"
#include "support/capture_edit.h"
#include "support/qv_expect.h"
#include "support/run_program.h"

using namespace qvimport;
using qvtest::Transformed;

namespace
{

const std::string kMocap = std::string(QV_SOURCE_DIR) + "/../shared/mocap/";
const std::string kProgram = std::string(QV_BINARY_DIR) + "/qvimport";

// Per process: CTest runs each test case as a process of its own, side by side.
std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "qvimport_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// ---- [SECTION] Playing ---------------------------------------------------------

bool Finite(const cMatrix4D& m)
{
    for (float v : m._m)
        if (!std::isfinite(v))
            return false;
    return true;
}

cVector3D Head(const cBone& b) { return b.mWorldTransform.getTransform(); }

// The root's place over the ground, x and z, the actor's re-centring (a
// large figure's every stride) added back.
std::array<double, 2> Ground(const cActor& a)
{
    const cVector3D h = Head(*a.mArmature.mRootBone);
    return {h.mData[0] + (double)a.mOriginShift[0], h.mData[2] + (double)a.mOriginShift[2]};
}
cVector3D Tail(const cBone& b)
{
    const float* m = b.mWorldTransform._m;
    return Head(b) + cVector3D(m[4], m[5], m[6]) * b.mLength;
}

// The foot's lowest point: the foot bone's head (the ankle) and the tips of
// the bones below it (the toes).
double FootLowest(const cBone& foot)
{
    double y = Head(foot).mData[1];
    for (const cBone* c : foot.mChildren)
        y = std::min(y, (double)std::min(Head(*c).mData[1], Tail(*c).mData[1]));
    return y;
}

struct sPlay
{
    double mSeconds = 0;   // walking time measured (after the first two seconds)
    double mTravel = 0;    // root's horizontal travel over it
    double mForward = 0;   // travel along the forward direction at the start of the walk
    double mLeft = 0;      // travel to the figure's left of it
    double mCycleMs = 0;   // mean time between clock restarts
    double mLowest = 1e30; // per frame lowest foot point: its smallest and largest
    double mLowestMax = -1e30;
    int mStanceFrames = 0; // foot frames on the ground, and of those, locked
    int mLockedFrames = 0;
    int mGroundFrames = 0; // frames with a foot on the ground, and of those, carried by a locked foot
    int mCarriedFrames = 0;
    bool mFinite = true;
    double mStandFoot[2] = {0, 0}; // each foot's lowest point after standing half a second
};

// The demo's character step without the window: standing half a second,
// then W held for walkMs; turnRate degrees per millisecond (positive: to
// the left) as a player gets it, holding A or D on some frames only.
sPlay Play(cActor& a, unsigned dt, double walkMs, double height, double turnRate = 0)
{
    sPlay p;
    for (unsigned t = 0; t < 500; t += dt)
        StepCharacter(a, dt, sSteering());
    double turnOwed = 0;
    p.mStandFoot[0] = FootLowest(*a.mLeftFoot.mBone);
    p.mStandFoot[1] = FootLowest(*a.mRightFoot.mBone);
    const cVector3D dir0 = a.mLeftFoot.mDir;
    const std::array<double, 2> start0 = Ground(a);
    std::array<double, 2> start = start0;
    double clock = 0, firstWrap = -1, lastWrap = -1;
    int wraps = 0;
    unsigned prevTime = a.mTime;
    for (double t = 0; t < walkMs; t += dt)
    {
        sSteering steer;
        steer.mWalk = true;
        turnOwed += dt * std::fabs(turnRate);
        if (turnOwed >= dt * kTurnRate)
        {
            turnOwed -= dt * kTurnRate;
            (turnRate > 0 ? steer.mTurnLeft : steer.mTurnRight) = true;
        }
        StepCharacter(a, dt, steer);
        clock += dt;
        for (const cBone& b : a.mArmature.mBones)
            p.mFinite = p.mFinite && Finite(b.mWorldTransform);
        if (clock < 2000)
        {
            start = Ground(a);
            prevTime = a.mTime;
            continue;
        }
        if (a.mTime == 34 && prevTime != 34)
        {
            if (firstWrap < 0)
                firstWrap = clock;
            lastWrap = clock;
            ++wraps;
        }
        prevTime = a.mTime;
        p.mSeconds += dt / 1000.0;
        const double low = std::min(FootLowest(*a.mLeftFoot.mBone), FootLowest(*a.mRightFoot.mBone));
        p.mLowest = std::min(p.mLowest, low);
        p.mLowestMax = std::max(p.mLowestMax, low);
        bool down = false, carried = false;
        for (const cFootLock* lock : {&a.mLeftFoot, &a.mRightFoot})
            if (FootLowest(*lock->mBone) < 0.01 * height)
            {
                ++p.mStanceFrames;
                p.mLockedFrames += lock->mLock ? 1 : 0;
                down = true;
                carried = carried || lock->mLock;
            }
        p.mGroundFrames += down ? 1 : 0;
        p.mCarriedFrames += carried ? 1 : 0;
    }
    const std::array<double, 2> end = Ground(a);
    const cVector3D d((float)(end[0] - start[0]), 0, (float)(end[1] - start[1]));
    p.mTravel = d.length();
    const cVector3D whole((float)(end[0] - start0[0]), 0, (float)(end[1] - start0[1]));
    const cVector3D up(0, 1, 0);
    p.mForward = whole.dot(dir0);
    p.mLeft = whole.dot(up.cross(dir0));
    p.mCycleMs = wraps > 1 ? (lastWrap - firstWrap) / (wraps - 1) : 0;
    return p;
}

// Loads the file the way the demo does.
void Load(const std::string& path, cActor& a)
{
    ReadActorFromXML(path.c_str(), a);
    EXPECT_EQ(PrepareCharacter(a), "") << path;
}

// The file holds what the importer meant to write: the demo's bones and
// slots, and every key as built.
void ExpectRoundTrip(const sActorOut& out, cActor& a)
{
    ASSERT_EQ(a.mArmature.mBones.size(), out.mBones.size());
    for (size_t i = 0; i < out.mBones.size(); ++i)
        EXPECT_EQ(a.mArmature.mBones[i].mName, out.mBones[i].mName);
    ASSERT_NE(a.mLeftFoot.mBone, nullptr);
    ASSERT_NE(a.mRightFoot.mBone, nullptr);
    EXPECT_EQ(a.mLeftFoot.mBone->mName, "Bone.008");
    EXPECT_EQ(a.mRightFoot.mBone->mName, "Bone.007");
    ASSERT_FALSE(a.mArmature.mRootBone->mChildren.empty());
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        ASSERT_EQ(a.mAction[s].mChannels.size(), out.mBones.size());
        EXPECT_EQ(a.mAction[s].mLength, out.mAction[s].mLength);
        for (size_t c = 0; c < out.mBones.size(); ++c)
        {
            const KeyFrameVector& k = a.mAction[s].mChannels[c].mKeyFrames;
            const std::vector<sKey>& w = out.mAction[s].mChannels[c];
            ASSERT_EQ(k.size(), w.size());
            EXPECT_EQ(k.front().mTime, 34u);
            EXPECT_EQ(k.back().mTime, a.mAction[s].mLength);
            // A cycle loops seamlessly: its last key is its first pose (q or
            // -q), and no stretch between keys turns the long way round (the
            // library interpolates without taking the shorter arc).
            const float sign = k.front().mValue.mData[3] * k.back().mValue.mData[3] < 0 ? -1.0f : 1.0f;
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(k.front().mValue.mData[i], sign * k.back().mValue.mData[i]) << "a cycle must loop seamlessly";
            for (size_t i = 0; i < k.size(); ++i)
            {
                if (i > 0)
                {
                    float dot = 0;
                    for (int m = 0; m < 4; ++m)
                        dot += k[i].mValue.mData[m] * k[i - 1].mValue.mData[m];
                    EXPECT_GE(dot, 0.0f) << "action " << s << ", channel " << c << ", key " << i;
                }
                EXPECT_EQ(k[i].mTime, w[i].mTime);
                EXPECT_NEAR(k[i].mValue.mData[3], w[i].mValue.w, 1e-6);
                EXPECT_NEAR(k[i].mValue.mData[0], w[i].mValue.x, 1e-6);
            }
        }
    }
}

// The root stands at the hips, and the hips stand where the root's keys say:
// played as the demo plays it, at every root key of every action the pelvis
// is at the root's rest height plus the key's h (and halfway between two
// keys, halfway between their heights), straight below nothing else.
void ExpectHipsAtRestPlusHeight(const sActorOut& out, cActor& a)
{
    const size_t pelvis = 2; // root, forward, then the captured bones from the pelvis
    const double rest = a.mArmature.mRootBone->mRestTransform._m[13];
    EXPECT_NEAR(rest, out.mBones[0].mOffset.z, 1e-5) << "the root stands at the standing hip height";
    for (unsigned s = 0; s < kActionSlots; ++s)
    {
        const std::vector<sKey>& keys = out.mAction[s].mChannels[0];
        for (size_t i = 0; i < keys.size(); ++i)
        {
            ASSERT_TRUE(keys[i].mHasHeight) << "every key of the root carries a height";
            double want = keys[i].mHeight;
            unsigned t = keys[i].mTime;
            if (i + 1 < keys.size() && keys[i + 1].mTime >= t + 2 && (keys[i + 1].mTime - t) % 2 == 0)
            {
                t = (t + keys[i + 1].mTime) / 2;
                want = 0.5 * (keys[i].mHeight + keys[i + 1].mHeight);
            }
            a.mCurrentAction = a.mNextAction = s;
            a.mTime = t;
            a.Animate(0);
            const cVector3D hips = Head(a.mArmature.mBones[pelvis]);
            const cVector3D root = Head(*a.mArmature.mRootBone);
            EXPECT_NEAR(hips.mData[1], rest + want, 1e-4 * rest) << "action " << s << " at " << t << " ms";
            EXPECT_NEAR((hips - root).length(), 0.0, 1e-4 * rest);
        }
    }
    ASSERT_FALSE(out.mAction[1].mChannels[0].empty());
    EXPECT_EQ(out.mAction[1].mChannels[0].front().mHeight, 0.0) << "the stand is the rest pose";
}

// Imports the clip, loads the result, plays it at 1, 16 and 33 ms frames,
// checks it walks like the capture, and prints the figures.
// With the (default) ankle locks the walk travels at no more than ankleMax
// times the captured speed, and a locked foot carries it on more than
// minCarried of the frames with a foot down.
void ImportAndWalk(const std::string& label, const sCapture& cap, double minCarried, double ankleMax)
{
    const sImportResult r = Import(cap, sOptions());
    const std::string path = TempPath(label + ".xml");
    WriteFile(path, r.mXml);

    cActor loaded;
    ASSERT_NO_THROW(Load(path, loaded));
    EXPECT_EQ(WalkerProblem(loaded), "") << "the demo plays it as its character";
    ExpectRoundTrip(r.mActor, loaded);
    ExpectHipsAtRestPlusHeight(r.mActor, loaded);

    const double height = r.mActor.mFigureHeight;
    const double leg = r.mActor.mLegLength;
    const double cycleCadence = r.mCapturedWalk.mCadence;
    // The walk plays at the steady walk's mean pace, and covers its mean
    // stride: a capture's strides vary, and the walk stands for them all.
    EXPECT_NEAR(cycleCadence, r.mCaptured.mCadence, 0.01 * r.mCaptured.mCadence);
    EXPECT_NEAR(r.mCapturedWalk.mSpeedLegs, r.mCaptured.mSpeedLegs, 0.05 * r.mCaptured.mSpeedLegs);
    printf("%s: captured %.3f leg/s, %.1f steps/min over %d steady cycles; the imported cycle %.3f leg/s, %.1f "
           "steps/min\n",
           label.c_str(), r.mCaptured.mSpeedLegs, r.mCaptured.mCadence, r.mCaptured.mCycles, r.mCapturedWalk.mSpeedLegs,
           cycleCadence);
    for (unsigned dt : {1u, 16u, 33u})
    {
        SCOPED_TRACE(testing::Message() << label << " at " << dt << " ms frames");
        cActor a;
        Load(path, a);
        const sPlay p = Play(a, dt, 20000, height);
        const double speed = p.mTravel / p.mSeconds / leg;
        // A walk made of a run of strides restarts its clock once per run.
        const double cadence = p.mCycleMs > 0 ? 120000.0 * r.mCapturedWalk.mCycles / p.mCycleMs : 0;
        const double lockShare = p.mStanceFrames ? (double)p.mLockedFrames / p.mStanceFrames : 0;
        const double carriedShare = p.mGroundFrames ? (double)p.mCarriedFrames / p.mGroundFrames : 0;
        printf("  %2u ms: %.3f leg/s (%.0f %% of captured, %.0f %% of the cycle's), %.1f steps/min (%+.1f %% of the "
               "cycle's), lowest foot point %+.2f .. %+.2f %% of height (captured up to %+.2f), feet locked on %.0f "
               "%% of their ground frames, a foot locked on %.0f %% of frames with one down\n",
               dt, speed, 100 * speed / r.mCaptured.mSpeedLegs, 100 * speed / r.mCapturedWalk.mSpeedLegs, cadence,
               100 * (cadence / cycleCadence - 1), 100 * p.mLowest / height, 100 * p.mLowestMax / height,
               100 * r.mActor.mWalkLowestMax / height, 100 * lockShare, 100 * carriedShare);
        EXPECT_TRUE(p.mFinite);
        // Standing, both feet are on the ground.
        EXPECT_NEAR(p.mStandFoot[0], 0.0, 0.01 * height);
        EXPECT_NEAR(p.mStandFoot[1], 0.0, 0.01 * height);
        EXPECT_GT(p.mForward, 0.5 * r.mCaptured.mSpeedLegs * leg * 18.0) << "the root travels forward";
        EXPECT_GT(speed, 0.5 * r.mCaptured.mSpeedLegs);
        EXPECT_LT(speed, ankleMax * r.mCaptured.mSpeedLegs);
        EXPECT_NEAR(cadence / cycleCadence, 1.0, 0.03);
        // The feet reach the ground and never sink through it; no frame has
        // them higher than the capture has them (its heels are not joints,
        // so at heel strike its lowest joint is the other foot's toe).
        EXPECT_GT(p.mLowest, -0.01 * height) << "a foot goes through the ground";
        EXPECT_LT(p.mLowest, 0.01 * height) << "the feet never reach the ground";
        EXPECT_LT(p.mLowestMax, r.mActor.mWalkLowestMax + 0.01 * height) << "both feet leave the ground";
        EXPECT_GT(carriedShare, minCarried) << "the locks carry the body on most frames";

        // The contact locks hold the point each foot stands on, which the
        // importer keeps in place while the foot is down: the walk then
        // travels at the capture's own speed.
        cActor c;
        Load(path, c);
        c.mContactLock = true;
        const sPlay held = Play(c, dt, 20000, height);
        const double heldSpeed = held.mTravel / held.mSeconds / leg;
        printf("        contact locks: %.3f leg/s (%.0f %% of captured)\n", heldSpeed,
               100 * heldSpeed / r.mCaptured.mSpeedLegs);
        EXPECT_TRUE(held.mFinite);
        EXPECT_NEAR(heldSpeed / r.mCaptured.mSpeedLegs, 1.0, 0.05);
    }

    // Turning with A held: the path curves to the figure's left.
    cActor a;
    Load(path, a);
    const sPlay turn = Play(a, 16, 4000, height, 0.02);
    EXPECT_GT(turn.mLeft, 0.05 * turn.mForward);
    cActor b;
    Load(path, b);
    const sPlay right = Play(b, 16, 4000, height, -0.02);
    EXPECT_LT(right.mLeft, -0.05 * right.mForward);
}

// ---- [SECTION] Captured --------------------------------------------------------

TEST(QvImportCaptured, BothClipsWalkInTheDemoAtTheCapturedCadenceOnTheGround)
{
    // The ankle locks let go as the heel rises, while the ball (planted)
    // stays: 131_01 loses a little travel there, and a lock holds on about
    // four fifths of the frames with a foot down. 131_02 is stylised: it
    // lands on its toes and lowers the heel after, so its ankle moves
    // backwards under the body while the toe stands; the ankle locks carry
    // the root by that too (about one and a half times the captured speed)
    // and take turns (each sees the other's correction as its foot moving
    // forwards): a lock holds on about three quarters of those frames.
    const struct
    {
        const char* mName;
        double mMinCarried, mAnkleMax;
    } clips[2] = {{"131_01", 0.75, 1.05}, {"131_02", 0.6, 1.8}};
    for (const auto& clip : clips)
    {
        const std::string path = kMocap + clip.mName + ".bvh";
        if (!Exists(path))
            GTEST_SKIP() << "no captured clips in " << kMocap;
        SCOPED_TRACE(clip.mName);
        ImportAndWalk(clip.mName, ReadScene(path), clip.mMinCarried, clip.mAnkleMax);
    }
}

TEST(QvImportCaptured, ChosenCycleAndFrameRangeGiveThatWalk)
{
    const std::string path = kMocap + "131_01.bvh";
    if (!Exists(path))
        GTEST_SKIP() << "no captured clips in " << kMocap;
    const sCapture cap = ReadScene(path);
    sOptions opt;
    opt.mFrameA = 560;
    opt.mFrameB = 680;
    const sImportResult r = Import(cap, opt);
    EXPECT_EQ(r.mActor.mCycleFrames[0][0], 560);
    EXPECT_EQ(r.mActor.mCycleFrames[0][1], 680);
    // 120 frames at 120 per second, keyed 8 ms short for the frame the
    // clock loses at each restart.
    EXPECT_EQ(r.mActor.mAction[0].mLength, 34u + 1000u - 8u);
    opt = sOptions();
    opt.mCycle = 1;
    const sImportResult c = Import(cap, opt);
    EXPECT_EQ(c.mActor.mCycleFrames[0][0], c.mCycles[0].mBegin);
    opt.mHipHeight = 1.0;
    const sImportResult half = Import(cap, opt);
    EXPECT_NEAR(half.mActor.mLegLength, 0.5 * c.mActor.mLegLength, 1e-9);
}

// ---- [SECTION] Synthetic ------------------------------------------------------------

// A synthetic walker (metres, +Y up, facing and walking +Z): hips, two
// three-bone legs with toe tips, a spine and a head. Each foot is down for
// 60 % of a one-second cycle while the hips move on at stride/second, and
// swings forwards over the rest; the legs reach their ankles by two-bone IK.
// The foot stays level. As a capture's feet do, a foot that is down may glide
// forwards at glide times the hips' speed (backwards where negative) and
// swivel about the vertical by up to swivel radians.
struct sJointDef
{
    const char* mName;
    int mParent;
    double mOffset[3];
};
const sJointDef kSyntheticJoints[] = {
    {"Hips", -1, {0, 0.93, 0}},
    {"LeftUpLeg", 0, {0.1, -0.05, 0}},
    {"LeftLeg", 1, {0, -0.45, 0}},
    {"LeftFoot", 2, {0, -0.43, 0}},
    {"LeftToeBase", 3, {0, -0.06, 0.13}},
    {"LeftToe_End", 4, {0, -0.01, 0.06}},
    {"RightUpLeg", 0, {-0.1, -0.05, 0}},
    {"RightLeg", 6, {0, -0.45, 0}},
    {"RightFoot", 7, {0, -0.43, 0}},
    {"RightToeBase", 8, {0, -0.06, 0.13}},
    {"RightToe_End", 9, {0, -0.01, 0.06}},
    {"Spine", 0, {0, 0.1, 0}},
    {"Head", 11, {0, 0.55, 0}},
    {"Head_End", 12, {0, 0.2, 0}},
};
const int kSyntheticJointCount = sizeof kSyntheticJoints / sizeof kSyntheticJoints[0];

struct sSyntheticWalk
{
    int mFrames = 0;
    std::vector<double> mTime;       // seconds
    std::vector<double> mHips;       // x, y, z per frame
    std::vector<double> mAngle[14];  // per joint and frame: rotation about +X, radians (legs only)
    std::vector<double> mSwivel[14]; // per foot joint and frame: then about the vertical, radians
};

sSyntheticWalk SyntheticWalk(double stride, double glide = 0, double swivel = 0)
{
    const double l1 = 0.45, l2 = 0.43, ankleY = 0.07, hipY = 0.93;
    const int fps = 30;
    sSyntheticWalk w;
    w.mFrames = 4 * fps + 1;
    const int thighOf[2] = {1, 6};
    for (int f = 0; f < w.mFrames; ++f)
    {
        const double t = (double)f / fps, hz = stride * t, hy = hipY + 0.01 * std::cos(4 * M_PI * t);
        w.mTime.push_back(t);
        w.mHips.insert(w.mHips.end(), {0.0, hy, hz});
        for (int s = 0; s < 2; ++s)
        {
            const double phase = t + 0.5 * s, cycle = std::floor(phase), p = phase - cycle;
            const double plant = stride * (cycle - 0.5 * s) + 0.3 * stride;
            // Down, the hips pass over the plant (and the foot glides past
            // it); then it swings on to the next.
            const double slip = glide * stride * 0.3;
            double az = plant + glide * stride * (p - 0.3), ay = ankleY, turn = swivel * std::sin(M_PI * p / 0.6);
            if (p >= 0.6)
            {
                const double u = (p - 0.6) / 0.4;
                az = plant + slip + (stride - 2 * slip) * (u - std::sin(2 * M_PI * u) / (2 * M_PI));
                ay += 0.08 * std::sin(M_PI * u);
                turn = 0;
            }
            const double dz = az - hz, dy = ay - (hy - 0.05);
            const double d = std::min(l1 + l2 - 1e-4, std::sqrt(dz * dz + dy * dy));
            const double alpha = std::atan2(dz, -dy);
            const double beta = std::acos((l1 * l1 + d * d - l2 * l2) / (2 * l1 * d));
            const double knee = M_PI - std::acos((l1 * l1 + l2 * l2 - d * d) / (2 * l1 * l2));
            const double thigh = -(alpha + beta); // about +X: negative swings the leg forwards
            w.mAngle[thighOf[s]].push_back(thigh);
            w.mAngle[thighOf[s] + 1].push_back(knee);
            w.mAngle[thighOf[s] + 2].push_back(-(thigh + knee)); // the foot stays level
            w.mSwivel[thighOf[s] + 2].push_back(turn);
        }
    }
    return w;
}

// The walker as glTF 2.0 with its data in one base64 buffer.
std::string WalkingGltf(double stride, double glide = 0, double swivel = 0)
{
    const sSyntheticWalk w = SyntheticWalk(stride, glide, swivel);
    const int legJoints[6] = {1, 6, 2, 7, 3, 8};
    std::vector<float> times(w.mTime.begin(), w.mTime.end()), hips(w.mHips.begin(), w.mHips.end());
    std::vector<unsigned char> buf;
    std::vector<std::pair<size_t, size_t>> views; // offset, length
    auto add = [&](const std::vector<float>& v) {
        views.push_back({buf.size(), v.size() * 4});
        const unsigned char* b = (const unsigned char*)v.data();
        buf.insert(buf.end(), b, b + v.size() * 4);
    };
    add(times);
    add(hips);
    for (int j : legJoints)
    {
        // About +X, then (the feet) about the vertical they are level to.
        std::vector<float> q;
        for (size_t f = 0; f < w.mAngle[j].size(); ++f)
        {
            const double a = w.mAngle[j][f], v = w.mSwivel[j].empty() ? 0 : w.mSwivel[j][f];
            const sQuat r =
                sQuat(std::cos(a / 2), std::sin(a / 2), 0, 0) * sQuat(std::cos(v / 2), 0, std::sin(v / 2), 0);
            q.insert(q.end(), {(float)r.x, (float)r.y, (float)r.z, (float)r.w});
        }
        add(q);
    }

    std::ostringstream g;
    g << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    for (int j = 0; j < kSyntheticJointCount; ++j)
    {
        const sJointDef& d = kSyntheticJoints[j];
        g << (j ? "," : "") << R"({"name":")" << d.mName << R"(","translation":[)" << d.mOffset[0] << ","
          << d.mOffset[1] << "," << d.mOffset[2] << "]";
        std::string children;
        for (int c = 0; c < kSyntheticJointCount; ++c)
            if (kSyntheticJoints[c].mParent == j)
                children += (children.empty() ? "" : ",") + std::to_string(c);
        if (!children.empty())
            g << R"(,"children":[)" << children << "]";
        g << "}";
    }
    g << R"(],"buffers":[{"byteLength":)" << buf.size() << R"(,"uri":"data:application/octet-stream;base64,)"
      << Base64(buf) << R"("}],"bufferViews":[)";
    for (size_t i = 0; i < views.size(); ++i)
        g << (i ? "," : "") << R"({"buffer":0,"byteOffset":)" << views[i].first << R"(,"byteLength":)"
          << views[i].second << "}";
    g << R"(],"accessors":[)";
    g << R"({"bufferView":0,"componentType":5126,"count":)" << w.mFrames << R"(,"type":"SCALAR","min":[0],"max":[)"
      << times.back() << "]}";
    g << R"(,{"bufferView":1,"componentType":5126,"count":)" << w.mFrames << R"(,"type":"VEC3"})";
    for (int i = 0; i < 6; ++i)
        g << R"(,{"bufferView":)" << 2 + i << R"(,"componentType":5126,"count":)" << w.mFrames << R"(,"type":"VEC4"})";
    g << R"(],"animations":[{"name":"walk","samplers":[)";
    for (int i = 0; i < 7; ++i)
        g << (i ? "," : "") << R"({"input":0,"output":)" << 1 + i << R"(,"interpolation":"LINEAR"})";
    g << R"(],"channels":[{"sampler":0,"target":{"node":0,"path":"translation"}})";
    for (int i = 0; i < 6; ++i)
        g << R"(,{"sampler":)" << 1 + i << R"(,"target":{"node":)" << legJoints[i] << R"(,"path":"rotation"}})";
    g << "]}]}";
    return g.str();
}

// The walker as Collada 1.4: joint nodes, each moving one animated by a
// sampled matrix per frame.
std::string WalkingCollada(double stride)
{
    const sSyntheticWalk w = SyntheticWalk(stride);
    auto matrix = [&](int j, int f) {
        std::ostringstream m;
        const sJointDef& d = kSyntheticJoints[j];
        const double a = w.mAngle[j].empty() ? 0 : w.mAngle[j][f], c = std::cos(a), s = std::sin(a);
        const double t[3] = {j == 0 ? w.mHips[3 * f] : d.mOffset[0], j == 0 ? w.mHips[3 * f + 1] : d.mOffset[1],
                             j == 0 ? w.mHips[3 * f + 2] : d.mOffset[2]};
        m << "1 0 0 " << t[0] << " 0 " << c << " " << -s << " " << t[1] << " 0 " << s << " " << c << " " << t[2]
          << " 0 0 0 1";
        return m.str();
    };
    std::ostringstream x;
    x << "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      << "<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n"
      << "<asset><unit name=\"meter\" meter=\"1\"/><up_axis>Y_UP</up_axis></asset>\n<library_animations>\n";
    for (int j = 0; j < kSyntheticJointCount; ++j)
    {
        if (j != 0 && w.mAngle[j].empty())
            continue;
        const std::string n = kSyntheticJoints[j].mName;
        x << "<animation id=\"" << n << "-anim\">\n<source id=\"" << n << "-time\"><float_array id=\"" << n
          << "-time-array\" count=\"" << w.mFrames << "\">";
        for (double t : w.mTime)
            x << t << " ";
        x << "</float_array><technique_common><accessor source=\"#" << n << "-time-array\" count=\"" << w.mFrames
          << "\" stride=\"1\"><param name=\"TIME\" type=\"float\"/></accessor></technique_common></source>\n";
        x << "<source id=\"" << n << "-out\"><float_array id=\"" << n << "-out-array\" count=\"" << 16 * w.mFrames
          << "\">";
        for (int f = 0; f < w.mFrames; ++f)
            x << matrix(j, f) << " ";
        x << "</float_array><technique_common><accessor source=\"#" << n << "-out-array\" count=\"" << w.mFrames
          << "\" stride=\"16\"><param name=\"TRANSFORM\" type=\"float4x4\"/></accessor></technique_common></source>\n";
        x << "<sampler id=\"" << n << "-sampler\"><input semantic=\"INPUT\" source=\"#" << n
          << "-time\"/><input semantic=\"OUTPUT\" source=\"#" << n << "-out\"/></sampler>\n";
        x << "<channel source=\"#" << n << "-sampler\" target=\"" << n << "/transform\"/>\n</animation>\n";
    }
    x << "</library_animations>\n<library_visual_scenes><visual_scene id=\"Scene\" name=\"Scene\">\n";
    std::function<void(int)> node = [&](int j) {
        const std::string n = kSyntheticJoints[j].mName;
        x << "<node id=\"" << n << "\" name=\"" << n << "\" sid=\"" << n
          << "\" type=\"JOINT\"><matrix sid=\"transform\">" << matrix(j, 0) << "</matrix>\n";
        for (int c = 0; c < kSyntheticJointCount; ++c)
            if (kSyntheticJoints[c].mParent == j)
                node(c);
        x << "</node>\n";
    };
    node(0);
    x << "</visual_scene></library_visual_scenes>\n<scene><instance_visual_scene "
         "url=\"#Scene\"/></scene>\n</COLLADA>\n";
    return x.str();
}

TEST(QvImportSynthetic, SmallColladaWalkerImportsAndWalks)
{
    const std::string path = TempPath("walker.dae");
    WriteFile(path, WalkingCollada(1.2));
    const sCapture cap = ReadScene(path);
    const sImportResult r = Import(cap, sOptions());
    ASSERT_GE(r.mCycles.size(), 2u);
    EXPECT_NEAR(r.mCaptured.mCadence, 120.0, 120.0 * 0.03);
    ImportAndWalk("collada", cap, 0.8, 1.05);
}

TEST(QvImportSynthetic, SmallGltfWalkerImportsAndWalks)
{
    const std::string path = TempPath("walker.gltf");
    WriteFile(path, WalkingGltf(1.2));
    const sCapture cap = ReadScene(path);
    EXPECT_NEAR(cap.mRate, 30.0, 1e-6);
    const sImportResult r = Import(cap, sOptions());
    // Two whole steady cycles fit in four seconds; each lasts one second.
    ASSERT_GE(r.mCycles.size(), 2u);
    EXPECT_NEAR(r.mCaptured.mCadence, 120.0, 120.0 * 0.03);
    EXPECT_NEAR(r.mActor.mAction[0].mLength, 34.0 + 1000.0 - 8.0, 1.0);
    ImportAndWalk("gltf", cap, 0.8, 1.05);
}

// A capture's feet are not still while down: markers move on the skin, a
// stylised walk drags its toes, and closing the loop creeps them too. The
// locks carry the body only by a standing foot's slide backwards, so
// whatever a foot glides is travel lost (or, gliding backwards, gained).
// Planted, as the demo plays the walk, a foot that is held rolls about its
// lowest point, which moves backwards under the body by exactly the captured
// pelvis's step from one key to the next, the same for both feet while both
// are held; only the legs' keys change, the loop still closes, and the walk
// travels at the capture's own speed with the contact locks, however the
// captured feet glide and swivel.
TEST(QvImportSynthetic, PlantedFeetHoldStillAndWalkAtTheCapturedSpeed)
{
    const struct
    {
        double mGlide, mSwivel;
    } cases[] = {{0, 0}, {0.1, 0}, {0.25, 0}, {-0.15, 0}, {0, 0.2}, {0.15, 0.2}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(testing::Message() << "glide " << c.mGlide << ", swivel " << c.mSwivel);
        const std::string text = WalkingGltf(1.0, c.mGlide, c.mSwivel);
        const sCapture source = ReadSceneFromMemory(text.data(), text.size(), "gltf");
        sOptions every, raw;
        every.mToleranceDeg = 0; // every key kept
        raw.mToleranceDeg = 0;
        raw.mPlant = false;
        const sImportResult r = Import(source, every), asCaptured = Import(source, raw);
        const sActorOut& out = r.mActor;
        const sLoopPlant& plant = out.mPlant[0];
        const sOutAction& walk = out.mAction[0];
        // Every key is kept where the pose changes from key to key, as the
        // legs' do; the root's channel keeps only what its height needs.
        const size_t n = plant.mPelvisStep.size();
        size_t full = 0;
        for (size_t k = 0; k < walk.mChannels.size(); ++k)
            if (walk.mChannels[k].size() > walk.mChannels[full].size())
                full = k;
        ASSERT_EQ(walk.mChannels[full].size(), n + 1);
        ASSERT_EQ(plant.mHeld[0].size(), n);
        EXPECT_LT(plant.mLargestMiss, 1e-6) << "the legs reach every planted foot";
        if (c.mGlide != 0)
        {
            EXPECT_GT(plant.mLargestShift, 0.3 * std::fabs(c.mGlide) * 0.3 / 0.88);
        }
        if (c.mSwivel != 0)
        {
            EXPECT_GT(plant.mLargestTurnDeg, 0.3 * c.mSwivel * 180 / M_PI);
        }

        // The keys as the demo plays them.
        const std::string path = TempPath("planted.xml");
        WriteFile(path, r.mXml);
        cActor a;
        Load(path, a);
        const cFootLock* locks[2] = {&a.mLeftFoot, &a.mRightFoot};
        std::vector<std::array<cVector3D, 2>> pivot(n + 1); // per key, each foot's lowest point from the root
        std::vector<std::array<int, 2>> which(n + 1);
        for (size_t i = 0; i <= n; ++i)
        {
            a.mCurrentAction = a.mNextAction = 0;
            a.mTime = walk.mChannels[full][i].mTime;
            a.Animate(0);
            const cVector3D root = Head(*a.mArmature.mRootBone);
            for (int side = 0; side < 2; ++side)
            {
                cVector3D p[cFootLock::kContactPoints];
                locks[side]->ContactPoints(p);
                int k = 0;
                for (int m = 1; m < cFootLock::kContactPoints; ++m)
                    if (p[m].mData[1] < p[k].mData[1])
                        k = m;
                pivot[i][side] = p[k] - root;
                which[i][side] = k;
            }
        }
        const double leg = out.mLegLength;
        int heldSteps = 0, bothSteps = 0;
        for (size_t i = 1; i <= n; ++i)
        {
            const size_t before = i - 1, at = i % n;
            bool both = true;
            cVector3D moved[2];
            for (int side = 0; side < 2; ++side)
            {
                const bool held = plant.mHeld[side][before] && plant.mHeld[side][at];
                both = both && held;
                if (!held)
                    continue;
                // The point the foot stands on now, then and now.
                cVector3D then = pivot[before][side];
                if (which[before][side] != which[i][side])
                {
                    a.mTime = walk.mChannels[full][before].mTime;
                    a.Animate(0);
                    cVector3D p[cFootLock::kContactPoints];
                    locks[side]->ContactPoints(p);
                    then = p[which[i][side]] - Head(*a.mArmature.mRootBone);
                }
                moved[side] = pivot[i][side] - then;
                moved[side].mData[1] = 0;
                const sVec3& step = plant.mPelvisStep[before];
                EXPECT_NEAR(moved[side].length(), std::hypot(step.x, step.y), 1e-4 * leg)
                    << "side " << side << ", key " << i;
                ++heldSteps;
            }
            if (both)
            {
                EXPECT_LT((moved[0] - moved[1]).length(), 1e-4 * leg) << "key " << i;
                ++bothSteps;
            }
        }
        EXPECT_GT(heldSteps, (int)n) << "each foot is held for more than half the cycle";
        EXPECT_GT(bothSteps, 0);

        // Only the legs change, and the loop still closes.
        std::vector<int> thighs;
        for (size_t k = 0; k < out.mBones.size(); ++k)
            if (out.mBones[k].mName == kLeftFootName || out.mBones[k].mName == kRightFootName)
                thighs.push_back(out.mBones[out.mBones[k].mParent].mParent);
        ASSERT_EQ(thighs.size(), 2u);
        for (size_t k = 0; k < out.mBones.size(); ++k)
        {
            const std::vector<sKey>& ch = walk.mChannels[k];
            EXPECT_EQ(ch.front().mValue.Dot(ch.back().mValue), ch.front().mValue.Dot(ch.front().mValue));
            bool inLeg = false;
            for (int b = (int)k; b >= 0; b = out.mBones[b].mParent)
                inLeg = inLeg || b == thighs[0] || b == thighs[1];
            // The root carries the hips' height, which planting lowers
            // where a leg would not reach the floor: its keys may differ.
            if (inLeg || k == 0)
                continue;
            const std::vector<sKey>& raw = asCaptured.mActor.mAction[0].mChannels[k];
            ASSERT_EQ(ch.size(), raw.size());
            for (size_t i = 0; i < ch.size(); ++i)
                EXPECT_EQ(ch[i].mValue.Dot(raw[i].mValue), ch[i].mValue.Dot(ch[i].mValue))
                    << out.mBones[k].mName << ", key " << i;
        }

        // Played as the demo plays it, with the contact locks.
        double speed[2] = {0, 0};
        for (const sImportResult* imported : {&asCaptured, &r})
        {
            WriteFile(path, imported->mXml);
            cActor b;
            Load(path, b);
            b.mContactLock = true;
            const sPlay play = Play(b, 16, 8000, imported->mActor.mFigureHeight);
            EXPECT_TRUE(play.mFinite);
            speed[imported == &r] =
                play.mTravel / play.mSeconds / imported->mActor.mLegLength / imported->mCaptured.mSpeedLegs;
        }
        printf("glide %+.2f, swivel %.2f rad: %.0f %% of the captured speed as captured, %.0f %% planted (ankles "
               "moved up to %.3f legs, feet turned up to %.1f degrees)\n",
               c.mGlide, c.mSwivel, 100 * speed[0], 100 * speed[1], plant.mLargestShift, plant.mLargestTurnDeg);
        EXPECT_NEAR(speed[1], 1.0, 0.05) << "planted, of the captured speed";
        if (std::fabs(c.mGlide) >= 0.1)
        {
            EXPECT_GT(std::fabs(speed[0] - 1.0), 0.05) << "as captured, the glide shows in the speed";
        }
    }
}

// Adds a bone to a body built by hand; its index.
int AddBone(sActorOut& out, const std::string& name, int parent, sVec3 offset, double length, sQuat rest)
{
    sOutBone b;
    b.mName = name;
    b.mParent = parent;
    b.mOffset = offset;
    b.mLength = length;
    b.mRest = rest;
    out.mBones.push_back(b);
    return (int)out.mBones.size() - 1;
}

// A small two-legged body for PlantCycle alone: root, pelvis, and per leg a
// thigh, shin, foot and toe hanging straight down (+Y of each bone along it),
// body space +Z up. shin: the shin's length (0: a knee on the ankle).
sActorOut TwoLegs(double shin)
{
    sActorOut out;
    auto bone = [&](const char* name, int parent, sVec3 offset, double length, sQuat rest) {
        return AddBone(out, name, parent, offset, length, rest);
    };
    const sQuat down = sQuat::AxisAngle(sVec3(1, 0, 0), M_PI);       // +Y pointing down
    const sQuat ahead = sQuat::AxisAngle(sVec3(1, 0, 0), -M_PI / 2); // from down to forwards (+Y in body)
    bone("root", -1, sVec3(0, 0, 2), 0, sQuat());
    const int pelvis = bone("pelvis", 0, sVec3(), 0, sQuat());
    for (double side : {1.0, -1.0})
    {
        const int thigh = bone("thigh", pelvis, sVec3(0.2 * side, 0, 0), 1.0, down);
        const int knee = bone("shin", thigh, sVec3(0, 1.0, 0), shin, sQuat());
        const int foot = bone(side > 0 ? kLeftFootName : kRightFootName, knee, sVec3(0, shin, 0), 0.3, ahead);
        bone("toe", foot, sVec3(0, 0.3, 0), 0.1, sQuat());
    }
    out.mLegLength = 1.0 + shin;
    return out;
}

// PlantCycle on its own, over loops no capture gives: a foot down all round
// the loop, a foot never down, a knee sitting on the ankle, a body that
// travels further in a key than a leg reaches, a single key. Whatever it is
// given, it writes only the legs' keys, unit and finite, and leaves the loop
// closed.
TEST(QvImportPlant, PlantCycleKeepsEveryLoopWhole)
{
    const int n = 24;
    const struct
    {
        const char* mName;
        double mShin, mStep;
        int mDownLeft, mDownRight; // keys down out of n, from key 0
        int mKeys;
    } cases[] = {{"a walk", 1.0, 0.02, 14, 14, n},
                 {"down all round", 1.0, 0.02, n, 10, n},
                 {"never down", 1.0, 0.02, 0, 0, n},
                 {"a knee on the ankle", 0.0, 0.02, 14, 14, n},
                 {"a step beyond reach", 1.0, 5.0, 14, 14, n},
                 {"one key", 1.0, 0.02, 1, 1, 1}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mName);
        const sActorOut out = TwoLegs(c.mShin);
        sLegBones legs[2];
        for (int side = 0; side < 2; ++side)
            legs[side] = sLegBones{2 + 4 * side, 3 + 4 * side, 4 + 4 * side, 5 + 4 * side};
        std::vector<std::vector<sQuat>> keys(c.mKeys + 1, std::vector<sQuat>(out.mBones.size()));
        std::vector<char> down[2];
        std::vector<sVec3> step;
        for (int i = 0; i < c.mKeys; ++i)
        {
            // The legs swing to and fro about the hips, half a cycle apart.
            const double phase = 2 * M_PI * i / c.mKeys;
            keys[i][2] = sQuat::AxisAngle(sVec3(1, 0, 0), 0.4 * std::sin(phase));
            keys[i][6] = sQuat::AxisAngle(sVec3(1, 0, 0), -0.4 * std::sin(phase));
            keys[i][3] = keys[i][7] = sQuat::AxisAngle(sVec3(1, 0, 0), 0.1);
            keys[i][1] = sQuat::AxisAngle(sVec3(0, 0, 1), 0.05 * std::sin(phase)); // the pelvis turns a little
            down[0].push_back(i < c.mDownLeft);
            down[1].push_back((i + c.mKeys / 2) % c.mKeys < c.mDownRight);
            step.push_back(sVec3(0.005 * std::sin(phase), c.mStep, 0));
        }
        keys[c.mKeys] = keys[0];
        const std::vector<std::vector<sQuat>> before = keys;
        const sLoopPlant plant = PlantCycle(out, legs, down, step, keys);
        EXPECT_TRUE(std::isfinite(plant.mLargestShift) && std::isfinite(plant.mLargestMiss) &&
                    std::isfinite(plant.mLargestTurnDeg));
        for (size_t i = 0; i < keys.size(); ++i)
            for (size_t k = 0; k < keys[i].size(); ++k)
            {
                const sQuat& q = keys[i][k];
                ASSERT_TRUE(q.IsFinite()) << "key " << i << ", bone " << k;
                EXPECT_NEAR(q.Dot(q), 1.0, 1e-9) << "key " << i << ", bone " << k;
                if (k < 2)
                {
                    EXPECT_EQ(q.Dot(before[i][k]), before[i][k].Dot(before[i][k])) << "only the legs change";
                }
            }
        for (size_t k = 0; k < out.mBones.size(); ++k)
        {
            const sQuat &first = keys.front()[k], &last = keys.back()[k];
            EXPECT_TRUE(first.w == last.w && first.x == last.x && first.y == last.y && first.z == last.z)
                << "the last key repeats the first, bone " << k;
        }
        if (c.mKeys > 1 && c.mDownLeft > 0 && c.mDownLeft < c.mKeys && c.mStep < 1 && c.mShin > 0)
        {
            EXPECT_LT(plant.mLargestMiss, 1e-6);
            EXPECT_GT(plant.mLargestShift, 0.0);
        }
    }
}

// A walk of TwoLegs for PlantCycle: straight legs swinging about the hips,
// the left foot down for the first 24 of 40 keys and the right half a loop
// later, each foot standing pitched by `pitch` (radians about the across
// axis) from flat while down. Straight legs scrape the floor in mid-swing.
// TwoLegs with feet as feet stand: the foot bone slopes down from the ankle
// to the ball, the toes lie flat, and at rest heel, ball and toe tip are on
// one level.
sActorOut FlatFootedLegs()
{
    sActorOut out = TwoLegs(1.0);
    const sQuat down = sQuat::AxisAngle(sVec3(1, 0, 0), M_PI);
    for (int foot : {4, 8})
    {
        out.mBones[foot].mRest = down.Conj() * sQuat::AxisAngle(sVec3(1, 0, 0), -0.25);
        out.mBones[foot + 1].mRest = sQuat::AxisAngle(sVec3(1, 0, 0), 0.25);
    }
    return out;
}

struct sPlantWalk
{
    sActorOut mOut = FlatFootedLegs();
    sLegBones mLegs[2] = {{2, 3, 4, 5}, {6, 7, 8, 9}};
    std::vector<std::vector<sQuat>> mKeys;
    std::vector<char> mDown[2];
    std::vector<sVec3> mStep;
    std::vector<double> mHip;
    static const int n = 40, kDown = 24;

    explicit sPlantWalk(double pitch)
    {
        std::vector<sQuat> world;
        std::vector<sVec3> head;
        BodyPose(mOut, std::vector<sQuat>(mOut.mBones.size()), world, head);
        const std::vector<sQuat> rest = world;
        for (int i = 0; i <= n; ++i)
        {
            std::vector<sQuat> key(mOut.mBones.size());
            for (int side = 0; side < 2; ++side)
            {
                const int at = (i + side * n / 2) % n;
                const double t = at < kDown ? at / (double)kDown : (at - kDown) / (double)(n - kDown);
                const double swing = at < kDown ? 0.3 - 0.6 * t : -0.3 + 0.6 * t * t * (3 - 2 * t);
                key[mLegs[side].mThigh] = sQuat::AxisAngle(sVec3(1, 0, 0), swing);
                BodyPose(mOut, key, world, head);
                const int f = mLegs[side].mFoot;
                const sQuat stand = sQuat::AxisAngle(sVec3(1, 0, 0), at < kDown ? pitch : 0) * rest[f];
                key[f] = (mOut.mBones[f].mRest.Conj() * world[mOut.mBones[f].mParent].Conj() * stand).Unit();
                if (i < n)
                    mDown[side].push_back(at < kDown);
            }
            mKeys.push_back(key);
            mHip.push_back(1.95);
            if (i < n)
                mStep.push_back(sVec3(0, 2 * std::sin(0.3) * 2 / kDown, 0));
        }
    }
    // A foot's heel, ball and toe tip at key i, and its lowest one's height
    // over the floor.
    std::array<sVec3, 3> Points(int side, int i) const
    {
        std::vector<sQuat> world;
        std::vector<sVec3> head;
        BodyPose(mOut, mKeys[i], world, head);
        std::array<sVec3, 3> p;
        FootPoints(mOut, mLegs[side], FootHeel(mOut, mLegs[side]), world, head, p.data());
        return p;
    }
    double Lowest(int side, int i) const
    {
        const std::array<sVec3, 3> p = Points(side, i);
        return std::min({p[0].z, p[1].z, p[2].z}) + mHip[i];
    }
};

// A foot standing all but flat (a few degrees, as markers tilt a captured
// foot) is laid flat where it stands, heel and front on the floor; a foot
// pitched further (on its toes) keeps its pitch. A swinging foot comes down
// onto its place and lifts off it: never lower over the floor than its
// distance over the ground from where it stands next or stood last, up to
// its clearance, so that it touches the floor only where it is held.
TEST(QvImportPlant, AFootAllButFlatIsLaidFlatAndComesDownOntoItsPlace)
{
    for (double degrees : {-3.0, 2.0, 15.0})
    {
        SCOPED_TRACE(testing::Message() << "stands pitched by " << degrees << " degrees");
        sPlantWalk w(degrees * M_PI / 180);
        const std::array<sVec3, 3> before = w.Points(0, 12);
        ASSERT_NEAR(std::fabs(before[2].z - before[0].z), 0.3907 * std::sin(std::fabs(degrees) * M_PI / 180), 1e-3)
            << "the toe tip ahead of the heel, pitched";
        const sLoopPlant plant = PlantCycle(w.mOut, w.mLegs, w.mDown, w.mStep, w.mKeys, &w.mHip);
        const std::array<sVec3, 3> mid = w.Points(0, 12);
        if (degrees == 15.0)
        {
            EXPECT_EQ(plant.mLargestPitchDeg, 0.0);
            EXPECT_NEAR(mid[2].z - mid[0].z, before[2].z - before[0].z, 1e-6);
            continue;
        }
        EXPECT_NEAR(plant.mLargestPitchDeg, std::fabs(degrees), 0.5);
        EXPECT_NEAR(mid[0].z, std::min(mid[1].z, mid[2].z), 1e-3) << "heel and front level";
        EXPECT_NEAR(w.Lowest(0, 12), 0.0, 1e-6) << "on the floor";
        // Over the ground: body space plus the travel so far.
        std::vector<sVec3> travel(1);
        for (const sVec3& s : w.mStep)
            travel.push_back(travel.back() + s);
        const sVec3 loop = travel.back();
        for (int i = 0; i < sPlantWalk::n; ++i)
        {
            if (plant.mHeld[0][i])
                continue;
            const std::array<sVec3, 3> p = w.Points(0, i);
            const int k =
                (int)(std::min_element(p.begin(), p.end(), [](const sVec3& a, const sVec3& b) { return a.z < b.z; }) -
                      p.begin());
            double away = INFINITY;
            for (int h = 0; h < sPlantWalk::n; ++h)
                if (plant.mHeld[0][h])
                    for (int lap = -1; lap <= 1; ++lap)
                    {
                        sVec3 d = p[k] + travel[i] - (w.Points(0, h)[k] + travel[h] + loop * lap);
                        d.z = 0;
                        away = std::min(away, d.Length());
                    }
            EXPECT_GE(w.Lowest(0, i), std::min(0.01 * 2.0, away) - 1e-3) << "key " << i;
        }
    }
}

// One channel as built (not yet written), for the library to evaluate.
cChannel ToChannel(const std::vector<sKey>& keys)
{
    cChannel ch;
    for (const sKey& k : keys)
    {
        sKeyFrame f;
        f.mTime = k.mTime;
        f.mValue = cQuaternion((float)k.mValue.x, (float)k.mValue.y, (float)k.mValue.z, (float)k.mValue.w);
        ch.mKeyFrames.push_back(f);
    }
    return ch;
}

sQuat At(const cChannel& ch, unsigned t)
{
    cQuaternion q;
    ch.EvaluateAt(t, q);
    return sQuat(q.mData[3], q.mData[0], q.mData[1], q.mData[2]);
}

// A point in a bone's frame, from where it lies in the world (the library's
// world matrix) or in body space (the importer's rotation and head).
cVector3D InBone(const cMatrix4D& m, const cVector3D& p)
{
    const cVector3D d = p - m.getTransform();
    return cVector3D(m._m[0] * d.mData[0] + m._m[1] * d.mData[1] + m._m[2] * d.mData[2],
                     m._m[4] * d.mData[0] + m._m[5] * d.mData[1] + m._m[6] * d.mData[2],
                     m._m[8] * d.mData[0] + m._m[9] * d.mData[1] + m._m[10] * d.mData[2]);
}
cVector3D InBone(const sQuat& rotation, const sVec3& head, const sVec3& p)
{
    const sVec3 v = rotation.Conj() * (p - head);
    return cVector3D((float)v.x, (float)v.y, (float)v.z);
}

// The importer plants a walk on the points the demo's contact locks hold: on
// one body, written as a file and loaded as the demo loads it, the heel, ball
// and toe tip the importer finds in double precision (body space, z up) are
// those the foot locks find in single precision (world, y up). Both legs hang
// straight down. The left foot lies level with long toes bent down, further
// below it than the foot is long, so the heel drops by the foot's length; the
// right one has no toes and points down, so that its ball is its lowest point.
TEST(QvImportPlant, TheImportersFootPointsAreTheContactLocksOwn)
{
    sActorOut out;
    auto bone = [&](const std::string& name, int parent, sVec3 offset, double length, sQuat rest) {
        return AddBone(out, name, parent, offset, length, rest);
    };
    const sVec3 x(1, 0, 0);
    bone("root", -1, sVec3(0, 0, 2), 0, sQuat());
    bone("ahead", 0, sVec3(0, 0.5, 0), 0, sQuat());
    sLegBones legs[2];
    for (int side = 0; side < 2; ++side)
    {
        const std::string s = side == 0 ? "L" : "R";
        sLegBones& leg = legs[side];
        leg.mThigh = bone("thigh" + s, 0, sVec3(side == 0 ? 0.2 : -0.2, 0, 0), 1.0, sQuat::AxisAngle(x, -M_PI / 2));
        leg.mShin = bone("shin" + s, leg.mThigh, sVec3(0, 1, 0), 1.0, sQuat());
        const double pitch = side == 0 ? 0.0 : 0.35; // below level
        leg.mFoot = bone(side == 0 ? kLeftFootName : kRightFootName, leg.mShin, sVec3(0, 1, 0), 0.3,
                         sQuat::AxisAngle(x, M_PI / 2 - pitch));
        if (side == 0)
            leg.mToe = bone("toes" + s, leg.mFoot, sVec3(0, 0.3, 0), 1.0, sQuat::AxisAngle(x, -0.6));
    }
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        out.mAction[s].mName = "still";
        out.mAction[s].mLength = 1000;
        out.mAction[s].mChannels.assign(out.mBones.size(), std::vector<sKey>(1));
    }
    const std::string xml = WriteActorXml(out);
    cActor a;
    ReadActorFromMemory(xml.data(), xml.size(), a);
    ASSERT_EQ(WalkerProblem(a), "") << "a body the demo would play";
    a.SetConstraints();
    a.UpdateArmature();

    std::vector<sQuat> world;
    std::vector<sVec3> head;
    BodyPose(out, std::vector<sQuat>(out.mBones.size()), world, head);
    const cFootLock* locks[2] = {&a.mLeftFoot, &a.mRightFoot};
    const double drop[2] = {0.3, 0.3 * std::sin(0.35)};
    for (int side = 0; side < 2; ++side)
    {
        SCOPED_TRACE(side == 0 ? "left, with toes" : "right, without");
        const cFootLock& lock = *locks[side];
        ASSERT_NE(lock.mBone, nullptr);
        EXPECT_EQ(lock.mToe != nullptr, legs[side].mToe >= 0);
        const int f = legs[side].mFoot;
        const sVec3 heel = FootHeel(out, legs[side]);
        EXPECT_TRUE(qvtest::VecNear(lock.mHeel, cVector3D((float)heel.x, (float)heel.y, (float)heel.z)));
        sVec3 points[cFootLock::kContactPoints];
        FootPoints(out, legs[side], heel, world, head, points);
        cVector3D library[cFootLock::kContactPoints];
        lock.ContactPoints(library);
        for (int k = 0; k < cFootLock::kContactPoints; ++k)
            EXPECT_TRUE(
                qvtest::VecNear(InBone(lock.mBone->mWorldTransform, library[k]), InBone(world[f], head[f], points[k])))
                << "point " << k;
        EXPECT_NEAR(points[cFootLock::kHeel].z, head[f].z - drop[side], 1e-12);
    }
}

// Where the capture stands, which way it faces, which axis is up and which
// unit it was measured in change nothing in the file: same cycle, same
// bones, the same rotations at every millisecond.
TEST(QvImportCaptured, PlacementOrientationAndUnitOfTheCaptureChangeNothing)
{
    const std::string path = kMocap + "131_01.bvh";
    if (!Exists(path))
        GTEST_SKIP() << "no captured clips in " << kMocap;
    const sCapture cap = ReadScene(path);
    sOptions exact;
    exact.mToleranceDeg = 0;
    const sImportResult ref = Import(cap, exact);
    const sVec3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    const struct
    {
        const char* what;
        sQuat turn;
        double scale;
        sVec3 shift;
    } cases[] = {
        {"moved", sQuat(), 1, sVec3(3, 0.5, -7)},
        {"facing elsewhere", sQuat::AxisAngle(y, 1.2), 1, sVec3()},
        {"Z up", sQuat::AxisAngle(x, M_PI / 2), 1, sVec3()},
        {"X up, turned", sQuat::AxisAngle(z, -M_PI / 2) * sQuat::AxisAngle(y, 0.4), 1, sVec3(1, 2, 3)},
        {"upside down", sQuat::AxisAngle(x, M_PI), 1, sVec3()},
        {"centimetres", sQuat(), 100, sVec3()},
        {"kilometres, Z up", sQuat::AxisAngle(x, -M_PI / 2), 0.001, sVec3(0, 0, 5)},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.what);
        const sImportResult r = Import(Transformed(cap, c.turn, c.scale, c.shift), exact);
        ASSERT_EQ(r.mActor.mBones.size(), ref.mActor.mBones.size());
        EXPECT_EQ(r.mActor.mCycleFrames[0][0], ref.mActor.mCycleFrames[0][0]);
        EXPECT_EQ(r.mActor.mCycleFrames[0][1], ref.mActor.mCycleFrames[0][1]);
        EXPECT_EQ(r.mActor.mStanceFrame, ref.mActor.mStanceFrame);
        EXPECT_NEAR(r.mActor.mLegLength, ref.mActor.mLegLength, 1e-6);
        for (size_t b = 0; b < ref.mActor.mBones.size(); ++b)
        {
            EXPECT_NEAR(r.mActor.mBones[b].mLength, ref.mActor.mBones[b].mLength, 1e-6);
            EXPECT_LT(AngleBetween(r.mActor.mBones[b].mRest, ref.mActor.mBones[b].mRest), 1e-6);
        }
        double worst = 0;
        for (unsigned int s = 0; s < kActionSlots; ++s)
        {
            ASSERT_EQ(r.mActor.mAction[s].mLength, ref.mActor.mAction[s].mLength);
            for (size_t b = 0; b < ref.mActor.mBones.size(); ++b)
            {
                const cChannel p = ToChannel(r.mActor.mAction[s].mChannels[b]);
                const cChannel q = ToChannel(ref.mActor.mAction[s].mChannels[b]);
                for (unsigned t = 34; t <= ref.mActor.mAction[s].mLength; ++t)
                    worst = std::max(worst, AngleBetween(At(p, t), At(q, t)));
            }
        }
        EXPECT_LT(worst * 180 / M_PI, 0.01);
    }
}

// Assimp's own sample files (Debian's assimp-testmodels, when installed):
// whatever the importer accepts loads and plays without not-a-numbers, and
// everything else is refused with a cImportError, never another exception.
TEST(QvImportSamples, AssimpSampleFilesImportCleanlyOrAreRefused)
{
    const std::string root = "/usr/share/assimp/models";
    if (!Exists(root + "/BVH/01_01.bvh"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    int imported = 0, refused = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return (char)std::tolower(c); });
        if (!entry.is_regular_file() ||
            (ext != ".bvh" && ext != ".fbx" && ext != ".dae" && ext != ".gltf" && ext != ".glb"))
            continue;
        SCOPED_TRACE(entry.path().string());
        try
        {
            const sImportResult r = ImportFile(entry.path().string(), sOptions());
            const std::string path = TempPath("sample.xml");
            WriteFile(path, r.mXml);
            cActor a;
            ASSERT_NO_THROW(Load(path, a));
            const sPlay p = Play(a, 16, 4000, r.mActor.mFigureHeight);
            EXPECT_TRUE(p.mFinite);
            ++imported;
        }
        catch (const cImportError&)
        {
            ++refused;
        }
    }
    printf("%d sample files imported, %d refused\n", imported, refused);
    // 01_03 walks; 01_01 (jumps) and Boxing_Toes are not walks and are
    // refused (test_qvimport_wild.cpp).
    EXPECT_GE(imported, 1) << "the sample BVH walk";
}

// ---- [SECTION] Keys ------------------------------------------------------------

std::vector<sKey> Channel(int n, unsigned stepMs, const std::function<sQuat(double)>& at)
{
    std::vector<sKey> keys;
    for (int i = 0; i < n; ++i)
    {
        sKey k;
        k.mTime = 34 + i * stepMs;
        k.mValue = at((double)i / (n - 1)).Unit();
        if (!keys.empty() && k.mValue.Dot(keys.back().mValue) < 0)
            k.mValue = k.mValue.Neg();
        keys.push_back(k);
    }
    return keys;
}

TEST(QvImportKeys, ReducedChannelsStayWithinTheBoundUnderTheLibrarysInterpolation)
{
    const sVec3 x(1, 0, 0), y(0, 1, 0), tilted(0.3, 0.9, -0.3);
    const std::vector<std::pair<const char*, std::function<sQuat(double)>>> cases = {
        {"still", [](double) { return sQuat(); }},
        {"steady turn", [&](double u) { return sQuat::AxisAngle(x, 0.8 * u); }},
        {"half a turn", [&](double u) { return sQuat::AxisAngle(y, 3.0 * u); }},
        {"knee in swing", [&](double u) { return sQuat::AxisAngle(x, 1.1 * std::pow(std::sin(M_PI * u), 4)); }},
        {"two axes",
         [&](double u) {
             return sQuat::AxisAngle(x, 0.5 * std::sin(2 * M_PI * u)) *
                    sQuat::AxisAngle(y, 0.3 * std::cos(6 * M_PI * u));
         }},
        {"tilted wobble", [&](double u) { return sQuat::AxisAngle(tilted, 0.2 * std::sin(14 * M_PI * u)); }},
        {"jump", [&](double u) { return sQuat::AxisAngle(x, u < 0.5 ? 0.0 : 0.7); }},
        {"noise",
         [&](double u) {
             const double n = std::sin(12345.678 * u) * 43758.5453;
             return sQuat::AxisAngle(tilted, 0.01 * (n - std::floor(n)));
         }},
    };
    for (const auto& c : cases)
        for (unsigned step : {8u, 33u})
            for (double tol : {0.0, 0.05, 0.1, 1.0, 5.0})
            {
                SCOPED_TRACE(testing::Message() << c.first << ", " << step << " ms apart, " << tol << " degrees");
                const std::vector<sKey> full = Channel(121, step, c.second);
                const std::vector<sKey> reduced = ReduceKeys(full, tol);
                ASSERT_GE(reduced.size(), 2u);
                EXPECT_EQ(reduced.front().mTime, full.front().mTime);
                EXPECT_EQ(reduced.back().mTime, full.back().mTime);
                EXPECT_LE(reduced.size(), full.size());
                // Single precision reads back a key to about 0.005 degrees.
                EXPECT_LE(ReductionError(full, reduced), tol + 0.01);
                for (size_t i = 1; i < reduced.size(); ++i)
                    EXPECT_GT(reduced[i].mTime, reduced[i - 1].mTime);
            }
    // A small steady turn needs no key between its ends.
    EXPECT_EQ(ReduceKeys(Channel(121, 8, [&](double u) { return sQuat::AxisAngle(x, 0.2 * u); }), 0.1).size(), 2u);
}

// The root's heights, below rest as often as above it, come back from the
// reduced keys as the library plays them (cAction::RootHeightAt) within a
// thousandth of a unit of every full key, whatever the rotation bound.
TEST(QvImportKeys, ReducedRootHeightsStayWithinTheirBound)
{
    const std::vector<std::pair<const char*, std::function<double(double)>>> cases = {
        {"level", [](double) { return 0.0; }},
        {"bob", [](double u) { return 0.06 * std::cos(4 * M_PI * u) - 0.02; }},
        {"drop", [](double u) { return u < 0.3 ? 0.0 : -0.4; }},
        {"wobble", [](double u) { return 0.004 * std::sin(40 * M_PI * u); }},
    };
    for (const auto& c : cases)
        for (double tol : {0.0, 0.1, 45.0})
        {
            SCOPED_TRACE(testing::Message() << c.first << ", " << tol << " degrees");
            std::vector<sKey> full = Channel(121, 8, [](double) { return sQuat(); });
            for (size_t i = 0; i < full.size(); ++i)
            {
                full[i].mHasHeight = true;
                full[i].mHeight = c.second(i / 120.0);
            }
            const std::vector<sKey> reduced = ReduceKeys(full, tol);
            cAction played;
            for (const sKey& k : reduced)
            {
                ASSERT_TRUE(k.mHasHeight);
                played.mRootHeight.push_back({k.mTime, (float)k.mHeight});
            }
            double worst = 0;
            for (const sKey& k : full)
                worst = std::max(worst, std::fabs(played.RootHeightAt(k.mTime) - k.mHeight));
            EXPECT_LE(worst, 0.001 + 1e-6);
        }
}

// ---- [SECTION] Errors ----------------------------------------------------------

struct sRun
{
    int mStatus = -1;
    std::string mErr;
};

sRun RunProgram(const std::string& args)
{
    const std::string err = TempPath("stderr.txt");
    const std::string cmd = "'" + kProgram + "' " + args + " >/dev/null 2>'" + err + "'";
    sRun r;
    const int s = std::system(cmd.c_str());
    r.mStatus = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    r.mErr = qvtest::FileText(err);
    return r;
}

// A BVH of two joints that walk nowhere, with no foot among them.
const char* kFootlessBvh =
    "HIERARCHY\nROOT Body\n{\n  OFFSET 0 0 0\n  CHANNELS 6 Xposition Yposition Zposition "
    "Zrotation Xrotation Yrotation\n  JOINT Arm\n  {\n    OFFSET 1 0 0\n    CHANNELS 3 Zrotation "
    "Xrotation Yrotation\n    JOINT Hand\n    {\n      OFFSET 1 0 0\n      CHANNELS 3 Zrotation "
    "Xrotation Yrotation\n      End Site\n      {\n        OFFSET 1 0 0\n      }\n    }\n  }\n}\n"
    "MOTION\nFrames: 3\nFrame Time: 0.0333333\n0 1 0 0 0 0 0 0 0 0 0 0\n0 1 0 0 0 0 0 10 0 0 0 "
    "0\n0 1 0 0 0 0 0 20 0 0 0 0\n";

TEST(QvImportErrors, EveryFailureIsOneLineAndAFailingStatus)
{
    if (!Exists(kProgram))
        GTEST_SKIP() << "qvimport is not built";
    const std::string garbage = TempPath("garbage.bvh"), footless = TempPath("footless.bvh");
    WriteFile(garbage, std::string("HIERARCHY\nROOT \x01\x02{{{ OFFSET nan", 32));
    WriteFile(footless, kFootlessBvh);
    // CHANNELS after child joints: Assimp 5.2 reads freed memory on these.
    std::string late = kFootlessBvh;
    const std::string channels = "  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n";
    late.erase(late.find(channels), channels.size());
    late.insert(late.find("}\nMOTION"), channels);
    const std::string lateChannels = TempPath("late-channels.bvh");
    WriteFile(lateChannels, late);
    const std::string out = TempPath("out.xml");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"missing file", "'" + TempPath("nothing-here.bvh") + "' '" + out + "'"},
        {"garbage", "'" + garbage + "' '" + out + "'"},
        {"no feet", "'" + footless + "' '" + out + "'"},
        {"channels after child joints", "'" + lateChannels + "' '" + out + "'"},
        {"no arguments", ""},
        {"unknown option", "a.bvh b.xml --fast"},
        {"bad tolerance", "a.bvh b.xml --tolerance lots"},
        {"bad frames", "a.bvh b.xml --frames 9:3"},
        {"option without value", "a.bvh b.xml --cycle"},
    };
    const std::string clip = kMocap + "131_01.bvh";
    if (Exists(clip))
    {
        cases.push_back({"range outside the clip", "'" + clip + "' '" + out + "' --frames 10:100000"});
        cases.push_back({"no such cycle", "'" + clip + "' '" + out + "' --cycle 40"});
        cases.push_back({"named foot missing", "'" + clip + "' '" + out + "' --left-foot NoSuchJoint"});
    }
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.first);
        const sRun r = RunProgram(c.second);
        EXPECT_NE(r.mStatus, 0);
        EXPECT_EQ(r.mErr.rfind("qvimport: ", 0), 0u) << r.mErr;
        EXPECT_EQ(std::count(r.mErr.begin(), r.mErr.end(), '\n'), 1) << r.mErr;
    }
    // Without feet the message lists the joints that could be named instead.
    EXPECT_NE(RunProgram("'" + footless + "' '" + out + "'").mErr.find("'Arm'"), std::string::npos);
}

TEST(QvImportErrors, ClipShorterThanACycleIsRefused)
{
    const std::string path = kMocap + "131_02.bvh";
    if (!Exists(path))
        GTEST_SKIP() << "no captured clips in " << kMocap;
    sCapture cap = ReadScene(path);
    // The first second: the walker stands and starts off, no whole stride.
    cap.mRotation.resize(120);
    cap.mPosition.resize(120);
    try
    {
        Import(cap, sOptions());
        FAIL() << "imported a clip without a whole gait cycle";
    }
    catch (const cImportError& e)
    {
        EXPECT_NE(std::string(e.what()).find("cycle"), std::string::npos) << e.what();
    }
}

// ---- [SECTION] Captured speed ----------------------------------------------------

// The capture's own root speed (--speed-csv, for tools/plots.sh) is the walk's
// cycle looped three times at the pace the file plays it: over a loop its mean
// is the captured walking speed (pelvis path against the straight line the
// cycle's speed is measured along, so a little above it), the loops repeat,
// and the program writes it as the CSV the figure reads.
TEST(QvImportCaptured, CapturedRootSpeedLoopsTheWalkAtItsPlayedPace)
{
    const std::string path = kMocap + "131_01.bvh";
    if (!Exists(path))
        GTEST_SKIP() << "no captured clips in " << kMocap;
    const sImportResult r = Import(ReadScene(path), sOptions());
    const std::vector<sSpeedSample>& v = r.mRootSpeed;
    ASSERT_EQ(v.size() % 3, 0u);
    const size_t n = v.size() / 3;
    ASSERT_GT(n, 10u);
    // Keyed 8 ms short of the played cycle, after the 34 ms restart time, in
    // whole milliseconds.
    const double playedMs = r.mActor.mAction[0].mLength - 34.0 + 8.0;
    EXPECT_NEAR(v.back().mTimeMs, 3 * playedMs, 3 * 0.5);
    double sum = 0;
    for (size_t k = 0; k < v.size(); ++k)
    {
        EXPECT_NEAR(v[k].mTimeMs, (k + 1) * v[0].mTimeMs, 1e-6) << k;
        EXPECT_TRUE(std::isfinite(v[k].mSpeed) && v[k].mSpeed >= 0) << k;
        if (k >= n)
        {
            EXPECT_EQ(v[k].mSpeed, v[k - n].mSpeed) << k;
        }
        sum += v[k].mSpeed;
    }
    const double captured = r.mCapturedWalk.mSpeedLegs * r.mActor.mLegLength;
    EXPECT_GE(sum / v.size(), 0.99 * captured);
    EXPECT_LE(sum / v.size(), 1.10 * captured);

    if (!Exists(kProgram))
        GTEST_SKIP() << "qvimport is not built";
    const std::string csv = TempPath("speed.csv"), out = TempPath("speed.xml");
    std::remove(csv.c_str());
    ASSERT_EQ(RunProgram("'" + path + "' '" + out + "' --speed-csv '" + csv + "'").mStatus, 0);
    std::ifstream in(csv);
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "time_ms,speed");
    size_t rows = 0;
    double first = -1;
    while (std::getline(in, line))
    {
        if (rows++ == 0)
            first = std::atof(line.substr(line.find(',') + 1).c_str());
    }
    EXPECT_EQ(rows, v.size());
    EXPECT_NEAR(first, v.front().mSpeed, 1e-4);
}

// ---- [SECTION] Files -------------------------------------------------------------

// qvimport with these arguments, its files limited to fileLimit bytes.
sRun RunArgs(const std::vector<std::string>& args, rlim_t fileLimit = RLIM_INFINITY)
{
    const qvtest::sRun r = qvtest::RunProgram(kProgram, args, TempPath("stderr.txt"), fileLimit);
    return {r.mStatus, r.mErr};
}

// A failed write (a file-size limit, a folder that is not there) used to
// leave OUT cut off, and --speed-csv into a missing folder failed after OUT
// was replaced; an output that is the input overwrote the capture. Now
// nothing is replaced unless everything succeeds, and an output may be
// neither the input nor the other output, however it is spelled.
TEST(QvImportFiles, TheOutputsAreWrittenWholeOrNotAtAllAndNeverOverTheInput)
{
    if (!Exists(kProgram))
        GTEST_SKIP() << "qvimport is not built";
    std::string folder = TempPath("files_XXXXXX");
    ASSERT_TRUE(mkdtemp(&folder[0]));
    const std::string in = folder + "/walk.gltf", out = folder + "/walk.xml", csv = folder + "/speed.csv";
    const std::string capture = WalkingGltf(1.2);
    WriteFile(in, capture);
    ASSERT_EQ(link(in.c_str(), (folder + "/linked.gltf").c_str()), 0);
    const std::vector<std::string> before = {"linked.gltf", "walk.gltf", "walk.xml"};

    // Written, both.
    ASSERT_EQ(RunArgs({in, out, "--speed-csv", csv}).mStatus, 0);
    EXPECT_EQ(qvtest::FileText(csv).rfind("time_ms,speed\n", 0), 0u);
    const std::string written = qvtest::FileText(out);
    EXPECT_GT(written.size(), 20000u);
    EXPECT_EQ(qvtest::FolderNames(folder),
              (std::vector<std::string>{"linked.gltf", "speed.csv", "walk.gltf", "walk.xml"}));
    std::remove(csv.c_str());
    WriteFile(out, "the actor file the user had");

    const struct
    {
        const char* mWhat;
        std::vector<std::string> mArgs;
        rlim_t mFileLimit;
        std::string mExpected;
    } cases[] = {
        {"a file-size limit", {in, out}, 16384, "qvimport: cannot write '" + out + "': File too large\n"},
        {"the CSV into a missing folder",
         {in, out, "--speed-csv", folder + "/missing/speed.csv"},
         RLIM_INFINITY,
         "qvimport: cannot write '" + folder + "/missing/speed.csv': No such file or directory\n"},
        {"the CSV into a folder's place",
         {in, out, "--speed-csv", folder},
         RLIM_INFINITY,
         "qvimport: cannot write '" + folder + "': it is a directory, not a regular file\n"},
        {"the input as the output",
         {in, in},
         RLIM_INFINITY,
         "qvimport: the actor file '" + in + "' is the input file '" + in + "'; name another file to write\n"},
        {"the input as the output, spelled otherwise",
         {in, folder + "/../" + folder.substr(folder.rfind('/') + 1) + "/walk.gltf"},
         RLIM_INFINITY,
         "is the input file"},
        {"the input's hard link as the output", {in, folder + "/linked.gltf"}, RLIM_INFINITY, "is the input file"},
        {"the input as the CSV",
         {in, out, "--speed-csv", in},
         RLIM_INFINITY,
         "qvimport: --speed-csv '" + in + "' is the input file '" + in + "'; name another file to write\n"},
        {"the output as the CSV",
         {in, out, "--speed-csv", folder + "/./walk.xml"},
         RLIM_INFINITY,
         "qvimport: --speed-csv '" + folder + "/./walk.xml' is the actor file '" + out + "'; name another file"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mWhat);
        const sRun r = RunArgs(c.mArgs, c.mFileLimit);
        EXPECT_EQ(r.mStatus, 1) << "-1: ended by a signal";
        EXPECT_EQ(std::count(r.mErr.begin(), r.mErr.end(), '\n'), 1) << r.mErr;
        EXPECT_NE(r.mErr.find(c.mExpected), std::string::npos) << r.mErr;
        EXPECT_EQ(qvtest::FileText(in), capture);
        EXPECT_EQ(qvtest::FileText(out), "the actor file the user had");
        EXPECT_EQ(qvtest::FolderNames(folder), before) << "a temporary file is left";
    }
}

// Above a hip height of 5e5 the demo refused the file (a bone beyond the
// loader's reach), below 1e-8 too (the forward bone written as zero). The
// range accepted is what the demo plays: at both of its ends the walk loads,
// is the demo's character and walks the same number of legs per second as
// at the default height; outside it, nothing is read or written.
TEST(QvImportFiles, TheHipHeightsAcceptedAreTheOnesTheDemoPlays)
{
    const std::string path = TempPath("range.gltf");
    WriteFile(path, WalkingGltf(1.2));
    const sCapture cap = ReadScene(path);
    double speedAtTwo = 0;
    for (double hip : {2.0, kMinHipHeight, kMaxHipHeight})
    {
        SCOPED_TRACE(testing::Message() << "--hip-height " << hip);
        sOptions opt;
        opt.mHipHeight = hip;
        const sImportResult r = Import(cap, opt);
        const std::string xml = TempPath("range.xml");
        WriteFile(xml, r.mXml);
        cActor a;
        ASSERT_NO_THROW(ReadActorFromXML(xml.c_str(), a));
        ASSERT_EQ(PrepareCharacter(a), "");
        const sPlay p = Play(a, 16, 8000, r.mActor.mFigureHeight);
        EXPECT_TRUE(p.mFinite);
        const double speed = p.mTravel / p.mSeconds / r.mActor.mLegLength;
        if (hip == 2.0)
            speedAtTwo = speed;
        EXPECT_NEAR(speed, speedAtTwo, 0.01 * speedAtTwo);
        EXPECT_NEAR(p.mStandFoot[0] / r.mActor.mFigureHeight, 0.0, 0.01);
    }
    for (double hip : {0.0, -2.0, 0.99 * kMinHipHeight, 1e-8, 1.01 * kMaxHipHeight, 5e5})
    {
        sOptions opt;
        opt.mHipHeight = hip;
        EXPECT_THROW(Import(cap, opt), cImportError) << hip;
    }
    if (!Exists(kProgram))
        GTEST_SKIP() << "qvimport is not built";
    for (const char* hip : {"1e-08", "500000"})
    {
        const sRun r = RunArgs({path, TempPath("never.xml"), "--hip-height", hip});
        EXPECT_EQ(r.mStatus, 1);
        EXPECT_EQ(r.mErr, std::string("qvimport: --hip-height must be from 0.001 to 100000 units, not ") + hip +
                              ": the demo cannot play a figure outside that range\n");
    }
    EXPECT_FALSE(Exists(TempPath("never.xml")));
}

} // namespace
