// The armature's world pass: the recorded hierarchy, and the pass itself,
// which walks it four bones at a time.
#include "QV_armature.h"

#include <algorithm>
#include <cstring>
#include <utility>

void cArmature::RecordHierarchy()
{
    mOrder.clear();
    mRecordedBones = mBones.data();
    mRecordedCount = mBones.size();
    mRecordedRoot = mRootBone;
    if (!mRootBone)
        return;
    const cBone* first = mBones.data();
    const size_t n = mBones.size();
    auto index = [&](const cBone* b) { return (uint32_t)(b - first); };
    // Depth first, children in order, as cBone::Update visits them; a link
    // out of the vector, or more visits than bones (a loop), leaves nothing
    // recorded, and Update follows the links.
    std::vector<std::pair<const cBone*, uint32_t>> stack;
    stack.push_back({mRootBone, 0});
    while (!stack.empty())
    {
        const cBone* b = stack.back().first;
        const uint32_t parent = stack.back().second;
        stack.pop_back();
        if (b < first || b >= first + n || mOrder.size() >= n)
        {
            mOrder.clear();
            return;
        }
        mOrder.push_back({index(b), parent});
        for (size_t c = b->mChildren.size(); c-- > 0;)
            stack.push_back({b->mChildren[c], index(b)});
    }
}

bool cArmature::HierarchyRecorded() const
{
    return !mOrder.empty() && mRecordedBones == mBones.data() && mRecordedCount == mBones.size() &&
           mRecordedRoot == mRootBone;
}

void cArmature::Update()
{
    if (!mRootBone)
        return;
    if (HierarchyRecorded())
        Pass(nullptr);
    else
        mRootBone->Update();
}

void cArmature::UpdateFrom(const std::vector<cBone>& pose)
{
    const size_t n = mBones.size();
    if (mRootBone && HierarchyRecorded() && mOrder.size() == n && pose.size() >= n)
    {
        Pass(pose.data());
        return;
    }
    for (size_t i = 0, m = std::min(n, pose.size()); i < m; ++i)
    {
        mBones[i].mTransform = pose[i].mTransform;
        mBones[i].mOrientation = pose[i].mOrientation;
    }
    Update();
}

void cArmature::Pass(const cBone* pose)
{
    cBone* bones = mBones.data();
    const sLink* link = mOrder.data();
    const size_t n = mOrder.size();
    for (size_t i = 0; i < n; i += 4)
    {
        const size_t m = std::min<size_t>(4, n - i);
        // Each bone is taken from the pose just before its own world matrix
        // is computed, which reads only what it took and its parent's world
        // matrix, already done: what taking them all first gives.
        if (pose)
            for (size_t j = 0; j < m; ++j)
            {
                cBone& b = bones[link[i + j].mBone];
                b.mOrientation = pose[link[i + j].mBone].mOrientation;
                b.mTransform = pose[link[i + j].mBone].mTransform;
            }
        // The rotations of the four orientations at once, one per lane (the
        // lanes of a shorter group repeat its last bone): element k of bone
        // j in r[k][j].
        float r[9][4];
#if defined(QV_LANES)
        sLanes q[4];
        for (size_t j = 0; j < 4; ++j)
            std::memcpy(&q[j], bones[link[i + std::min(j, m - 1)].mBone].mOrientation.mData, sizeof q[j]);
        const sLanes x = {q[0][0], q[1][0], q[2][0], q[3][0]};
        const sLanes y = {q[0][1], q[1][1], q[2][1], q[3][1]};
        const sLanes z = {q[0][2], q[1][2], q[2][2], q[3][2]};
        const sLanes w = {q[0][3], q[1][3], q[2][3], q[3][3]};
        sLanes e[9];
        QuatRotation(x, y, z, w, e);
        std::memcpy(r, e, sizeof r);
#else
        for (size_t j = 0; j < m; ++j)
        {
            const float* q = bones[link[i + j].mBone].mOrientation.mData;
            float e[9];
            QuatRotation(q[0], q[1], q[2], q[3], e);
            for (int k = 0; k < 9; ++k)
                r[k][j] = e[k];
        }
#endif
        for (size_t j = 0; j < m; ++j)
        {
            cBone& b = bones[link[i + j].mBone];
            b.mTransform.setRotationOf(b.mRestTransform, &r[0][j], 4);
            // The root (first) may hang from a bone outside the tree.
            const cMatrix4D* parent = i + j > 0 ? &bones[link[i + j].mParent].mWorldTransform
                                      : b.mParent ? &b.mParent->mWorldTransform
                                                  : nullptr;
            b.mWorldTransform = parent ? *parent * b.mTransform : b.mTransform;
        }
    }
}
