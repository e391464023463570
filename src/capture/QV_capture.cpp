// Stage: read scene. Assimp loads the file; the animated joints and their
// common ancestor's subtree become the capture, sampled at the rate of the
// densest channel.
//
// Index
//   [SECTION] Limits     what a hostile file may ask for
//   [SECTION] Matrices   Assimp's row-major matrices in double precision
//   [SECTION] Keys       sampling a channel at any tick
//   [SECTION] Convert    scene to capture
//   [SECTION] BVH guard  files Assimp 5.2 must not see
//   [SECTION] Entry      ReadScene, ReadSceneFromMemory
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "QV_capture.h"

namespace qvimport
{
namespace
{

// ---- [SECTION] Limits ---------------------------------------------------------

// Bounds that keep a hostile file from asking for unbounded memory.
const size_t kMaxFrames = 200000;
const size_t kMaxSamples = 20000000; // frames x joints
const size_t kMaxJoints = 5000;

// ---- [SECTION] Matrices -------------------------------------------------------

struct sMat4
{
    double m[4][4]; // row-major, translation in column 3

    static sMat4 Identity()
    {
        sMat4 r;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                r.m[i][j] = i == j ? 1 : 0;
        return r;
    }
    static sMat4 From(const aiMatrix4x4& a)
    {
        sMat4 r;
        const ai_real* p = &a.a1;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                r.m[i][j] = p[i * 4 + j];
        return r;
    }
    static sMat4 Compose(const sVec3& t, const sQuat& q, const sVec3& s)
    {
        sMat4 r = Identity();
        double rot[3][3];
        q.Unit().ToMatrix(rot);
        const double sc[3] = {s.x, s.y, s.z};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                r.m[i][j] = rot[i][j] * sc[j];
        r.m[0][3] = t.x;
        r.m[1][3] = t.y;
        r.m[2][3] = t.z;
        return r;
    }
    sMat4 operator*(const sMat4& o) const
    {
        sMat4 r;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
            {
                double s = 0;
                for (int k = 0; k < 4; ++k)
                    s += m[i][k] * o.m[k][j];
                r.m[i][j] = s;
            }
        return r;
    }
    sVec3 Translation() const { return {m[0][3], m[1][3], m[2][3]}; }
    // The rotation of the upper 3 x 3 with scale and shear taken out
    // (Gram-Schmidt on the columns); a degenerate block gives the identity.
    sQuat Rotation() const
    {
        sVec3 c0(m[0][0], m[1][0], m[2][0]), c1(m[0][1], m[1][1], m[2][1]);
        c0 = c0.Unit();
        c1 = (c1 - c0 * c0.Dot(c1)).Unit();
        sVec3 c2 = c0.Cross(c1);
        if (c0.Length() < 0.5 || c1.Length() < 0.5)
            return sQuat();
        const double r[3][3] = {{c0.x, c1.x, c2.x}, {c0.y, c1.y, c2.y}, {c0.z, c1.z, c2.z}};
        return sQuat::FromMatrix(r);
    }
};

bool IsFinite(const sMat4& a)
{
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (!std::isfinite(a.m[i][j]))
                return false;
    return true;
}

// ---- [SECTION] Keys -----------------------------------------------------------

// Key lookup: the value at tick t, linear between keys, clamped at the ends.
template <class K, class F>
auto Sample(const K* keys, unsigned n, double t, F lerp) -> decltype(lerp(keys[0].mValue, keys[0].mValue, 0.0))
{
    if (n == 1 || t <= keys[0].mTime)
        return lerp(keys[0].mValue, keys[0].mValue, 0.0);
    if (t >= keys[n - 1].mTime)
        return lerp(keys[n - 1].mValue, keys[n - 1].mValue, 0.0);
    unsigned lo = 0, hi = n - 1;
    while (hi - lo > 1)
    {
        const unsigned mid = (lo + hi) / 2;
        (keys[mid].mTime <= t ? lo : hi) = mid;
    }
    const double span = keys[hi].mTime - keys[lo].mTime;
    const double f = span > 0 ? (t - keys[lo].mTime) / span : 0.0;
    return lerp(keys[lo].mValue, keys[hi].mValue, f);
}

sVec3 LerpVec(const aiVector3D& a, const aiVector3D& b, double f)
{
    return {a.x + (b.x - a.x) * f, a.y + (b.y - a.y) * f, a.z + (b.z - a.z) * f};
}

sQuat SlerpQuat(const aiQuaternion& a, const aiQuaternion& b, double f)
{
    return Slerp(sQuat(a.w, a.x, a.y, a.z).Unit(), sQuat(b.w, b.x, b.y, b.z).Unit(), f);
}

// A channel's keys must be usable: finite values and times that do not go
// backwards. Assimp's own checks do not cover every format.
template <class K> bool KeysUsable(const K* keys, unsigned n)
{
    for (unsigned i = 0; i < n; ++i)
        if (!std::isfinite(keys[i].mTime) || (i > 0 && keys[i].mTime < keys[i - 1].mTime))
            return false;
    return true;
}

// ---- [SECTION] Convert --------------------------------------------------------

const aiAnimation* LongestAnimation(const aiScene* scene)
{
    const aiAnimation* best = nullptr;
    for (unsigned i = 0; i < scene->mNumAnimations; ++i)
    {
        const aiAnimation* a = scene->mAnimations[i];
        if (a && a->mNumChannels > 0 && (!best || a->mDuration > best->mDuration))
            best = a;
    }
    return best;
}

// The deepest node that has every animated node below it (or is one).
const aiNode* CommonAncestor(const std::vector<const aiNode*>& nodes)
{
    std::vector<const aiNode*> path;
    for (const aiNode* n = nodes[0]; n; n = n->mParent)
        path.insert(path.begin(), n);
    size_t common = path.size();
    for (const aiNode* other : nodes)
    {
        std::vector<const aiNode*> p;
        for (const aiNode* n = other; n; n = n->mParent)
            p.insert(p.begin(), n);
        size_t k = 0;
        while (k < common && k < p.size() && p[k] == path[k])
            ++k;
        common = k;
    }
    return common > 0 ? path[common - 1] : nullptr;
}

// The animation's channels by node name, the nodes they drive, and the span
// and density of their keys. A channel whose node is missing is ignored.
struct sChannels
{
    std::map<std::string, const aiNodeAnim*> mByName;
    std::vector<const aiNode*> mNodes;
    double mFirstTick = INFINITY, mLastTick = -INFINITY;
    double mDensity = 0; // keys per tick of the densest channel
};

sChannels CollectChannels(const aiScene* scene, const aiAnimation* anim)
{
    sChannels c;
    for (unsigned i = 0; i < anim->mNumChannels; ++i)
    {
        const aiNodeAnim* ch = anim->mChannels[i];
        if (!ch || (ch->mNumRotationKeys == 0 && ch->mNumPositionKeys == 0))
            continue;
        if (!KeysUsable(ch->mRotationKeys, ch->mNumRotationKeys) ||
            !KeysUsable(ch->mPositionKeys, ch->mNumPositionKeys) || !KeysUsable(ch->mScalingKeys, ch->mNumScalingKeys))
            throw cImportError("the animation has keys out of time order or not finite");
        const aiNode* node = scene->mRootNode->FindNode(ch->mNodeName);
        if (!node || c.mByName.count(ch->mNodeName.C_Str()))
            continue;
        c.mByName[ch->mNodeName.C_Str()] = ch;
        c.mNodes.push_back(node);
        const unsigned n[2] = {ch->mNumRotationKeys, ch->mNumPositionKeys};
        const double t0[2] = {n[0] ? ch->mRotationKeys[0].mTime : 0, n[1] ? ch->mPositionKeys[0].mTime : 0};
        const double t1[2] = {n[0] ? ch->mRotationKeys[n[0] - 1].mTime : 0,
                              n[1] ? ch->mPositionKeys[n[1] - 1].mTime : 0};
        for (int k = 0; k < 2; ++k)
        {
            if (!n[k])
                continue;
            c.mFirstTick = std::min(c.mFirstTick, t0[k]);
            c.mLastTick = std::max(c.mLastTick, t1[k]);
            if (n[k] > 1 && t1[k] > t0[k])
                c.mDensity = std::max(c.mDensity, (n[k] - 1) / (t1[k] - t0[k]));
        }
    }
    if (c.mNodes.empty())
        throw cImportError("the animation drives no joint of the scene");
    if (!(c.mDensity > 0) || !(c.mLastTick > c.mFirstTick))
        throw cImportError("the animation has fewer than two keys in time");
    return c;
}

// The joints: the common ancestor of the animated nodes and everything below
// it, parents first, each with its node.
std::vector<const aiNode*> CollectJoints(const aiNode* top, const sChannels& channels, sCapture& cap)
{
    std::vector<const aiNode*> nodes;
    std::vector<std::pair<const aiNode*, int>> queue{{top, -1}};
    for (size_t i = 0; i < queue.size(); ++i)
    {
        if (queue.size() > kMaxJoints)
            throw cImportError("the skeleton has more than " + std::to_string(kMaxJoints) + " joints");
        const aiNode* n = queue[i].first;
        sJoint j;
        j.mName = n->mName.C_Str();
        j.mParent = queue[i].second;
        j.mAnimated = channels.mByName.count(j.mName) > 0;
        cap.mJoints.push_back(j);
        nodes.push_back(n);
        for (unsigned c = 0; c < n->mNumChildren; ++c)
            if (n->mChildren[c])
                queue.push_back({n->mChildren[c], (int)i});
    }
    if (cap.mJoints.size() < 3)
        throw cImportError("the file has no skeleton (fewer than three joints under the animated ones)");
    return nodes;
}

// A node's local transform at a tick: its channel's keys where it has them,
// its own transform for what they leave out.
sMat4 LocalAt(const aiNode* node, const aiNodeAnim* ch, double tick)
{
    if (!ch)
        return sMat4::From(node->mTransformation);
    aiVector3D s0, t0;
    aiQuaternion r0;
    node->mTransformation.Decompose(s0, r0, t0);
    const sVec3 t =
        ch->mNumPositionKeys ? Sample(ch->mPositionKeys, ch->mNumPositionKeys, tick, LerpVec) : sVec3(t0.x, t0.y, t0.z);
    const sQuat r = ch->mNumRotationKeys ? Sample(ch->mRotationKeys, ch->mNumRotationKeys, tick, SlerpQuat)
                                         : sQuat(r0.w, r0.x, r0.y, r0.z).Unit();
    const sVec3 s =
        ch->mNumScalingKeys ? Sample(ch->mScalingKeys, ch->mNumScalingKeys, tick, LerpVec) : sVec3(s0.x, s0.y, s0.z);
    return sMat4::Compose(t, r, s);
}

// Every joint's world rotation and position at every frame. Everything
// above the skeleton stays as the scene places it.
void SampleFrames(const std::vector<const aiNode*>& nodes, const sChannels& channels, double ticksPerSecond,
                  size_t frames, sCapture& cap)
{
    sMat4 above = sMat4::Identity();
    for (const aiNode* n = nodes[0]->mParent; n; n = n->mParent)
        above = sMat4::From(n->mTransformation) * above;

    const size_t nj = cap.mJoints.size();
    std::vector<const aiNodeAnim*> channelOf(nj, nullptr);
    for (size_t j = 0; j < nj; ++j)
    {
        auto it = channels.mByName.find(cap.mJoints[j].mName);
        channelOf[j] = it != channels.mByName.end() ? it->second : nullptr;
    }
    cap.mRotation.assign(frames, std::vector<sQuat>(nj));
    cap.mPosition.assign(frames, std::vector<sVec3>(nj));
    std::vector<sMat4> world(nj);
    for (size_t f = 0; f < frames; ++f)
    {
        const double tick = channels.mFirstTick + (double)f / cap.mRate * ticksPerSecond;
        for (size_t j = 0; j < nj; ++j)
        {
            const int p = cap.mJoints[j].mParent;
            world[j] = (p < 0 ? above : world[p]) * LocalAt(nodes[j], channelOf[j], tick);
            if (!IsFinite(world[j]))
                throw cImportError("the joint '" + cap.mJoints[j].mName + "' has transforms that are not finite");
            cap.mRotation[f][j] = world[j].Rotation();
            cap.mPosition[f][j] = world[j].Translation();
        }
    }
}

sCapture Convert(const aiScene* scene)
{
    if (!scene || !scene->mRootNode)
        throw cImportError("the file holds no scene");
    const aiAnimation* anim = LongestAnimation(scene);
    if (!anim)
        throw cImportError("the file has no animation");
    const sChannels channels = CollectChannels(scene, anim);

    const double tps = anim->mTicksPerSecond > 0 && std::isfinite(anim->mTicksPerSecond) ? anim->mTicksPerSecond : 25.0;
    sCapture cap;
    // Sampled as densely as the densest channel is keyed, within sane rates.
    cap.mRate = std::min(240.0, std::max(10.0, channels.mDensity * tps));
    const double seconds = (channels.mLastTick - channels.mFirstTick) / tps;
    if (!std::isfinite(seconds) || seconds * cap.mRate + 1 > (double)kMaxFrames)
        throw cImportError("the animation is too long to import");
    const size_t frames = (size_t)std::floor(seconds * cap.mRate + 1e-6) + 1;

    const aiNode* top = CommonAncestor(channels.mNodes);
    if (!top)
        throw cImportError("the file has no skeleton");
    const std::vector<const aiNode*> nodes = CollectJoints(top, channels, cap);
    if (frames * cap.mJoints.size() > kMaxSamples)
        throw cImportError("the animation is too long to import");
    SampleFrames(nodes, channels, tps, frames, cap);
    return cap;
}

// ---- [SECTION] BVH guard ------------------------------------------------------

// Assimp 5.2's BVH reader keeps a reference into its growing node list while
// it reads a joint's children, so a joint whose CHANNELS (or OFFSET) come
// after a child JOINT makes it write freed memory. Such files are refused
// before Assimp sees them: in every node, OFFSET and CHANNELS come first.
bool LooksLikeBvh(const char* data, size_t size)
{
    size_t i = 0;
    while (i < size && std::isspace((unsigned char)data[i]))
        ++i;
    return size - i >= 9 && std::strncmp(data + i, "HIERARCHY", 9) == 0;
}

void CheckBvhHierarchy(const char* data, size_t size)
{
    // Per open block: has a child joint (or end site) been seen in it yet?
    std::vector<char> childSeen;
    size_t i = 0;
    while (i < size)
    {
        while (i < size && std::isspace((unsigned char)data[i]))
            ++i;
        size_t j = i;
        while (j < size && !std::isspace((unsigned char)data[j]))
            ++j;
        const std::string token(data + i, j - i);
        i = j;
        if (token == "MOTION")
            return;
        if (token == "{")
            childSeen.push_back(0);
        else if (token == "}")
        {
            if (childSeen.empty())
                throw cImportError("malformed BVH: a '}' closes no joint");
            childSeen.pop_back();
        }
        else if (token == "JOINT" || token == "End")
        {
            if (!childSeen.empty())
                childSeen.back() = 1;
        }
        else if ((token == "CHANNELS" || token == "OFFSET") && !childSeen.empty() && childSeen.back())
            throw cImportError("malformed BVH: a joint's " + token + " come after its child joints");
    }
}

const unsigned kReadFlags = aiProcess_ValidateDataStructure;

void Configure(Assimp::Importer& imp)
{
    // Pivot helper nodes would turn one FBX joint into several.
    imp.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
}

std::string OneLine(std::string s)
{
    for (char& c : s)
        if (c == '\n' || c == '\r')
            c = ' ';
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

} // namespace

// ---- [SECTION] Entry ----------------------------------------------------------

sCapture ReadScene(const std::string& path)
{
    {
        std::ifstream in(path, std::ios::binary);
        char start[64] = {};
        in.read(start, sizeof start);
        if (LooksLikeBvh(start, (size_t)in.gcount()))
        {
            in.clear();
            in.seekg(0);
            const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            CheckBvhHierarchy(text.data(), text.size());
        }
    }
    Assimp::Importer imp;
    Configure(imp);
    const aiScene* scene = imp.ReadFile(path, kReadFlags);
    if (!scene)
        throw cImportError("cannot read '" + path + "': " + OneLine(imp.GetErrorString()));
    return Convert(scene);
}

sCapture ReadSceneFromMemory(const void* data, size_t size, const char* hint)
{
    if (LooksLikeBvh((const char*)data, size) || (hint && std::strcmp(hint, "bvh") == 0))
        CheckBvhHierarchy((const char*)data, size);
    Assimp::Importer imp;
    Configure(imp);
    const aiScene* scene = imp.ReadFileFromMemory(data, size, kReadFlags, hint);
    if (!scene)
        throw cImportError("cannot read the data: " + OneLine(imp.GetErrorString()));
    return Convert(scene);
}

sImportResult ImportFile(const std::string& path, const sOptions& opt) { return Import(ReadScene(path), opt); }

} // namespace qvimport
