// Captures as glTF 2.0 files, for the importer's tests: a capture's joints
// as nodes keyed per frame, optionally with a skinned mesh (a skin bound at
// the first frame, a texture); and the generated walker played in place as
// such a capture, with its body skinned along. Header only.
#ifndef QV_TEST_CAPTURE_GLTF_H
#define QV_TEST_CAPTURE_GLTF_H

#include <algorithm>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "QV_character.h"
#include "QV_import.h"
#include "QV_xml.h"
#include "base64.h"

namespace qvtest
{

using qvimport::sCapture;
using qvimport::sJoint;
using qvimport::sQuat;
using qvimport::sVec3;

// How a capture is written: joint names (empty: the capture's; "": that
// joint unnamed), the file's axes (yUp: the capture's +Z becomes +Y, as glTF
// files are) and its unit (metres times unit).
struct sGltfStyle
{
    std::vector<std::string> mNames;
    bool mYUp = true;
    double mUnit = 1;
};

// A skinned mesh as the capture's first frame poses it, in the capture's
// space: per vertex a position, a normal and four joints with their weights
// (a weight of 0 for an unused one); triangles; optionally texture
// coordinates (v = 0 at the image's top, as glTF has them) and a PNG.
struct sGltfMesh
{
    std::vector<sVec3> mPositions, mNormals;
    std::vector<std::vector<int>> mJoints;     // four a vertex
    std::vector<std::vector<double>> mWeights; // four a vertex
    std::vector<unsigned int> mTriangles;
    std::vector<double> mTexCoords;  // two a vertex, or none
    std::vector<unsigned char> mPng; // the texture, or none
    std::string mImageUri;           // the texture by this path beside the file instead, or ""
};

inline sQuat AboutX(double a) { return sQuat::AxisAngle(sVec3(1, 0, 0), a); }

// The capture as glTF 2.0, one node per joint: the root's translation and
// every joint's rotation keyed per frame; with a mesh, one more node holding
// it, skinned to every joint with the first frame as its bind pose.
inline std::string CaptureGltf(const sCapture& cap, const sGltfStyle& style, const sGltfMesh* mesh = nullptr)
{
    const size_t n = cap.mJoints.size(), frames = cap.Frames();
    const sQuat axes = style.mYUp ? AboutX(-M_PI / 2) : sQuat();
    std::vector<unsigned char> buf;
    std::vector<std::pair<size_t, size_t>> views;
    auto add = [&](const void* data, size_t bytes) {
        views.push_back({buf.size(), bytes});
        const unsigned char* b = (const unsigned char*)data;
        buf.insert(buf.end(), b, b + bytes);
        while (buf.size() % 4)
            buf.push_back(0);
    };
    auto addFloats = [&](const std::vector<float>& v) { add(v.data(), v.size() * 4); };
    std::vector<float> times;
    for (size_t f = 0; f < frames; ++f)
        times.push_back((float)(f / cap.mRate));
    addFloats(times);
    std::vector<float> root;
    for (size_t f = 0; f < frames; ++f)
    {
        const sVec3 p = axes * cap.mPosition[f][0] * style.mUnit;
        root.insert(root.end(), {(float)p.x, (float)p.y, (float)p.z});
    }
    addFloats(root);
    auto local = [&](size_t f, size_t j) {
        const int p = cap.mJoints[j].mParent;
        return p < 0 ? axes * cap.mRotation[f][j] : cap.mRotation[f][p].Conj() * cap.mRotation[f][j];
    };
    for (size_t j = 0; j < n; ++j)
    {
        std::vector<float> q;
        for (size_t f = 0; f < frames; ++f)
        {
            const sQuat r = local(f, j);
            q.insert(q.end(), {(float)r.x, (float)r.y, (float)r.z, (float)r.w});
        }
        addFloats(q);
    }
    std::ostringstream g;
    g.precision(9);
    g << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0)" << (mesh ? "," + std::to_string(n) : "")
      << R"(]}],"nodes":[)";
    for (size_t j = 0; j < n; ++j)
    {
        const int p = cap.mJoints[j].mParent;
        const sVec3 t = p < 0 ? axes * cap.mPosition[0][j] * style.mUnit
                              : cap.mRotation[0][p].Conj() * (cap.mPosition[0][j] - cap.mPosition[0][p]) * style.mUnit;
        const std::string name = style.mNames.empty() ? cap.mJoints[j].mName : style.mNames[j];
        g << (j ? "," : "") << "{";
        if (!name.empty())
            g << R"("name":")" << name << R"(",)";
        g << R"("translation":[)" << t.x << "," << t.y << "," << t.z << "]";
        std::string children;
        for (size_t c = 0; c < n; ++c)
            if (cap.mJoints[c].mParent == (int)j)
                children += (children.empty() ? "" : ",") + std::to_string(c);
        if (!children.empty())
            g << R"(,"children":[)" << children << "]";
        g << "}";
    }
    // The mesh: its arrays after the animation's, the inverse bind matrices
    // those of the joints' world frames at the first frame.
    const size_t meshView = views.size();
    if (mesh)
    {
        g << R"(,{"name":"body","mesh":0,"skin":0})";
        std::vector<float> pos, nrm, wts, uv, ibm;
        std::vector<unsigned short> jts;
        for (size_t v = 0; v < mesh->mPositions.size(); ++v)
        {
            const sVec3 p = axes * mesh->mPositions[v] * style.mUnit, q = axes * mesh->mNormals[v];
            pos.insert(pos.end(), {(float)p.x, (float)p.y, (float)p.z});
            nrm.insert(nrm.end(), {(float)q.x, (float)q.y, (float)q.z});
            for (int k = 0; k < 4; ++k)
            {
                jts.push_back((unsigned short)mesh->mJoints[v][k]);
                wts.push_back((float)mesh->mWeights[v][k]);
            }
        }
        for (double t : mesh->mTexCoords)
            uv.push_back((float)t);
        for (size_t j = 0; j < n; ++j)
        {
            // The inverse of the joint's world frame in the file: rotation
            // conj(R), translation -conj(R) t; column by column.
            const sQuat r = axes * cap.mRotation[0][j];
            const sVec3 t = axes * cap.mPosition[0][j] * style.mUnit;
            double m[3][3];
            r.Conj().Unit().ToMatrix(m);
            const sVec3 it = r.Conj() * t * -1.0;
            for (int c = 0; c < 3; ++c)
                ibm.insert(ibm.end(), {(float)m[0][c], (float)m[1][c], (float)m[2][c], 0.0f});
            ibm.insert(ibm.end(), {(float)it.x, (float)it.y, (float)it.z, 1.0f});
        }
        addFloats(pos);
        addFloats(nrm);
        add(jts.data(), jts.size() * 2);
        addFloats(wts);
        add(mesh->mTriangles.data(), mesh->mTriangles.size() * 4);
        addFloats(ibm);
        if (!uv.empty())
            addFloats(uv);
    }
    g << R"(],"buffers":[{"byteLength":)" << buf.size() << R"(,"uri":"data:application/octet-stream;base64,)"
      << Base64(buf) << R"("}],"bufferViews":[)";
    for (size_t i = 0; i < views.size(); ++i)
        g << (i ? "," : "") << R"({"buffer":0,"byteOffset":)" << views[i].first << R"(,"byteLength":)"
          << views[i].second << "}";
    g << R"(],"accessors":[{"bufferView":0,"componentType":5126,"count":)" << frames
      << R"(,"type":"SCALAR","min":[0],"max":[)" << times.back() << "]}";
    g << R"(,{"bufferView":1,"componentType":5126,"count":)" << frames << R"(,"type":"VEC3"})";
    for (size_t j = 0; j < n; ++j)
        g << R"(,{"bufferView":)" << 2 + j << R"(,"componentType":5126,"count":)" << frames << R"(,"type":"VEC4"})";
    if (mesh)
    {
        const size_t nv = mesh->mPositions.size(), a = 2 + n; // the mesh's first accessor
        g << R"(,{"bufferView":)" << meshView << R"(,"componentType":5126,"count":)" << nv << R"(,"type":"VEC3"})"
          << R"(,{"bufferView":)" << meshView + 1 << R"(,"componentType":5126,"count":)" << nv << R"(,"type":"VEC3"})"
          << R"(,{"bufferView":)" << meshView + 2 << R"(,"componentType":5123,"count":)" << nv << R"(,"type":"VEC4"})"
          << R"(,{"bufferView":)" << meshView + 3 << R"(,"componentType":5126,"count":)" << nv << R"(,"type":"VEC4"})"
          << R"(,{"bufferView":)" << meshView + 4 << R"(,"componentType":5125,"count":)" << mesh->mTriangles.size()
          << R"(,"type":"SCALAR"})"
          << R"(,{"bufferView":)" << meshView + 5 << R"(,"componentType":5126,"count":)" << n << R"(,"type":"MAT4"})";
        if (!mesh->mTexCoords.empty())
            g << R"(,{"bufferView":)" << meshView + 6 << R"(,"componentType":5126,"count":)" << nv
              << R"(,"type":"VEC2"})";
        g << R"(],"meshes":[{"primitives":[{"attributes":{"POSITION":)" << a << R"(,"NORMAL":)" << a + 1
          << R"(,"JOINTS_0":)" << a + 2 << R"(,"WEIGHTS_0":)" << a + 3;
        if (!mesh->mTexCoords.empty())
            g << R"(,"TEXCOORD_0":)" << a + 6;
        g << R"(},"indices":)" << a + 4;
        const bool textured = !mesh->mPng.empty() || !mesh->mImageUri.empty();
        if (textured)
            g << R"(,"material":0)";
        g << R"(}]}],"skins":[{"inverseBindMatrices":)" << a + 5 << R"(,"joints":[)";
        for (size_t j = 0; j < n; ++j)
            g << (j ? "," : "") << j;
        g << "]}]";
        if (textured)
            g << R"(,"materials":[{"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],"textures":[{"source":0}])"
              << R"(,"images":[{"uri":")"
              << (mesh->mImageUri.empty() ? "data:image/png;base64," + Base64(mesh->mPng) : mesh->mImageUri)
              << R"("}])";
    }
    else
        g << "]";
    g << R"(,"animations":[{"name":"walk","samplers":[{"input":0,"output":1,"interpolation":"LINEAR"})";
    for (size_t j = 0; j < n; ++j)
        g << R"(,{"input":0,"output":)" << 2 + j << R"(,"interpolation":"LINEAR"})";
    g << R"(],"channels":[{"sampler":0,"target":{"node":0,"path":"translation"}})";
    for (size_t j = 0; j < n; ++j)
        g << R"(,{"sampler":)" << 1 + j << R"(,"target":{"node":)" << j << R"(,"path":"rotation"}})";
    g << "]}]}";
    return g.str();
}

inline cVector3D BoneHead(const cBone& b) { return b.mWorldTransform.getTransform(); }

inline cVector3D BoneTail(const cBone& b)
{
    const float* m = b.mWorldTransform._m;
    return BoneHead(b) + cVector3D(m[4], m[5], m[6]) * b.mLength;
}

// The generated walker played in place (below) and its body as the played
// frames pose it: per frame every vertex in the capture's space, and the
// mesh at the first frame, its bones the capture's joints.
struct sPlayedWalker
{
    sCapture mCapture;
    std::vector<std::vector<sVec3>> mBodyAt; // [frame][vertex]
    sGltfMesh mMesh;
};

// The generated walker as the demo plays it (data/walker.xml through the
// core, walking straight at 32 ms frames), every bone's head a joint and the
// tip of each last bone an end joint, with the root's travel taken out: the
// walk in place, as a game asset has it (+Y up, the demo's axes).
inline sPlayedWalker PlayWalkerInPlace(double seconds)
{
    cActor a;
    ReadActorFromXML((std::string(QV_SOURCE_DIR) + "/data/walker.xml").c_str(), a);
    a.SetConstraints();
    a.UpdateArmature();
    sSteering walk;
    walk.mWalk = true;
    for (unsigned t = 0; t < 3000; t += 32)
        StepCharacter(a, 32, walk);
    // Joints parents first: the bones depth first from the root, then an end
    // joint at the tip of each bone without children.
    std::vector<const cBone*> order;
    std::function<void(const cBone*)> visit = [&](const cBone* b) {
        order.push_back(b);
        for (const cBone* c : b->mChildren)
            visit(c);
    };
    visit(a.mArmature.mRootBone);
    sPlayedWalker out;
    sCapture& cap = out.mCapture;
    cap.mRate = 1000.0 / 32;
    std::vector<const cBone*> ends;
    for (const cBone* b : order)
    {
        sJoint j;
        j.mName = b->mName;
        j.mParent = b->mParent ? (int)(std::find(order.begin(), order.end(), b->mParent) - order.begin()) : -1;
        j.mAnimated = true;
        cap.mJoints.push_back(j);
    }
    for (size_t k = 0; k < order.size(); ++k)
        if (order[k]->mChildren.empty())
        {
            sJoint j;
            j.mName = order[k]->mName + "_end";
            j.mParent = (int)k;
            cap.mJoints.push_back(j);
            ends.push_back(order[k]);
        }
    // The body's bones as joints: bone i of the file is joint jointOf[i].
    std::vector<int> jointOf(a.mArmature.mBones.size());
    for (size_t k = 0; k < order.size(); ++k)
        jointOf[order[k] - a.mArmature.mBones.data()] = (int)k;
    const cVector3D start = BoneHead(*a.mArmature.mRootBone);
    const cBody& body = a.mBody;
    for (double t = 0; t < seconds * 1000; t += 32)
    {
        StepCharacter(a, 32, walk);
        const cVector3D root = BoneHead(*a.mArmature.mRootBone);
        const sVec3 travel(root.mData[0] - start.mData[0], 0, root.mData[2] - start.mData[2]);
        std::vector<sQuat> rot;
        std::vector<sVec3> pos;
        auto add = [&](const cBone& b, bool tip) {
            const float* m = b.mWorldTransform._m;
            const double r[3][3] = {{m[0], m[4], m[8]}, {m[1], m[5], m[9]}, {m[2], m[6], m[10]}};
            rot.push_back(sQuat::FromMatrix(r));
            const cVector3D p = tip ? BoneTail(b) : BoneHead(b);
            pos.push_back(sVec3(p.mData[0], p.mData[1], p.mData[2]) - travel);
        };
        for (const cBone* b : order)
            add(*b, false);
        for (const cBone* b : ends)
            add(*b, true);
        cap.mRotation.push_back(rot);
        cap.mPosition.push_back(pos);
        if (body.Empty())
            continue;
        a.mBody.Skin(a.mArmature);
        std::vector<sVec3> at;
        for (const cVector3D& p : body.mPositions)
            at.push_back(sVec3(p.mData[0], p.mData[1], p.mData[2]) - travel);
        out.mBodyAt.push_back(at);
    }
    if (body.Empty())
        return out;
    sGltfMesh& mesh = out.mMesh;
    mesh.mPositions = out.mBodyAt[0];
    for (size_t v = 0; v < body.VertexCount(); ++v)
    {
        const cVector3D& n = body.mNormals[v];
        mesh.mNormals.push_back(sVec3(n.mData[0], n.mData[1], n.mData[2]));
        const sInfluences& in = body.mInfluences[v];
        mesh.mJoints.push_back({0, 0, 0, 0});
        mesh.mWeights.push_back({0, 0, 0, 0});
        for (unsigned k = 0; k < in.mCount; ++k)
        {
            mesh.mJoints.back()[k] = jointOf[in.mBone[k]];
            mesh.mWeights.back()[k] = in.mWeight[k];
        }
    }
    mesh.mTriangles = body.mTriangles;
    return out;
}

} // namespace qvtest

#endif // QV_TEST_CAPTURE_GLTF_H
