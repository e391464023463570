// The walker: the committed actor file is exactly what the generator makes,
// it is well formed for the demo, and played through the library the way
// the demo plays it, it walks, stands and turns like an adult.
#include <gtest/gtest.h>

#include <math.h>
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>

#include "actor_writer.h"
#include "gait_params.h"
#include "gait_trace.h"
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
    walker::Host host(kWalkerPath.c_str());
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

    const char* names[3] = {"walk", "stand", "brisk"};
    for (int s = 0; s < 3; ++s)
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
    walker::Host host(kWalkerPath.c_str());
    cActor& a = host.actor();
    for (int s = 0; s < 3; ++s)
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
    walker::Host host(kWalkerPath.c_str());
    EXPECT_NEAR(host.Lowest(), 0.0, 0.002);
    EXPECT_GT(host.height, 3.6);
    EXPECT_LT(host.height, 4.4);
    EXPECT_GT(host.legLength, 1.8);
    EXPECT_LT(host.legLength, 2.2);
}

TEST(WalkerRest, RootFacesWhereItsFirstChildLiesAndKeepsUpUp)
{
    walker::Host host(kWalkerPath.c_str());
    cActor& a = host.actor();
    const cBone* root = a.mArmature.mRootBone;
    ASSERT_NE(root, nullptr);
    ASSERT_FALSE(root->mChildren.empty());
    const walker::V3 r = walker::PosOf(root->mWorldTransform);
    const walker::V3 c = walker::PosOf(root->mChildren[0]->mWorldTransform);
    const walker::V3 d = c - r;
    EXPECT_NEAR(d.y, 0.0, 1e-5) << "the foot-lock direction must be horizontal";
    EXPECT_GT(walker::Horiz(d), 0.05);
    // File +z is the walker's up: the root's local z is world up.
    const walker::M3 rot = walker::RotOf(root->mWorldTransform);
    EXPECT_NEAR(rot.c[2].y, 1.0, 1e-5);
    // And the first child lies the way the walker faces (the toes point there).
    const walker::V3 toes = host.Tail(walker::kToesR) - host.Head(walker::kFootR);
    EXPECT_GT(toes.x * d.x + toes.z * d.z, 0.0);
    // Heading turns about the vertical: a quarter turn keeps the root's up.
    a.mHeading = 90.0f;
    a.mNextAction = 1;
    a.Animate(1);
    EXPECT_NEAR(walker::RotOf(root->mWorldTransform).c[2].y, 1.0, 1e-3);
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
    walker::Host host(kWalkerPath.c_str());
    const walker::WalkReport r = walker::TraceWalk(host, gc.slot, gc.dt);
    SCOPED_TRACE(walker::WalkLine(r));

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
    // Dorsiflexion at 50 % runs high: the lock holds the ankle, so the heel
    // cannot rise much before the other foot lands without the toes sliding.
    EXPECT_GE(r.ankleAt50, 5.0);
    EXPECT_LE(r.ankleAt50, 20.0);
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
    walker::Host a(kWalkerPath.c_str()), b(kWalkerPath.c_str());
    const walker::WalkReport walk = walker::TraceWalk(a, 0, 16);
    const walker::WalkReport brisk = walker::TraceWalk(b, 2, 16);
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
        walker::Host host(kWalkerPath.c_str());
        const walker::StandReport r = walker::TraceStand(host, dt);
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
                walker::Host host(kWalkerPath.c_str());
                const walker::TurnReport r = walker::TraceTurn(host, slot, dt, left);
                EXPECT_GT(r.turned, 1000.0);
                EXPECT_LT(r.maxError, 10.0);
            }
}

} // namespace
