// The optional root height: keys of the root bone's channel may carry 'h',
// the root's height above its rest position. Loaded with the same care as
// every other value, applied to the vertical alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <tinyxml.h>

#include "QV_character.h"
#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

namespace
{
const char* const kIdentity = "1,0,0,0,0,1,0,0,0,0,1,0";

std::string HKey(const std::string& t, const std::string& h)
{
    return "<key t=\"" + t + "\" h=\"" + h + "\"><quat w=\"1\" x=\"0\" y=\"0\" z=\"0\"/></key>\n";
}

// Two bones, Root (listed second, so the root's channel is channel 2) and
// Child; one action whose channels are given.
std::string TwoBones(const std::string& childChannel, const std::string& rootChannel)
{
    const std::string bones = Bone("Child", "1", kIdentity) + Bone("Root", "1", "1,0,0,0,0,1,0,0,0,0,1,0.5");
    return Document(Armature("t", "2", bones, Node("Root", "NULL") + Node("Child", "Root")),
                    Action("a", "1000", childChannel + rootChannel));
}

std::string Plain(int keys)
{
    std::string body;
    for (int i = 0; i < keys; ++i)
        body += Key(std::to_string(i * 500), "1", "0", "0", "0");
    return Channel(std::to_string(keys), body);
}
} // namespace

TEST(RootHeight, ReadFromTheRootChannelAndRefusedAnywhereElse)
{
    // Accepted: every key of the root's channel with a height.
    {
        cActor a;
        const std::string text =
            TwoBones(Plain(1), Channel("3", HKey("0", "0.25") + HKey("500", "-1e-3") + HKey("1000", "-100")));
        ReadActorFromMemory(text.data(), text.size(), a);
        ASSERT_EQ(a.mAction[0].mRootHeight.size(), 3u);
        EXPECT_EQ(a.mAction[0].mRootHeight[1].mTime, 500u);
        EXPECT_EQ(a.mAction[0].mRootHeight[1].mHeight, -1e-3f);
        EXPECT_EQ(a.mAction[0].mRootHeight[2].mHeight, -100.0f); // the limit for a figure of size 1
    }
    struct Case
    {
        const char* what;
        std::string child, root, expected;
    };
    const Case refused[] = {
        {"a height on another bone's channel", Channel("1", HKey("0", "0.1")), Plain(1),
         "'h' in the action 'a', channel 1, key 1: only the root bone's channel may carry a height."},
        {"a word", Plain(1), Channel("1", HKey("0", "high")), "'h' in the action 'a', channel 2, key 1 must be"},
        {"infinity", Plain(1), Channel("1", HKey("0", "inf")), "must be a finite number from -1000000 to 1000000."},
        {"not a number", Plain(1), Channel("1", HKey("0", "nan")), "must be a finite number"},
        {"too high", Plain(1), Channel("1", HKey("0", "1000001")), "must be a finite number"},
        // The figure is 1 unit from the root's head to its farthest tip.
        {"too high for the figure", Plain(1), Channel("2", HKey("0", "0") + HKey("500", "100.5")),
         "'h' in the action 'a', channel 2, key 2 is 100.5 units; a figure of size 1 may rise or sink at most 100 "
         "times its size"},
        {"too low for the figure", Plain(1), Channel("1", HKey("0", "-150")), "may rise or sink at most 100 times"},
        {"a later key without", Plain(1), Channel("2", HKey("0", "0.1") + Key("500", "1", "0", "0", "0")),
         "channel 2, key 2: the key has no 'h' but the channel's first key has one"},
        {"a later key with", Plain(1), Channel("2", Key("0", "1", "0", "0", "0") + HKey("500", "0.1")),
         "channel 2, key 2: the key has an 'h' but the channel's first key has none"},
    };
    for (const Case& c : refused)
    {
        const std::string message = MessageOf(TwoBones(c.child, c.root));
        EXPECT_EQ(message.compare(0, 11, "XML ERROR: "), 0) << c.what << ": " << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
    }
}

TEST(RootHeight, InterpolatesLikeTheRotationsAndHoldsAtTheEnds)
{
    cAction a;
    EXPECT_EQ(a.RootHeightAt(100), 0.0f); // no heights keyed
    a.mRootHeight = {{100, 1.0f}, {300, 3.0f}, {300, 5.0f}, {500, -1.0f}};
    const struct
    {
        unsigned int t;
        float h;
    } expect[] = {{0, 1.0f},   {100, 1.0f}, {200, 2.0f},  {299, 2.99f},
                  {300, 5.0f}, {400, 2.0f}, {500, -1.0f}, {9000, -1.0f}};
    for (const auto& e : expect)
        EXPECT_NEAR(a.RootHeightAt(e.t), e.h, 1e-6f) << "t = " << e.t;
}

// The walker with a bob keyed on its walk: the root rises and falls by the
// keyed height over its rest height, standing (no heights) puts it back at
// rest, and the travel the foot locks make is the same as without the bob.
// The walker's file with a bob of +-0.04 units keyed on its walk, twice a
// cycle, lifted by `lift`.
std::string BobbingWalker(double lift = 0)
{
    TiXmlDocument doc;
    if (!doc.LoadFile("data/walker.xml"))
        return "";
    TiXmlElement* walk = TiXmlHandle(&doc)
                             .FirstChildElement("QVArmature")
                             .FirstChildElement("actions")
                             .FirstChildElement("action")
                             .Element();
    if (!walk)
        return "";
    double len = 0;
    walk->Attribute("len", &len);
    const double period = len - kRestartTime;
    // The root is the walker's first bone, so its channel is the first.
    TiXmlElement* key = TiXmlHandle(walk)
                            .FirstChildElement("channel")
                            .FirstChildElement("keyframes")
                            .FirstChildElement("key")
                            .Element();
    for (; key; key = key->NextSiblingElement("key"))
    {
        double t = 0;
        key->Attribute("t", &t);
        char h[32];
        std::snprintf(h, sizeof h, "%.9g", lift + 0.04 * std::cos(4.0 * M_PI * (t - kRestartTime) / period));
        key->SetAttribute("h", h);
    }
    TiXmlPrinter printer;
    doc.Accept(&printer);
    return printer.CStr();
}

TEST(RootHeight, TheBobIsVerticalAloneAndNeverFightsTheLocks)
{
    const std::string bobbing = BobbingWalker();

    cActor plain, bob;
    ReadActorFromXML("data/walker.xml", plain);
    ReadActorFromMemory(bobbing.data(), bobbing.size(), bob);
    ASSERT_EQ(plain.mArmature.mRootBone, &plain.mArmature.mBones[0]);
    ASSERT_FALSE(bob.mAction[kWalkSlot].mRootHeight.empty());
    for (cActor* a : {&plain, &bob})
        ASSERT_EQ(PrepareCharacter(*a), "");
    const float restY = bob.mArmature.mRootBone->mRestTransform._m[13];

    sSteering walking;
    walking.mWalk = true;
    float low = 1e9f, high = -1e9f;
    for (int frame = 0; frame < 600; ++frame)
    {
        const bool standing = frame >= 500;
        sSteering s = standing ? sSteering() : walking;
        StepCharacter(plain, 16, s);
        StepCharacter(bob, 16, s);
        const cVector3D p = plain.mArmature.mRootBone->mWorldTransform.getTransform();
        const cVector3D b = bob.mArmature.mRootBone->mWorldTransform.getTransform();
        ASSERT_NEAR(b.mData[0], p.mData[0], 1e-4f) << "frame " << frame;
        ASSERT_NEAR(b.mData[2], p.mData[2], 1e-4f) << "frame " << frame;
        const float h = b.mData[1] - restY;
        if (bob.mCurrentAction == kWalkSlot)
        {
            ASSERT_NEAR(h, bob.mAction[kWalkSlot].RootHeightAt(bob.mTime), 1e-5f) << "frame " << frame;
            low = std::min(low, h);
            high = std::max(high, h);
        }
        if (standing && frame > 502)
        {
            ASSERT_EQ(h, 0.0f) << "frame " << frame;
        }
    }
    EXPECT_LT(low, -0.035f);
    EXPECT_GT(high, 0.035f);
    EXPECT_GT(std::fabs(bob.mArmature.mRootBone->mWorldTransform._m[14]), 1.0f); // it did travel
}

// Every bone's world position per frame while walking, lifted back down;
// raise: added to the heights after loading, past the loader's checks.
std::vector<cVector3D> Walked(const std::string& text, double lift, int frames, float raise = 0)
{
    cActor a;
    ReadActorFromMemory(text.data(), text.size(), a);
    for (sHeightKey& k : a.mAction[kWalkSlot].mRootHeight)
        k.mHeight += raise;
    a.SetConstraints();
    a.UpdateArmature();
    sSteering walking;
    walking.mWalk = true;
    std::vector<cVector3D> out;
    for (int f = 0; f < frames; ++f)
    {
        StepCharacter(a, 1, walking);
        for (const cBone& b : a.mArmature.mBones)
        {
            cVector3D p = b.mWorldTransform.getTransform();
            p.mData[1] = (float)(p.mData[1] - lift);
            out.push_back(p);
        }
    }
    return out;
}

// The root's height lifts the whole figure, and single-precision positions
// are the coarser the higher it stands: at a million units the bones of a
// walk 2 units high at the hips jumped 4.5 times as far per 1 ms frame as at
// rest height. The loader takes a height up to 100 times the figure's size;
// lifted that far, the walker's every bone stays within a twenty-thousandth
// of its size of where it walks at rest height, frame by frame, and a
// little higher the file is refused. (Lifted 100 times further, past the
// loader, the walk is off by a thousandth of its size and more.)
TEST(RootHeight, AtItsLimitTheFigureStaysPreciseAndBeyondItIsRefused)
{
    const auto accepted = [](double lift) {
        const std::string text = BobbingWalker(lift);
        cActor a;
        try
        {
            ReadActorFromMemory(text.data(), text.size(), a);
        }
        catch (const cXmlError&)
        {
            return false;
        }
        return true;
    };
    ASSERT_TRUE(accepted(0));
    double lo = 0, hi = 1e7;
    for (int i = 0; i < 60; ++i)
        (accepted(0.5 * (lo + hi)) ? lo : hi) = 0.5 * (lo + hi);
    const double size = lo / 100;
    EXPECT_GT(size, 2.0) << "the walker reaches from its hips to its feet";
    EXPECT_LT(size, 6.0);
    EXPECT_NE(MessageOf(BobbingWalker(1.01 * lo)).find("may rise or sink at most 100 times its size"),
              std::string::npos);

    const int frames = 4000;
    const std::vector<cVector3D> rest = Walked(BobbingWalker(0), 0, frames);
    const std::vector<cVector3D> lifted = Walked(BobbingWalker(lo), lo, frames);
    const std::vector<cVector3D> beyond = Walked(BobbingWalker(lo), 100 * lo, frames, (float)(99 * lo));
    ASSERT_EQ(rest.size(), lifted.size());
    ASSERT_EQ(rest.size(), beyond.size());
    double worst = 0, worstBeyond = 0;
    for (size_t i = 0; i < rest.size(); ++i)
    {
        worst = std::max(worst, (double)(lifted[i] - rest[i]).length());
        worstBeyond = std::max(worstBeyond, (double)(beyond[i] - rest[i]).length());
    }
    std::printf("the walker (size %.3f) lifted by %.1f units: its bones within %.2g units (%.2g of its size) of "
                "where they walk at rest height; lifted by %.0f: %.2g units\n",
                size, lo, worst, worst / size, 100 * lo, worstBeyond);
    EXPECT_LT(worst, 5e-5 * size);
    EXPECT_GT(worstBeyond, 1e-3 * size);
}

// With the cross-fade, the height fades with the pose: starting and stopping
// move the root no faster vertically than walking does, and a request that
// interrupts a fade never snaps the height back.
TEST(RootHeight, TheCrossFadeBlendsTheHeightToo)
{
    const std::string bobbing = BobbingWalker();
    cActor a;
    ReadActorFromMemory(bobbing.data(), bobbing.size(), a);
    ASSERT_EQ(PrepareCharacter(a), "");
    a.mCrossFade = true;

    // W held and released at many points of the cycle (16 ms frames): walks
    // of 60 to 123 frames, each followed by a stand of 30, except that every
    // third stand is cut short by a start half way through its fade.
    static bool pattern[1200];
    int f = 0;
    for (int i = 0; f < 1200; ++i)
    {
        for (int k = 0; k < 60 + 7 * (i % 10) && f < 1200; ++k)
            pattern[f++] = true;
        for (int k = 0; k < (i % 3 == 2 ? 7 : 30) && f < 1200; ++k)
            pattern[f++] = false;
    }
    auto walking = [](int frame) { return frame >= 0 && pattern[frame]; };
    float steady = 0.0f, changing = 0.0f;
    int run = 0; // frames walked in a row
    float last = a.mArmature.mRootBone->mWorldTransform._m[13];
    for (int frame = 0; frame < 1200; ++frame)
    {
        sSteering s;
        s.mWalk = walking(frame);
        StepCharacter(a, 16, s);
        const float y = a.mArmature.mRootBone->mWorldTransform._m[13];
        ASSERT_TRUE(std::isfinite(y));
        const float step = std::fabs(y - last);
        last = y;
        if (frame == 0)
            continue; // the first frame leaves the rest pose for the clip
        run = walking(frame) ? run + 1 : 0;
        const bool settled = run > 25; // a fade lasts 16 frames
        (settled ? steady : changing) = std::max(settled ? steady : changing, step);
    }
    EXPECT_GT(steady, 0.002f); // the bob is there
    EXPECT_LT(changing, 1.5f * steady) << "steady " << steady;
}
