#ifndef QV_FOOTLOCK_H
#define QV_FOOTLOCK_H

#include <cmath>

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

    // Contact points, for cActor::mContactLock: the heel, the ball and the
    // toe tip, placed by FootContactPoints below.
    enum
    {
        kHeel,
        kBall,
        kToeTip,
        kContactPoints
    };
    cVector3D mHeel;                        // the heel in the foot bone's frame: HeelDrop straight below the
                                            // ankle in the rest pose
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

    // World positions of the contact points now (FootContactPoints on the
    // foot's and the toes' world matrices). Needs the bone; allocates
    // nothing.
    void ContactPoints(cVector3D out[kContactPoints]) const;
};

// The direction the locks take as forward: from the root's head towards its
// first child's, as a unit vector. False, with dir untouched, where that is
// undefined (no child, a child on the root, not a finite direction).
bool LockDirection(const cBone* root, cVector3D& dir);

// ---------------------------------------------------------------------------
// The points a foot stands on: one rule for the contact locks (single
// precision, y up) and for the importer's planted feet (double precision,
// z up), so that a walk is planted on the points the demo holds.

// How far straight below the ankle the heel lies: down to the lower of the
// foot's other points (ball, toe tip), where a foot stands on the ground,
// but never above the ankle and never further down than the foot is long
// (footLength, either sign). Heights along the up axis, in the rest pose.
template <class Real> Real HeelDrop(Real ankle, Real ball, Real toeTip, Real footLength)
{
    return std::fmin(std::fmax(ankle - std::fmin(ball, toeTip), Real(0)), std::fabs(footLength));
}

// The contact points (cFootLock::kHeel, kBall, kToeTip) of a foot placed by
// the frame foot, its toes (the foot bone's first child) by *toes, or null
// for a foot without toes: the heel, a point in the foot's frame; the ball,
// the foot bone's tail; the toe tip, the toes' tail, or the ball where there
// are no toes. A frame times a point in its bone's frame (+y along the bone)
// gives the point where the frame places it.
template <class Frame, class Vec, class Real>
void FootContactPoints(const Frame& foot, Real footLength, const Vec& heel, const Frame* toes, Real toeLength,
                       Vec out[cFootLock::kContactPoints])
{
    out[cFootLock::kHeel] = foot * heel;
    out[cFootLock::kBall] = foot * Vec(Real(0), footLength, Real(0));
    out[cFootLock::kToeTip] = toes ? *toes * Vec(Real(0), toeLength, Real(0)) : out[cFootLock::kBall];
}

#endif // QV_FOOTLOCK_H
