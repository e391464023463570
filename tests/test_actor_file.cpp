// The actor-file writer: what it writes reads back through the demo's reader
// as the same bones, hierarchy, actions, keys and root heights, in either
// number format; and each format writes numbers as its programs always have.
#include <gtest/gtest.h>

#include <math.h>

#include <string>

#include "QV_actor.h"
#include "QV_actor_file.h"
#include "QV_xml.h"

namespace
{

// A root with a spine and a leg of two bones, listed children first in the
// hierarchy; three actions, the walk's root keys carrying heights.
author::sActorFile SmallFile()
{
    author::sActorFile f;
    f.mName = "small";
    const char* names[4] = {"Bone", "Bone.001", "Bone.002", "Bone.003"};
    const int parents[4] = {-1, 0, 0, 2};
    for (int i = 0; i < 4; ++i)
    {
        author::sFileBone b;
        b.mName = names[i];
        b.mParent = parents[i];
        b.mLength = 0.25 + 0.5 * i;
        // A quarter turn about z for the leg's first bone, offsets along y
        // and z that differ from bone to bone.
        if (i == 2)
        {
            b.mRest[0][0] = 0, b.mRest[0][1] = -1;
            b.mRest[1][0] = 1, b.mRest[1][1] = 0;
        }
        b.mRest[1][3] = 0.125 * i;
        b.mRest[2][3] = i == 0 ? 2.0 : -0.375;
        f.mBones.push_back(b);
    }
    f.mHierarchy = {3, 1, 2, 0};
    const char* actions[3] = {"walk", "stand", "brisk"};
    for (int a = 0; a < 3; ++a)
    {
        author::sFileAction action;
        action.mName = actions[a];
        action.mLength = 500 + 100 * a;
        action.mChannels.resize(4);
        for (int c = 0; c < 4; ++c)
            for (unsigned int t : {0u, 34u, action.mLength})
            {
                author::sFileKey k;
                k.mTime = t;
                const double half = 0.001 * (t + 7 * c + 50 * a);
                k.mW = cos(half);
                k.mY = sin(half);
                k.mHasHeight = a == 0 && c == 0;
                k.mHeight = -0.001 * t;
                action.mChannels[c].push_back(k);
            }
        f.mActions.push_back(action);
    }
    return f;
}

// Formats the file with number, reads it back, and checks that every bone,
// link, rest matrix, action, key and height is what was written, within
// what the format keeps (tolerance).
void ExpectReadsBackAsWritten(author::NumberFormat number, double tolerance)
{
    const author::sActorFile f = SmallFile();
    const std::string text = author::FormatActorFile(f, number);
    cActor actor;
    ReadActorFromMemory(text.data(), text.size(), actor);

    const std::vector<cBone>& bones = actor.mArmature.mBones;
    ASSERT_EQ(bones.size(), f.mBones.size());
    for (size_t i = 0; i < bones.size(); ++i)
    {
        const author::sFileBone& b = f.mBones[i];
        SCOPED_TRACE(b.mName);
        EXPECT_EQ(bones[i].mName, b.mName);
        EXPECT_NEAR(bones[i].mLength, b.mLength, tolerance);
        if (b.mParent < 0)
        {
            EXPECT_EQ(actor.mArmature.mRootBone, &bones[i]);
            continue; // the reader turns the root upright: its matrix is not the file's
        }
        ASSERT_NE(bones[i].mParent, nullptr);
        EXPECT_EQ(bones[i].mParent->mName, f.mBones[b.mParent].mName);
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 4; ++col)
                EXPECT_NEAR(bones[i].mRestTransform._m[4 * col + row], b.mRest[row][col], tolerance)
                    << "row " << row << " column " << col;
    }

    for (size_t a = 0; a < f.mActions.size(); ++a)
    {
        const author::sFileAction& written = f.mActions[a];
        const cAction& read = actor.mAction[a];
        SCOPED_TRACE(written.mName);
        EXPECT_EQ(read.mName, written.mName);
        EXPECT_EQ(read.mLength, written.mLength);
        ASSERT_EQ(read.mChannels.size(), written.mChannels.size());
        for (size_t c = 0; c < read.mChannels.size(); ++c)
        {
            const KeyFrameVector& keys = read.mChannels[c].mKeyFrames;
            ASSERT_EQ(keys.size(), written.mChannels[c].size()) << "channel " << c;
            for (size_t k = 0; k < keys.size(); ++k)
            {
                const author::sFileKey& w = written.mChannels[c][k];
                EXPECT_EQ(keys[k].mTime, w.mTime);
                EXPECT_NEAR(keys[k].mValue.mData[3], w.mW, tolerance);
                EXPECT_NEAR(keys[k].mValue.mData[1], w.mY, tolerance);
            }
        }
        // Heights only where the keys carry them: the walk's root.
        ASSERT_EQ(read.mRootHeight.size(), a == 0 ? 3u : 0u);
        for (size_t k = 0; k < read.mRootHeight.size(); ++k)
        {
            EXPECT_EQ(read.mRootHeight[k].mTime, written.mChannels[0][k].mTime);
            EXPECT_NEAR(read.mRootHeight[k].mHeight, written.mChannels[0][k].mHeight, tolerance);
        }
    }
}

TEST(ActorFileWriter, ReadsBackThroughTheReaderInSixDecimals)
{
    ExpectReadsBackAsWritten(author::FixedSixDecimals, 1e-6);
}

TEST(ActorFileWriter, ReadsBackThroughTheReaderInSevenDigits) { ExpectReadsBackAsWritten(author::SevenDigits, 1e-6); }

TEST(ActorFileWriter, ListsTheHierarchyInTheOrderGivenOrTheBonesOrder)
{
    author::sActorFile f = SmallFile();
    const std::string given = author::FormatActorFile(f, author::SevenDigits);
    EXPECT_LT(given.find("<node name=\"Bone.003\">Bone.002</node>"), given.find("<node name=\"Bone\">NULL</node>"));
    f.mHierarchy.clear();
    const std::string own = author::FormatActorFile(f, author::SevenDigits);
    EXPECT_LT(own.find("<node name=\"Bone\">NULL</node>"), own.find("<node name=\"Bone.003\">Bone.002</node>"));
    EXPECT_EQ(own.find("<?xml version=\"1.0\" ?>\n<QVArmature>\n"), 0u);
}

TEST(ActorFileWriter, NumberFormatsWriteAsTheirProgramsAlwaysHave)
{
    const auto text = [](author::NumberFormat number, double v) {
        std::string s;
        number(s, v);
        return s;
    };
    // The walker's: six decimals, no negative zero.
    EXPECT_EQ(text(author::FixedSixDecimals, 0.5), "0.500000");
    EXPECT_EQ(text(author::FixedSixDecimals, -1.25), "-1.250000");
    EXPECT_EQ(text(author::FixedSixDecimals, -1e-9), "0.000000");
    EXPECT_EQ(text(author::FixedSixDecimals, -0.0), "0.000000");
    // The importer's: seven significant digits, rounding noise as 0.
    EXPECT_EQ(text(author::SevenDigits, 0.5), "0.5");
    EXPECT_EQ(text(author::SevenDigits, 123.456789), "123.4568");
    EXPECT_EQ(text(author::SevenDigits, 1e-16), "0");
    EXPECT_EQ(text(author::SevenDigits, -1e-16), "0");
}

} // namespace
