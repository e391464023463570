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
    // Samples the three actions on the leg chains above the two foot bones
    // (either may be null). Without a foot there is nothing to match and the
    // index stays empty.
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
    std::vector<unsigned int> mTimes[3];
    std::vector<float> mSamples[3]; // per sample, mPoints points of three floats

    template <class Orientation> void Points(Orientation orientation, float* out) const;
    // The time of the sample of slot nearest want (mPoints points) among
    // those whose time keep accepts; fallback when none.
    template <class Keep>
    unsigned int Best(unsigned int slot, const float* want, Keep keep, unsigned int fallback) const;
};

#endif // QV_CROSSFADE_H
