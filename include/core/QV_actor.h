#ifndef QV_ACTOR_H
#define QV_ACTOR_H

#include <string>
#include <vector>

#include "QV_action.h"
#include "QV_armature.h"
#include "QV_body.h"
#include "QV_crossfade.h"
#include "QV_footlock.h"
#include "QV_pose.h"

// The animated character: an armature, two pose buffers, kActionSlots action
// slots and two foot locks.
class cActor
{
public:
    std::string mName;
    cPose mPose;
    cPose mPose2;
    cArmature mArmature;
    cAction mAction[kActionSlots];
    unsigned int mNextAction;
    unsigned int mCurrentAction;
    unsigned int mTime;
    unsigned int mBlend;
    unsigned int mWalkCycle;
    cFootLock mLeftFoot;
    cFootLock mRightFoot;
    float mHeading;
    // The skinned mesh the file may carry; empty without one. Posed by
    // mBody.Skin(mArmature) when a program shows it.
    cBody mBody;
    // Where the library's origin lies in the world, in whole units along x
    // and z (y stays 0): the true position of anything the actor holds (the
    // root and every bone, the foot locks' positions) is its position plus
    // this. Single-precision positions lose their fine steps far from the
    // origin, so Animate keeps the root near it: once the root is more than
    // kRecentreDistance from the origin along x or z, the whole scene moves
    // back by whole units along that axis and this grows by as much (see
    // Recentre). Starts at 0; a program that places the actor far away may
    // set it to say where.
    long long mOriginShift[3] = {0, 0, 0};

    // How far along x or z the root may go before Animate moves the scene
    // back, units. Within it, single-precision positions step by at most
    // about 1e-5 units, and Animate's results are those of a library
    // without re-centring, bit for bit.
    static constexpr float kRecentreDistance = 128.0f;

    // Two improvements over the default playback, both off unless a program
    // sets them (the demo toggles them with B and F).
    // A change of action cross-fades over mBlend milliseconds: the outgoing
    // action keeps playing on its own clock while the incoming one, started
    // where its legs best match, fades in; with mContactLock too, a stop
    // first finishes the walk's step (cCrossFade::FinishSteps), then holds
    // the standing foot and brings the swinging one down beside it
    // (KeepSwingClear). Off: the
    // incoming action starts at the carried clock from one frame to the next.
    bool mCrossFade = false;
    // The foot locks hold the point the foot stands on (heel, then ball or
    // toe tip) rather than the ankle, and the root travels by that point's
    // slide. Off: each lock holds its ankle.
    bool mContactLock = false;

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
    // restarts at kRestartTime (34 ms) once it passes the current action's
    // length; a change of mNextAction is played from the next call on (a
    // slot number of kActionSlots or more is not followed). It first moves
    // the scene back when the root is far out (Recentre). Allocates nothing
    // (but for the first frame with mCrossFade, see PrepareCrossFade).
    // mCrossFade steps the cross-fade (cCrossFade) and mContactLock holds the
    // feet by their contact points (HoldContacts) instead of the ankle locks;
    // with both off, every result is what it was before they existed.
    void Animate(unsigned int t);
    // Sets the pose root's height to its rest height plus height, when any
    // action keys root heights; otherwise leaves it alone, as files without
    // heights always have.
    void ApplyRootHeight(float height);
    // Moves the scene back by whole units along each of x and z on which the
    // root lies more than kRecentreDistance from the origin, so that it lies
    // within half a unit of it again: the root's local translation, every
    // bone's world matrix and both foot locks' remembered positions move by
    // the same whole number, and mOriginShift takes it up. A shift by whole
    // units leaves the ground grid where it was and everything on it in
    // place relative to the other, so nothing changes on screen. Animate
    // calls it first thing each frame. Allocates nothing.
    void Recentre();
    // Writes the pose's local matrices and orientations into the armature and
    // recomputes its world matrices.
    void ApplyPose(const cPose& pose);

    // What the cross-fade needs, measured from the actions once: where their
    // legs are over the cycle. Animate builds it on the first frame with
    // mCrossFade; a program that calls it after loading (it allocates, once)
    // has no frame allocate. Needs SetConstraints first (it follows the feet).
    void PrepareCrossFade();

    // The state of the running fade, for programs that show or measure it.
    const sActionFade& Fade() const { return mFader.Fade(); }

private:
    // The foot that stands through a stop's fade: the one that stood when it
    // began (mStopStance, kept until the fade ends).
    const cFootLock* StopStance();
    // During a stop's fade, with the contact locks (stance not null): the
    // foot that swings while stance stands is kept above stance's ground
    // until the fade ends (sLegReach lifts it), so that it comes down once,
    // where the stand puts it. Otherwise a lift left from a stop cut short
    // falls away over dt milliseconds. Needs current world matrices; leaves
    // them current.
    void KeepSwingClear(const cFootLock* stance, unsigned int dt);

public:
private:
    // How high the swinging foot passes over the ground half way through a
    // stop's fade, at least: a fraction of the leg's length (thigh and shin).
    static constexpr float kSwingClearance = 0.03f;

    // How fast a lift left from a stop cut short falls away: leg lengths
    // (thigh and shin) per millisecond.
    static constexpr float kSwingFall = 0.001f;

    const cFootLock* mStopStance = nullptr; // StopStance, while a stop's fade runs
    cFootLock* mSwingFoot = nullptr;        // the foot KeepSwingClear lifts, while it does
    float mSwingLift = 0.0f;                // how far it lifted it last frame, units
    cCrossFade mFader;                      // the outgoing side of a change of action, with mCrossFade
};

#endif // QV_ACTOR_H
