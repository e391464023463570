#ifndef _QV_FOOTLOCK_H_
#define _QV_FOOTLOCK_H_

#include "QV_bone.h"
#include "QV_pose.h"
#include "QV_vector.h"

// Keeps one foot bone from sliding while it carries the character by moving
// the pose's root horizontally instead of the foot.
class cFootLock
{
public:
    cVector3D mDir;           // unit direction from the root towards its first child; where that
                              // is undefined (no child, or one on the root) the last one is kept
    cVector3D mLastPosition;  // foot position after the latest correction (world)
    cVector3D mLockedPosition; // foot position when the current lock engaged (world)
    cVector3D mOffset;        // latest ground correction; y is always 0
    bool mLock = false;
    cBone* mBone = nullptr;   // the foot bone, in the armature (not owned)

    // Attaches the lock to b, frees it, sets mDir to (xx, yy, zz) and records
    // b's current world position as the last position.
    void Setup(cBone* b, float xx, float yy, float zz);
    // Decides whether the foot is locked this frame and shifts pose's root by
    // the foot's horizontal slide when it is. root is the armature's root
    // bone; both it and the foot bone must have current world matrices. A
    // lock without a bone does nothing; an undefined reference direction
    // releases the lock.
    void Evaluate(cBone* root, cPose& pose);
};

#endif // _QV_FOOTLOCK_H_
