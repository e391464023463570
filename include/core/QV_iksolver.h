#ifndef QV_IKSOLVER_H
#define QV_IKSOLVER_H

#include "QV_action.h"
#include "QV_armature.h"
#include "QV_bone.h"
#include "QV_quaternion.h"
#include "QV_vector.h"

#define IK_MAX_TRIES 0
#define IK_THRESHOLD 0.01f
#define IK_MAX_ANGLE 60
#define IK_MIN_ANGLE 60

// Two-bone chain (an end bone and its parent) swung towards a target point,
// one joint per pass, about the world z axis.
class cIK
{
public:
    cVector3D mTarget;
    cVector3D mEffector;
    unsigned int mIndices[2] = {0, 0};
    unsigned int mIndex = 0;
    cBone* mIKBones[2] = {nullptr, nullptr};
    cQuaternion mIKpose[2];
    unsigned int mChannels[2] = {0, 0};

    // Completes the chain from mIKBones[0]. Returns false, and leaves the
    // chain unusable (mIKBones[1] null), when the end bone is not set, is not
    // found in arm by name, or has no parent there.
    bool Setup(cArmature& arm);
    // One pass towards mTarget; updates mEffector. Does nothing on a chain
    // that Setup refused. t and action are not read.
    void EvaluateAt(unsigned int t, cAction& action);
};

#endif // QV_IKSOLVER_H
