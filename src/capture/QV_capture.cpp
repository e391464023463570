// Stage: read scene. Assimp loads the file; the animated joints and their
// common ancestor's subtree become the capture, sampled at the rate of the
// densest channel. The reading runs in a child process (QV_child.h): the
// entry points at the end hand it the work and check what comes back.
//
// Index
//   [SECTION] Matrices   Assimp's row-major matrices in double precision
//   [SECTION] Keys       sampling a channel at any tick
//   [SECTION] Nodes      the scene's node tree, walked once within limits
//   [SECTION] Convert    scene to capture, frame by frame into a sink
//   [SECTION] Body       the skinned meshes, bound to the captured joints
//   [SECTION] Reader     Assimp on a file or on memory, in this process
//   [SECTION] Entry      ReadScene, ReadSceneFromMemory: through the child
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "QV_capture.h"
#include "QV_child.h"
#include "QV_file.h"
#include "QV_scene_reader.h"

namespace qvimport
{
namespace
{

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

// ---- [SECTION] Nodes ----------------------------------------------------------

// The scene's nodes, walked once without recursion, depth first with each
// node before its children (the order aiNode::FindNode searches in).
// Nothing else follows the scene's pointers, so a tree that loops or is
// too large is refused here, before any work grows with it.
struct sNodeTable
{
    std::vector<const aiNode*> mNode;
    std::vector<int> mParent;                     // index; -1 for the scene's root
    std::unordered_map<std::string, int> mByName; // the first node of each name

    size_t Size() const { return mNode.size(); }
};

sNodeTable TableOf(const aiNode* root)
{
    sNodeTable t;
    std::unordered_set<const aiNode*> seen;
    std::vector<std::pair<const aiNode*, int>> stack{{root, -1}};
    while (!stack.empty())
    {
        const aiNode* n = stack.back().first;
        const int parent = stack.back().second;
        stack.pop_back();
        if (!seen.insert(n).second)
            throw cImportError("the scene's nodes do not form a tree (a node appears twice)");
        const int index = (int)t.Size();
        t.mNode.push_back(n);
        t.mParent.push_back(parent);
        t.mByName.emplace(n->mName.C_Str(), index);
        if (t.Size() + stack.size() + n->mNumChildren > kMaxSceneNodes)
            throw cImportError("the scene has more than " + std::to_string(kMaxSceneNodes) + " nodes");
        for (unsigned c = n->mNumChildren; c-- > 0;)
            if (n->mChildren[c])
                stack.push_back({n->mChildren[c], index});
    }
    return t;
}

// The deepest node that has every animated node below it (or is one), in
// one pass: each node's count of animated nodes in its subtree (children
// come after their parents, so a backward pass sums them), then the last
// node, in that order, whose subtree holds them all.
int CommonAncestor(const sNodeTable& t, const std::vector<int>& animated)
{
    std::vector<size_t> below(t.Size(), 0);
    for (int n : animated)
        ++below[n];
    for (size_t i = t.Size(); i-- > 1;)
        below[t.mParent[i]] += below[i];
    int deepest = 0;
    for (size_t i = 0; i < t.Size(); ++i)
        if (below[i] == animated.size())
            deepest = (int)i;
    return deepest;
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

// The animation's channels by node name, the nodes they drive, and the span
// and density of their keys. A channel whose node is missing is ignored.
struct sChannels
{
    std::map<std::string, const aiNodeAnim*> mByName;
    std::vector<int> mNodes; // in the node table
    double mFirstTick = INFINITY, mLastTick = -INFINITY;
    double mDensity = 0; // keys per tick of the densest channel
};

sChannels CollectChannels(const sNodeTable& table, const aiAnimation* anim)
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
        const auto node = table.mByName.find(ch->mNodeName.C_Str());
        if (node == table.mByName.end() || c.mByName.count(ch->mNodeName.C_Str()))
            continue;
        c.mByName[ch->mNodeName.C_Str()] = ch;
        c.mNodes.push_back(node->second);
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

bool Finite(const aiQuaternion& q)
{
    return std::isfinite(q.w) && std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z);
}
bool Finite(const aiVector3D& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// Every key's value is a number: interpolation would otherwise carry a
// not-a-number into the frames around it, and normalising turn it into no
// rotation at all. The message names the joint and the frame the key
// falls on.
void CheckKeyValues(const sChannels& c, double ticksPerSecond, double rate)
{
    for (const auto& named : c.mByName)
    {
        const aiNodeAnim* ch = named.second;
        const auto fail = [&](const char* what, double tick) {
            const long long frame = std::llround((tick - c.mFirstTick) / ticksPerSecond * rate);
            throw cImportError("the joint " + QuoteName(named.first) + " has a " + what +
                               " that is not a finite number at frame " + std::to_string(frame));
        };
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k)
            if (!Finite(ch->mRotationKeys[k].mValue))
                fail("rotation", ch->mRotationKeys[k].mTime);
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k)
            if (!Finite(ch->mPositionKeys[k].mValue))
                fail("position", ch->mPositionKeys[k].mTime);
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k)
            if (!Finite(ch->mScalingKeys[k].mValue))
                fail("scale", ch->mScalingKeys[k].mTime);
    }
}

// The joints: the common ancestor of the animated nodes and everything below
// it, parents first, each with its node.
std::vector<const aiNode*> CollectJoints(const aiNode* top, const sChannels& channels, std::vector<sJoint>& joints)
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
        joints.push_back(j);
        nodes.push_back(n);
        for (unsigned c = 0; c < n->mNumChildren; ++c)
            if (n->mChildren[c])
                queue.push_back({n->mChildren[c], (int)i});
    }
    if (joints.size() < 3)
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

// Every joint's world rotation and position at every frame, into the sink
// one frame at a time. Everything above the skeleton (from the table's
// node `top` up) stays as the scene places it.
void SampleFrames(const sNodeTable& table, int top, const std::vector<const aiNode*>& nodes,
                  const std::vector<sJoint>& joints, const sChannels& channels, double ticksPerSecond, double rate,
                  size_t frames, cCaptureSink& sink)
{
    sMat4 above = sMat4::Identity();
    for (int p = table.mParent[top]; p >= 0; p = table.mParent[p])
        above = sMat4::From(table.mNode[p]->mTransformation) * above;

    const size_t nj = joints.size();
    std::vector<const aiNodeAnim*> channelOf(nj, nullptr);
    for (size_t j = 0; j < nj; ++j)
    {
        auto it = channels.mByName.find(joints[j].mName);
        channelOf[j] = it != channels.mByName.end() ? it->second : nullptr;
    }
    std::vector<sQuat> rotation(nj);
    std::vector<sVec3> position(nj);
    std::vector<sMat4> world(nj);
    for (size_t f = 0; f < frames; ++f)
    {
        const double tick = channels.mFirstTick + (double)f / rate * ticksPerSecond;
        for (size_t j = 0; j < nj; ++j)
        {
            const int p = joints[j].mParent;
            world[j] = (p < 0 ? above : world[p]) * LocalAt(nodes[j], channelOf[j], tick);
            if (!IsFinite(world[j]))
                throw cImportError("the joint " + QuoteName(joints[j].mName) +
                                   " has transforms that are not finite at frame " + std::to_string(f));
            rotation[j] = world[j].Rotation();
            position[j] = world[j].Translation();
        }
        sink.Frame(rotation, position);
    }
}

// ---- [SECTION] Body -------------------------------------------------------------

// Every node's world matrix at a tick, the table's order putting parents
// first.
std::vector<sMat4> WorldAt(const sNodeTable& table, const sChannels& channels, double tick)
{
    std::vector<sMat4> world(table.Size());
    for (size_t i = 0; i < table.Size(); ++i)
    {
        const auto ch = channels.mByName.find(table.mNode[i]->mName.C_Str());
        const sMat4 local = LocalAt(table.mNode[i], ch == channels.mByName.end() ? nullptr : ch->second, tick);
        world[i] = table.mParent[i] < 0 ? local : world[table.mParent[i]] * local;
    }
    return world;
}

sVec3 Transform(const sMat4& m, const aiVector3D& v)
{
    return {m.m[0][0] * v.x + m.m[0][1] * v.y + m.m[0][2] * v.z + m.m[0][3],
            m.m[1][0] * v.x + m.m[1][1] * v.y + m.m[1][2] * v.z + m.m[1][3],
            m.m[2][0] * v.x + m.m[2][1] * v.y + m.m[2][2] * v.z + m.m[2][3]};
}

// A normal carried by m: the inverse transpose of its 3 x 3 part (its
// cofactors, turned round for a mirroring m), made unit; zero when m is flat.
sVec3 TransformNormal(const sMat4& m, const aiVector3D& n)
{
    const double(*a)[4] = m.m;
    double c[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
        {
            const int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[i][j] = a[i1][j1] * a[i2][j2] - a[i1][j2] * a[i2][j1];
        }
    const double det = a[0][0] * c[0][0] + a[0][1] * c[0][1] + a[0][2] * c[0][2];
    const double s = det < 0 ? -1.0 : 1.0;
    const sVec3 r(s * (c[0][0] * n.x + c[0][1] * n.y + c[0][2] * n.z),
                  s * (c[1][0] * n.x + c[1][1] * n.y + c[1][2] * n.z),
                  s * (c[2][0] * n.x + c[2][1] * n.y + c[2][2] * n.z));
    const double len = r.Length();
    return len > 0 && std::isfinite(len) ? r * (1.0 / len) : sVec3();
}

// One vertex's shares before they are finished: per captured joint, the
// weight and the weighted sums of place and normal in its frame.
struct sShare
{
    int mJoint;
    double mWeight;
    sVec3 mLocal, mNormal;
};

// The skinned meshes of a scene as they become the capture's body.
class cBodyBuilder
{
public:
    cBodyBuilder(const aiScene* scene, const sNodeTable& table, const std::vector<const aiNode*>& nodes,
                 const sChannels& channels, const std::string& folder)
        : mScene(scene), mTable(table), mFolder(folder), mWorld(WorldAt(table, channels, channels.mFirstTick))
    {
        // Each node's nearest captured joint (the joints are a whole subtree
        // of the scene, so a node outside it has none: -1).
        std::unordered_map<const aiNode*, int> jointOf;
        for (size_t j = 0; j < nodes.size(); ++j)
            jointOf.emplace(nodes[j], (int)j);
        mJointOf.assign(table.Size(), -1);
        mJointNode.assign(nodes.size(), 0);
        for (size_t i = 0; i < table.Size(); ++i)
        {
            const auto it = jointOf.find(table.mNode[i]);
            if (it == jointOf.end())
                continue;
            mJointOf[i] = it->second;
            mJointNode[it->second] = i;
        }
    }

    sCaptureBody Build()
    {
        std::vector<char> done(mScene->mNumMeshes, 0);
        for (size_t i = 0; i < mTable.Size(); ++i)
        {
            const aiNode* node = mTable.mNode[i];
            for (unsigned k = 0; k < node->mNumMeshes; ++k)
            {
                const unsigned m = node->mMeshes[k];
                if (m >= mScene->mNumMeshes || !mScene->mMeshes[m])
                    continue;
                const aiMesh* mesh = mScene->mMeshes[m];
                // A skinned mesh follows its bones wherever it hangs, once; a
                // rigid one rides on its node, where that is a captured joint.
                // Assimp's stand-in for a format without meshes (BVH) is no
                // body.
                if (IsStandIn(mesh) || (mesh->HasBones() ? done[m]++ != 0 : mJointOf[i] < 0))
                    continue;
                if (!AddMesh(mesh, i))
                    return Refused();
            }
        }
        ChooseTexture();
        return std::move(mBody);
    }

private:
    const aiScene* mScene;
    const sNodeTable& mTable;
    std::string mFolder;
    std::vector<sMat4> mWorld;
    std::vector<int> mJointOf;      // per table node
    std::vector<size_t> mJointNode; // per captured joint, its table node
    sCaptureBody mBody;
    bool mAllTextured = true;
    std::vector<std::string> mTextures; // the texture each mesh uses ("" for none)
    std::string mWhyNot;                // why there is no body after all

    // The dummy mesh Assimp builds to show a skeleton where a format has no
    // meshes: its material has this name (SkeletonMeshBuilder's).
    bool IsStandIn(const aiMesh* mesh) const
    {
        aiString name;
        return mesh->mMaterialIndex < mScene->mNumMaterials && mScene->mMaterials[mesh->mMaterialIndex] &&
               mScene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, name) == AI_SUCCESS &&
               std::strcmp(name.C_Str(), "SkeletonMaterial") == 0;
    }

    int JointOrTop(int node) const { return node >= 0 && mJointOf[node] >= 0 ? mJointOf[node] : 0; }

    sCaptureBody Refused() const
    {
        sCaptureBody none;
        none.mNote = mWhyNot;
        return none;
    }

    // A vertex's share on a joint, from the point q and normal n in the scene.
    void Share(std::vector<sShare>& shares, int joint, double w, const sVec3& q, const sVec3& n)
    {
        const sMat4& jw = mWorld[mJointNode[joint]];
        const sQuat r = jw.Rotation().Conj();
        const sVec3 local = r * (q - jw.Translation()), normal = r * n;
        for (sShare& s : shares)
            if (s.mJoint == joint)
            {
                s.mWeight += w;
                s.mLocal = s.mLocal + local * w;
                s.mNormal = s.mNormal + normal * w;
                return;
            }
        shares.push_back({joint, w, local * w, normal * w});
    }

    bool AddMesh(const aiMesh* mesh, size_t node)
    {
        const unsigned nv = mesh->mNumVertices;
        const size_t first = mBody.mInfluences.size();
        if (first + nv > kMaxBodyVertices)
        {
            mWhyNot = "the meshes have more than " + std::to_string(kMaxBodyVertices) +
                      " vertices, more than an actor file's body; the file has no body";
            return false;
        }
        std::vector<std::vector<sShare>> shares(nv);
        const aiVector3D up(0, 0, 1);
        auto normalOf = [&](unsigned v) { return mesh->mNormals ? mesh->mNormals[v] : up; };
        for (unsigned b = 0; b < mesh->mNumBones; ++b)
        {
            const aiBone* bone = mesh->mBones[b];
            const auto found = bone ? mTable.mByName.find(bone->mName.C_Str()) : mTable.mByName.end();
            if (found == mTable.mByName.end())
                continue; // its weights go: the vertex keeps its other bones, or its node
            const sMat4 m = mWorld[found->second] * sMat4::From(bone->mOffsetMatrix);
            const int joint = JointOrTop(found->second);
            for (unsigned k = 0; k < bone->mNumWeights; ++k)
            {
                const aiVertexWeight& w = bone->mWeights[k];
                if (w.mVertexId < nv && w.mWeight > 0 && std::isfinite(w.mWeight))
                    Share(shares[w.mVertexId], joint, w.mWeight, Transform(m, mesh->mVertices[w.mVertexId]),
                          TransformNormal(m, normalOf(w.mVertexId)));
            }
        }
        const sMat4& own = mWorld[node];
        for (unsigned v = 0; v < nv; ++v)
        {
            if (shares[v].empty()) // no bone moves it: it rides on its node
                Share(shares[v], JointOrTop((int)node), 1.0, Transform(own, mesh->mVertices[v]),
                      TransformNormal(own, normalOf(v)));
            if (!Finish(shares[v]))
                return false;
        }
        AddFaces(mesh, (unsigned)first);
        AddTexCoords(mesh);
        return true;
    }

    // The shares made influences: the heaviest kMaxInfluences, weights summing
    // to 1, places and normals averaged by weight.
    bool Finish(std::vector<sShare>& shares)
    {
        std::sort(shares.begin(), shares.end(), [](const sShare& a, const sShare& b) { return a.mWeight > b.mWeight; });
        if (shares.size() > kMaxInfluences)
            shares.resize(kMaxInfluences);
        double total = 0;
        for (const sShare& s : shares)
            total += s.mWeight;
        std::vector<sSkinInfluence> out;
        for (const sShare& s : shares)
        {
            sSkinInfluence i;
            i.mJoint = s.mJoint;
            i.mWeight = s.mWeight / total;
            i.mLocal = s.mLocal * (1.0 / s.mWeight);
            const double len = s.mNormal.Length();
            i.mNormal = len > 1e-12 ? s.mNormal * (1.0 / len) : sVec3(0, 0, 1);
            if (!std::isfinite(i.mLocal.x) || !std::isfinite(i.mLocal.y) || !std::isfinite(i.mLocal.z) ||
                !std::isfinite(len))
            {
                mWhyNot = "a vertex of the meshes does not lie at a finite place; the file has no body";
                return false;
            }
            out.push_back(i);
        }
        mBody.mInfluences.push_back(out);
        return true;
    }

    void AddFaces(const aiMesh* mesh, unsigned first)
    {
        for (unsigned f = 0; f < mesh->mNumFaces; ++f)
        {
            const aiFace& face = mesh->mFaces[f];
            if (face.mNumIndices != 3 || mBody.mTriangles.size() / 3 >= kMaxBodyTriangles)
                continue; // points and lines are not the body's
            bool inside = true;
            for (unsigned k = 0; k < 3; ++k)
                inside = inside && face.mIndices[k] < mesh->mNumVertices;
            if (inside)
                for (unsigned k = 0; k < 3; ++k)
                    mBody.mTriangles.push_back(first + face.mIndices[k]);
        }
    }

    // Texture coordinates in the file's sense: v = 0 at the image's top row
    // (Assimp gives them with v = 0 at the bottom, as OpenGL has them).
    void AddTexCoords(const aiMesh* mesh)
    {
        aiString path;
        const aiMaterial* mat =
            mesh->mMaterialIndex < mScene->mNumMaterials ? mScene->mMaterials[mesh->mMaterialIndex] : nullptr;
        const bool textured = mat && (mat->GetTexture(aiTextureType_DIFFUSE, 0, &path) == AI_SUCCESS ||
                                      mat->GetTexture(aiTextureType_BASE_COLOR, 0, &path) == AI_SUCCESS);
        if (!textured || !mesh->mTextureCoords[0])
        {
            mAllTextured = false;
            return;
        }
        mTextures.push_back(path.C_Str());
        for (unsigned v = 0; v < mesh->mNumVertices; ++v)
        {
            const aiVector3D& t = mesh->mTextureCoords[0][v];
            mBody.mTexCoords.push_back(std::isfinite(t.x) && std::fabs(t.x) <= 1e6 ? t.x : 0.0);
            mBody.mTexCoords.push_back(std::isfinite(t.y) && std::fabs(t.y) <= 1e6 ? 1.0 - t.y : 0.0);
        }
    }

    // One texture for the whole body, where every mesh has the same one;
    // otherwise the body goes untextured, and the note says why.
    void ChooseTexture()
    {
        if (mBody.Empty() || mTextures.empty())
        {
            mBody.mTexCoords.clear();
            return;
        }
        const bool same = std::all_of(mTextures.begin(), mTextures.end(),
                                      [&](const std::string& t) { return t == mTextures.front(); });
        std::string why;
        if (!mAllTextured)
            why = "some of the meshes have no texture";
        else if (!same)
            why = "the meshes have different textures";
        else if (!LoadTexture(mTextures.front(), mBody.mTexture, why))
            why = "its texture " + QuoteName(mTextures.front()) + " cannot be read: " + why;
        if (!why.empty())
        {
            mBody.mTexCoords.clear();
            mBody.mTexture = sImage();
            mBody.mNote = why + "; the body is written without a texture";
        }
    }

    // The texture's image: embedded in the scene, or a file beside the
    // source (its folder or below, a regular file).
    bool LoadTexture(const std::string& path, sImage& image, std::string& why)
    {
        const aiTexture* embedded = mScene->GetEmbeddedTexture(path.c_str());
        if (embedded && embedded->mHeight == 0)
            return DecodeTexture((const unsigned char*)embedded->pcData, embedded->mWidth, image, why);
        if (embedded)
            return TexelsTexture(embedded, image, why);
        std::string bytes;
        if (!ReadBesideSource(path, bytes, why))
            return false;
        return DecodeTexture((const unsigned char*)bytes.data(), bytes.size(), image, why);
    }

    static bool TexelsTexture(const aiTexture* t, sImage& image, std::string& why)
    {
        if (t->mWidth == 0 || t->mHeight == 0 || t->mWidth > kMaxTextureSide || t->mHeight > kMaxTextureSide)
        {
            why = "it is " + std::to_string(t->mWidth) + " x " + std::to_string(t->mHeight) + " pixels";
            return false;
        }
        image.mWidth = t->mWidth;
        image.mHeight = t->mHeight;
        image.mPixels.clear();
        for (unsigned i = 0; i < t->mWidth * t->mHeight; ++i)
            image.mPixels.insert(image.mPixels.end(), {t->pcData[i].r, t->pcData[i].g, t->pcData[i].b, t->pcData[i].a});
        return true;
    }

    bool ReadBesideSource(std::string path, std::string& bytes, std::string& why)
    {
        std::replace(path.begin(), path.end(), '\\', '/');
        if (mFolder.empty())
        {
            why = "the data read from memory has no folder to find it in";
            return false;
        }
        // A path the source gives from elsewhere (absolute, or up and out of
        // its folder) is looked for beside it by its name alone.
        if (path.empty() || path[0] == '/' || path.find("..") != std::string::npos ||
            path.find(':') != std::string::npos)
            path = path.substr(path.find_last_of('/') + 1);
        if (path.empty() || path == "..")
        {
            why = "it names no file";
            return false;
        }
        const std::string full = mFolder + "/" + path;
        struct stat info;
        if (stat(full.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > (off_t)kMaxTextureFileBytes)
        {
            why = "there is no such regular file of at most " + std::to_string(kMaxTextureFileBytes >> 20) +
                  " MiB beside the source";
            return false;
        }
        std::ifstream in(full, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    }
};

void SampleScene(const aiScene* scene, cCaptureSink& sink, const std::string& folder)
{
    if (!scene || !scene->mRootNode)
        throw cImportError("the file holds no scene");
    const aiAnimation* anim = LongestAnimation(scene);
    if (!anim)
        throw cImportError("the file has no animation");
    const sNodeTable table = TableOf(scene->mRootNode);
    const sChannels channels = CollectChannels(table, anim);

    const double tps = anim->mTicksPerSecond > 0 && std::isfinite(anim->mTicksPerSecond) ? anim->mTicksPerSecond : 25.0;
    // Sampled as densely as the densest channel is keyed, within sane rates.
    const double rate = std::min(kMaxRate, std::max(kMinRate, channels.mDensity * tps));
    const double seconds = (channels.mLastTick - channels.mFirstTick) / tps;
    if (!std::isfinite(seconds) || seconds * rate + 1 > (double)kMaxFrames)
        throw cImportError("the animation is too long to import");
    const size_t frames = (size_t)std::floor(seconds * rate + 1e-6) + 1;
    CheckKeyValues(channels, tps, rate);

    const int top = CommonAncestor(table, channels.mNodes);
    std::vector<sJoint> joints;
    const std::vector<const aiNode*> nodes = CollectJoints(table.mNode[top], channels, joints);
    if (frames * joints.size() > kMaxSamples)
        throw cImportError("the animation is too long to import");
    sink.Begin(joints, rate, frames);
    SampleFrames(table, top, nodes, joints, channels, tps, rate, frames, sink);
    const sCaptureBody body = cBodyBuilder(scene, table, nodes, channels, folder).Build();
    if (!body.Empty() || !body.mNote.empty())
        sink.Body(body);
    sink.End();
}

// ---- [SECTION] Reader ---------------------------------------------------------

// Meshes as triangles with smooth normals where they have none; nothing
// done to the nodes or the animation.
const unsigned kReadFlags = aiProcess_ValidateDataStructure | aiProcess_Triangulate | aiProcess_GenSmoothNormals;

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

// Assimp reports its readers' exceptions as their what(); running out of
// memory is told apart (by the whole text, which a file cannot make), so
// that the limit is named.
[[noreturn]] void ReaderFailed(const std::string& prefix, const std::string& error)
{
    if (error == std::bad_alloc().what())
        throw std::bad_alloc();
    throw cImportError(prefix + OneLine(error));
}

// Only a regular file is read: a FIFO would block until something writes to
// it and a device could be read for ever. The open does not block either.
void CheckInputFile(const std::string& path)
{
    const std::string prefix = "cannot read '" + path + "': ";
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        throw cImportError(prefix + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        throw cImportError(prefix + "it is " + FileKind(info.st_mode) + ", not a regular file");
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw cImportError(prefix + std::strerror(errno));
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    if (!regular)
        throw cImportError(prefix + "it is not a regular file");
}

} // namespace

void SampleSceneFile(const std::string& path, cCaptureSink& sink)
{
    {
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        CheckBvh(text.data(), text.size());
    }
    Assimp::Importer imp;
    Configure(imp);
    const aiScene* scene = imp.ReadFile(path, kReadFlags);
    if (!scene)
        ReaderFailed("cannot read '" + path + "': ", imp.GetErrorString());
    const size_t slash = path.find_last_of('/');
    SampleScene(scene, sink, slash == std::string::npos ? std::string(".") : path.substr(0, slash));
}

void SampleSceneMemory(const void* data, size_t size, const char* hint, cCaptureSink& sink)
{
    CheckBvh((const char*)data, size);
    Assimp::Importer imp;
    Configure(imp);
    const aiScene* scene = imp.ReadFileFromMemory(data, size, kReadFlags, hint);
    if (!scene)
        ReaderFailed("cannot read the data: ", imp.GetErrorString());
    SampleScene(scene, sink, std::string());
}

sCapture ReadSceneInProcess(const void* data, size_t size, const char* hint)
{
    cCaptureBuilder builder;
    SampleSceneMemory(data, size, hint, builder);
    return std::move(builder.mCapture);
}

// ---- [SECTION] Entry ----------------------------------------------------------

sCapture ReadScene(const std::string& path)
{
    CheckInputFile(path);
    return ReadIsolated([&](cCaptureSink& sink) { SampleSceneFile(path, sink); }, "'" + path + "'", "file");
}

sCapture ReadSceneFromMemory(const void* data, size_t size, const char* hint)
{
    return ReadIsolated([&](cCaptureSink& sink) { SampleSceneMemory(data, size, hint, sink); }, "the data", "data");
}

sImportResult ImportFile(const std::string& path, const sOptions& opt) { return Import(ReadScene(path), opt); }

} // namespace qvimport
