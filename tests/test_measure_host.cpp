// The measuring layer's host: it plays an actor file exactly as the demo
// does (PrepareCharacter, then StepCharacter), the feet the traces measure
// are the core's foot locks' contact points on the floor the walk began on,
// and whatever it refuses it refuses with one line of the cQVError family.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "QV_actor_file.h"
#include "QV_character.h"
#include "QV_gait_trace.h"
#include "QV_measure_host.h"
#include "QV_trace_csv.h"
#include "QV_xml.h"

namespace
{

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";

// Six bones: a root, a bone ahead of it (or straight above it), two thighs
// and the two feet the demo needs; `actions` still actions.
std::string SmallActor(int actions, bool childAbove = false)
{
    author::sActorFile f;
    f.mName = "small";
    const char* names[6] = {"Bone", "Bone.001", "Bone.005", "Bone.006", kRightFootBone, kLeftFootBone};
    const int parents[6] = {-1, 0, 0, 0, 2, 3};
    for (int i = 0; i < 6; ++i)
    {
        author::sFileBone b;
        b.mName = names[i];
        b.mParent = parents[i];
        b.mLength = 0.5;
        if (i == 0)
            b.mRest[2][3] = 1.0; // the root a unit up
        else if (i == 1)
            b.mRest[childAbove ? 2 : 1][3] = 0.3;
        else
            b.mRest[0][3] = i % 2 ? -0.2 : 0.2;
        f.mBones.push_back(b);
    }
    for (int a = 0; a < actions; ++a)
    {
        author::sFileAction action;
        action.mName = "still";
        action.mLength = 1000;
        action.mChannels.resize(6);
        for (std::vector<author::sFileKey>& channel : action.mChannels)
        {
            channel.resize(2);
            channel[1].mTime = 1000;
        }
        f.mActions.push_back(action);
    }
    return author::FormatActorFile(f, author::SevenDigits);
}

// Runs body and returns what it threw of the cQVError family ("" if nothing).
template <class Body> std::string Refusal(Body body)
{
    try
    {
        body();
    }
    catch (const cQVError& e)
    {
        return e.what();
    }
    return std::string();
}

TEST(MeasureHost, RefusesWhatTheDemoRefusesWithTheDemosLine)
{
    const std::string two = SmallActor(2);
    cActor demo;
    ReadActorFromMemory(two.data(), two.size(), demo);
    const std::string line = PrepareCharacter(demo);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(Refusal([&] { measure::cHost h(measure::sActorText{two}); }), line);
    EXPECT_EQ(Refusal([&] { measure::cGaitHost h(measure::sActorText{two}); }), line);
    // With the third action the same bones are played.
    EXPECT_EQ(Refusal([&] { measure::cGaitHost h(measure::sActorText{SmallActor(3)}); }), "");
}

TEST(MeasureHost, EveryRefusalIsOneLineOfTheErrorFamily)
{
    // The reader's own error, for a file it cannot read.
    const std::string broken = "<QVArmature><armature>";
    EXPECT_NE(Refusal([&] { measure::cHost h(measure::sActorText{broken}); }).find("XML ERROR"), std::string::npos);
    // The gait trace's: a root whose first child stands straight above it.
    EXPECT_EQ(Refusal([&] { measure::cGaitHost h(measure::sActorText{SmallActor(3, true)}); }),
              "the root's first child lies straight above or below it: no walking direction");
    // A folder that cannot be made.
    const std::string file = ::testing::TempDir() + "qv_measure_not_a_folder";
    std::ofstream(file) << "x";
    const std::string csv = Refusal([&] { measure::ExportMotionCSV(kWalker, file + "/inside"); });
    EXPECT_EQ(csv.find("cannot make " + file + "/inside: "), 0u) << csv;
    // Names and paths are the user's: whatever they hold, the line stays one.
    EXPECT_STREQ(measure::cMeasureError("cannot write a\nb\rc").what(), "cannot write a?b?c");
    remove(file.c_str());
}

// The host and an actor readied and stepped as the demo does it, frame by
// frame: the same matrices, and the trace's feet are the foot locks'
// contact points, unshifted by the actor's origin shift, bit for bit. The
// walk is long enough for the actor to move its scene back under the trace.
void ExpectFeetAreTheFootLocks(const std::string& text, int settleFrames)
{
    measure::cGaitHost host{measure::sActorText{text}};
    cActor demo;
    ReadActorFromMemory(text.data(), text.size(), demo);
    ASSERT_EQ(PrepareCharacter(demo), "");
    sSteering walk;
    walk.mWalk = true;
    const cFootLock* locks[2] = {&demo.mRightFoot, &demo.mLeftFoot};
    auto onFloor = [&](const cVector3D& p) {
        return measure::V3((double)p.mData[0] + demo.mOriginShift[0], (double)p.mData[1] + demo.mOriginShift[1],
                           (double)p.mData[2] + demo.mOriginShift[2]);
    };
    measure::V3 lastRoot = host.Head(host.layout.root);
    for (int i = 0; i < settleFrames; ++i)
    {
        host.Frame(16, true, false, false, kWalkSlot);
        StepCharacter(demo, 16, walk);
        // (The first frame leaves the rest pose for the first key's.)
        const measure::V3 root = host.Head(host.layout.root);
        ASSERT_TRUE(i == 0 || measure::Horiz(root - lastRoot) < 0.2) << "frame " << i << ": the root jumped";
        lastRoot = root;
    }
    for (int s = 0; s < 2; ++s)
    {
        measure::V3 traced[cFootLock::kContactPoints];
        cVector3D lock[cFootLock::kContactPoints];
        host.FootPoints(s, traced);
        locks[s]->ContactPoints(lock);
        for (int k = 0; k < cFootLock::kContactPoints; ++k)
        {
            EXPECT_EQ(traced[k].x, onFloor(lock[k]).x) << "side " << s << " point " << k;
            EXPECT_EQ(traced[k].y, onFloor(lock[k]).y) << "side " << s << " point " << k;
            EXPECT_EQ(traced[k].z, onFloor(lock[k]).z) << "side " << s << " point " << k;
        }
    }

    const measure::sWalkRecord rec = measure::RecordWalk(host, kWalkSlot, 16, 2000);
    ASSERT_FALSE(rec.frames.empty());
    for (const measure::sWalkFrame& f : rec.frames)
    {
        StepCharacter(demo, 16, walk);
        for (int s = 0; s < 2; ++s)
        {
            cVector3D p[cFootLock::kContactPoints];
            locks[s]->ContactPoints(p);
            const double lowest = std::min(onFloor(p[cFootLock::kHeel]).y,
                                           std::min(onFloor(p[cFootLock::kBall]).y, onFloor(p[cFootLock::kToeTip]).y));
            ASSERT_EQ(f.locked[s], locks[s]->mLock) << f.elapsed << " ms";
            ASSERT_EQ(f.ball[s].x, onFloor(p[cFootLock::kBall]).x) << f.elapsed << " ms";
            ASSERT_EQ(f.footLowest[s], lowest) << f.elapsed << " ms";
            ASSERT_EQ(f.toeTip[s], onFloor(p[cFootLock::kToeTip]).y) << f.elapsed << " ms";
        }
    }
}

TEST(MeasureHost, TheWalkersTracedFeetAreItsFootLocksContactPoints)
{
    std::ifstream in(kWalker, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // 70 s of walking at about 2.5 units a second: the scene moves back at
    // 128 units.
    ExpectFeetAreTheFootLocks(text, 70000 / 16);
    measure::cGaitHost host{measure::sActorText{text}};
    for (int i = 0; i < 70000 / 16; ++i)
        host.Frame(16, true, false, false, kWalkSlot);
    EXPECT_NE(host.actor().mOriginShift[0] + host.actor().mOriginShift[2], 0) << "the walk never left the origin";
}

TEST(MeasureHost, ALayoutWithoutToesIsTracedOnItsFootLocksToo)
{
    // The small actor: feet without toes, whose toe tip is the ball.
    ExpectFeetAreTheFootLocks(SmallActor(3), 10);
    measure::cGaitHost host{measure::sActorText{SmallActor(3)}};
    const measure::V3 ball = host.Tail(host.layout.leg[measure::kLeft].foot);
    EXPECT_NEAR(measure::Horiz(host.ToeTip(measure::kLeft) - ball), 0.0, 1e-6);
    EXPECT_NEAR(host.ToeTip(measure::kLeft).y, ball.y, 1e-6);
}

TEST(MeasureCsv, AnExportLeavesOnlyWholeFiles)
{
    const std::string dir = ::testing::TempDir() + "qv_measure_csv";
    const std::vector<std::string> written = measure::ExportMotionCSV(kWalker, dir);
    ASSERT_EQ(written.size(), 2u);
    for (const std::string& path : written)
    {
        struct stat st;
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        EXPECT_GT(st.st_size, 1000) << path;
        EXPECT_NE(stat((path + ".tmp").c_str(), &st), 0) << path << ".tmp is left behind";
        remove(path.c_str());
    }
    rmdir(dir.c_str());
}

} // namespace
