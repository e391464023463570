// qvimport writes the body of a source that has one: the generated walker,
// played in place and written as glTF with its body skinned to the joints
// and textured, comes back from the reader's process with every vertex
// riding on its joints as the source moves them; the imported file carries
// the body on the bones it writes, at the stand, each vertex as far from its
// bones as in the source, textured; it plays. The body's record across the
// process boundary is checked strictly; a BVH file has no body. Textures
// are read as PNG or JPEG, halved to the file's limit.

#include <gtest/gtest.h>

#include <math.h>

#include <cstdio>
#include <cstring>

#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "QV_capture.h"
#include "QV_capture_wire.h"
#include "QV_character.h"
#include "QV_png.h"
#include "QV_scene_reader.h"
#include "QV_xml.h"
#include "support/capture_gltf.h"

#include <jpeglib.h>

using namespace qvimport;

namespace
{

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "qvimport_body_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// The walker played in place, its body textured: a 4 x 2 image and texture
// coordinates running round it, written as a skinned glTF, read back.
struct sSource
{
    qvtest::sPlayedWalker mWalker;
    sCapture mCapture;
};

const sSource& Source()
{
    static sSource s = [] {
        sSource out;
        out.mWalker = qvtest::PlayWalkerInPlace(3);
        qvtest::sGltfMesh& mesh = out.mWalker.mMesh;
        for (const sVec3& p : mesh.mPositions)
            mesh.mTexCoords.insert(mesh.mTexCoords.end(), {0.5 + atan2(p.x, p.z) / (2 * M_PI), p.y / 4.0});
        sImage image;
        image.mWidth = 4;
        image.mHeight = 2;
        for (int i = 0; i < 8; ++i)
            image.mPixels.insert(image.mPixels.end(),
                                 {(unsigned char)(30 * i), 200, (unsigned char)(255 - 30 * i), 255});
        mesh.mPng = EncodePng(image);
        qvtest::sGltfStyle style;
        style.mYUp = false; // the demo's axes are glTF's
        const std::string path = TempPath("walker.gltf");
        WriteFile(path, qvtest::CaptureGltf(out.mWalker.mCapture, style, &mesh));
        out.mCapture = ReadScene(path);
        return out;
    }();
    return s;
}

// Where the capture's body puts vertex v at frame f: its joints' frames
// carrying it, weighted.
sVec3 Posed(const sCapture& cap, size_t f, size_t v)
{
    sVec3 p;
    for (const sSkinInfluence& i : cap.mBody.mInfluences[v])
        p = p + (cap.mPosition[f][i.mJoint] + cap.mRotation[f][i.mJoint] * i.mLocal) * i.mWeight;
    return p;
}

TEST(QvImportBody, TheReaderBindsTheMeshToTheJointsAsTheSourceMovesThem)
{
    const sSource& s = Source();
    const sCapture& cap = s.mCapture;
    const sCaptureBody& body = cap.mBody;
    const qvtest::sGltfMesh& mesh = s.mWalker.mMesh;
    ASSERT_EQ(body.mInfluences.size(), mesh.mPositions.size());
    EXPECT_EQ(body.mTriangles, mesh.mTriangles);
    EXPECT_EQ(body.mNote, "");
    // Every few captured frames, each vertex where the glTF's own skinning
    // puts it: its joints' moves from the first frame (the bind pose),
    // blended by its weights; and a vertex one joint moves alone where the
    // walker itself is skinned (the library, in single precision).
    double worst = 0, worstRigid = 0;
    for (size_t f = 0; f < cap.Frames(); f += 7)
        for (size_t v = 0; v < body.mInfluences.size(); ++v)
        {
            // (The mesh's joints are the written capture's; the reader lists
            // them in an order of its own.)
            const sCapture& written = s.mWalker.mCapture;
            sVec3 want;
            for (int k = 0; k < 4; ++k)
            {
                const int j = mesh.mJoints[v][k];
                const sVec3 local = written.mRotation[0][j].Conj() * (mesh.mPositions[v] - written.mPosition[0][j]);
                want = want + (written.mPosition[f][j] + written.mRotation[f][j] * local) * mesh.mWeights[v][k];
            }
            const sVec3 got = Posed(cap, f, v);
            worst = std::max(worst, (got - want).Length());
            if (mesh.mWeights[v][0] == 1.0)
                worstRigid = std::max(worstRigid, (got - s.mWalker.mBodyAt[f][v]).Length());
        }
    EXPECT_LT(worst, 1e-4) << "units, on a figure 4 units tall";
    EXPECT_LT(worstRigid, 1e-4);
    // Texture coordinates with v = 0 at the image's top, as glTF has them,
    // and the image itself.
    ASSERT_EQ(body.mTexCoords.size(), 2 * mesh.mPositions.size());
    for (size_t i = 0; i < body.mTexCoords.size(); i += 101)
        EXPECT_NEAR(body.mTexCoords[i], mesh.mTexCoords[i], 1e-6);
    ASSERT_EQ(body.mTexture.mWidth, 4u);
    ASSERT_EQ(body.mTexture.mHeight, 2u);
    EXPECT_EQ(body.mTexture.mPixels[4 * 7], 210);
}

// The file the importer writes for the source, loaded.
struct sImported
{
    sImportResult mResult;
    cActor mActor;
};

const sImported& Imported()
{
    static sImported* s = [] {
        sImported* out = new sImported;
        out->mResult = Import(Source().mCapture, sOptions());
        const std::string& xml = out->mResult.mXml;
        ReadActorFromMemory(xml.data(), xml.size(), out->mActor);
        return out;
    }();
    return *s;
}

// The distance from p to a bone's segment, head to tail.
double ToSegment(const cVector3D& p, const cVector3D& head, const cVector3D& tail)
{
    const cVector3D d = tail - head;
    const float len2 = d.dot(d);
    const float t = len2 > 0 ? std::max(0.0f, std::min(1.0f, (p - head).dot(d) / len2)) : 0.0f;
    return (p - (head + d * t)).length();
}

TEST(QvImportBody, TheFileCarriesTheBodyAtTheStandOnTheBonesItWrites)
{
    const sImported& im = Imported();
    const cBody& body = im.mActor.mBody;
    const cBody& walker = []() -> const cBody& {
        static cActor a;
        if (a.mBody.Empty())
            ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), a);
        return a.mBody;
    }();
    ASSERT_EQ(body.VertexCount(), walker.VertexCount());
    EXPECT_EQ(body.mTriangles, walker.mTriangles);
    EXPECT_FALSE(body.mTexture.Empty());
    EXPECT_EQ(body.mTexCoords.size(), 2 * body.VertexCount());

    // The walker's bones keep their names in the file: a vertex that one bone
    // moves alone lies as far from that bone (its segment, at rest) in the
    // file as in the walker at rest, scaled by the import.
    static cActor source;
    if (source.mArmature.mBones.empty())
        ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), source);
    source.UpdateArmature();
    cActor& file = const_cast<cActor&>(im.mActor);
    file.UpdateArmature();
    const double scale = im.mResult.mActor.mScale;
    size_t checked = 0;
    double worst = 0;
    for (size_t v = 0; v < walker.VertexCount(); ++v)
    {
        const sInfluences& wi = walker.mInfluences[v];
        const sInfluences& fi = body.mInfluences[v];
        if (wi.mCount != 1 || fi.mCount != 1)
            continue;
        const cBone& wb = source.mArmature.mBones[wi.mBone[0]];
        const cBone& fb = file.mArmature.mBones[fi.mBone[0]];
        if (wb.mName != fb.mName)
            continue; // a bone the importer names otherwise, or one it dropped
        const double want = scale * ToSegment(walker.mRestPositions[v], qvtest::BoneHead(wb), qvtest::BoneTail(wb));
        const double got = ToSegment(body.mRestPositions[v], qvtest::BoneHead(fb), qvtest::BoneTail(fb));
        worst = std::max(worst, std::fabs(got - want));
        ++checked;
    }
    printf("%zu vertices moved by one bone each lie as far from it as in the walker, within %.2g units\n", checked,
           worst);
    EXPECT_GT(checked, body.VertexCount() / 2);
    EXPECT_LT(worst, 0.01 * scale);
}

TEST(QvImportBody, TheImportedBodyWalksWithTheFigure)
{
    const sImported& im = Imported();
    cActor a;
    ReadActorFromMemory(im.mResult.mXml.data(), im.mResult.mXml.size(), a);
    ASSERT_EQ(PrepareCharacter(a), "");
    sSteering walk;
    walk.mWalk = true;
    // Each vertex stays as far from its heaviest bone as it is at rest
    // (exactly, for one moved by that bone alone; the rest nearly).
    std::vector<double> rest(a.mBody.VertexCount());
    a.mBody.Skin(a.mArmature);
    auto away = [&](size_t v) {
        const cBone& b = a.mArmature.mBones[a.mBody.mInfluences[v].mBone[0]];
        return ToSegment(a.mBody.mPositions[v], qvtest::BoneHead(b), qvtest::BoneTail(b));
    };
    for (size_t v = 0; v < rest.size(); ++v)
        rest[v] = away(v);
    double worst = 0;
    for (int f = 0; f < 120; ++f)
    {
        StepCharacter(a, 16, walk);
        a.mBody.Skin(a.mArmature);
        for (size_t v = 0; v < rest.size(); ++v)
            if (a.mBody.mInfluences[v].mCount == 1)
                worst = std::max(worst, std::fabs(away(v) - rest[v]));
    }
    EXPECT_LT(worst, 1e-3 * im.mResult.mActor.mFigureHeight);
}

TEST(QvImportBody, ABvhFileWritesNoBody)
{
    const std::string bvh = std::string(QV_SOURCE_DIR) + "/../shared/mocap/131_02.bvh";
    if (!std::ifstream(bvh).good())
        GTEST_SKIP() << "no " << bvh;
    // Assimp gives a BVH file a mesh of its own, to show the skeleton: not
    // the figure's body.
    const sImportResult r = ImportFile(bvh, sOptions());
    EXPECT_TRUE(r.mActor.mBody.Empty());
    EXPECT_EQ(r.mXml.find("<body"), std::string::npos);
}

// ---- Textures ----------------------------------------------------------------------

// A JPEG of a w x h image whose pixels are (r, g, b), as libjpeg writes it.
std::vector<unsigned char> Jpeg(unsigned w, unsigned h, unsigned char r, unsigned char g, unsigned char b)
{
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = w;
    info.image_height = h;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<unsigned char> row;
    for (unsigned x = 0; x < w; ++x)
        row.insert(row.end(), {r, g, b});
    while (info.next_scanline < h)
    {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<unsigned char> bytes(out, out + size);
    jpeg_destroy_compress(&info);
    free(out);
    return bytes;
}

TEST(QvImportBodyTexture, PngAndJpegAreReadAndALargeImageHalvedToTheLimit)
{
    sImage image;
    std::string why;
    const std::vector<unsigned char> jpeg = Jpeg(16, 8, 200, 100, 50);
    ASSERT_TRUE(DecodeTexture(jpeg.data(), jpeg.size(), image, why)) << why;
    EXPECT_EQ(image.mWidth, 16u);
    EXPECT_EQ(image.mHeight, 8u);
    EXPECT_NEAR(image.mPixels[0], 200, 3);
    EXPECT_NEAR(image.mPixels[1], 100, 3);
    EXPECT_NEAR(image.mPixels[2], 50, 3);
    EXPECT_EQ(image.mPixels[3], 255);

    // 8192 x 3, alternating black and white columns: halved once to 4096 x 2,
    // each pixel the mean of its two by two.
    sImage wide;
    wide.mWidth = 8192;
    wide.mHeight = 3;
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 8192; ++x)
            wide.mPixels.insert(wide.mPixels.end(), {(unsigned char)(x % 2 ? 255 : 0), 0, 0, 255});
    const std::vector<unsigned char> png = EncodePng(wide);
    ASSERT_TRUE(DecodeTexture(png.data(), png.size(), image, why)) << why;
    EXPECT_EQ(image.mWidth, 4096u);
    EXPECT_EQ(image.mHeight, 2u);
    EXPECT_EQ(image.mPixels[0], 128);

    const std::string gif = "GIF89a";
    EXPECT_FALSE(DecodeTexture((const unsigned char*)gif.data(), gif.size(), image, why));
    EXPECT_EQ(why, "it is neither a PNG nor a JPEG image");
    std::vector<unsigned char> cut(jpeg.begin(), jpeg.begin() + 40);
    EXPECT_FALSE(DecodeTexture(cut.data(), cut.size(), image, why));
    EXPECT_FALSE(why.empty());
}

// The body's texture as the reader finds it for the walker's mesh written
// with its image at `uri`, a file beside the glTF holding `bytes` as
// `name` (none when name is empty); "" for a texture of w x h pixels found.
std::string TextureFound(const std::string& uri, const std::string& name, const std::vector<unsigned char>& bytes,
                         unsigned w, unsigned h)
{
    qvtest::sGltfMesh mesh = Source().mWalker.mMesh;
    mesh.mPng.clear();
    mesh.mImageUri = uri;
    const std::string dir = TempPath("beside");
    mkdir(dir.c_str(), 0700);
    if (!name.empty())
        WriteFile(dir + "/" + name, std::string(bytes.begin(), bytes.end()));
    qvtest::sGltfStyle style;
    style.mYUp = false;
    WriteFile(dir + "/walker.gltf", qvtest::CaptureGltf(Source().mWalker.mCapture, style, &mesh));
    const sCapture cap = ReadScene(dir + "/walker.gltf");
    if (!name.empty())
        std::remove((dir + "/" + name).c_str());
    if (cap.mBody.mTexture.mWidth == w && cap.mBody.mTexture.mHeight == h && !cap.mBody.mTexCoords.empty())
        return "";
    return cap.mBody.mNote.empty() ? "no texture, no note" : cap.mBody.mNote;
}

TEST(QvImportBodyTexture, AFileBesideTheSourceIsReadFromItsFolderOnly)
{
    const std::vector<unsigned char> jpeg = Jpeg(8, 4, 10, 20, 30);
    EXPECT_EQ(TextureFound("skin.jpg", "skin.jpg", jpeg, 8, 4), "");
    // A path from elsewhere is looked for beside the source by its name.
    EXPECT_EQ(TextureFound("../../elsewhere/skin.jpg", "skin.jpg", jpeg, 8, 4), "");
    EXPECT_EQ(TextureFound("/absolute/skin.jpg", "skin.jpg", jpeg, 8, 4), "");
    // Missing, or not an image: the body without a texture, and why.
    EXPECT_EQ(TextureFound("gone.png", "", {}, 0, 0),
              "its texture 'gone.png' cannot be read: there is no such regular file of at most 64 MiB beside the "
              "source; the body is written without a texture");
    EXPECT_EQ(TextureFound("skin.gif", "skin.gif", {'G', 'I', 'F', '8'}, 0, 0),
              "its texture 'skin.gif' cannot be read: it is neither a PNG nor a JPEG image; the body is written "
              "without a texture");
}

// ---- The body's record across the process boundary ------------------------------

// A small capture with a body, as the reader's bytes.
sCapture SmallCapture()
{
    sCapture c;
    c.mRate = 30;
    c.mJoints = {{"hips", -1, true}, {"knee", 0, true}, {"foot", 1, true}};
    for (int f = 0; f < 2; ++f)
    {
        c.mRotation.push_back({sQuat(), sQuat(), sQuat()});
        c.mPosition.push_back({sVec3(0, 0, 1), sVec3(0, 0, 0.5), sVec3(0, 0.1, 0)});
    }
    sCaptureBody& b = c.mBody;
    for (int v = 0; v < 3; ++v)
    {
        sSkinInfluence i;
        i.mJoint = v;
        i.mWeight = 0.75;
        i.mLocal = sVec3(0.1 * v, 0, 0);
        i.mNormal = sVec3(0, 1, 0);
        sSkinInfluence j = i;
        j.mJoint = (v + 1) % 3;
        j.mWeight = 0.25;
        b.mInfluences.push_back({i, j});
    }
    b.mTexCoords = {0, 0, 1, 0, 0, 1};
    b.mTriangles = {0, 1, 2};
    b.mTexture.mWidth = b.mTexture.mHeight = 1;
    b.mTexture.mPixels = {1, 2, 3, 4};
    b.mNote = "a note";
    return c;
}

std::string Bytes(const sCapture& c)
{
    std::string out;
    cWireWriter w([&](const char* d, size_t n) { out.append(d, n); });
    w.Begin(c.mJoints, c.mRate, c.Frames());
    for (size_t f = 0; f < c.Frames(); ++f)
        w.Frame(c.mRotation[f], c.mPosition[f]);
    if (!c.mBody.Empty())
        w.Body(c.mBody);
    w.End();
    return out;
}

std::string DecodeMessage(const std::string& bytes)
{
    cMemorySource in(bytes.data(), bytes.size());
    try
    {
        DecodeCapture(in);
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

TEST(QvImportBodyWire, TheBodyCrossesWhole)
{
    const sCapture sent = SmallCapture();
    const std::string bytes = Bytes(sent);
    cMemorySource in(bytes.data(), bytes.size());
    const sCapture got = DecodeCapture(in);
    ASSERT_EQ(got.mBody.mInfluences.size(), 3u);
    EXPECT_EQ(got.mBody.mInfluences[2][1].mJoint, 0);
    EXPECT_EQ(got.mBody.mInfluences[1][0].mLocal.x, 0.1);
    EXPECT_EQ(got.mBody.mTexCoords, sent.mBody.mTexCoords);
    EXPECT_EQ(got.mBody.mTriangles, sent.mBody.mTriangles);
    EXPECT_EQ(got.mBody.mTexture.mPixels, sent.mBody.mTexture.mPixels);
    EXPECT_EQ(got.mBody.mNote, "a note");
}

// The body record's bytes start after the frames: its fields found by their
// place from the record's tag.
size_t BodyAt(const std::string& bytes)
{
    sCapture none = SmallCapture();
    none.mBody = sCaptureBody();
    std::string head = Bytes(none);
    head.pop_back(); // its end, 'Z'
    EXPECT_EQ(bytes.compare(0, head.size(), head), 0);
    EXPECT_EQ(bytes[head.size()], 'B');
    return head.size();
}

TEST(QvImportBodyWire, ABodyThatBreaksTheFormatIsRefusedNamingWhat)
{
    const std::string good = Bytes(SmallCapture());
    const size_t b = BodyAt(good);
    // Offsets in the record: 'B', vertices, triangles, texcoords, then per
    // vertex its count and two influences of 4 + 7 * 8 bytes each.
    const size_t vertices = b + 1, triangles = b + 5, first = b + 10, joint = first + 1, weight = joint + 4,
                 normal = weight + 8 + 24;
    const size_t influence = 4 + 7 * 8, perVertex = 1 + 2 * influence;
    const size_t texcoords = first + 3 * perVertex, tris = texcoords + 6 * 8, size = tris + 12;
    struct sCase
    {
        const char* what;
        std::function<void(std::string&)> edit;
        const char* message;
    };
    auto u32 = [](std::string& s, size_t at, uint32_t v) { std::memcpy(&s[at], &v, 4); };
    auto f64 = [](std::string& s, size_t at, double v) { std::memcpy(&s[at], &v, 8); };
    const std::vector<sCase> cases = {
        {"no vertices", [&](std::string& s) { u32(s, vertices, 0); }, "a body of 0 vertices and 1 triangles"},
        {"too many triangles", [&](std::string& s) { u32(s, triangles, 2000001); },
         "a body of 3 vertices and 2000001 triangles"},
        {"no joint", [&](std::string& s) { s[first] = 0; }, "vertex 0 is moved by 0 joints"},
        {"too many joints", [&](std::string& s) { s[first] = 17; }, "vertex 0 is moved by 17 joints"},
        {"a joint that does not exist", [&](std::string& s) { u32(s, joint, 3); }, "vertex 0 is moved by the joint 3"},
        {"a weight that is not a number", [&](std::string& s) { f64(s, weight, NAN); },
         "vertex 0 has a weight, place or normal out of range"},
        {"a normal that is not unit", [&](std::string& s) { f64(s, normal, 0.5); },
         "vertex 0 has a weight, place or normal out of range"},
        {"a texture coordinate beyond any texture", [&](std::string& s) { f64(s, texcoords, 1e300); },
         "a texture coordinate out of range"},
        {"a triangle with a vertex that does not exist", [&](std::string& s) { u32(s, tris + 4, 3); },
         "a triangle has the vertex 3"},
        {"a texture wider than the limit", [&](std::string& s) { u32(s, size, 4097); }, "a texture of 4097 x 1 pixels"},
        {"bytes after the end", [&](std::string& s) { s += 'x'; }, "bytes follow the capture"},
        {"cut short", [&](std::string& s) { s.resize(texcoords); }, "it ends early"},
    };
    for (const sCase& c : cases)
    {
        std::string bytes = good;
        c.edit(bytes);
        EXPECT_EQ(DecodeMessage(bytes), std::string("the reader's answer is malformed: ") + c.message) << c.what;
    }
}

} // namespace
