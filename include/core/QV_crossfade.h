#ifndef QV_CROSSFADE_H
#define QV_CROSSFADE_H

#include <vector>

#include "QV_action.h"
#include "QV_armature.h"
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
    // (cPhaseIndex, on the leg chains above the feet, either of which may
    // be null) and sizes the frozen pose for poses of poseBones bones.
    // Allocates; nothing else does.
    void Prepare(const cArmature& arm, const ActionSlots& actions, const cBone* rightFoot, const cBone* leftFoot,
                 size_t poseBones);
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
    }
    // With on (the demo's contact locks on too), a stop asked of a walk waits
    // until the walk reaches the place within its next step where its legs
    // are nearest the stand's: the step is finished, then the fade begins.
    void FinishSteps(bool on) { mFinishSteps = on; }
    // A stop is waiting for its step to finish: the request is not followed
    // yet.
    bool Waiting() const { return mStopAt != kNoStop; }

    const sActionFade& Fade() const { return mFade; }

private:
    sActionFade mFade;
    cPhaseIndex mPhases;
    bool mPrepared = false;
    std::vector<cQuaternion> mFrozen; // the pose on screen when a request interrupted a fade

    void Start(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int& current,
               unsigned int& time, const cPose& pose, cPose& scratch);
    // True while a stop finishes its step (FinishSteps).
    bool FinishingStep(const ActionSlots& actions, unsigned int next, unsigned int current, unsigned int time);

    static constexpr unsigned int kNoStop = 0; // no stop waiting (no clock time lies before kRestartTime)
    bool mFinishSteps = false;
    unsigned int mStopAt = kNoStop; // the walk's clock time to fade into the stand from
    unsigned int mStopFrom = 0;     // the clock when the stop was asked
};

#endif // QV_CROSSFADE_H
