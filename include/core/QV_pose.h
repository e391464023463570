#ifndef QV_POSE_H
#define QV_POSE_H

#include <vector>

#include "QV_armature.h"
#include "QV_bone.h"

// A scratch copy of an armature's bones, index-aligned with it. Only the
// orientations and local matrices are kept current; the copied links still
// lead into the armature, and only mPoseRoot is resolved within the pose.
class cPose
{
public:
    std::vector<cBone> mPoseBones;
    cBone* mPoseRoot;

    cPose() : mPoseRoot(nullptr), mSource(nullptr) {}
    ~cPose() = default;

    // Copies the armature's bones and finds the pose's copy of the root.
    void Setup(cArmature& arm);
    // Copies every bone's orientation and local matrix from the armature.
    void Set(const cArmature& arm);
    // Recomputes the local rotation and world matrix of the pose's own bones,
    // from mPoseRoot down. The copied links lead into the armature; each one
    // is followed to the pose bone with the linked bone's index, so the walk
    // reaches exactly the pose copies of the bones below the root and never
    // writes the armature.
    void Update();
    // nlerp of every orientation towards p2's bone with the same index, over
    // the bones both poses have. Only orientations change.
    void Blend(float t, const cPose& p2);

private:
    // The armature bone vector the pose was set up from; its bones are the
    // targets of the copied links.
    const cBone* mSource;
    size_t mSourceCount = 0;

    cBone* PoseCopyOf(const cBone* link);
    void UpdateFrom(cBone& bone, const cMatrix4D* parentWorld);
};

#endif // QV_POSE_H
