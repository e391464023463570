#ifndef QV_ARMATURE_H
#define QV_ARMATURE_H

#include <cstdint>
#include <string>
#include <vector>

#include "QV_bone.h"

// Owns the bones of a skeleton in one vector, sized once by the loader and
// never resized afterwards: every link points into it.
class cArmature
{
public:
    std::string mName;
    std::vector<cBone> mBones;
    cBone* mRootBone;

    cArmature() : mRootBone(nullptr) {}
    ~cArmature() = default;

    // Recomputes the world matrix of every bone reachable from the root,
    // parents before children. An armature without a root (nothing loaded
    // yet) is left as it is. Once the hierarchy is recorded, in one loop over
    // the recorded list; otherwise by following the links from the root. The
    // arithmetic is the same, and so are the results.
    void Update();

    // Takes every bone's orientation and local matrix from the bone with the
    // same index in pose (over the bones both have), then does Update: the
    // same results, in one pass over the bones where the hierarchy is
    // recorded and reaches every bone.
    void UpdateFrom(const std::vector<cBone>& pose);

    // UpdateFrom(pose) again after the pose's root has moved and nothing
    // else: where the armature was last updated from this pose (UpdateFrom)
    // and since then only the root's local translation has changed in the
    // pose (every orientation, the rest of every local matrix, and the
    // armature itself as they were), the world matrices come out bit for
    // bit as UpdateFrom would give them, but only their translations are
    // recomputed. Below a bone whose world translation changed sign or is
    // not finite, and below a local matrix with a bottom row, whole products
    // are (the rotation of a world matrix takes in the parent's translation
    // times a zero, and the sign of that zero can show in a sum). Anything
    // else changed, or no recorded hierarchy: UpdateFrom itself. Returns
    // whether the translations alone were recomputed.
    bool UpdateMovedRoot(const std::vector<cBone>& pose);

    // Records the tree below the root as one list, parents before children
    // (in the order following the links visits them), for Update. The loader
    // calls it once the bones are linked; a program that links bones itself
    // calls it afterwards, and again after it changes any link. Update
    // notices another root or another bone vector, not a changed link.
    // Allocates.
    void RecordHierarchy();
    // True while the recorded list is the one Update walks.
    bool HierarchyRecorded() const;

    // Draws every bone through its world matrix: mode 1 an octahedral outline,
    // mode 2 a line, any other mode nothing. Leaves the model-view matrix as
    // it found it. Defined by the drawing layer (QV_draw.cpp): the core has
    // no OpenGL.
    void Draw(unsigned int mode);

private:
    // One bone of the recorded list, and its parent, as indices into mBones.
    struct sLink
    {
        uint32_t mBone;
        uint32_t mParent;
    };
    std::vector<sLink> mOrder;             // the root first, without a parent
    std::vector<uint8_t> mMoved;           // per bone, for UpdateMovedRoot: its children need whole products
    const cBone* mRecordedBones = nullptr; // mBones.data() when it was recorded
    size_t mRecordedCount = 0;             // mBones.size() then
    const cBone* mRecordedRoot = nullptr;  // mRootBone then

    // The pass over the recorded list, each bone first taking its
    // orientation and local matrix from pose when there is one.
    void Pass(const cBone* pose);
    // Whether pose differs from the armature in the root's local translation
    // at most (UpdateMovedRoot's condition).
    bool OnlyRootMoved(const cBone* pose) const;
};

#endif // QV_ARMATURE_H
