#ifndef _QV_ACTOR_H_
#define _QV_ACTOR_H_

#include <string>

#include "QV_action.h"
#include "QV_armature.h"
#include "QV_footlock.h"
#include "QV_pose.h"

// The animated character: an armature, two pose buffers, three action slots
// and two foot locks.
class cActor
{
public:
    std::string mName;
    cPose mPose;
    cPose mPose2;
    cArmature mArmature;
    cAction mAction[3];
    unsigned int mNextAction;
    unsigned int mCurrentAction;
    unsigned int mTime;
    unsigned int mBlend;
    unsigned int mWalkCycle;
    cFootLock mLeftFoot;
    cFootLock mRightFoot;
    float mHeading;

    cActor();
    // Bones, poses and foot locks point into the actor's own vectors, so an
    // actor is never copied.
    cActor(const cActor&) = delete;
    cActor& operator=(const cActor&) = delete;

    // Installs the foot locks on the foot bones QV_character.h names
    // ("Bone.008" left, "Bone.007" right). A foot that is missing leaves its
    // lock unattached, and it is skipped.
    void SetConstraints();
    // Recomputes the world matrices, when there is a root bone.
    void UpdateArmature();
    // Draws the armature in the given mode, when there is a root bone.
    // Defined by the drawing layer (QV_draw.cpp): the core has no OpenGL.
    void DrawArmature(unsigned int mode);
    // Advances the actor by t milliseconds: the per-frame step. The clock
    // restarts at kRestartTime (34 ms) once it passes the current action's length; a change
    // of mNextAction is played from the next call on (a slot number of 3 or
    // more is not followed). Allocates nothing.
    void Animate(unsigned int t);
    // Sets the pose root's height to its rest height plus the current
    // action's root height at the clock, when any action keys heights.
    void ApplyRootHeight();
    // Writes the pose's local matrices and orientations into the armature and
    // recomputes its world matrices.
    void ApplyPose(const cPose& pose);
};

#endif // _QV_ACTOR_H_
