// The walker: the committed actor file is exactly what the generator makes,
// it is well formed for the demo, and played through the library the way
// the demo plays it, it walks, stands and turns like an adult.
//
// Index (sections in this order):
//   The file; The rest pose; Walking; Standing and steering   the walker
//   Other layouts        a hand-made biped, traced through its own bones
//   The CSV export       walkertrace --csv, for the walker and the biped
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>

#include "QV_actor_file.h"
#include "QV_actor_writer.h"
#include "QV_character.h"
#include "QV_gait_params.h"
#include "QV_gait_trace.h"
#include "QV_trace_csv.h"
#include "QV_walker_skeleton.h"
#include "QV_xml.h"

namespace
{

const std::string kWalkerPath = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

double QuatDot(const cQuaternion& a, const cQuaternion& b)
{
    double d = 0;
    for (int i = 0; i < 4; ++i)
        d += (double)a.mData[i] * (double)b.mData[i];
    return d;
}

// Rotation angle from a to b in degrees, well conditioned for small angles:
// the angle of conj(a) * b from its vector and scalar parts.
double TurnBetween(const cQuaternion& a, const cQuaternion& b)
{
    const double ax = a.mData[0], ay = a.mData[1], az = a.mData[2], aw = a.mData[3];
    const double bx = b.mData[0], by = b.mData[1], bz = b.mData[2], bw = b.mData[3];
    const double w = aw * bw + ax * bx + ay * by + az * bz;
    const double x = aw * bx - ax * bw - ay * bz + az * by;
    const double y = aw * by - ay * bw - az * bx + ax * bz;
    const double z = aw * bz - az * bw - ax * by + ay * bx;
    return 2.0 * walker::Deg(atan2(sqrt(x * x + y * y + z * z), fabs(w)));
}

// ---------------------------------------------------------------------------
// The file.

TEST(WalkerFile, CommittedFileIsTheGeneratorOutput)
{
    const std::string generated = walker::GenerateActorXML(walker::DefaultActorParams());
    EXPECT_EQ(generated, walker::GenerateActorXML(walker::DefaultActorParams())) << "generator is not deterministic";
    const std::string committed = ReadFile(kWalkerPath);
    ASSERT_FALSE(committed.empty()) << kWalkerPath;
    EXPECT_TRUE(committed == generated)
        << "data/walker.xml differs from the generator's output; regenerate it with walkergen data/walker.xml";
}

TEST(WalkerFile, HasTheBonesAndActionsTheDemoNeeds)
{
    measure::cGaitHost host(kWalkerPath.c_str());
    cActor& a = host.actor();
    const size_t n = a.mArmature.mBones.size();
    EXPECT_GE(n, 15u);
    EXPECT_LE(n, 25u);
    for (size_t i = 0; i < n; ++i)
        EXPECT_EQ(a.mArmature.mBones[i].mName, walker::BoneName((int)i));
    ASSERT_NE(a.mLeftFoot.mBone, nullptr);
    ASSERT_NE(a.mRightFoot.mBone, nullptr);
    EXPECT_EQ(a.mLeftFoot.mBone->mName, "Bone.008");
    EXPECT_EQ(a.mRightFoot.mBone->mName, "Bone.007");
    // The left foot is on the walker's left: facing +z at start-up, that is +x.
    EXPECT_GT(host.Head(walker::kFootL).x, 0.0);
    EXPECT_LT(host.Head(walker::kFootR).x, 0.0);

    const char* names[kActionSlots] = {"walk", "stand", "brisk"};
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        SCOPED_TRACE(s);
        EXPECT_EQ(a.mAction[s].mName, names[s]);
        ASSERT_EQ(a.mAction[s].mChannels.size(), n);
        EXPECT_GT(a.mAction[s].mLength, 34u);
    }
}

// Runs check(action, channel) on every channel of the three actions of the
// walker, each under its own trace.
template <class Check> void ForEachChannel(Check check)
{
    measure::cGaitHost host(kWalkerPath.c_str());
    cActor& a = host.actor();
    for (unsigned int s = 0; s < kActionSlots; ++s)
        for (size_t c = 0; c < a.mAction[s].mChannels.size(); ++c)
        {
            SCOPED_TRACE(testing::Message() << "action " << s << " channel " << c);
            check(a.mAction[s], a.mAction[s].mChannels[c]);
        }
}

TEST(WalkerFile, KeysAreOrderedUnitAndNeverCrossHemispheres)
{
    ForEachChannel([](const cAction& action, const cChannel& ch) {
        const KeyFrameVector& k = ch.mKeyFrames;
        ASSERT_GE(k.size(), 2u);
        EXPECT_EQ(k.front().mTime, 0u);
        EXPECT_EQ(k.back().mTime, action.mLength);
        for (size_t i = 0; i < k.size(); ++i)
        {
            EXPECT_NEAR(QuatDot(k[i].mValue, k[i].mValue), 1.0, 1e-5);
            if (i > 0)
            {
                EXPECT_GT(k[i].mTime, k[i - 1].mTime);
                EXPECT_GT(QuatDot(k[i - 1].mValue, k[i].mValue), 0.0);
            }
        }
    });
}

// Played millisecond by millisecond, no bone turns faster than a limb can,
// and the restart at 34 ms changes the pose no more than any other
// millisecond of the clip does: the pose there carries on from the pose at
// the action's length.
TEST(WalkerFile, PlaysSmoothlyThroughTheRestart)
{
    ForEachChannel([](const cAction& action, const cChannel& ch) {
        const unsigned int len = action.mLength;
        cQuaternion prev, now;
        ch.EvaluateAt(34, prev);
        double worst = 0;
        unsigned int at = 0;
        for (unsigned int t = 35; t <= len; ++t)
        {
            ch.EvaluateAt(t, now);
            const double d = TurnBetween(prev, now);
            if (d > worst)
            {
                worst = d;
                at = t;
            }
            prev = now;
        }
        EXPECT_LT(worst, 1.2) << "degrees in one millisecond at " << at << " ms";

        cQuaternion atEnd, atRestart;
        ch.EvaluateAt(len, atEnd);
        ch.EvaluateAt(34, atRestart);
        const double jump = TurnBetween(atEnd, atRestart);
        EXPECT_LT(jump, 0.5);
        EXPECT_LE(jump, worst + 0.01);
    });
}

// ---------------------------------------------------------------------------
// The rest pose.

TEST(WalkerRest, StandsOnTheGroundAboutFourUnitsTall)
{
    measure::cGaitHost host(kWalkerPath.c_str());
    EXPECT_NEAR(host.Lowest(), 0.0, 0.002);
    EXPECT_GT(host.Height(), 3.6);
    EXPECT_LT(host.Height(), 4.4);
    EXPECT_GT(host.legLength, 1.8);
    EXPECT_LT(host.legLength, 2.2);
}

TEST(WalkerRest, RootFacesWhereItsFirstChildLiesAndKeepsUpUp)
{
    measure::cGaitHost host(kWalkerPath.c_str());
    cActor& a = host.actor();
    const cBone* root = a.mArmature.mRootBone;
    ASSERT_NE(root, nullptr);
    ASSERT_FALSE(root->mChildren.empty());
    const walker::V3 r = measure::PosOf(root->mWorldTransform);
    const walker::V3 c = measure::PosOf(root->mChildren[0]->mWorldTransform);
    const walker::V3 d = c - r;
    EXPECT_NEAR(d.y, 0.0, 1e-5) << "the foot-lock direction must be horizontal";
    EXPECT_GT(measure::Horiz(d), 0.05);
    // File +z is the walker's up: the root's local z is world up.
    const walker::M3 rot = measure::RotOf(root->mWorldTransform);
    EXPECT_NEAR(rot.c[2].y, 1.0, 1e-5);
    // And the first child lies the way the walker faces (the toes point there).
    const walker::V3 toes = host.Tail(walker::kToesR) - host.Head(walker::kFootR);
    EXPECT_GT(toes.x * d.x + toes.z * d.z, 0.0);
    // Heading turns about the vertical: a quarter turn keeps the root's up.
    a.mHeading = 90.0f;
    a.mNextAction = 1;
    a.Animate(1);
    EXPECT_NEAR(measure::RotOf(root->mWorldTransform).c[2].y, 1.0, 1e-3);
}

// ---------------------------------------------------------------------------
// Walking, measured as the demo drives the walker.

struct GaitCase
{
    unsigned int slot;
    unsigned int dt;
};

class WalkerGait : public testing::TestWithParam<GaitCase>
{
};

TEST_P(WalkerGait, MeetsAdultWalkingNorms)
{
    const GaitCase gc = GetParam();
    measure::cGaitHost host(kWalkerPath.c_str());
    const measure::WalkReport r = measure::TraceWalk(host, gc.slot, gc.dt);
    SCOPED_TRACE(measure::WalkLine(r));

    // Travel.
    EXPECT_GE(r.speed, 1.2);
    EXPECT_LE(r.speed, 1.6);
    EXPECT_GE(r.cadence, 100.0);
    EXPECT_LE(r.cadence, 125.0);
    EXPECT_GE(r.stride, 1.4 - 0.02); // frame-step rounding at 33 ms
    EXPECT_LE(r.stride, 1.8);
    // Contact is judged frame by frame, and the clock restarts at 34 ms
    // dropping its overshoot, so each frame step samples the same poses
    // every cycle: a contact change is known only to within one frame.
    const double frameShare = 100.0 * gc.dt / (host.actor().mAction[gc.slot].mLength - 33.0);
    EXPECT_NEAR(r.stance, 60.0, 4.0 + frameShare);
    EXPECT_NEAR(r.doubleSupport, 20.0, 6.0 + 1.5 * frameShare);
    EXPECT_EQ(r.airFrames, 0);
    EXPECT_NEAR(r.heading, 0.0, 1.0);

    // Sagittal joint angles.
    EXPECT_GE(r.hipPeak, 24.0);
    EXPECT_LE(r.hipPeak, 31.0);
    EXPECT_GT(r.hipPeakPhase, 0.75);
    EXPECT_NEAR(r.hipAt50, -10.0, 4.5);
    EXPECT_GE(r.kneeStrike, 0.0);
    EXPECT_LE(r.kneeStrike, 5.5);
    EXPECT_GE(r.kneeAt12, 14.0);
    EXPECT_LE(r.kneeAt12, 21.0);
    EXPECT_NEAR(r.kneeToeOff, 40.0, 4.0);
    EXPECT_GE(r.kneePeak, 60.0);
    EXPECT_LE(r.kneePeak, 70.0);
    EXPECT_GE(r.kneePeakPhase, 0.69);
    EXPECT_LE(r.kneePeakPhase, 0.76);
    EXPECT_LE(r.ankleAt8, -4.0); // plantarflexion after heel strike
    EXPECT_GE(r.ankleAt8, -11.0);
    // Dorsiflexion at 50 %, as the other foot lands: the heel has lifted
    // rather than the shin leaning further over the foot.
    EXPECT_GE(r.ankleAt50, 5.0);
    EXPECT_LE(r.ankleAt50, 16.0);
    EXPECT_LE(r.ankleAt62, -15.0); // deepest plantarflexion just after toe-off
    EXPECT_GE(r.ankleAt62, -25.0);
    EXPECT_GE(r.ankle62Phase, 0.59);
    EXPECT_LE(r.ankle62Phase, 0.66);

    // Pelvis and arms.
    EXPECT_GE(r.list, 3.0);
    EXPECT_LE(r.list, 5.0);
    EXPECT_GE(r.rotation, 4.0);
    EXPECT_LE(r.rotation, 6.0);
    EXPECT_GE(r.bob, 2.0);
    EXPECT_LE(r.bob, 4.0);
    EXPECT_EQ(r.bobPeaks, 2);
    EXPECT_GE(r.shoulderArc, 25.0);
    EXPECT_LE(r.shoulderArc, 30.0);
    EXPECT_LT(r.armLegCorrelation, -0.7); // arms swing against the legs
    EXPECT_GE(r.elbowMin, 10.0);
    EXPECT_LE(r.elbowMax, 45.0);

    // Feet on the ground.
    EXPECT_GT(r.contacts, 20);
    EXPECT_LT(r.slide, 1.5);
    EXPECT_LT(r.toeSkid, 6.0);
    EXPECT_LT(r.ground, 2.0);
    EXPECT_GT(r.clearance, 0.4); // the swinging foot clears the ground
}

// The ankle as a gait laboratory measures it, from the joint positions
// alone: the angle at the ankle between the shin (knee to ankle) and the
// foot (ankle to ball) in the sagittal plane of the walk, less its value
// standing, dorsiflexion positive. Each leg at its own phase, averaged over
// 20 s of walking at frames of dt, as the demo plays the clip.
measure::PhaseBins AnkleFromJoints(measure::cGaitHost& host, unsigned int slot, unsigned int dt)
{
    const measure::sLeg* leg = host.layout.leg;
    auto angle = [&](int s) {
        const walker::M3 body = host.HeadingFrame();
        const walker::V3 knee = host.Head(leg[s].shin), ankle = host.Head(leg[s].foot), ball = host.Tail(leg[s].foot);
        return measure::SagittalFromDown(body, ball - ankle) - measure::SagittalFromDown(body, ankle - knee);
    };
    const double rest[2] = {angle(0), angle(1)};
    measure::Settle(host, dt, 3000, true, slot);
    measure::sWalkRecord clock; // only the clock of each frame, for the phases
    std::vector<double> angles[2];
    for (double t = 0; t < 20000; t += dt)
    {
        host.Frame(dt, true, false, false, slot);
        measure::sWalkFrame f;
        f.clock = host.actor().mTime;
        clock.frames.push_back(f);
        for (int s = 0; s < 2; ++s)
            angles[s].push_back(angle(s) - rest[s]);
    }
    const double period = host.actor().mAction[slot].mLength - (kRestartTime - 1.0);
    const std::vector<double> phase = measure::CyclePhases(clock, period, walker::kWalkStartPhase);
    measure::PhaseBins bins(100);
    for (size_t i = 0; i < phase.size(); ++i)
        for (int s = 0; s < 2; ++s)
            bins.Add(phase[i] - 0.5 * s, angles[s][i]);
    return bins;
}

// The adult band, phase by phase (Perry and Burnfield; docs/plots.md): a
// little plantarflexion as the foot comes down after heel strike, up to
// about 10 degrees of dorsiflexion (5 to 16) as the shin rolls over the
// planted foot, 15 to 20 of plantarflexion at toe-off, and the foot held
// near neutral through mid and late swing.
TEST_P(WalkerGait, AnkleFromTheJointsStaysInTheAdultBand)
{
    const GaitCase gc = GetParam();
    measure::cGaitHost host(kWalkerPath.c_str());
    const measure::PhaseBins ankle = AnkleFromJoints(host, gc.slot, gc.dt);
    double at = 0; // where the extreme lies, a share of the cycle
    const double loading = ankle.Min(0.0, 0.15, &at);
    EXPECT_LE(loading, -2.0) << "at " << 100 * at << " % of the cycle";
    EXPECT_GE(loading, -12.0) << "at " << 100 * at << " % of the cycle";
    const double stance = ankle.Max(0.15, 0.55, &at);
    EXPECT_GE(stance, 5.0) << "at " << 100 * at << " % of the cycle";
    EXPECT_LE(stance, 16.0) << "at " << 100 * at << " % of the cycle";
    const double toeOff = ankle.Min(0.55, 0.75, &at);
    EXPECT_LE(toeOff, -10.0) << "at " << 100 * at << " % of the cycle";
    EXPECT_GE(toeOff, -25.0) << "at " << 100 * at << " % of the cycle";
    EXPECT_LE(ankle.Max(0.75, 1.0, &at), 8.0) << "at " << 100 * at << " % of the cycle";
    EXPECT_GE(ankle.Min(0.75, 1.0, &at), -8.0) << "at " << 100 * at << " % of the cycle";

    // The figures draw the trace's ankle, measured in the shin's anatomical
    // frame: for the walker it is the angle the joints show.
    measure::cGaitHost traced(kWalkerPath.c_str());
    const measure::WalkReport r = measure::TraceWalk(traced, gc.slot, gc.dt);
    for (int i = 0; i < 20; ++i)
        EXPECT_NEAR(r.curve[2][i], ankle.At(i / 20.0), 0.5) << i * 5 << " % of the cycle";
}

INSTANTIATE_TEST_SUITE_P(Clips, WalkerGait,
                         testing::Values(GaitCase{0, 1}, GaitCase{0, 16}, GaitCase{0, 33}, GaitCase{2, 1},
                                         GaitCase{2, 16}, GaitCase{2, 33}),
                         [](const testing::TestParamInfo<GaitCase>& info) {
                             return std::string(info.param.slot == 0 ? "walk" : "brisk") + "_dt" +
                                    std::to_string(info.param.dt);
                         });

// The second walk is a different style, not the first one replayed.
TEST(WalkerGaitStyle, BriskDiffersFromWalk)
{
    measure::cGaitHost a(kWalkerPath.c_str()), b(kWalkerPath.c_str());
    const measure::WalkReport walk = measure::TraceWalk(a, 0, 16);
    const measure::WalkReport brisk = measure::TraceWalk(b, 2, 16);
    EXPECT_GT(brisk.cadence - walk.cadence, 8.0);
    EXPECT_GT(brisk.speed - walk.speed, 0.15);
    EXPECT_GT(brisk.elbowMin - walk.elbowMin, 8.0); // arms carried bent
}

// ---------------------------------------------------------------------------
// Standing and steering.

TEST(WalkerStand, FeetStayPutAndTheRootDoesNotDrift)
{
    for (unsigned int dt : {1u, 16u, 33u})
    {
        SCOPED_TRACE(dt);
        measure::cGaitHost host(kWalkerPath.c_str());
        const measure::StandReport r = measure::TraceStand(host, dt);
        EXPECT_LT(r.drift, 1.0);
        EXPECT_LT(r.ground, 1.0);
        EXPECT_LT(r.ankleTravel, 0.002);
    }
}

TEST(WalkerSteer, TravelFollowsTheHeadingWhileTurning)
{
    for (unsigned int slot : {0u, 2u})
        for (bool left : {true, false})
            for (unsigned int dt : {1u, 16u, 33u})
            {
                SCOPED_TRACE(testing::Message() << "slot " << slot << (left ? " left" : " right") << " dt " << dt);
                measure::cGaitHost host(kWalkerPath.c_str());
                const measure::TurnReport r = measure::TraceTurn(host, slot, dt, left);
                EXPECT_GT(r.turned, 1000.0);
                EXPECT_LT(r.maxError, 10.0);
            }
}

// ---------------------------------------------------------------------------
// Other layouts: a small hand-made biped with its own bone names.

namespace biped
{
using walker::M3;
using walker::V3;

const double kThigh = 1.0, kShin = 1.0;
const double kAnkleHeight = 0.1, kFootLength = 0.3, kPelvisDrop = 0.05;
const double kReach = 0.96 * (kThigh + kShin); // hip joint above the stance ankle
const double kHalfStep = 0.4;                  // stance ankle from +kHalfStep to -kHalfStep ahead of the hip
const double kStance = 0.6;                    // share of the cycle a foot is down
const double kLift = 0.25;                     // ankle lift in mid swing

struct Bone
{
    const char* name;
    int parent;
    V3 head, dir; // rest, in the root's frame (x right, y forward, z up)
    double len;
};

// Twelve bones: the root "Hips" with a forward marker as its first child,
// a pelvis carrying the legs, a spine and a skull; legs thigh, calf, foot
// (the foot bone names the character needs), and a toe on the right foot
// only. The knees are a little bent at rest so that the rest pose stands on
// the ground with the hips at walking height.
std::vector<Bone> Bones()
{
    const double bend = acos(kReach / (kThigh + kShin));
    const V3 thighDir(0, sin(bend), -cos(bend)), shinDir(0, -sin(bend), -cos(bend));
    const V3 footDir = V3(0, kFootLength, -kAnkleHeight).unit();
    const double footLen = V3(0, kFootLength, -kAnkleHeight).len();
    std::vector<Bone> b = {{"Hips", -1, V3(0, 0, 0), V3(0, 1, 0), 0.2},
                           {"Front", 0, V3(0, 0.2, 0), V3(0, 1, 0), 0.05},
                           {"Pelvis", 0, V3(0, 0, 0), V3(0, 0, -1), kPelvisDrop},
                           {"Spine", 0, V3(0, 0, 0), V3(0, 0, 1), 0.8},
                           {"Skull", 3, V3(0, 0, 0.8), V3(0, 0, 1), 0.3}};
    for (int s = 0; s < 2; ++s)
    {
        const double x = s == 0 ? 0.15 : -0.15;
        const int thigh = (int)b.size();
        const V3 hip(x, 0, -kPelvisDrop), knee = hip + thighDir * kThigh, ankle = knee + shinDir * kShin;
        b.push_back({s == 0 ? "R_Thigh" : "L_Thigh", 2, hip, thighDir, kThigh});
        b.push_back({s == 0 ? "R_Calf" : "L_Calf", thigh, knee, shinDir, kShin});
        b.push_back({s == 0 ? kRightFootBone : kLeftFootBone, thigh + 1, ankle, footDir, footLen});
        if (s == 0)
            b.push_back({"R_Toe", thigh + 2, ankle + footDir * footLen, V3(0, 1, 0), 0.1});
    }
    return b;
}

// Planar two-bone leg: thigh and shin angles from the vertical (forwards
// positive) that put the ankle (dy, dz) from the hip joint, knee forwards.
void SolveLeg(double dy, double dz, double& thigh, double& shin)
{
    const double D = sqrt(dy * dy + dz * dz);
    const double knee = walker::kPi - acos((kThigh * kThigh + kShin * kShin - D * D) / (2 * kThigh * kShin));
    thigh = atan2(dy, -dz) + acos((kThigh * kThigh + D * D - kShin * kShin) / (2 * kThigh * D));
    shin = thigh - knee;
}

// The ankle relative to its hip joint at the leg's own phase p: straight
// back on the ground through stance, forwards and lifted through swing,
// leaving and landing at rest over the ground (moving back under the hip
// as in stance).
void Ankle(double p, double& dy, double& dz)
{
    p -= floor(p);
    const double back = 2 * kHalfStep / kStance; // per unit phase
    if (p < kStance)
    {
        dy = kHalfStep - back * p;
        dz = -kReach;
        return;
    }
    dy = walker::Hermite({{kStance, -kHalfStep, -back}, {1.0, kHalfStep, -back}}, p);
    dz = -kReach + kLift * sin(walker::kPi * (p - kStance) / (1 - kStance));
}

// Seven decimals: the biped's numbers as it has always been read.
void SevenDecimals(std::string& s, double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.7f", v);
    s += buf;
}

// One cycle of `period` ms keyed as the walker's clips are (from the clock's
// restart time), starting `startPhase` into the cycle; or, with period 0, a
// still stand. Every key turns its bone about its own x axis.
author::sFileAction Action(const char* name, const std::vector<Bone>& bones, int period, double startPhase)
{
    const double bend = acos(kReach / (kThigh + kShin));
    const std::vector<int> times = period ? walker::KeyTimes(period, 20.0) : std::vector<int>{0, 1000};
    author::sFileAction a;
    a.mName = name;
    a.mLength = (unsigned int)times.back();
    a.mChannels.resize(bones.size());
    for (size_t i = 0; i < bones.size(); ++i)
        for (int t : times)
        {
            double angle = 0;
            const int leg = i >= 5 && i < 9 ? 0 : i >= 9 ? 1 : -1;
            const int part = leg == 0 ? (int)i - 5 : (int)i - 9; // thigh, calf, foot
            if (period && leg >= 0 && part < 3)
            {
                const double ph = (double)(t - (int)kRestartTime) / period + startPhase - 0.5 * leg;
                double dy, dz, thigh, shin;
                Ankle(ph, dy, dz);
                SolveLeg(dy, dz, thigh, shin);
                // Keys turn each bone about the common right axis, relative to
                // its rest angle; the foot keeps its rest pitch.
                const double thighKey = thigh - bend, shinKey = shin + bend - thighKey;
                angle = part == 0 ? thighKey : part == 1 ? shinKey : -(thighKey + shinKey);
            }
            author::sFileKey k;
            k.mTime = (unsigned int)t;
            k.mW = cos(angle / 2);
            k.mX = sin(angle / 2);
            a.mChannels[i].push_back(k);
        }
    return a;
}

// The biped's actor file: a walk of 1000 ms, a stand, and a second walk of
// 800 ms, each walk starting at its own phase.
std::string File()
{
    const std::vector<Bone> bones = Bones();
    const double rootHeight = kPelvisDrop + kReach + kAnkleHeight;
    author::sActorFile file;
    file.mName = "biped";
    std::vector<M3> rest;
    for (const Bone& b : bones)
        rest.push_back(walker::FrameFrom(b.dir, V3(1, 0, 0)));
    for (size_t i = 0; i < bones.size(); ++i)
    {
        const Bone& b = bones[i];
        M3 r = rest[i];
        V3 t(0, 0, rootHeight);
        if (b.parent >= 0)
        {
            r = rest[b.parent].T() * rest[i];
            t = rest[b.parent].T() * (b.head - bones[b.parent].head);
        }
        author::sFileBone out;
        out.mName = b.name;
        out.mParent = b.parent;
        out.mLength = b.len;
        const double offset[3] = {t.x, t.y, t.z};
        for (int row = 0; row < 3; ++row)
        {
            for (int col = 0; col < 3; ++col)
                out.mRest[row][col] = r.at(row, col);
            out.mRest[row][3] = offset[row];
        }
        file.mBones.push_back(out);
    }
    file.mActions = {Action("stride", bones, 1000, 0.3), Action("idle", bones, 0, 0), Action("quick", bones, 800, 0.7)};
    return author::FormatActorFile(file, SevenDecimals);
}
} // namespace biped

TEST(WalkerTraceLayout, FindsTheBipedsLegsFromItsFootBones)
{
    measure::cGaitHost host(measure::sActorText{biped::File()});
    const measure::sLayout& l = host.layout;
    const std::vector<cBone>& bones = host.actor().mArmature.mBones;
    EXPECT_FALSE(l.walker);
    EXPECT_EQ(bones[l.marker].mName, "Front");
    EXPECT_EQ(bones[l.leg[0].hip].mName, "Pelvis");
    EXPECT_EQ(bones[l.leg[0].thigh].mName, "R_Thigh");
    EXPECT_EQ(bones[l.leg[0].shin].mName, "R_Calf");
    EXPECT_EQ(bones[l.leg[0].toe].mName, "R_Toe");
    EXPECT_EQ(bones[l.leg[1].thigh].mName, "L_Thigh");
    EXPECT_EQ(l.leg[1].toe, -1) << "the left foot has no toe: its own tip serves";
    EXPECT_NEAR(host.legLength, biped::kThigh + biped::kShin, 1e-4);
    EXPECT_NEAR(host.Lowest(), 0.0, 1e-4) << "the biped stands on the ground at rest";
    // The heel lies on the ground below the ankle.
    EXPECT_NEAR(host.Heel(0).y, 0.0, 1e-4);
    EXPECT_NEAR(measure::Horiz(host.Heel(1) - host.Head(l.leg[1].foot)), 0.0, 1e-4);
    // Forward is towards the marker; the character's right is where the
    // right leg is.
    const walker::M3 body = host.HeadingFrame();
    EXPECT_GT(body.c[1].dot(host.Head(l.marker) - host.Head(l.root)), 0.0);
    EXPECT_GT(body.c[0].dot(host.Head(l.leg[0].thigh) - host.Head(l.leg[1].thigh)), 0.0);

    const std::vector<std::string> unmeasured = measure::Unmeasured(host);
    ASSERT_EQ(unmeasured.size(), 2u);
    EXPECT_NE(unmeasured[0].find("hip flexion"), std::string::npos);
    EXPECT_NE(unmeasured[0].find("anatomical"), std::string::npos);
    EXPECT_NE(unmeasured[1].find("arm swing"), std::string::npos);
}

TEST(WalkerTraceLayout, TheWalkerIsRecognisedAndMissesNothing)
{
    measure::cGaitHost host(kWalkerPath.c_str());
    EXPECT_TRUE(host.layout.walker);
    EXPECT_TRUE(measure::Unmeasured(host).empty());
}

// The biped's clips give, by construction: a cycle of 1000 ms (120 steps a
// minute) and 800 ms (150), each foot down for 60 % of it, and a stride of
// twice the ankle's travel under the hip over stance's share of the cycle.
// Frames of dt stretch a cycle to whole frames (the clock restarts at 34 ms
// dropping its overshoot), and a lock engages a frame or two after its foot
// lands, which costs a little travel per step.
TEST(WalkerTraceLayout, MeasuresTheBipedsWalkAsItWasKeyed)
{
    const std::string file = biped::File();
    const double stride = 2 * biped::kHalfStep / biped::kStance;
    double kneePeak = 0; // the keyed swing's deepest knee bend
    for (double p = biped::kStance; p < 1.0; p += 0.001)
    {
        double dy, dz, thigh, shin;
        biped::Ankle(p, dy, dz);
        biped::SolveLeg(dy, dz, thigh, shin);
        kneePeak = std::max(kneePeak, walker::Deg(thigh - shin));
    }
    for (unsigned int slot : {kWalkSlot, kSecondWalkSlot})
        for (unsigned int dt : {1u, 16u, 33u})
        {
            measure::cGaitHost host(measure::sActorText{file});
            const measure::WalkReport r = measure::TraceWalk(host, slot, dt);
            SCOPED_TRACE(testing::Message() << "slot " << slot << " dt " << dt << ": " << measure::LayoutWalkLine(r));
            EXPECT_FALSE(r.anatomical);
            const int period = slot == kWalkSlot ? 1000 : 800;
            const double cycle = dt * ((period - 1) / dt + 1); // ms, whole frames
            EXPECT_NEAR(r.cadence, 2 * 60000.0 / cycle, 1.0);
            EXPECT_NEAR(r.contacts, 2 * 20000.0 / cycle, 2.0);
            EXPECT_NEAR(r.strideUnits, stride, stride * (0.01 + 2.5 * dt / period));
            // The root's travel and the planted feet agree.
            EXPECT_NEAR(r.speedUnits, r.strideUnits * r.cadence / 120.0, 0.03 * r.speedUnits);
            EXPECT_NEAR(r.speed * host.legLength, r.speedUnits, 1e-9);
            const double frameShare = 100.0 * dt / period;
            EXPECT_NEAR(r.stance, 100 * biped::kStance, 1.0 + frameShare);
            EXPECT_NEAR(r.doubleSupport, 100 * (2 * biped::kStance - 1), 2.0 + 2 * frameShare);
            EXPECT_EQ(r.airFrames, 0);
            EXPECT_LT(r.slide, 1.0 + 1.5 * frameShare);
            EXPECT_LT(r.ground, 0.5);
            EXPECT_NEAR(r.heading, 0.0, 1.0);
            EXPECT_NEAR(r.list, 0.0, 0.1); // the biped's pelvis stays level
            EXPECT_NEAR(r.bob, 0.0, 0.1);
            // The cycle starts at the right foot's landing whatever phase the
            // clip starts at: the knee bends most in swing, as keyed, lifting
            // the foot clear of the ground.
            EXPECT_NEAR(r.kneePeak, kneePeak, 2.0);
            EXPECT_GT(r.kneePeakPhase, biped::kStance);
            EXPECT_NEAR(100 * r.footOn, 0.0, 1.0 + frameShare);
            EXPECT_NEAR(100 * r.footOff, 100 * biped::kStance, 1.0 + frameShare);
            EXPECT_GT(r.clearance, 0.5);
        }
}

TEST(WalkerTraceLayout, TheBipedStandsAndSteers)
{
    const std::string file = biped::File();
    {
        measure::cGaitHost host(measure::sActorText{file});
        const measure::StandReport r = measure::TraceStand(host, 16);
        EXPECT_LT(r.drift, 0.01);
        EXPECT_LT(r.ankleTravel, 1e-4);
    }
    for (bool left : {true, false})
    {
        measure::cGaitHost host(measure::sActorText{file});
        const measure::TurnReport r = measure::TraceTurn(host, kWalkSlot, 16, left);
        EXPECT_GT(r.turned, 1000.0);
        EXPECT_LT(r.maxError, 10.0);
    }
}

TEST(WalkerTraceLayout, AFileWithoutFootBonesIsRefusedByName)
{
    std::string file = biped::File();
    const std::string foot = std::string("\"") + kLeftFootBone + "\"";
    for (size_t at = file.find(foot); at != std::string::npos; at = file.find(foot))
        file.replace(at, foot.size(), "\"LeftFoot\"");
    try
    {
        measure::cGaitHost host(measure::sActorText{file});
        FAIL() << "a file without a left foot bone was accepted";
    }
    catch (const cQVError& e)
    {
        EXPECT_NE(std::string(e.what()).find(kLeftFootBone), std::string::npos) << e.what();
    }
}

// ---------------------------------------------------------------------------
// The CSV export.

struct Csv
{
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    size_t Col(const std::string& name) const
    {
        for (size_t i = 0; i < header.size(); ++i)
            if (header[i] == name)
                return i;
        ADD_FAILURE() << "no column " << name;
        return 0;
    }
    double At(size_t row, const std::string& name) const { return atof(rows[row][Col(name)].c_str()); }
};

std::vector<std::string> SplitComma(const std::string& line)
{
    std::vector<std::string> out;
    std::stringstream in(line);
    std::string cell;
    while (std::getline(in, cell, ','))
        out.push_back(cell);
    return out;
}

Csv ReadCsv(const std::string& path)
{
    Csv c;
    std::ifstream in(path);
    std::string line;
    if (std::getline(in, line))
        c.header = SplitComma(line);
    while (std::getline(in, line))
    {
        c.rows.push_back(SplitComma(line));
        EXPECT_EQ(c.rows.back().size(), c.header.size()) << path << ": " << line;
    }
    return c;
}

// Exports an actor file's trace into a fresh folder of the build tree and
// checks what every file holds against the trace itself.
void CheckExport(const std::string& actor, const std::string& name)
{
    const std::string dir = std::string(QV_BINARY_DIR) + "/test_walker_csv_" + name;
    std::remove((dir + "/walks.csv").c_str());
    const std::vector<std::string> written = measure::ExportGaitCSV(actor.c_str(), dir);
    ASSERT_EQ(written.size(), 9u); // the index and four files for each of two walks

    const Csv walks = ReadCsv(dir + "/walks.csv");
    EXPECT_EQ(walks.header, SplitComma("slot,clip,cycle_ms,layout,leg_length,height"));
    ASSERT_EQ(walks.rows.size(), 2u);
    measure::cGaitHost host(actor.c_str());
    for (size_t w = 0; w < 2; ++w)
    {
        const unsigned int slot = w == 0 ? kWalkSlot : kSecondWalkSlot;
        SCOPED_TRACE(testing::Message() << name << " slot " << slot);
        EXPECT_EQ(walks.At(w, "slot"), slot);
        EXPECT_EQ(walks.rows[w][walks.Col("clip")], host.actor().mAction[slot].mName);
        EXPECT_EQ(walks.rows[w][walks.Col("layout")], host.layout.walker ? "walker" : "other");
        EXPECT_NEAR(walks.At(w, "leg_length"), host.legLength, 1e-4);
        const double cycle = walks.At(w, "cycle_ms");
        const std::string prefix = dir + "/slot" + std::to_string(slot) + "_";

        measure::cGaitHost h16(actor.c_str());
        const measure::WalkReport r16 = measure::TraceWalk(h16, slot, 16);
        EXPECT_NEAR(cycle, 2 * 60000.0 / r16.cadence, 0.02 * cycle);

        // Joint angles: one row per per cent of the cycle; each side's knee
        // bends most in swing, as deep as the trace's report says.
        const Csv angles = ReadCsv(prefix + "angles.csv");
        EXPECT_EQ(angles.header, SplitComma("phase_pct,right_hip_deg,right_knee_deg,right_ankle_deg,left_hip_deg,"
                                            "left_knee_deg,left_ankle_deg"));
        ASSERT_EQ(angles.rows.size(), 101u);
        for (const char* side : {"right", "left"})
        {
            double peak = -1e9;
            int at = 0;
            for (size_t i = 0; i < angles.rows.size(); ++i)
            {
                EXPECT_EQ(angles.At(i, "phase_pct"), (double)i);
                if (angles.At(i, std::string(side) + "_knee_deg") > peak)
                {
                    peak = angles.At(i, std::string(side) + "_knee_deg");
                    at = (int)i;
                }
            }
            EXPECT_NEAR(peak, r16.kneePeak, 3.0) << side;
            EXPECT_NEAR(at, 100 * r16.kneePeakPhase, 4.0) << side;
        }

        // Pelvis: list and rotation swing as far as the report's half ranges.
        const Csv pelvis = ReadCsv(prefix + "pelvis.csv");
        EXPECT_EQ(pelvis.header, SplitComma("phase_pct,list_deg,rotation_deg,bob"));
        ASSERT_EQ(pelvis.rows.size(), 101u);
        double listLo = 1e9, listHi = -1e9, bobLo = 1e9;
        for (size_t i = 0; i < pelvis.rows.size(); ++i)
        {
            listLo = std::min(listLo, pelvis.At(i, "list_deg"));
            listHi = std::max(listHi, pelvis.At(i, "list_deg"));
            bobLo = std::min(bobLo, pelvis.At(i, "bob"));
        }
        EXPECT_NEAR(0.5 * (listHi - listLo), r16.list, 0.2);
        EXPECT_NEAR(bobLo, 0.0, 1e-4);

        // Feet: a few whole cycles; a locked foot's ankle stays put (within
        // the report's worst slide), and every foot locks and frees.
        const Csv feet = ReadCsv(prefix + "feet.csv");
        EXPECT_EQ(feet.header,
                  SplitComma("time_ms,right_ankle_fwd,right_ankle_up,right_ball_fwd,right_ball_up,right_locked,"
                             "left_ankle_fwd,left_ankle_up,left_ball_fwd,left_ball_up,left_locked"));
        ASSERT_FALSE(feet.rows.empty());
        EXPECT_NEAR(feet.At(feet.rows.size() - 1, "time_ms"), 3 * cycle, 2 * 16.0);
        for (const std::string side : {"right", "left"})
        {
            int locked = 0;
            double worst = 0, since = 0;
            for (size_t i = 0; i < feet.rows.size(); ++i)
            {
                const bool now = feet.At(i, side + "_locked") == 1;
                if (now && (i == 0 || feet.At(i - 1, side + "_locked") == 0))
                    since = feet.At(i, side + "_ankle_fwd");
                if (now)
                    worst = std::max(worst, fabs(feet.At(i, side + "_ankle_fwd") - since));
                locked += now ? 1 : 0;
                EXPECT_GT(feet.At(i, side + "_ball_up"), -0.02 * host.Height());
            }
            EXPECT_GT(locked, 0) << side;
            EXPECT_LT(locked, (int)feet.rows.size()) << side;
            EXPECT_LE(worst, r16.slide / 100.0 * r16.strideUnits + 0.02 * r16.strideUnits) << side;
        }

        // Root speed at the three frame steps: over whole cycles it averages
        // the trace's speed at that step.
        const Csv speed = ReadCsv(prefix + "root_speed.csv");
        EXPECT_EQ(speed.header, SplitComma("dt_ms,time_ms,speed"));
        for (unsigned int dt : {1u, 16u, 33u})
        {
            double sum = 0;
            int n = 0;
            for (size_t i = 0; i < speed.rows.size(); ++i)
                if (speed.At(i, "dt_ms") == dt)
                {
                    sum += speed.At(i, "speed");
                    ++n;
                }
            ASSERT_GT(n, 0) << dt;
            measure::cGaitHost hdt(actor.c_str());
            EXPECT_NEAR(sum / n, measure::TraceWalk(hdt, slot, dt).speedUnits, 0.05 * sum / n) << "dt " << dt;
        }
    }
}

TEST(WalkerCsv, ExportsTheWalkersCurvesFeetAndRootSpeed) { CheckExport(kWalkerPath, "walker"); }

TEST(WalkerCsv, ExportsAnotherLayoutsToo)
{
    const std::string path = std::string(QV_BINARY_DIR) + "/test_walker_biped.xml";
    std::ofstream(path) << biped::File();
    CheckExport(path, "biped");
}

} // namespace
