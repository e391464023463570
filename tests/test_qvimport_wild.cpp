// qvimport on motion from the wild: what people actually have rather than
// clean captured walks. Each class is made here from the shared clips or a
// generated figure: a floor that rises along the walk, a cycle authored in
// place with unnamed joints, renamed rigs in other axes and units; and what
// is not a walk (hops, a run, a boxer, a figure that never plants, a
// quadruped), which must be refused with the reason.
//
// Index
//   [SECTION] Figures    a generated biped and quadruped, as a capture
//   [SECTION] Files      a capture written as glTF (names, axes, units)
//   [SECTION] Playing    an imported walk played as the demo plays it
//   [SECTION] Refused    what is not a walk
//   [SECTION] Rigs       names and shapes of the common rigs
//   [SECTION] Floors     a capture floor that is not level
//   [SECTION] In place   a game asset's walk cycle
//   [SECTION] Stand      a clip that never stands still
//
// The BVH clips are from the CMU Graphics Lab Motion Capture Database
// (mocap.cs.cmu.edu), created with funding from NSF EIA-0196217.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "QV_capture.h"
#include "QV_character.h"
#include "QV_motion_trace.h"
#include "QV_xml.h"
#include "support/capture_edit.h"
#include "support/capture_gltf.h"

using namespace qvimport;
using qvtest::CaptureGltf;
using qvtest::sGltfStyle;
using qvtest::Transformed;

namespace
{

const std::string kMocap = std::string(QV_SOURCE_DIR) + "/../shared/mocap/";

std::string TempPath(const std::string& name) { return ::testing::TempDir() + "qvimport_wild_" + name; }

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

// ---- [SECTION] Figures ---------------------------------------------------------

// Metres, +Z up, walking along +Y; the figure's left is -X.
struct sJointDef
{
    std::string mName;
    int mParent;
    sVec3 mOffset;
};

std::vector<sJointDef> BipedJoints()
{
    std::vector<sJointDef> j = {{"Hips", -1, {0, 0, 0}}};
    for (int s = 0; s < 2; ++s)
    {
        const std::string side = s ? "Right" : "Left";
        const double x = s ? 0.1 : -0.1;
        const int up = (int)j.size();
        j.push_back({side + "UpLeg", 0, {x, 0, -0.05}});
        j.push_back({side + "Leg", up, {0, 0, -0.45}});
        j.push_back({side + "Foot", up + 1, {0, 0, -0.43}});
        j.push_back({side + "ToeBase", up + 2, {0, 0.13, -0.06}});
        j.push_back({side + "Toe_End", up + 3, {0, 0.06, -0.01}});
    }
    const int spine = (int)j.size();
    j.push_back({"Spine", 0, {0, 0, 0.1}});
    j.push_back({"Head", spine, {0, 0, 0.55}});
    j.push_back({"Head_End", spine + 1, {0, 0, 0.2}});
    for (int s = 0; s < 2; ++s)
    {
        const std::string side = s ? "Right" : "Left";
        const int arm = (int)j.size();
        j.push_back({side + "Arm", spine, {s ? 0.2 : -0.2, 0, 0.4}});
        j.push_back({side + "ForeArm", arm, {0, 0, -0.28}});
        j.push_back({side + "Hand", arm + 1, {0, 0, -0.26}});
        j.push_back({side + "Hand_End", arm + 2, {0, 0, -0.08}});
    }
    return j;
}

const double kThigh = 0.45, kShin = 0.43, kAnkleHeight = 0.07, kHipHeight = 0.93;

// Where a foot's ankle is and how it is turned about +X (the foot stays
// level unless told).
struct sFootAt
{
    double mY = 0, mZ = kAnkleHeight;
};

// A gait: per time (seconds) the hips (y, z) and each ankle.
struct sGait
{
    std::function<sVec3(double)> mHips;
    std::function<sFootAt(int, double)> mFoot;
    std::function<double(int, double)> mArm; // the arm's swing about +X, radians
    double mSeconds = 4;
    double mRate = 30;
};

sQuat AboutX(double a) { return sQuat::AxisAngle(sVec3(1, 0, 0), a); }

// The thigh's and the knee's turn about +X that bring the ankle to (dy, dz)
// from the hip (the knee bends forwards), for a thigh l1 and shin l2 long.
void LegAngles(double dy, double dz, double& thigh, double& knee, double l1 = kThigh, double l2 = kShin)
{
    const double d = std::min(l1 + l2 - 1e-4, std::sqrt(dy * dy + dz * dz));
    const double alpha = std::atan2(dy, -dz);
    const double beta = std::acos((l1 * l1 + d * d - l2 * l2) / (2 * l1 * d));
    const double inner = std::acos((l1 * l1 + l2 * l2 - d * d) / (2 * l1 * l2));
    thigh = alpha + beta;
    knee = -(M_PI - inner);
}

// World rotations and positions from local rotations (parents first).
void Pose(const std::vector<sJointDef>& joints, const sVec3& root, const std::vector<sQuat>& local,
          std::vector<sQuat>& rot, std::vector<sVec3>& pos)
{
    rot.resize(joints.size());
    pos.resize(joints.size());
    for (size_t j = 0; j < joints.size(); ++j)
    {
        const int p = joints[j].mParent;
        rot[j] = p < 0 ? local[j] : rot[p] * local[j];
        pos[j] = p < 0 ? root : pos[p] + rot[p] * joints[j].mOffset;
    }
}

sCapture EmptyCapture(const std::vector<sJointDef>& joints, double rate)
{
    sCapture cap;
    cap.mRate = rate;
    for (const sJointDef& d : joints)
    {
        sJoint j;
        j.mName = d.mName;
        j.mParent = d.mParent;
        j.mAnimated = true;
        cap.mJoints.push_back(j);
    }
    return cap;
}

sCapture Biped(const sGait& g)
{
    const std::vector<sJointDef> joints = BipedJoints();
    sCapture cap = EmptyCapture(joints, g.mRate);
    const int frames = (int)std::lround(g.mSeconds * g.mRate) + 1;
    for (int f = 0; f < frames; ++f)
    {
        const double t = f / g.mRate;
        const sVec3 hips = g.mHips(t);
        std::vector<sQuat> local(joints.size());
        for (int s = 0; s < 2; ++s)
        {
            const sFootAt a = g.mFoot(s, t);
            double thigh = 0, knee = 0;
            LegAngles(a.mY - hips.y, a.mZ - (hips.z - 0.05), thigh, knee);
            local[1 + 5 * s] = AboutX(thigh);
            local[2 + 5 * s] = AboutX(knee);
            local[3 + 5 * s] = AboutX(-(thigh + knee));
            local[14 + 4 * s] = AboutX(g.mArm ? g.mArm(s, t) : 0);
            local[15 + 4 * s] = AboutX(0.2);
        }
        std::vector<sQuat> rot;
        std::vector<sVec3> pos;
        Pose(joints, sVec3(hips.x, hips.y, hips.z), local, rot, pos);
        cap.mRotation.push_back(rot);
        cap.mPosition.push_back(pos);
    }
    return cap;
}

// A foot down for `duty` of each `period`-second cycle (starting at `phase`
// of it), planted where the hips, moving at `speed`, pass over it at the
// middle of its stance; it swings on in the air, lifted by `lift`.
sFootAt Stepping(double t, double phase, double period, double duty, double speed, double lift)
{
    const double u = t / period + phase, cycle = std::floor(u), p = u - cycle;
    const double stride = speed * period;
    const double plant = stride * (cycle - phase) + 0.5 * duty * stride;
    sFootAt a;
    a.mY = plant;
    if (p >= duty)
    {
        const double s = (p - duty) / (1 - duty);
        a.mY = plant + stride * (s - std::sin(2 * M_PI * s) / (2 * M_PI));
        a.mZ += lift * std::sin(M_PI * s);
    }
    return a;
}

// A walk: each foot down 60 % of a one-second cycle, the hips at `speed`
// metres a second; in place, the hips stay and the feet slide back instead.
sGait Walk(double speed = 1.0, bool inPlace = false)
{
    sGait g;
    g.mHips = [=](double t) { return sVec3(0, inPlace ? 0 : speed * t, kHipHeight + 0.01 * std::cos(4 * M_PI * t)); };
    g.mFoot = [=](int s, double t) {
        sFootAt a = Stepping(t, 0.5 * s, 1.0, 0.6, speed, 0.08);
        if (inPlace)
            a.mY -= speed * t;
        return a;
    };
    g.mArm = [](int s, double t) { return 0.3 * std::sin(2 * M_PI * (t + 0.5 * (1 - s))); };
    return g;
}

// A four-legged figure walking a lateral sequence (left hind, left fore,
// right hind, right fore), each foot down 65 % of a 0.9 s cycle.
sCapture Quadruped()
{
    std::vector<sJointDef> j = {{"Hips", -1, {0, 0, 0}}};
    const double l1 = 0.25, l2 = 0.22, height = 0.45;
    int chest = -1;
    for (int pair = 0; pair < 2; ++pair)
    {
        const int top = pair ? chest : 0;
        for (int s = 0; s < 2; ++s)
        {
            const std::string side = s ? "Right" : "Left";
            const std::string names[4] = {pair ? "Arm" : "UpLeg", pair ? "ForeArm" : "Leg", pair ? "Hand" : "Foot",
                                          pair ? "Hand_End" : "Toe_End"};
            const int up = (int)j.size();
            j.push_back({side + names[0], top, {s ? 0.12 : -0.12, 0, -0.02}});
            j.push_back({side + names[1], up, {0, 0, -l1}});
            j.push_back({side + names[2], up + 1, {0, 0, -l2}});
            j.push_back({side + names[3], up + 2, {0, 0.08, -0.03}});
        }
        if (!pair)
        {
            chest = (int)j.size();
            j.push_back({"Spine", 0, {0, 0.4, 0.02}});
            j.push_back({"Chest", chest, {0, 0.4, 0}});
            chest += 1;
        }
    }
    j.push_back({"Head", chest, {0, 0.3, 0.2}});
    j.push_back({"Head_End", (int)j.size() - 1, {0, 0.15, 0}});
    sCapture cap = EmptyCapture(j, 30);
    const double speed = 0.6, period = 0.9, phases[4] = {0, 0.5, 0.25, 0.75};
    const int thighs[4] = {1, 5, 11, 15};
    const double hipY[4] = {0, 0, 0.8, 0.8};
    for (int f = 0; f <= 120; ++f)
    {
        const double t = f / 30.0;
        const sVec3 root(0, speed * t, height);
        std::vector<sQuat> local(j.size());
        for (int k = 0; k < 4; ++k)
        {
            const sFootAt a = Stepping(t, phases[k], period, 0.65, speed, 0.06);
            double thigh = 0, knee = 0;
            LegAngles(a.mY + hipY[k] - (root.y + hipY[k]), a.mZ - (height - 0.02), thigh, knee, l1, l2);
            local[thighs[k]] = AboutX(thigh);
            local[thighs[k] + 1] = AboutX(knee);
            local[thighs[k] + 2] = AboutX(-(thigh + knee));
        }
        std::vector<sQuat> rot;
        std::vector<sVec3> pos;
        Pose(j, root, local, rot, pos);
        cap.mRotation.push_back(rot);
        cap.mPosition.push_back(pos);
    }
    return cap;
}

// The frames [a, b] of a capture.
sCapture Cut(const sCapture& cap, size_t a, size_t b)
{
    sCapture c = cap;
    c.mRotation.assign(cap.mRotation.begin() + (long)a, cap.mRotation.begin() + (long)b + 1);
    c.mPosition.assign(cap.mPosition.begin() + (long)a, cap.mPosition.begin() + (long)b + 1);
    return c;
}

// ---- [SECTION] Files -----------------------------------------------------------

sCapture ThroughGltf(const sCapture& cap, const sGltfStyle& style, const std::string& label)
{
    const std::string path = TempPath(label + ".gltf");
    WriteFile(path, CaptureGltf(cap, style));
    return ReadScene(path);
}

// ---- [SECTION] Playing ---------------------------------------------------------

cVector3D Head(const cBone& b) { return qvtest::BoneHead(b); }

// A foot's lowest point: its ankle, or a point the contact locks stand it
// on (the heel below the ankle, the ball, the toe tip).
double FootLowest(const cFootLock& lock)
{
    cVector3D p[cFootLock::kContactPoints];
    lock.ContactPoints(p);
    double y = Head(*lock.mBone).mData[1];
    for (const cVector3D& v : p)
        y = std::min(y, (double)v.mData[1]);
    return y;
}

struct sWalked
{
    double mSpeedLegs = 0;    // the root's travel per second over the ground, legs
    double mHeldLow = 1e30;   // a locked foot's lowest point over the frames it is locked: least and most
    double mHeldHigh = -1e30; // (units; the floor is y = 0)
    double mLowest = 1e30;    // any foot's lowest point, any frame
    double mStance = 0;       // share of a foot's frames with it on the floor (within 0.1 % of the height)
    double mDouble = 0;       // share of the frames with both feet on it
    double mCadence = 0;      // steps per minute, from the clock's restarts (two steps a stride)
    bool mFinite = true;
};

// Writes the import and loads it as the demo does.
void LoadImported(const sImportResult& r, const std::string& label, cActor& a)
{
    const std::string path = TempPath(label + ".xml");
    WriteFile(path, r.mXml);
    ReadActorFromXML(path.c_str(), a);
    EXPECT_EQ(PrepareCharacter(a), "") << "the demo plays it as its character";
}

// Walks the import with the contact locks at 16 ms frames for 15 s (the
// last 12 measured).
sWalked ImportAndWalk(const sImportResult& r, const std::string& label)
{
    cActor a;
    LoadImported(r, label, a);
    a.mContactLock = true;
    sSteering walk;
    walk.mWalk = true;
    sWalked w;
    cVector3D start;
    int frames = 0;
    int restarts = 0;
    unsigned first = 0, last = 0;
    for (unsigned t = 0; t < 15000; t += 16)
    {
        const unsigned clock = a.mTime;
        StepCharacter(a, 16, walk);
        if (t < 3000)
            start = Head(*a.mArmature.mRootBone);
        else if (a.mTime < clock)
        {
            first = restarts++ ? first : t;
            last = t;
        }
        for (const cBone& b : a.mArmature.mBones)
            w.mFinite = w.mFinite && std::isfinite(Head(b).mData[0]) && std::isfinite(Head(b).mData[1]);
        if (t < 3000)
            continue;
        int down = 0;
        for (const cFootLock* lock : {&a.mLeftFoot, &a.mRightFoot})
        {
            const double low = FootLowest(*lock);
            down += low < 0.001 * r.mActor.mFigureHeight ? 1 : 0;
            w.mLowest = std::min(w.mLowest, low);
            if (lock->mLock)
            {
                w.mHeldLow = std::min(w.mHeldLow, low);
                w.mHeldHigh = std::max(w.mHeldHigh, low);
            }
        }
        w.mStance += down;
        w.mDouble += down == 2 ? 1 : 0;
        ++frames;
    }
    w.mStance /= 2.0 * frames;
    w.mDouble /= frames;
    const cVector3D end = Head(*a.mArmature.mRootBone);
    const double dx = end.mData[0] - start.mData[0], dz = end.mData[2] - start.mData[2];
    w.mSpeedLegs = std::sqrt(dx * dx + dz * dz) / 12.0 / r.mActor.mLegLength;
    w.mCadence = restarts > 1 ? 120000.0 * r.mCapturedWalk.mCycles * (restarts - 1) / (last - first) : 0;
    return w;
}

// A foot that is locked stands on the floor: its lowest joint within half a
// per cent of the figure's height of y = 0; and no foot goes further through
// it.
void ExpectOnTheFloor(const sWalked& w, const sImportResult& r)
{
    const double band = 0.005 * r.mActor.mFigureHeight;
    EXPECT_GT(w.mHeldLow, -band);
    EXPECT_LT(w.mHeldHigh, band);
    EXPECT_GT(w.mLowest, -band);
}

std::string RefusalOf(const sCapture& cap)
{
    try
    {
        Import(cap, sOptions());
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

} // namespace

namespace
{

// ---- [SECTION] Refused ---------------------------------------------------------

sGait Running()
{
    sGait g;
    g.mHips = [](double t) {
        const double p = t / 0.7 - std::floor(t / 0.7);
        return sVec3(0, 2.5 * t, 0.9 + 0.04 * std::cos(4 * M_PI * p));
    };
    g.mFoot = [](int s, double t) { return Stepping(t, 0.5 * s, 0.7, 0.35, 2.5, 0.2); };
    return g;
}

sGait Hopping()
{
    sGait g;
    g.mHips = [](double t) {
        const double p = t / 0.8 - std::floor(t / 0.8);
        return sVec3(0, 1.0 * t, kHipHeight + (p > 0.4 ? 0.08 * std::sin(M_PI * (p - 0.4) / 0.6) : 0));
    };
    g.mFoot = [](int, double t) { return Stepping(t, 0, 0.8, 0.4, 1.0, 0.15); };
    return g;
}

// Feet planted apart, one ahead, each lifted in turn and set down a little
// forwards or back, the hips swaying and bobbing, the arms punching.
sGait Boxer()
{
    sGait g;
    g.mHips = [](double t) { return sVec3(0, 0.05 * std::sin(2 * M_PI * t), 0.88 + 0.02 * std::sin(6 * M_PI * t)); };
    g.mFoot = [](int s, double t) {
        const double u = t + 0.5 * s, p = u - std::floor(u);
        const long k = (long)std::floor(u);
        auto at = [&](long i) { return (s ? -0.15 : 0.15) + (i % 2 ? 0.1 : 0.0); };
        sFootAt a;
        a.mY = at(k);
        if (p > 0.8)
        {
            a.mY += (at(k + 1) - at(k)) * (p - 0.8) / 0.2;
            a.mZ += 0.05 * std::sin(M_PI * (p - 0.8) / 0.2);
        }
        return a;
    };
    g.mArm = [](int s, double t) { return 1.2 + 0.4 * std::max(0.0, std::sin(4 * M_PI * t + M_PI * s)); };
    return g;
}

// The hips go on at walking speed with the legs swaying a little under them:
// the feet never stand still.
sGait Floating()
{
    sGait g;
    g.mHips = [](double t) { return sVec3(0, 0.8 * t, kHipHeight); };
    g.mFoot = [](int s, double t) {
        const double a = 0.087 * std::sin(2 * M_PI * t + M_PI * s), l = 0.86;
        sFootAt f;
        f.mY = 0.8 * t + l * std::sin(a);
        f.mZ = kHipHeight - 0.05 - l * std::cos(a);
        return f;
    };
    return g;
}

// Each foot lifted and set down where it was, in turn: steps on the spot.
sGait OnTheSpot()
{
    sGait g;
    g.mHips = [](double) { return sVec3(0, 0, kHipHeight); };
    g.mFoot = [](int s, double t) { return Stepping(t, 0.5 * s, 1.0, 0.6, 0, 0.1); };
    return g;
}

TEST(QvImportWild, WhatIsNotAWalkIsRefusedWithTheReason)
{
    // The same figure walking imports: the refusals below are of the motion.
    EXPECT_EQ(RefusalOf(Biped(Walk())), "");
    const struct
    {
        const char* mWhat;
        sCapture mCapture;
        const char* mReason;
    } cases[] = {
        {"hops", Biped(Hopping()), "both feet leave the ground together in every cycle (hops): not a walk"},
        {"a run", Biped(Running()), "both feet are off the ground between the steps (a run): not a walk"},
        {"a boxer", Biped(Boxer()),
         "the steps go nowhere (no steady alternating steps along a path, as in boxing or dancing): not a walk"},
        {"steps on the spot", Biped(OnTheSpot()),
         "the steps go nowhere (no steady alternating steps along a path, as in boxing or dancing): not a walk"},
        {"a figure that never plants", Biped(Floating()),
         "the left foot never stands still on the ground (it slides or swings all along): not a walk"},
        {"a quadruped", Quadruped(),
         "more than two feet reach the ground ('LeftHand_End' too): only two-legged walks "
         "are imported"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefusalOf(c.mCapture), c.mReason) << c.mWhat;
}

// The program says the same in one line with status 1 and writes nothing.
TEST(QvImportWild, TheProgramRefusesInOneLineAndWritesNothing)
{
    const std::string in = TempPath("hops.gltf"), out = TempPath("hops.xml");
    WriteFile(in, CaptureGltf(Biped(Hopping()), sGltfStyle()));
    std::remove(out.c_str());
    const std::string err = TempPath("hops.err");
    const std::string cmd = std::string(QV_BINARY_DIR) + "/qvimport " + in + " " + out + " 2>" + err;
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream e(err);
    std::string line, rest;
    std::getline(e, line);
    EXPECT_EQ(line, "qvimport: both feet leave the ground together in every cycle (hops): not a walk");
    EXPECT_FALSE(std::getline(e, rest)) << "one line";
    EXPECT_FALSE(Exists(out));
}

// Assimp's sample clips that are not walks: CMU 01_01 (jumps) and a boxer.
TEST(QvImportWild, SampleJumpsAndBoxingAreRefused)
{
    const std::string root = "/usr/share/assimp/models/BVH/";
    if (!Exists(root + "01_01.bvh") || !Exists(root + "Boxing_Toes.bvh"))
        GTEST_SKIP() << "assimp-testmodels is not installed";
    EXPECT_THROW(ImportFile(root + "01_01.bvh", sOptions()), cImportError);
    EXPECT_THROW(ImportFile(root + "Boxing_Toes.bvh", sOptions()), cImportError);
}

} // namespace

namespace
{

// ---- [SECTION] Rigs ------------------------------------------------------------

// The biped's joint names as rigs name them ({side} is L or Left and so on).
std::vector<std::string> Renamed(const std::function<std::string(int side, const std::string& part)>& name)
{
    const char* legParts[5] = {"thigh", "shin", "foot", "toe", "toe_end"};
    const char* armParts[4] = {"arm", "forearm", "hand", "hand_end"};
    std::vector<std::string> names = {name(-1, "hips")};
    for (int s = 0; s < 2; ++s)
        for (const char* p : legParts)
            names.push_back(name(s, p));
    for (const char* p : {"spine", "head", "head_end"})
        names.push_back(name(-1, p));
    for (int s = 0; s < 2; ++s)
        for (const char* p : armParts)
            names.push_back(name(s, p));
    return names;
}

// The joint of a capture nearest to p at its first frame.
int JointAt(const sCapture& cap, const sVec3& p)
{
    int best = 0;
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
        if ((cap.mPosition[0][j] - p).Length() < (cap.mPosition[0][best] - p).Length())
            best = (int)j;
    return best;
}

std::string Capital(std::string s)
{
    s[0] = (char)std::toupper((unsigned char)s[0]);
    return s;
}

TEST(QvImportWild, CommonRigsAreFoundByNameOrShapeInAnyAxesAndUnit)
{
    const sCapture walk = Biped(Walk());
    const std::string LR[2] = {"L", "R"}, lr[2] = {"l", "r"}, Side[2] = {"Left", "Right"};
    const struct
    {
        const char* mRig;
        std::vector<std::string> mNames;
    } rigs[] = {
        {"mixamorig:", Renamed([&](int s, const std::string& p) {
             return "mixamorig:" + (s < 0 ? "" : Side[s]) + Capital(p == "thigh" ? "upLeg" : p == "shin" ? "leg" : p);
         })},
        {"Bip01 L", Renamed([&](int s, const std::string& p) {
             return "Bip01" + (s < 0 ? "" : " " + LR[s]) + " " + Capital(p == "shin" ? "calf" : p);
         })},
        {".L", Renamed([&](int s, const std::string& p) { return p + (s < 0 ? "" : "." + LR[s]); })},
        {"_l", Renamed([&](int s, const std::string& p) { return p + (s < 0 ? "" : "_" + lr[s]); })},
        {"B_", Renamed([&](int s, const std::string& p) {
             return "B_" + (s < 0 ? "" : Side[s]) + Capital(p == "foot" ? "foot" : p);
         })},
        {"Ankle_Left", Renamed([&](int s, const std::string& p) {
             return Capital(p == "foot" ? "ankle" : p) + (s < 0 ? "" : "_" + Side[s]);
         })},
        {"lFoot", Renamed([&](int s, const std::string& p) { return (s < 0 ? "" : lr[s]) + Capital(p); })},
        {"numbered", Renamed([n = 0](int, const std::string&) mutable {
             char name[16];
             std::snprintf(name, sizeof name, n ? "Bone.%03d" : "Bone", n);
             ++n;
             return std::string(name);
         })},
        {"unnamed", Renamed([](int, const std::string&) { return std::string(); })},
    };
    const sImportResult plain = Import(walk, sOptions());
    for (const auto& rig : rigs)
        for (bool yUp : {true, false})
            for (double unit : {1.0, 100.0})
            {
                SCOPED_TRACE(testing::Message() << rig.mRig << (yUp ? ", Y up" : ", Z up") << ", unit " << unit);
                sGltfStyle style;
                style.mNames = rig.mNames;
                style.mYUp = yUp;
                style.mUnit = unit;
                const sCapture cap = ThroughGltf(walk, style, "rig");
                const sFeet feet = FindFeet(cap, sOptions());
                const sQuat axes = yUp ? AboutX(-M_PI / 2) : sQuat();
                for (int side = 0; side < 2; ++side)
                    EXPECT_EQ(feet.mLeg[side].mAnkle, JointAt(cap, axes * walk.mPosition[0][3 + 5 * side] * unit))
                        << (side ? "right" : "left") << " ankle";
                const sImportResult r = Import(cap, sOptions());
                EXPECT_NEAR(r.mCaptured.mSpeedLegs, plain.mCaptured.mSpeedLegs, 0.01 * plain.mCaptured.mSpeedLegs);
                EXPECT_NEAR(r.mCaptured.mCadence, plain.mCaptured.mCadence, 0.01 * plain.mCaptured.mCadence);
            }
    EXPECT_NEAR(plain.mCaptured.mCadence, 120.0, 3.6);
    EXPECT_NEAR(plain.mCaptured.mSpeedLegs, 1.0 / (kThigh + kShin), 0.03 / (kThigh + kShin));
}

// ---- [SECTION] Floors ----------------------------------------------------------

// The capture turned by `degrees` about the horizontal axis across its
// walk, so that its floor rises along it; up is the file's +Y or +Z.
sCapture Tilted(const sCapture& cap, double degrees, const sVec3& up)
{
    sVec3 travel = cap.mPosition.back()[0] - cap.mPosition.front()[0];
    travel = travel - up * travel.Dot(up);
    return Transformed(cap, sQuat::AxisAngle(travel.Cross(up), degrees * M_PI / 180), 1, sVec3());
}

TEST(QvImportWild, AFloorThatRisesAlongTheWalkIsLevelled)
{
    struct sClip
    {
        std::string mName;
        sCapture mCapture;
        sVec3 mUp;
    };
    std::vector<sClip> clips = {{"generated walk", Biped(Walk()), sVec3(0, 0, 1)}};
    for (const char* name : {"131_01", "131_02"})
        if (Exists(kMocap + name + ".bvh"))
            clips.push_back({name, ReadScene(kMocap + name + ".bvh"), sVec3(0, 1, 0)});
    for (const sClip& clip : clips)
    {
        SCOPED_TRACE(clip.mName);
        const sImportResult level = Import(clip.mCapture, sOptions());
        EXPECT_EQ(level.mFloorSlope, 0.0) << "a level floor stays as it is";
        const sCapture tilted = Tilted(clip.mCapture, 0.9, clip.mUp);
        ASSERT_GT((tilted.mPosition.back()[0] - tilted.mPosition.front()[0]).Dot(clip.mUp),
                  (clip.mCapture.mPosition.back()[0] - clip.mCapture.mPosition.front()[0]).Dot(clip.mUp))
            << "the floor rises along the walk";
        const sImportResult r = Import(tilted, sOptions());
        // The captured floors themselves rise by up to 0.3 degrees.
        EXPECT_NEAR(std::atan(r.mFloorSlope) * 180 / M_PI, 0.9, 0.4);
        EXPECT_NEAR(r.mCaptured.mSpeedLegs, level.mCaptured.mSpeedLegs, 0.03 * level.mCaptured.mSpeedLegs);
        EXPECT_NEAR(r.mCaptured.mCadence, level.mCaptured.mCadence, 0.03 * level.mCaptured.mCadence);
        const sWalked w = ImportAndWalk(r, "tilted");
        EXPECT_TRUE(w.mFinite);
        ExpectOnTheFloor(w, r);
        EXPECT_NEAR(w.mSpeedLegs, r.mCaptured.mSpeedLegs, 0.05 * r.mCaptured.mSpeedLegs);
        printf("%s tilted 0.9 degrees: floor found at %.2f degrees; captured %.3f leg/s (level %.3f), %.1f "
               "steps/min (level %.1f); walks at %.3f leg/s\n",
               clip.mName.c_str(), std::atan(r.mFloorSlope) * 180 / M_PI, r.mCaptured.mSpeedLegs,
               level.mCaptured.mSpeedLegs, r.mCaptured.mCadence, level.mCaptured.mCadence, w.mSpeedLegs);
    }
}

// ---- [SECTION] In place --------------------------------------------------------

TEST(QvImportWild, AWalkAuthoredInPlaceTravelsAsItsFeetSay)
{
    const sImportResult travelling = Import(Biped(Walk()), sOptions());
    sGltfStyle unnamed;
    unnamed.mNames = Renamed([](int, const std::string&) { return std::string(); });
    const sCapture cap = ThroughGltf(Biped(Walk(1.0, true)), unnamed, "inplace");
    const sImportResult r = Import(cap, sOptions());
    EXPECT_GT(r.mInPlaceSpeed, 0);
    EXPECT_NEAR(r.mCaptured.mSpeedLegs, travelling.mCaptured.mSpeedLegs, 0.05 * travelling.mCaptured.mSpeedLegs);
    EXPECT_NEAR(r.mCaptured.mCadence, travelling.mCaptured.mCadence, 0.03 * travelling.mCaptured.mCadence);
    const sWalked w = ImportAndWalk(r, "inplace");
    EXPECT_TRUE(w.mFinite);
    ExpectOnTheFloor(w, r);
    EXPECT_NEAR(w.mSpeedLegs, r.mCaptured.mSpeedLegs, 0.05 * r.mCaptured.mSpeedLegs);
    printf("in place: captured %.3f leg/s (travelling %.3f), %.1f steps/min; walks at %.3f leg/s, stance %.0f %%, "
           "double support %.0f %%\n",
           r.mCaptured.mSpeedLegs, travelling.mCaptured.mSpeedLegs, r.mCaptured.mCadence, w.mSpeedLegs, 100 * w.mStance,
           100 * w.mDouble);
    // Each foot down 60 % of the cycle, both 20 %, as generated; the
    // importer counts a foot down while it is still this side of 5 % of a
    // leg off the floor and slower than the body, a little longer.
    EXPECT_GT(w.mStance, 0.55);
    EXPECT_LT(w.mStance, 0.72);
    EXPECT_GT(w.mDouble, 0.1);
    EXPECT_LT(w.mDouble, 0.45);
    EXPECT_EQ(travelling.mInPlaceSpeed, 0.0) << "a clip that travels is left as it is";
}

sCapture WalkerInPlace(double seconds) { return qvtest::PlayWalkerInPlace(seconds).mCapture; }

TEST(QvImportWild, TheWalkerPlayedInPlaceWithUnnamedJointsWalksAgain)
{
    const sCapture played = WalkerInPlace(4);
    for (size_t j = 0; j < played.mJoints.size(); ++j)
        ASSERT_LT(played.mJoints[j].mParent, (int)j) << "parents first";
    sGltfStyle unnamed;
    unnamed.mYUp = false; // the demo's axes are glTF's
    unnamed.mNames.assign(played.mJoints.size(), "");
    const sCapture cap = ThroughGltf(played, unnamed, "walker_inplace");
    const sImportResult r = Import(cap, sOptions());
    EXPECT_GT(r.mInPlaceSpeed, 0);
    const sWalked w = ImportAndWalk(r, "walker_inplace");
    EXPECT_TRUE(w.mFinite);
    ExpectOnTheFloor(w, r);
    printf("the walker in place: captured %.3f leg/s, %.1f steps/min; walks at %.3f leg/s (%.0f %%)\n",
           r.mCaptured.mSpeedLegs, r.mCaptured.mCadence, w.mSpeedLegs, 100 * w.mSpeedLegs / r.mCaptured.mSpeedLegs);
    EXPECT_NEAR(w.mSpeedLegs, r.mCaptured.mSpeedLegs, 0.05 * r.mCaptured.mSpeedLegs);
}

TEST(QvImportWild, ClipCutsKeepTheirWalk)
{
    const sCapture walk = Biped(Walk());
    const sImportResult r = Import(Cut(walk, 7, walk.Frames() - 5), sOptions());
    EXPECT_NEAR(r.mCaptured.mCadence, 120.0, 3.6);
}

} // namespace

namespace
{

// ---- [SECTION] Stand -----------------------------------------------------------

// The stand as the demo shows it after half a second: the ankles' distance
// over the ground, in legs, and each foot's lowest joint.
struct sStood
{
    double mAnklesApart = 0;
    double mFoot[2] = {0, 0};
};

sStood Stand(const sImportResult& r, const std::string& label)
{
    cActor a;
    LoadImported(r, label, a);
    for (unsigned t = 0; t < 500; t += 16)
        StepCharacter(a, 16, sSteering());
    sStood s;
    const cVector3D d = Head(*a.mLeftFoot.mBone) - Head(*a.mRightFoot.mBone);
    s.mAnklesApart = std::hypot(d.mData[0], d.mData[2]) / r.mActor.mLegLength;
    s.mFoot[0] = FootLowest(a.mLeftFoot);
    s.mFoot[1] = FootLowest(a.mRightFoot);
    return s;
}

// With the cross-fade and the contact locks (B and F), at 16 ms frames.
measure::sMotionReport Traced(const sImportResult& r, const std::string& label)
{
    const std::string path = TempPath(label + ".xml");
    WriteFile(path, r.mXml);
    measure::sSwitches on;
    on.mCrossFade = on.mContactLock = true;
    return measure::TraceMotion(path, 16, on);
}

TEST(QvImportWild, AClipThatNeverStandsGetsAStandBuiltFromItsPoses)
{
    struct sClip
    {
        std::string mName;
        sCapture mCapture;
    };
    std::vector<sClip> clips = {{"generated walk", Biped(Walk())}};
    for (const char* name : {"131_01", "131_02"})
        if (Exists(kMocap + name + ".bvh"))
        {
            // Cut to the steady walk and a little either side: no stand.
            const sCapture whole = ReadScene(kMocap + name + ".bvh");
            const sImportResult r = Import(whole, sOptions());
            EXPECT_FALSE(r.mActor.mStandBuilt) << name << " stands at its start";
            const int a = r.mActor.mCycleFrames[0][0], b = r.mActor.mCycleFrames[0][1];
            clips.push_back({std::string(name) + " cut", Cut(whole, a - 60, b + 60)});
        }
    for (const sClip& clip : clips)
    {
        SCOPED_TRACE(clip.mName);
        const sImportResult r = Import(clip.mCapture, sOptions());
        EXPECT_TRUE(r.mActor.mStandBuilt);
        const sStood s = Stand(r, "stand");
        const double band = 0.005 * r.mActor.mFigureHeight;
        EXPECT_LT(s.mAnklesApart, 0.35);
        EXPECT_NEAR(s.mFoot[0], 0.0, band) << "standing on both feet";
        EXPECT_NEAR(s.mFoot[1], 0.0, band);
        const measure::sMotionReport m = Traced(r, "stand_trace");
        printf("%s: stand built from frame %d, ankles %.2f legs apart, feet at %+.2f / %+.2f %% of the height; with B "
               "and F a stop moves %.2f times a steady frame's most, a start %.2f\n",
               clip.mName.c_str(), r.mActor.mStanceFrame, s.mAnklesApart, 100 * s.mFoot[0] / r.mActor.mFigureHeight,
               100 * s.mFoot[1] / r.mActor.mFigureHeight, m.mStopMove / m.mSteadyMove, m.mStartMove / m.mSteadyMove);
        EXPECT_LT(m.mStopMove, 1.5 * m.mSteadyMove);
    }
}

} // namespace

namespace
{

// ---- [SECTION] Table -----------------------------------------------------------

// Every class above as the demo plays it with the cross-fade and the
// contact locks at 16 ms frames, against the targets; the rows are the
// table in docs/qvimport.md.
TEST(QvImportWild, EveryClassPlaysAtItsCapturedSpeedOnPlantedFeetAndStopsSmoothly)
{
    struct sCase
    {
        std::string mName;
        sCapture mCapture;
    };
    std::vector<sCase> cases = {
        {"generated walk", Biped(Walk())},
        {"generated walk, floor tilted 0.9 degrees", Tilted(Biped(Walk()), 0.9, sVec3(0, 0, 1))}};
    sGltfStyle unnamed;
    unnamed.mNames = Renamed([](int, const std::string&) { return std::string(); });
    cases.push_back({"generated walk in place, unnamed glTF", ThroughGltf(Biped(Walk(1.0, true)), unnamed, "t1")});
    sGltfStyle mixamo;
    mixamo.mNames = Renamed([](int s, const std::string& p) {
        const std::string side[2] = {"Left", "Right"};
        return "mixamorig:" + (s < 0 ? "" : side[s]) + Capital(p);
    });
    mixamo.mYUp = false;
    mixamo.mUnit = 100;
    cases.push_back({"generated walk, mixamorig: names, Z up, cm", ThroughGltf(Biped(Walk()), mixamo, "t2")});
    const sCapture walker = WalkerInPlace(4);
    sGltfStyle bare;
    bare.mYUp = false;
    bare.mNames.assign(walker.mJoints.size(), "");
    cases.push_back({"the walker in place, unnamed glTF", ThroughGltf(walker, bare, "t3")});
    for (const char* name : {"131_01", "131_02"})
        if (Exists(kMocap + name + ".bvh"))
        {
            const sCapture whole = ReadScene(kMocap + name + ".bvh");
            const sImportResult r = Import(whole, sOptions());
            const int a = r.mActor.mCycleFrames[0][0], b = r.mActor.mCycleFrames[0][1];
            cases.push_back({name, whole});
            cases.push_back({std::string(name) + ", floor tilted 0.9 degrees", Tilted(whole, 0.9, sVec3(0, 1, 0))});
            cases.push_back({std::string(name) + ", cut: never stands", Cut(whole, a - 60, b + 60)});
        }
    printf("| clip | captured | speed | of captured | cadence | of captured | heel / ball worst | held feet | stand "
           "ankles | stop / steady | stop glide |\n");
    for (const sCase& c : cases)
    {
        SCOPED_TRACE(c.mName);
        const sImportResult r = Import(c.mCapture, sOptions());
        const sWalked w = ImportAndWalk(r, "table");
        const sStood st = Stand(r, "table");
        const measure::sMotionReport m = Traced(r, "table");
        const double height = r.mActor.mFigureHeight, leg = r.mActor.mLegLength;
        const double speed = m.mSpeed / leg, captured = r.mCaptured.mSpeedLegs;
        printf("| %s | %.3f leg/s, %.1f steps/min | %.3f leg/s | %.0f %% | %.1f | %+.1f %% | %.2f / %.2f %% | %+.2f .. "
               "%+.2f %% | %.2f legs | %.2f | %.1f %% |\n",
               c.mName.c_str(), captured, r.mCaptured.mCadence, speed, 100 * speed / captured, w.mCadence,
               100 * (w.mCadence / r.mCaptured.mCadence - 1), m.mHeelSlide, m.mBallSlide, 100 * w.mHeldLow / height,
               100 * w.mHeldHigh / height, st.mAnklesApart, m.mStopMove / m.mSteadyMove, m.mStopGlide);
        EXPECT_NEAR(speed / captured, 1.0, 0.05);
        EXPECT_NEAR(w.mCadence / r.mCaptured.mCadence, 1.0, 0.03);
        EXPECT_LT(m.mHeelSlide, 1.0);
        EXPECT_LT(m.mBallSlide, 1.0);
        ExpectOnTheFloor(w, r);
        EXPECT_LT(st.mAnklesApart, 0.35);
        EXPECT_LE(m.mStopMove, 1.5 * m.mSteadyMove);
        // A stop holds the standing foot and brings the swinging one down
        // where it will stand: what glides is what a steady step slides.
        EXPECT_LT(m.mStopGlide, 10.0);
        EXPECT_TRUE(m.mFinite);
    }
}

} // namespace
