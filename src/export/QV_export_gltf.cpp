// The scene as glTF 2.0 (.gltf with its buffer embedded, or .glb).
//
// Index
//   [SECTION] the binary buffer and its accessors
//   [SECTION] nodes and the skin
//   [SECTION] the body as a skinned mesh
//   [SECTION] animations
//   [SECTION] the document and its container
//
// Layout: one buffer; one buffer view per accessor, each starting on a
// multiple of four bytes. Nodes 0 ... J-1 are the joints in the scene's
// order (parents first); in place, node J is "travel", the root's parent,
// which carries the travel and the heading; the body's node comes last and
// has no transform (a skinned mesh is placed by its joints alone).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <algorithm>

#include "QV_base64.h"
#include "QV_export.h"
#include "QV_export_math.h"
#include "QV_png.h"

namespace qvexport
{

namespace
{

// glTF's numbers for component types and buffer view targets.
constexpr int kFloat = 5126;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

// ---------------------------------------------------------------------------
// [SECTION] the binary buffer and its accessors

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", std::isfinite(v) ? v : 0.0);
    return text;
}

std::string Quoted(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s)
    {
        if (c == '"' || c == '\\')
            out += '\\', out += (char)c;
        else if (c < 0x20)
        {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        }
        else
            out += (char)c;
    }
    return out + "\"";
}

template <class T> std::string List(const T* v, size_t n)
{
    std::string out = "[";
    for (size_t i = 0; i < n; ++i)
        out += (i ? "," : "") + Number(v[i]);
    return out + "]";
}

std::string Join(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

class cBuffer
{
public:
    std::string mBytes;
    std::vector<std::string> mViews;
    std::vector<std::string> mAccessors;

    // A buffer view of the bytes (target 0: none).
    int View(const void* data, size_t size, int target)
    {
        while (mBytes.size() % 4)
            mBytes += '\0';
        const size_t offset = mBytes.size();
        mBytes.append((const char*)data, size);
        std::string view =
            "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) + ",\"byteLength\":" + std::to_string(size);
        if (target)
            view += ",\"target\":" + std::to_string(target);
        mViews.push_back(view + "}");
        return (int)mViews.size() - 1;
    }

    // Floats, width of them an element ("SCALAR", "VEC3", ...), with their
    // bounds where the format wants them (positions, animation times).
    int Floats(const std::vector<float>& v, int width, const char* type, int target, bool bounds)
    {
        const size_t count = v.size() / width;
        std::string a = "{\"bufferView\":" + std::to_string(View(v.data(), v.size() * 4, target)) +
                        ",\"componentType\":" + std::to_string(kFloat) + ",\"count\":" + std::to_string(count) +
                        ",\"type\":\"" + type + "\"";
        if (bounds)
        {
            std::vector<float> lo(v.begin(), v.begin() + width), hi = lo;
            for (size_t i = 0; i < v.size(); ++i)
            {
                lo[i % width] = std::min(lo[i % width], v[i]);
                hi[i % width] = std::max(hi[i % width], v[i]);
            }
            a += ",\"min\":" + List(lo.data(), width) + ",\"max\":" + List(hi.data(), width);
        }
        mAccessors.push_back(a + "}");
        return (int)mAccessors.size() - 1;
    }

    template <class T> int Whole(const std::vector<T>& v, int width, const char* type, int componentType, int target)
    {
        mAccessors.push_back("{\"bufferView\":" + std::to_string(View(v.data(), v.size() * sizeof(T), target)) +
                             ",\"componentType\":" + std::to_string(componentType) +
                             ",\"count\":" + std::to_string(v.size() / width) + ",\"type\":\"" + type + "\"}");
        return (int)mAccessors.size() - 1;
    }
};

// ---------------------------------------------------------------------------
// [SECTION] nodes and the skin

std::string TransformFields(const sTransform& t)
{
    const float r[4] = {(float)t.mRotation[0], (float)t.mRotation[1], (float)t.mRotation[2], (float)t.mRotation[3]};
    const float p[3] = {(float)t.mTranslation[0], (float)t.mTranslation[1], (float)t.mTranslation[2]};
    return "\"rotation\":" + List(r, 4) + ",\"translation\":" + List(p, 3);
}

std::vector<std::string> Nodes(const sScene& scene, int travelNode, int bodyNode)
{
    const size_t n = scene.mJoints.size();
    std::vector<std::vector<int>> children(n);
    for (size_t i = 1; i < n; ++i)
        children[scene.mJoints[i].mParent].push_back((int)i);
    std::vector<std::string> nodes;
    for (size_t i = 0; i < n; ++i)
    {
        const sJoint& j = scene.mJoints[i];
        std::string node = "{\"name\":" + Quoted(j.mName) + "," + TransformFields(j.mRest);
        if (!children[i].empty())
        {
            std::vector<std::string> c;
            for (int k : children[i])
                c.push_back(std::to_string(k));
            node += ",\"children\":" + Join(c);
        }
        nodes.push_back(node + "}");
    }
    if (travelNode >= 0)
        nodes.push_back("{\"name\":\"travel\",\"children\":[0]}");
    if (bodyNode >= 0)
        nodes.push_back("{\"name\":\"body\",\"mesh\":0,\"skin\":0}");
    return nodes;
}

// The skin: every joint, with the inverse of its rest world frame, the pose
// the body is bound in.
std::string Skin(const sScene& scene, cBuffer& buffer)
{
    std::vector<float> inverse;
    std::vector<std::string> joints;
    for (size_t i = 0; i < scene.mJoints.size(); ++i)
    {
        const tMat4 m = MatrixOf(Inverse(scene.mJoints[i].mRestWorld));
        for (double v : m)
            inverse.push_back((float)v);
        // The bottom row exactly (0, 0, 0, 1): the validator wants an
        // affine matrix.
        inverse[inverse.size() - 13] = inverse[inverse.size() - 9] = inverse[inverse.size() - 5] = 0.0f;
        inverse.back() = 1.0f;
        joints.push_back(std::to_string(i));
    }
    return "{\"name\":" + Quoted(scene.mName.empty() ? "skeleton" : scene.mName) + ",\"joints\":" + Join(joints) +
           ",\"skeleton\":0,\"inverseBindMatrices\":" + std::to_string(buffer.Floats(inverse, 16, "MAT4", 0, false)) +
           "}";
}

// ---------------------------------------------------------------------------
// [SECTION] the body as a skinned mesh

// Up to four joints and weights a vertex; unused slots joint 0 with weight
// 0, weights summing to 1 in single precision (the largest takes the rest).
void JointsAndWeights(const cBody& body, std::vector<uint16_t>& joints, std::vector<float>& weights)
{
    joints.assign(body.VertexCount() * 4, 0);
    weights.assign(body.VertexCount() * 4, 0.0f);
    for (size_t v = 0; v < body.VertexCount(); ++v)
    {
        const sInfluences& in = body.mInfluences[v];
        double sum = 0;
        for (unsigned int k = 0; k < in.mCount; ++k)
            sum += in.mWeight[k];
        unsigned int used = 0, largest = 0;
        for (unsigned int k = 0; k < in.mCount; ++k)
        {
            if (!(in.mWeight[k] > 0))
                continue;
            joints[v * 4 + used] = (uint16_t)in.mBone[k];
            weights[v * 4 + used] = (float)(in.mWeight[k] / sum);
            largest = weights[v * 4 + used] > weights[v * 4 + largest] ? used : largest;
            ++used;
        }
        float rest = 1.0f;
        for (unsigned int k = 0; k < 4; ++k)
            rest -= k == largest ? 0.0f : weights[v * 4 + k];
        weights[v * 4 + largest] = rest;
    }
}

// The mesh, its material and, where the body has one, its texture (a PNG in
// the buffer).
struct sMeshParts
{
    std::string mMesh, mMaterial, mTexture, mImage, mSampler;
};

sMeshParts Mesh(const cBody& body, cBuffer& buffer)
{
    std::vector<float> positions, normals;
    for (size_t v = 0; v < body.VertexCount(); ++v)
    {
        cVector3D n = body.mRestNormals[v];
        const double len = std::sqrt((double)n.mData[0] * n.mData[0] + (double)n.mData[1] * n.mData[1] +
                                     (double)n.mData[2] * n.mData[2]);
        for (int k = 0; k < 3; ++k)
        {
            positions.push_back(body.mRestPositions[v].mData[k]);
            normals.push_back((float)(n.mData[k] / len));
        }
    }
    std::vector<uint16_t> joints;
    std::vector<float> weights;
    JointsAndWeights(body, joints, weights);
    std::string attributes =
        "\"POSITION\":" + std::to_string(buffer.Floats(positions, 3, "VEC3", kArrayBuffer, true)) +
        ",\"NORMAL\":" + std::to_string(buffer.Floats(normals, 3, "VEC3", kArrayBuffer, false)) +
        ",\"JOINTS_0\":" + std::to_string(buffer.Whole(joints, 4, "VEC4", kUnsignedShort, kArrayBuffer)) +
        ",\"WEIGHTS_0\":" + std::to_string(buffer.Floats(weights, 4, "VEC4", kArrayBuffer, false));
    sMeshParts parts;
    const bool textured = !body.mTexture.Empty() && !body.mTexCoords.empty();
    if (textured)
    {
        attributes +=
            ",\"TEXCOORD_0\":" + std::to_string(buffer.Floats(body.mTexCoords, 2, "VEC2", kArrayBuffer, false));
        const std::vector<unsigned char> png = EncodePng(body.mTexture);
        if (png.empty())
            throw cExportError("the body's texture cannot be written as a PNG");
        parts.mImage =
            "{\"mimeType\":\"image/png\",\"bufferView\":" + std::to_string(buffer.View(png.data(), png.size(), 0)) +
            "}";
        // Repeat in both directions, as the demo draws it; linear filters.
        parts.mSampler = "{\"magFilter\":9729,\"minFilter\":9987,\"wrapS\":10497,\"wrapT\":10497}";
        parts.mTexture = "{\"sampler\":0,\"source\":0}";
        parts.mMaterial = "{\"name\":\"skin\",\"pbrMetallicRoughness\":{\"baseColorTexture\":{\"index\":0},"
                          "\"metallicFactor\":0,\"roughnessFactor\":1}}";
    }
    else
        // The demo's skin tone for an untextured body.
        parts.mMaterial = "{\"name\":\"skin\",\"pbrMetallicRoughness\":{\"baseColorFactor\":[0.85,0.64,0.5,1],"
                          "\"metallicFactor\":0,\"roughnessFactor\":1}}";
    const int indices = buffer.Whole(body.mTriangles, 1, "SCALAR", kUnsignedInt, kElementArrayBuffer);
    parts.mMesh = "{\"name\":\"body\",\"primitives\":[{\"attributes\":{" + attributes +
                  "},\"indices\":" + std::to_string(indices) + ",\"material\":0,\"mode\":4}]}";
    return parts;
}

// ---------------------------------------------------------------------------
// [SECTION] animations

// Whether a joint's translation changes over the clip: only those get a
// translation channel (the others keep their rest one).
bool Moves(const sClip& clip, size_t joint)
{
    for (const std::vector<sTransform>& f : clip.mFrames)
        for (int k = 0; k < 3; ++k)
            if ((float)f[joint].mTranslation[k] != (float)clip.mFrames[0][joint].mTranslation[k])
                return true;
    return false;
}

std::string Animation(const sClip& clip, const sScene& scene, int travelNode, cBuffer& buffer)
{
    std::vector<float> times;
    for (size_t f = 0; f < clip.mFrames.size(); ++f)
        times.push_back((float)(f * clip.mFrameTime));
    const int input = buffer.Floats(times, 1, "SCALAR", 0, true);
    std::vector<std::string> channels, samplers;
    auto channel = [&](int node, const char* path, const std::vector<float>& values, int width) {
        samplers.push_back("{\"input\":" + std::to_string(input) + ",\"interpolation\":\"LINEAR\",\"output\":" +
                           std::to_string(buffer.Floats(values, width, width == 4 ? "VEC4" : "VEC3", 0, false)) + "}");
        channels.push_back("{\"sampler\":" + std::to_string(samplers.size() - 1) +
                           ",\"target\":{\"node\":" + std::to_string(node) + ",\"path\":\"" + path + "\"}}");
    };
    auto track = [&](int node, auto transformAt, bool withTranslation) {
        std::vector<float> r, t;
        for (size_t f = 0; f < clip.mFrames.size(); ++f)
        {
            const sTransform& x = transformAt(f);
            r.insert(r.end(), x.mRotation.begin(), x.mRotation.end());
            t.insert(t.end(), x.mTranslation.begin(), x.mTranslation.end());
        }
        channel(node, "rotation", r, 4);
        if (withTranslation)
            channel(node, "translation", t, 3);
    };
    for (size_t j = 0; j < scene.mJoints.size(); ++j)
        track((int)j, [&](size_t f) -> const sTransform& { return clip.mFrames[f][j]; }, j == 0 || Moves(clip, j));
    if (travelNode >= 0)
        track(
            travelNode, [&](size_t f) -> const sTransform& { return clip.mTravel[f]; }, true);
    return "{\"name\":" + Quoted(clip.mName) + ",\"channels\":" + Join(channels) + ",\"samplers\":" + Join(samplers) +
           "}";
}

// ---------------------------------------------------------------------------
// [SECTION] the document and its container

void Put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += (char)((v >> (8 * i)) & 0xff);
}

std::string Glb(std::string json, std::string bin)
{
    while (json.size() % 4)
        json += ' ';
    while (bin.size() % 4)
        bin += '\0';
    std::string out;
    Put32(out, 0x46546C67u); // "glTF"
    Put32(out, 2);
    Put32(out, (uint32_t)(12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size())));
    Put32(out, (uint32_t)json.size());
    Put32(out, 0x4E4F534Au); // "JSON"
    out += json;
    if (!bin.empty())
    {
        Put32(out, (uint32_t)bin.size());
        Put32(out, 0x004E4942u); // "BIN\0"
        out += bin;
    }
    return out;
}

} // namespace

std::string FormatGltf(const sScene& scene, bool binary)
{
    if (scene.mJoints.empty())
        throw cExportError("the actor has no bones to write");
    const bool withBody = !scene.mBody.Empty();
    if (withBody && scene.mJoints.size() > 65536)
        throw cExportError("a glTF skin numbers its joints in 16 bits: the body cannot be written with more than "
                           "65536 bones");
    const int travelNode = scene.mInPlace ? (int)scene.mJoints.size() : -1;
    const int bodyNode = withBody ? (int)scene.mJoints.size() + (scene.mInPlace ? 1 : 0) : -1;

    cBuffer buffer;
    std::string doc =
        "{\"asset\":{\"version\":\"2.0\",\"generator\":\"qvexport\"},\"scene\":0,\"scenes\":[{\"nodes\":[" +
        std::to_string(scene.mInPlace ? travelNode : 0) + (withBody ? "," + std::to_string(bodyNode) : std::string()) +
        "]}]";
    doc += ",\"nodes\":" + Join(Nodes(scene, travelNode, bodyNode));
    if (withBody)
    {
        doc += ",\"skins\":[" + Skin(scene, buffer) + "]";
        const sMeshParts parts = Mesh(scene.mBody, buffer);
        doc += ",\"meshes\":[" + parts.mMesh + "],\"materials\":[" + parts.mMaterial + "]";
        if (!parts.mImage.empty())
            doc += ",\"textures\":[" + parts.mTexture + "],\"images\":[" + parts.mImage + "],\"samplers\":[" +
                   parts.mSampler + "]";
    }
    std::vector<std::string> animations;
    for (const sClip& clip : scene.mClips)
        if (!clip.mFrames.empty())
            animations.push_back(Animation(clip, scene, travelNode, buffer));
    if (!animations.empty())
        doc += ",\"animations\":" + Join(animations);
    doc += ",\"accessors\":" + Join(buffer.mAccessors) + ",\"bufferViews\":" + Join(buffer.mViews);
    while (buffer.mBytes.size() % 4)
        buffer.mBytes += '\0';
    std::string bufferEntry = "{\"byteLength\":" + std::to_string(buffer.mBytes.size());
    if (!binary)
    {
        std::string base64 = Base64Lines(std::vector<unsigned char>(buffer.mBytes.begin(), buffer.mBytes.end()));
        base64.erase(std::remove(base64.begin(), base64.end(), '\n'), base64.end());
        bufferEntry += ",\"uri\":\"data:application/octet-stream;base64," + base64 + "\"";
    }
    doc += ",\"buffers\":[" + bufferEntry + "}]}";
    if (!binary)
        return doc + "\n";
    return Glb(doc, buffer.mBytes);
}

} // namespace qvexport
