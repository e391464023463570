// The actor-file writer: what it writes reads back through the demo's reader
// as the same bones, hierarchy, actions, keys and root heights, in either
// number format, and as the same body with its texture; each format writes
// numbers as its programs always have; the body's weights are written to sum
// to exactly one.
#include <gtest/gtest.h>

#include <math.h>

#include <string>

#include "QV_actor.h"
#include "QV_actor_file.h"
#include "QV_png.h"
#include "QV_xml.h"
#include "data/xml_test_files.h"

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

// A body on SmallFile's bones: a fan of triangles about the root's head,
// each outer vertex shared by the root and the spine, textured by a 3 x 2
// image.
author::sFileBody SmallBody()
{
    author::sFileBody b;
    const int n = 8;
    b.mPositions = {0, 0, 2};
    b.mNormals = {0, 0, 1};
    b.mTexCoords = {0.5, 0.5};
    b.mInfluences.push_back({{0, 1.0}});
    for (int i = 0; i < n; ++i)
    {
        const double a = 2 * M_PI * i / n;
        b.mPositions.insert(b.mPositions.end(), {0.5 * cos(a), 0.5 * sin(a), 2.0 + 0.01 * i});
        b.mNormals.insert(b.mNormals.end(), {0.1 * cos(a), 0.1 * sin(a), 1.0});
        b.mTexCoords.insert(b.mTexCoords.end(), {0.5 + 0.5 * cos(a), 0.5 - 0.5 * sin(a)});
        b.mInfluences.push_back({{0, 0.7 - 0.05 * i}, {1, 0.3 + 0.05 * i}});
        b.mTriangles.insert(b.mTriangles.end(), {0u, (unsigned)(1 + i), (unsigned)(1 + (i + 1) % n)});
    }
    sImage image;
    image.mWidth = 3;
    image.mHeight = 2;
    for (int i = 0; i < 6; ++i)
        image.mPixels.insert(image.mPixels.end(), {(unsigned char)(40 * i), (unsigned char)(255 - 40 * i), 7, 255});
    b.mTexturePng = EncodePng(image);
    return b;
}

TEST(ActorFileWriter, TheBodyReadsBackUprightWithItsWeightsAndTexture)
{
    author::sActorFile f = SmallFile();
    f.mBody = SmallBody();
    const std::string text = author::FormatActorFile(f, author::FixedSixDecimals);
    cActor actor;
    ReadActorFromMemory(text.data(), text.size(), actor);
    const cBody& body = actor.mBody;
    const author::sFileBody& w = f.mBody;
    ASSERT_EQ(body.VertexCount(), 9u);
    ASSERT_EQ(body.TriangleCount(), 8u);
    for (size_t v = 0; v < 9; ++v)
    {
        SCOPED_TRACE("vertex " + std::to_string(v));
        // Upright: the file's (x, y, z) is the library's (x, z, -y).
        EXPECT_NEAR(body.mRestPositions[v].mData[0], w.mPositions[3 * v], 1e-4);
        EXPECT_NEAR(body.mRestPositions[v].mData[1], w.mPositions[3 * v + 2], 1e-4);
        EXPECT_NEAR(body.mRestPositions[v].mData[2], -w.mPositions[3 * v + 1], 1e-4);
        const double len = sqrt(w.mNormals[3 * v] * w.mNormals[3 * v] + w.mNormals[3 * v + 1] * w.mNormals[3 * v + 1] +
                                w.mNormals[3 * v + 2] * w.mNormals[3 * v + 2]);
        EXPECT_NEAR(body.mRestNormals[v].mData[0], w.mNormals[3 * v] / len, 1e-3);
        EXPECT_NEAR(body.mRestNormals[v].mData[1], w.mNormals[3 * v + 2] / len, 1e-3);
        EXPECT_NEAR(body.mTexCoords[2 * v], w.mTexCoords[2 * v], 1e-5);
        EXPECT_NEAR(body.mTexCoords[2 * v + 1], w.mTexCoords[2 * v + 1], 1e-5);
        ASSERT_EQ(body.mInfluences[v].mCount, w.mInfluences[v].size());
        // Heaviest first, in the file; each bone keeps its weight.
        for (const author::sFileInfluence& in : w.mInfluences[v])
        {
            float read = -1.0f;
            for (unsigned int k = 0; k < body.mInfluences[v].mCount; ++k)
                if (body.mInfluences[v].mBone[k] == (unsigned)in.mBone)
                    read = body.mInfluences[v].mWeight[k];
            EXPECT_NEAR(read, in.mWeight, 1e-4) << "bone " << in.mBone;
        }
    }
    for (size_t i = 0; i < w.mTriangles.size(); ++i)
        EXPECT_EQ(body.mTriangles[i], w.mTriangles[i]);
    ASSERT_EQ(body.mTexture.mWidth, 3u);
    ASSERT_EQ(body.mTexture.mHeight, 2u);
    for (size_t i = 0; i < 6; ++i)
    {
        EXPECT_EQ(body.mTexture.mPixels[4 * i], 40 * i);
        EXPECT_EQ(body.mTexture.mPixels[4 * i + 1], 255 - 40 * i);
        EXPECT_EQ(body.mTexture.mPixels[4 * i + 3], 255);
    }
}

TEST(ActorFileWriter, AFileWithoutABodyHasNoBodyElement)
{
    const std::string text = author::FormatActorFile(SmallFile(), author::SevenDigits);
    EXPECT_EQ(text.find("<body"), std::string::npos);
    author::sActorFile f = SmallFile();
    f.mBody = SmallBody();
    f.mBody.mTexturePng.clear();
    f.mBody.mTexCoords.clear();
    const std::string plain = author::FormatActorFile(f, author::SevenDigits);
    EXPECT_NE(plain.find("<body vertices=\"9\" triangles=\"8\">"), std::string::npos);
    EXPECT_EQ(plain.find("<texture>"), std::string::npos);
    EXPECT_EQ(plain.find("<texcoords>"), std::string::npos);
    EXPECT_EQ(xmltest::MessageOf(plain), "(loaded)");
}

TEST(ActorFileWriter, WeightsAreWrittenInTenThousandthsSummingToOne)
{
    using W = std::vector<std::pair<int, int>>;
    // Thirds: the rounding goes to the heaviest (the first of equals).
    EXPECT_EQ(author::QuantiseWeights({{3, 1.0 / 3}, {1, 1.0 / 3}, {2, 1.0 / 3}}),
              (W{{1, 3334}, {2, 3333}, {3, 3333}}));
    // Five bones: the lightest goes, the rest share its weight.
    EXPECT_EQ(author::QuantiseWeights({{0, 0.3}, {1, 0.3}, {2, 0.2}, {3, 0.1}, {4, 0.1}}),
              (W{{0, 3334}, {1, 3333}, {2, 2222}, {3, 1111}}));
    // The same bone twice is one influence; a share below 0.00005 is left out.
    EXPECT_EQ(author::QuantiseWeights({{5, 0.25}, {6, 0.5}, {5, 0.25}, {7, 0.00001}}), (W{{5, 5000}, {6, 5000}}));
    // Unnormalised weights are shares of their sum; no weight at all is no influence.
    EXPECT_EQ(author::QuantiseWeights({{2, 3.0}, {4, 1.0}}), (W{{2, 7500}, {4, 2500}}));
    EXPECT_TRUE(author::QuantiseWeights({{2, 0.0}}).empty());
}

} // namespace
