// The armature's world pass: the recorded hierarchy, the pass itself, which
// walks it four bones at a time, and the pass after a move of the root that
// recomputes translations only.
#include "QV_armature.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
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
    mMoved.assign(n, 0);
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
            // lanes of a shorter group repeat its last bone).
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
        auto local = [&](cBone& b, auto lane) {
            b.mTransform.setRotationOfLane<decltype(lane)::value>(b.mRestTransform, e);
        };
#else
        auto local = [&](cBone& b, auto) { b.mTransform.setRotationOf(b.mRestTransform, b.mOrientation); };
#endif
        // Then each bone's local rotation and world matrix, in order, as its
        // parent's comes first.
        auto world = [&](size_t k, auto lane) {
            cBone& b = bones[link[k].mBone];
            local(b, lane);
            // The root (first) may hang from a bone outside the tree.
            const cMatrix4D* parent = k > 0       ? &bones[link[k].mParent].mWorldTransform
                                      : b.mParent ? &b.mParent->mWorldTransform
                                                  : nullptr;
            b.mWorldTransform = parent ? *parent * b.mTransform : b.mTransform;
        };
        world(i, std::integral_constant<int, 0>());
        if (m > 1)
            world(i + 1, std::integral_constant<int, 1>());
        if (m > 2)
            world(i + 2, std::integral_constant<int, 2>());
        if (m > 3)
            world(i + 3, std::integral_constant<int, 3>());
    }
}

namespace
{
// Whether the zero terms that products take from this column (a world
// matrix's translation and bottom-right element) could now give another
// result: a sign changed, or a value is or was not finite.
bool ZeroTermsMayDiffer(const float* before, const float* after)
{
    const uint32_t kSign = 0x80000000u, kExponent = 0x7F800000u;
#if defined(QV_LANES)
    typedef uint32_t sBits __attribute__((vector_size(16)));
    sBits a, b;
    std::memcpy(&a, before, sizeof a);
    std::memcpy(&b, after, sizeof b);
    const sBits differ =
        ((a ^ b) & kSign) | (sBits)((a & kExponent) == kExponent) | (sBits)((b & kExponent) == kExponent);
    return (differ[0] | differ[1] | differ[2] | differ[3]) != 0;
#else
    uint32_t a[4], b[4];
    std::memcpy(a, before, sizeof a);
    std::memcpy(b, after, sizeof b);
    uint32_t differ = 0;
    for (int r = 0; r < 4; ++r)
        differ |= ((a[r] ^ b[r]) & kSign) | ((a[r] & kExponent) == kExponent) | ((b[r] & kExponent) == kExponent);
    return differ != 0;
#endif
}

bool SameBits(const float* a, const float* b, size_t n) { return std::memcmp(a, b, n * sizeof(float)) == 0; }
} // namespace

bool cArmature::OnlyRootMoved(const cBone* pose) const
{
    const size_t root = mOrder[0].mBone;
    if (mBones[root].mParent)
        return false;
    for (size_t i = 0, n = mBones.size(); i < n; ++i)
    {
        const float* m = mBones[i].mTransform._m;
        const float* q = pose[i].mTransform._m;
        // The rotation block is the armature's own, rebuilt from the
        // orientation; the bottom row and the translation beside it are the
        // pose's, the root's translation aside.
        if (!SameBits(mBones[i].mOrientation.mData, pose[i].mOrientation.mData, 4) || !SameBits(&m[3], &q[3], 1) ||
            !SameBits(&m[7], &q[7], 1) || !SameBits(&m[11], &q[11], 1) || !SameBits(&m[15], &q[15], 1) ||
            (i != root && !SameBits(&m[12], &q[12], 3)))
            return false;
    }
    return true;
}

bool cArmature::UpdateMovedRoot(const std::vector<cBone>& pose)
{
    const size_t n = mBones.size();
    if (!mRootBone || !HierarchyRecorded() || mOrder.size() != n || pose.size() < n || !OnlyRootMoved(pose.data()))
    {
        UpdateFrom(pose);
        return false;
    }
    cBone* bones = mBones.data();
    const sLink* link = mOrder.data();
    float before[4];

    // The root has no parent: its world matrix is its local matrix.
    cBone& root = bones[link[0].mBone];
    std::memcpy(before, &root.mWorldTransform._m[12], sizeof before);
    std::memcpy(&root.mTransform._m[12], &pose[link[0].mBone].mTransform._m[12], 3 * sizeof(float));
    root.mWorldTransform = root.mTransform;
    mMoved[link[0].mBone] = ZeroTermsMayDiffer(before, &root.mWorldTransform._m[12]);

    for (size_t i = 1; i < n; ++i)
    {
        cBone& b = bones[link[i].mBone];
        const cMatrix4D& parent = bones[link[i].mParent].mWorldTransform;
        const float* local = b.mTransform._m;
        if (mMoved[link[i].mParent] || local[3] != 0.0f || local[7] != 0.0f || local[11] != 0.0f)
        {
            b.mWorldTransform = parent * b.mTransform;
            mMoved[link[i].mBone] = 1;
            continue;
        }
        std::memcpy(before, &b.mWorldTransform._m[12], sizeof before);
        parent.ProductColumn(b.mTransform, 3, b.mWorldTransform._m);
        mMoved[link[i].mBone] = ZeroTermsMayDiffer(before, &b.mWorldTransform._m[12]);
    }
    return true;
}
