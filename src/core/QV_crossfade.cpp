// The cross-fade between actions (cActor::mCrossFade): the leg index that
// picks where the incoming action starts, and the fade's per-frame step.
//
// Sections:
//   cPhaseIndex           Points (leg points from orientations), Build, Nearest
//   cCrossFade            clock arithmetic, Prepare, Step (per frame), Start
//                         (a new request)
#include "QV_crossfade.h"

#include <math.h>

#include <algorithm>
#include <utility>

#include "QV_character.h"

// ---------------------------------------------------------------------------
// cPhaseIndex

template <class Orientation> void cPhaseIndex::Points(Orientation orientation, float* out) const
{
    const std::vector<cBone>& bones = mArm->mBones;
    for (unsigned int p = 0; p < mPoints; ++p)
    {
        // The bone's matrix relative to the root's head, built down the path
        // the way the pose builds it: rest rotation times the orientation,
        // the local translation kept.
        cMatrix4D m;
        for (size_t k = 0; k < mPath[p].size(); ++k)
        {
            const cBone& b = bones[mPath[p][k]];
            cMatrix4D r;
            r.setFromQuat(orientation(mPath[p][k]));
            cMatrix4D local = b.mTransform;
            local.setRotation(b.mRestTransform * r);
            if (k == 0)
            {
                local.setTransform(0.0f, 0.0f, 0.0f);
                m = local;
            }
            else
            {
                m = m * local;
            }
        }
        const cVector3D v = mTip[p] ? m * cVector3D(0.0f, bones[mBone[p]].mLength, 0.0f) : m.getTransform();
        out[3 * p] = v.mData[0];
        out[3 * p + 1] = v.mData[1];
        out[3 * p + 2] = v.mData[2];
    }
}

void cPhaseIndex::Build(const cArmature& arm, const cAction* actions, unsigned int count, const cBone* rightFoot,
                        const cBone* leftFoot)
{
    mArm = &arm;
    mPoints = 0;
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        mTimes[s].clear();
        mSamples[s].clear();
    }
    if (!arm.mRootBone || arm.mBones.empty())
        return;

    const cBone* base = arm.mBones.data();
    auto addPoint = [&](const cBone* b, bool tip) {
        if (!b || mPoints >= kMaxPoints || b < base || b >= base + arm.mBones.size())
            return;
        std::vector<unsigned int>& path = mPath[mPoints];
        path.clear();
        const cBone* up = b;
        for (; up && path.size() <= arm.mBones.size(); up = up->mParent)
            path.push_back((unsigned int)(up - base));
        if (path.back() != (unsigned int)(arm.mRootBone - base))
            return; // not below the root: never drawn, nothing to match
        std::reverse(path.begin(), path.end());
        mBone[mPoints] = (unsigned int)(b - base);
        mTip[mPoints] = tip;
        ++mPoints;
    };
    for (const cBone* foot : {rightFoot, leftFoot})
    {
        if (!foot)
            continue;
        addPoint(foot, true);  // ball
        addPoint(foot, false); // ankle
        const cBone* knee = foot->mParent;
        addPoint(knee, false);
        addPoint(knee ? knee->mParent : nullptr, false); // hip
    }
    if (mPoints == 0)
        return;

    // The bones on the paths, each evaluated once per sample.
    std::vector<unsigned int> used;
    for (unsigned int p = 0; p < mPoints; ++p)
        used.insert(used.end(), mPath[p].begin(), mPath[p].end());
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::vector<cQuaternion> orientation(arm.mBones.size());

    for (unsigned int s = 0; s < std::min(count, kActionSlots); ++s)
    {
        const cAction& action = actions[s];
        if (action.mChannels.empty())
            continue;
        // The clock runs from the restart time to the action's length. A
        // channel is evaluated by a walk over its keys, so an action with
        // very many keys on the legs gets fewer samples: building the index
        // stays quick whatever the file holds.
        size_t keys = 1;
        for (unsigned int i : used)
            if (i < action.mChannels.size())
                keys += action.mChannels[i].mKeyFrames.size();
        const unsigned int affordable =
            (unsigned int)std::max<size_t>(2, std::min<size_t>(kMaxSamples, kKeyBudget / keys));
        const unsigned int first = kRestartTime;
        const unsigned int last = std::max(action.mLength, kRestartTime);
        const unsigned int span = last - first;
        const unsigned int step = std::max(kStepMs, span / (affordable - 1) + 1);
        float points[kMaxPoints * 3];
        for (unsigned long long next = first;; next += step)
        {
            const unsigned int t = (unsigned int)std::min<unsigned long long>(next, last);
            for (unsigned int i : used)
            {
                orientation[i] = arm.mBones[i].mOrientation;
                if (i < action.mChannels.size())
                    action.mChannels[i].EvaluateAt(t, orientation[i]);
            }
            Points([&](unsigned int i) { return orientation[i]; }, points);
            mTimes[s].push_back(t);
            mSamples[s].insert(mSamples[s].end(), points, points + 3 * mPoints);
            if (t == last)
                break;
        }
    }
}

unsigned int cPhaseIndex::Nearest(unsigned int slot, const cPose& pose, unsigned int fallback) const
{
    if (slot >= kActionSlots || mPoints == 0 || mTimes[slot].empty())
        return fallback;
    const cBone* poseBones = pose.mPoseBones.data();
    const size_t poseCount = pose.mPoseBones.size();
    const std::vector<cBone>& bones = mArm->mBones;
    float now[kMaxPoints * 3];
    Points([&](unsigned int i) { return i < poseCount ? poseBones[i].mOrientation : bones[i].mOrientation; }, now);

    return Best(
        slot, now, [](unsigned int) { return true; }, fallback);
}

template <class Keep>
unsigned int cPhaseIndex::Best(unsigned int slot, const float* want, Keep keep, unsigned int fallback) const
{
    const unsigned int n = 3 * mPoints;
    const float* sample = mSamples[slot].data();
    float best = INFINITY;
    unsigned int bestTime = fallback;
    for (size_t k = 0; k < mTimes[slot].size(); ++k, sample += n)
    {
        if (!keep(mTimes[slot][k]))
            continue;
        float d = 0.0f;
        for (unsigned int i = 0; i < n; ++i)
            d += (sample[i] - want[i]) * (sample[i] - want[i]);
        if (d < best)
        {
            best = d;
            bestTime = mTimes[slot][k];
        }
    }
    return bestTime;
}

namespace
{
// The clock runs from kRestartTime to the action's length and then starts
// again: the period of a loop, milliseconds (at least 1).
unsigned int CyclePeriod(unsigned int length) { return length > kRestartTime ? length - kRestartTime + 1 : 1; }

// How far the clock runs from a to b, round a loop of an action that long.
unsigned int ClockDistance(unsigned int a, unsigned int b, unsigned int length)
{
    const unsigned int period = CyclePeriod(length);
    return (b + period - a % period) % period;
}
} // namespace

unsigned int cPhaseIndex::NearestAhead(unsigned int slot, unsigned int target, unsigned int from, unsigned int within,
                                       unsigned int length, unsigned int fallback) const
{
    if (slot >= kActionSlots || target >= kActionSlots || mPoints == 0 || mTimes[slot].empty() ||
        mTimes[target].empty())
        return fallback;
    return Best(
        slot, mSamples[target].data(), [&](unsigned int t) { return ClockDistance(from, t, length) <= within; },
        fallback);
}

// ---------------------------------------------------------------------------
// cCrossFade

namespace
{

// Where the clock of an action of that length stands ms milliseconds after t.
unsigned int ClockAfter(unsigned int t, unsigned int ms, unsigned int length)
{
    if (length <= kRestartTime)
        return kRestartTime;
    const unsigned int period = CyclePeriod(length);
    const unsigned int from = t < kRestartTime ? 0 : std::min(t, length) - kRestartTime;
    return kRestartTime + (unsigned int)(((unsigned long long)from + ms) % period);
}
} // namespace

void cCrossFade::Prepare(const cArmature& arm, const ActionSlots& actions, const cBone* rightFoot,
                         const cBone* leftFoot, size_t poseBones)
{
    mPhases.Build(arm, actions, kActionSlots, rightFoot, leftFoot);
    mFrozen.assign(poseBones, cQuaternion());
    mPrepared = true;
}

bool cCrossFade::Step(unsigned int dt, const ActionSlots& actions, unsigned int next, unsigned int blend,
                      unsigned int& current, unsigned int& time, cPose& pose, cPose& scratch)
{
    if (mFade.mActive)
    {
        mFade.mWeight = blend > 0 ? std::min(1.0f, mFade.mWeight + (float)dt / (float)blend) : 1.0f;
        if (mFade.mWeight >= 1.0f)
            mFade.mActive = false;
    }
    const bool blending = mFade.mActive;
    if (blending)
    {
        if (mFade.mFrozen)
        {
            const size_t n = std::min(mFrozen.size(), scratch.mPoseBones.size());
            for (size_t i = 0; i < n; ++i)
                scratch.mPoseBones[i].mOrientation = mFrozen[i];
        }
        else
        {
            // The outgoing action's clock runs and restarts as the main one does.
            const cAction& from = actions[mFade.mFrom];
            mFade.mTime += dt;
            if (mFade.mTime > from.mLength)
                mFade.mTime = kRestartTime;
            from.EvaluateAt(mFade.mTime, scratch);
        }
        // q and -q are one rotation, but nlerp between them passes through
        // zero: blend towards whichever sign lies on the incoming side.
        const size_t n = std::min(pose.mPoseBones.size(), scratch.mPoseBones.size());
        for (size_t i = 0; i < n; ++i)
        {
            const cQuaternion& a = pose.mPoseBones[i].mOrientation;
            cQuaternion& b = scratch.mPoseBones[i].mOrientation;
            if (a.mData[0] * b.mData[0] + a.mData[1] * b.mData[1] + a.mData[2] * b.mData[2] + a.mData[3] * b.mData[3] <
                0.0f)
                b = cQuaternion(-b.mData[0], -b.mData[1], -b.mData[2], -b.mData[3]);
        }
        // Eased at both ends, so that no bone changes speed abruptly when the
        // fade begins or ends.
        const float w = mFade.mWeight;
        const float out = 1.0f - w * w * (3.0f - 2.0f * w);
        pose.Blend(out, scratch);

        // The root's height fades with the same weights.
        const float incoming = actions[current].RootHeightAt(time);
        const float outgoing = mFade.mFrozen ? mFade.mFrozenHeight : actions[mFade.mFrom].RootHeightAt(mFade.mTime);
        mFade.mHeight = incoming + (outgoing - incoming) * out;
    }
    else
        mFade.mHeight = actions[current].RootHeightAt(time);

    if (next != current && next < kActionSlots && !FinishingStep(actions, next, current, time))
        Start(actions, next, blend, current, time, pose, scratch);
    return blending;
}

bool cCrossFade::FinishingStep(const ActionSlots& actions, unsigned int next, unsigned int current, unsigned int time)
{
    // A walk asked to stop walks on to where its legs are nearest the
    // stand's (the swinging foot comes down beside the standing one) within
    // the next step, and fades from there: stopped at once, the planted feet
    // glide into the stand by up to half a stride.
    const bool stopping =
        mFinishSteps && next == kStandSlot && current != kStandSlot && current < kActionSlots && !mFade.mActive;
    if (!stopping)
    {
        mStopAt = kNoStop;
        return false;
    }
    const unsigned int length = actions[current].mLength;
    if (mStopAt == kNoStop)
    {
        mStopFrom = time;
        mStopAt = mPhases.NearestAhead(current, kStandSlot, time, CyclePeriod(length) / 2, length, kNoStop);
        if (mStopAt == kNoStop)
            return false;
    }
    // The step is finished once the clock has run as far as the place to stop
    // from (the clock only moves on, by less than the step each frame).
    if (ClockDistance(mStopFrom, time, length) >= ClockDistance(mStopFrom, mStopAt, length))
    {
        mStopAt = kNoStop;
        return false;
    }
    return true;
}

void cCrossFade::Start(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int& current,
                       unsigned int& time, const cPose& pose, cPose& scratch)
{
    if (mFade.mActive && !mFade.mFrozen && next == mFade.mFrom)
    {
        // Back to the action that was fading out: it fades in again from
        // where it is, and the blend carries on from the pose on screen (the
        // easing is symmetric, so 1 - w shows the same mix).
        std::swap(mFade.mFrom, current);
        std::swap(mFade.mTime, time);
        mFade.mWeight = 1.0f - mFade.mWeight;
        return;
    }
    if (mFade.mActive)
    {
        // A third action while two are mixed: what is on screen now holds
        // still and fades out, rather than either action jumping back in.
        const size_t n = std::min(mFrozen.size(), pose.mPoseBones.size());
        for (size_t i = 0; i < n; ++i)
            mFrozen[i] = pose.mPoseBones[i].mOrientation;
        mFade.mFrozenHeight = mFade.mHeight;
        mFade.mFrozen = true;
    }
    else
    {
        mFade.mFrozen = false;
        mFade.mFrom = current;
        mFade.mTime = time;
    }
    mFade.mActive = true;
    mFade.mWeight = 0.0f;

    // The two sides weigh the same half way through the fade, so that is
    // where their legs should agree: the incoming action starts half a fade
    // before the phase whose legs are nearest where the outgoing side will
    // have them by then. (Matched at the start instead, a walk that starts
    // from standing must swing a foot a whole step forward along the ground
    // during the fade.) A frozen pose stays where it is.
    const unsigned int half = blend / 2;
    const cPose* ahead = &pose;
    if (!mFade.mFrozen)
    {
        const cAction& from = actions[mFade.mFrom];
        from.EvaluateAt(ClockAfter(mFade.mTime, half, from.mLength), scratch);
        ahead = &scratch;
    }
    const unsigned int noMatch = 0; // no sample lies before the restart time
    const unsigned int match = mPhases.Nearest(next, *ahead, noMatch);
    if (match != noMatch)
    {
        const unsigned int length = actions[next].mLength;
        time = ClockAfter(match, CyclePeriod(length) - half % CyclePeriod(length), length);
    }
    current = next;
}
