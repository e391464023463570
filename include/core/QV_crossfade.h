#ifndef QV_CROSSFADE_H
#define QV_CROSSFADE_H

#include <vector>

#include "QV_action.h"
#include "QV_armature.h"
#include "QV_footlock.h"
#include "QV_pose.h"

// The outgoing side of a cross-fade between two actions (cActor::mCrossFade).
struct sActionFade
{
    bool mActive = false;       // a fade is running
    bool mFrozen = false;       // the outgoing side is a frozen pose (a request came during a fade), not an action
    unsigned int mFrom = 0;     // the outgoing slot, while not frozen
    unsigned int mTime = 0;     // the outgoing action's own clock, milliseconds
    float mWeight = 1.0f;       // the incoming action's share of the fade done, 0 to 1, linear in time
    float mHeight = 0.0f;       // the root height on screen (cActor::ApplyRootHeight)
    float mFrozenHeight = 0.0f; // the root height of the frozen pose
};

// Where each action has the legs over its cycle: a few points of each leg
// (hip, knee, ankle, ball) relative to the root, sampled every few
// milliseconds. A fade starts the incoming action at the sample whose legs
// lie nearest those of the pose on screen, so the legs do not jump. Built
// once (Build allocates); Nearest allocates nothing.
class cPhaseIndex
{
public:
    // Samples the first count of the actions (up to kActionSlots) on the leg
    // chains above the two foot bones (either may be null). Without a foot
    // there is nothing to match and the index stays empty.
    void Build(const cArmature& arm, const cAction* actions, unsigned int count, const cBone* rightFoot,
               const cBone* leftFoot);
    bool Empty() const { return mPoints == 0; }
    // The clock time in slot whose legs are nearest those of pose (its
    // orientations, before the heading), or fallback when the slot has no
    // samples or no distance is finite.
    unsigned int Nearest(unsigned int slot, const cPose& pose, unsigned int fallback) const;
    // The clock time in slot, from `from` to `within` milliseconds after it
    // (round the clock of an action `length` long), whose legs are nearest
    // those of slot `target`'s first sample; fallback when none lies there.
    unsigned int NearestAhead(unsigned int slot, unsigned int target, unsigned int from, unsigned int within,
                              unsigned int length, unsigned int fallback) const;

private:
    static constexpr unsigned int kMaxPoints = 8; // four per leg
    static constexpr unsigned int kStepMs = 8;    // sample spacing, at most kMaxSamples samples
    static constexpr unsigned int kMaxSamples = 512;
    static constexpr size_t kKeyBudget = 4000000; // keys walked per action while sampling, at most about

    const cArmature* mArm = nullptr;
    unsigned int mPoints = 0;
    unsigned int mBone[kMaxPoints] = {};         // the bone each point sits on
    bool mTip[kMaxPoints] = {};                  // the bone's tail rather than its head
    std::vector<unsigned int> mPath[kMaxPoints]; // bone indices from the root down to the point's bone
    std::vector<unsigned int> mTimes[kActionSlots];
    std::vector<float> mSamples[kActionSlots]; // per sample, mPoints points of three floats

    template <class Orientation> void Points(Orientation orientation, float* out) const;
    // The time of the sample of slot nearest want (mPoints points) among
    // those whose time keep accepts; fallback when none.
    template <class Keep>
    unsigned int Best(unsigned int slot, const float* want, Keep keep, unsigned int fallback) const;
};

// Where each action has the feet on the ground: the lowest contact point of
// each foot (cFootLock::ContactPoints: heel, ball or toe tip) relative to the
// root, sampled every few milliseconds. A stop (cCrossFade::FinishSteps)
// fades from the place in the walk's next step where one foot stands alone
// and, once the walk has slowed to a halt over the fade, stands where the
// stand has it: the root comes to rest over the standing foot as the stand
// places it, and the swinging foot comes down beside it. Built once (Build
// allocates); Choose allocates nothing.
class cStopIndex
{
public:
    // Samples the first count of the actions (up to kActionSlots) on the two
    // feet (either lock may be null or without a bone: then the index stays
    // empty).
    void Build(const cArmature& arm, const cAction* actions, unsigned int count, const cFootLock* right,
               const cFootLock* left);
    bool Empty() const { return mFeet == 0; }
    // The clock time in slot, from `from` to `within` milliseconds after it
    // (round the clock of an action `length` long), to fade into slot
    // `target` from, when the walk's clock runs on by `ahead` milliseconds
    // during the fade and `target`'s stands at targetTime at its end: where
    // one foot stands alone on the ground until then (the other at least a
    // fiftieth of its foot's length above it), and then lies nearest, over
    // the ground, where `target` has that foot. fallback when no such time
    // lies there.
    unsigned int Choose(unsigned int slot, unsigned int target, unsigned int targetTime, unsigned int from,
                        unsigned int within, unsigned int ahead, unsigned int length, unsigned int fallback) const;

private:
    static constexpr unsigned int kStepMs = 8; // sample spacing, at most kMaxSamples samples
    static constexpr unsigned int kMaxSamples = 512;
    static constexpr size_t kKeyBudget = 4000000; // keys walked per action while sampling, at most about

    struct sFoot
    {
        unsigned int mBone = 0;          // the foot bone
        bool mHasToe = false;            // the foot has toes (cFootLock::mToe)
        unsigned int mToe = 0;           // the toe bone, when it has
        cVector3D mHeel;                 // cFootLock::mHeel
        float mBand = 0.0f;              // how far above the other foot counts as off the ground
        std::vector<unsigned int> mPath; // bone indices from the root down to the foot bone
    };
    const cArmature* mArm = nullptr;
    unsigned int mFeet = 0; // 2 when both feet are found, else 0
    sFoot mFoot[2];
    unsigned int mStep[kActionSlots] = {};      // spacing of the slot's samples, from kRestartTime on
    unsigned int mArmLength[kActionSlots] = {}; // the slot's action's length when sampled
    std::vector<float> mSamples[kActionSlots];  // per sample, per foot: the lowest point's x, y, z

    const float* Sample(unsigned int slot, unsigned int t, unsigned int length) const;
};

// The cross-fade between actions (cActor::mCrossFade): the outgoing side of
// a change of action, played on its own clock and blended into the pose on
// screen while the incoming side fades in. The actor keeps the incoming side
// (its current slot and clock) and calls Step once a frame; a request for
// another slot starts a fade, turns a running one back, or freezes what is
// on screen and fades that out.
class cCrossFade
{
public:
    // Measures the actions once for where a fade starts the incoming one
    // (cPhaseIndex, on the leg chains above the feet) and where a stop
    // starts its fade (cStopIndex, on the feet; either lock may be null or
    // without a bone), and sizes the frozen pose for poses of poseBones bones.
    // Allocates; nothing else does.
    void Prepare(const cArmature& arm, const ActionSlots& actions, const cFootLock* rightFoot,
                 const cFootLock* leftFoot, size_t poseBones);
    // Whether Prepare has run for poses of poseBones bones.
    bool Ready(size_t poseBones) const { return mPrepared && mFrozen.size() == poseBones; }

    // One frame of dt milliseconds. actions are the actor's action slots;
    // current and time its playing slot and clock, and pose that slot
    // evaluated at that time. A running fade plays its outgoing side into
    // scratch and blends it into pose, and true says so: the root height to
    // show is then Fade().mHeight. Then a request (next, when it is another
    // slot) starts, turns back or restarts a fade of blend milliseconds,
    // which sets current and time to where the incoming action starts.
    // Needs Ready; allocates nothing.
    bool Step(unsigned int dt, const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int& current,
              unsigned int& time, cPose& pose, cPose& scratch);
    // Drops a running fade, for the switch turned off: it is not resumed
    // when the switch comes back on.
    void Stop()
    {
        mFade.mActive = false;
        mStopAt = kNoStop;
        mStopping = false;
    }
    // With on (the demo's contact locks on too), a stop asked of a walk waits
    // until the walk reaches the place within its next step where one foot
    // stands alone and would come to rest where the stand has it
    // (cStopIndex): the step is finished, then the fade begins, and the
    // walk slows to a halt over it. Without the stop index, the place where
    // the legs are nearest the stand's.
    void FinishSteps(bool on) { mFinishSteps = on; }
    // A stop is waiting for its step to finish: the request is not followed
    // yet.
    bool Waiting() const { return mStopAt != kNoStop; }
    // The running fade is a stop's, begun once the step was finished: the
    // feet that are down hold where they are until it ends
    // (cActor::Animate).
    bool Stopping() const { return mFade.mActive && mStopping; }

    const sActionFade& Fade() const { return mFade; }

private:
    sActionFade mFade;
    cPhaseIndex mPhases;
    cStopIndex mStops;
    bool mPrepared = false;
    std::vector<cQuaternion> mFrozen; // the pose on screen when a request interrupted a fade

    // stop: the step has just been finished, and the stand starts from its
    // start (cStopIndex chose the place to stop from for that).
    void Start(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int& current,
               unsigned int& time, const cPose& pose, cPose& scratch, bool stop);
    // True while a stop finishes its step (FinishSteps).
    // finished says the step has just been finished: the fade that starts
    // now is a stop's.
    bool FinishingStep(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int current,
                       unsigned int time, bool& finished);

    static constexpr unsigned int kNoStop = 0; // no stop waiting (no clock time lies before kRestartTime)
    bool mFinishSteps = false;
    unsigned int mStopAt = kNoStop; // the walk's clock time to fade into the stand from
    unsigned int mStopFrom = 0;     // the clock when the stop was asked
    bool mStopping = false;         // the running fade is a stop's: the outgoing walk slows to a halt
    float mSlowClock = 0.0f;        // the part of a millisecond the slowed clock has run on
};

#endif // QV_CROSSFADE_H
