#ifndef QV_LEGIK_H
#define QV_LEGIK_H

#include "QV_armature.h"
#include "QV_pose.h"
#include "QV_vector.h"

// Two-bone reach of a leg: the foot bone's grandparent (the thigh, turning
// at the hip), its parent (the shin, turning at the knee) and the foot. The
// knee bends in the plane the leg already bends in, so that only its angle
// changes, then the hip turns the whole leg onto the target; the foot keeps
// its orientation relative to the shin. (cIK, QV_iksolver.h, turns one joint
// a pass about the world z axis only, which is not the way a leg bends.)
struct sLegReach
{
    const cArmature* mArm = nullptr; // world matrices current (cArmature::Update)
    const cBone* mFoot = nullptr;    // the foot bone, in mArm
    cVector3D mTarget;               // where the ankle (the foot bone's head) should be, world

    // A foot with a shin and a thigh in the armature, and the pose holds
    // every bone of the armature.
    bool Validate(const cPose& pose) const;
    // Writes the thigh's and the shin's orientations into pose (the bones
    // with the same indices); the caller brings the armature up to date from
    // the pose. A target out of the leg's reach is met as nearly as the
    // leg reaches, a straight leg is never bent (its plane is unknown), and
    // a result that is not finite is not written. Returns whether anything
    // was written.
    bool Run(cPose& pose) const;
};

#endif // QV_LEGIK_H
