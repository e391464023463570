#ifndef QV_FOOTLOCK_H
#define QV_FOOTLOCK_H

#include "QV_bone.h"
#include "QV_pose.h"
#include "QV_vector.h"

// Keeps one foot bone from sliding while it carries the character by moving
// the pose's root horizontally instead of the foot.
class cFootLock
{
public:
    cVector3D mDir;            // unit direction from the root towards its first child; where that
                               // is undefined (no child, or one on the root) the last one is kept
    cVector3D mLastPosition;   // foot position after the latest correction (world)
    cVector3D mLockedPosition; // foot position when the current lock engaged (world)
    cVector3D mOffset;         // latest ground correction; y is always 0
    bool mLock = false;
    cBone* mBone = nullptr; // the foot bone, in the armature (not owned)

    // Contact points, for cActor::mContactLock: the heel, the ball (the foot
    // bone's tail) and the toe tip (the tail of the foot's first child, where
    // it has one).
    enum
    {
        kHeel,
        kBall,
        kToeTip,
        kContactPoints
    };
    cVector3D mHeel;                        // the heel in the foot bone's frame: straight below the ankle in the
                                            // rest pose, as low as the foot's lowest rest point, at most a bone
                                            // length down
    cBone* mToe = nullptr;                  // the foot's first child (not owned), or null
    cVector3D mContactLast[kContactPoints]; // each point after the latest correction (world)
    int mContact = kHeel;                   // the point the foot stood on last
    bool mContactPrimed = false;            // mContactLast holds the previous frame; Evaluate clears it

    // Attaches the lock to b, frees it, sets mDir to (xx, yy, zz) and records
    // b's current world position as the last position. Places the heel and
    // finds the toes from the rest matrices.
    void Setup(cBone* b, float xx, float yy, float zz);
    // Decides whether the foot is locked this frame and shifts pose's root by
    // the foot's horizontal slide when it is. root is the armature's root
    // bone; both it and the foot bone must have current world matrices. A
    // lock without a bone does nothing; an undefined reference direction
    // releases the lock.
    void Evaluate(cBone* root, cPose& pose);

    // World positions of the contact points now (the toe tip is the ball
    // when there are no toes). Needs the bone; allocates nothing.
    void ContactPoints(cVector3D out[kContactPoints]) const;
};

// The direction the locks take as forward: from the root's head towards its
// first child's, as a unit vector. False, with dir untouched, where that is
// undefined (no child, a child on the root, not a finite direction).
bool LockDirection(const cBone* root, cVector3D& dir);

#endif // QV_FOOTLOCK_H
