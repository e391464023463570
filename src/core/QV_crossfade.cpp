// The cross-fade between actions (cActor::mCrossFade): the leg index that
// picks where the incoming action starts, and the fade's per-frame step.
//
// Sections:
//   Clock and chains      clock arithmetic round a loop, a bone's matrix
//                         relative to the root
//   cPhaseIndex           Points (leg points from orientations), Build, Nearest
//   cStopIndex            Build (the feet's lowest points), Choose (where a
//                         stop fades from)
//   cCrossFade            Prepare, Step (per frame), Start (a new request)
#include "QV_crossfade.h"

#include <math.h>

#include <algorithm>
#include <utility>

#include "QV_character.h"

// ---------------------------------------------------------------------------
// Clock and chains

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

// Where the clock of an action of that length stands ms milliseconds after t.
unsigned int ClockAfter(unsigned int t, unsigned int ms, unsigned int length)
{
    if (length <= kRestartTime)
        return kRestartTime;
    const unsigned int period = CyclePeriod(length);
    const unsigned int from = t < kRestartTime ? 0 : std::min(t, length) - kRestartTime;
    return kRestartTime + (unsigned int)(((unsigned long long)from + ms) % period);
}

// The matrix of the last bone of path (bone indices from the root down)
// relative to the root's head, built down the path the way the pose builds
// it: rest rotation times the orientation, the local translation kept.
template <class Orientation>
cMatrix4D PathMatrix(const std::vector<cBone>& bones, const std::vector<unsigned int>& path, Orientation orientation)
{
    cMatrix4D m;
    for (size_t k = 0; k < path.size(); ++k)
    {
        const cBone& b = bones[path[k]];
        cMatrix4D r;
        r.setFromQuat(orientation(path[k]));
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
    return m;
}

// The bone indices from the root down to b, or false (path cleared) where b
// is not one of arm's bones below its root.
bool PathTo(const cArmature& arm, const cBone* b, std::vector<unsigned int>& path)
{
    path.clear();
    const cBone* base = arm.mBones.data();
    if (!b || !arm.mRootBone || b < base || b >= base + arm.mBones.size())
        return false;
    for (const cBone* up = b; up && path.size() <= arm.mBones.size(); up = up->mParent)
        path.push_back((unsigned int)(up - base));
    if (path.back() != (unsigned int)(arm.mRootBone - base))
    {
        path.clear();
        return false;
    }
    std::reverse(path.begin(), path.end());
    return true;
}

// Sorts the bone indices and drops repeats: each bone is evaluated once.
void Distinct(std::vector<unsigned int>& bones)
{
    std::sort(bones.begin(), bones.end());
    bones.erase(std::unique(bones.begin(), bones.end()), bones.end());
}

// How many samples an action's clock affords on the bones used (at least 2,
// at most most). A channel is evaluated by a walk over its keys, so an
// action with very many keys on them gets fewer samples: building an index
// stays quick whatever the file holds.
unsigned int AffordableSamples(const cAction& action, const std::vector<unsigned int>& used, unsigned int most,
                               size_t budget)
{
    size_t keys = 1;
    for (unsigned int i : used)
        if (i < action.mChannels.size())
            keys += action.mChannels[i].mKeyFrames.size();
    return (unsigned int)std::max<size_t>(2, std::min<size_t>(most, budget / keys));
}
} // namespace

// ---------------------------------------------------------------------------
// cPhaseIndex

template <class Orientation> void cPhaseIndex::Points(Orientation orientation, float* out) const
{
    const std::vector<cBone>& bones = mArm->mBones;
    for (unsigned int p = 0; p < mPoints; ++p)
    {
        const cMatrix4D m = PathMatrix(bones, mPath[p], orientation);
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
        // A bone not below the root is never drawn: nothing to match.
        if (mPoints >= kMaxPoints || !PathTo(arm, b, mPath[mPoints]))
            return;
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
    Distinct(used);
    std::vector<cQuaternion> orientation(arm.mBones.size());

    for (unsigned int s = 0; s < std::min(count, kActionSlots); ++s)
    {
        const cAction& action = actions[s];
        if (action.mChannels.empty())
            continue;
        // The clock runs from the restart time to the action's length.
        const unsigned int affordable = AffordableSamples(action, used, kMaxSamples, kKeyBudget);
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
// cStopIndex

void cStopIndex::Build(const cArmature& arm, const cAction* actions, unsigned int count, const cFootLock* right,
                       const cFootLock* left)
{
    mArm = &arm;
    mFeet = 0;
    for (unsigned int s = 0; s < kActionSlots; ++s)
    {
        mStep[s] = 0;
        mSamples[s].clear();
    }
    const cFootLock* locks[2] = {right, left};
    const cBone* base = arm.mBones.data();
    for (int f = 0; f < 2; ++f)
    {
        sFoot& foot = mFoot[f];
        if (!locks[f] || !PathTo(arm, locks[f]->mBone, foot.mPath))
            return;
        foot.mBone = foot.mPath.back();
        const cBone* toe = locks[f]->mToe;
        foot.mHasToe = toe && toe >= base && toe < base + arm.mBones.size() && toe->mParent == locks[f]->mBone;
        foot.mToe = foot.mHasToe ? (unsigned int)(toe - base) : 0;
        foot.mHeel = locks[f]->mHeel;
        foot.mBand = 0.02f * fabsf(locks[f]->mBone->mLength);
    }

    std::vector<unsigned int> used;
    for (const sFoot& foot : mFoot)
    {
        used.insert(used.end(), foot.mPath.begin(), foot.mPath.end());
        if (foot.mHasToe)
            used.push_back(foot.mToe);
    }
    Distinct(used);
    std::vector<cQuaternion> orientation(arm.mBones.size());
    auto oriented = [&](unsigned int i) { return orientation[i]; };

    for (unsigned int s = 0; s < std::min(count, kActionSlots); ++s)
    {
        const cAction& action = actions[s];
        if (action.mChannels.empty())
            continue;
        const unsigned int affordable = AffordableSamples(action, used, kMaxSamples, kKeyBudget);
        const unsigned int span = CyclePeriod(action.mLength) - 1;
        mStep[s] = std::max(kStepMs, span / (affordable - 1) + 1);
        mArmLength[s] = action.mLength;
        for (unsigned int t = kRestartTime; t <= kRestartTime + span; t += mStep[s])
        {
            for (unsigned int i : used)
            {
                orientation[i] = arm.mBones[i].mOrientation;
                if (i < action.mChannels.size())
                    action.mChannels[i].EvaluateAt(t, orientation[i]);
            }
            for (const sFoot& foot : mFoot)
            {
                const cMatrix4D m = PathMatrix(arm.mBones, foot.mPath, oriented);
                cMatrix4D toe;
                if (foot.mHasToe)
                {
                    toe = arm.mBones[foot.mToe].mTransform;
                    cMatrix4D r;
                    r.setFromQuat(orientation[foot.mToe]);
                    toe.setRotation(arm.mBones[foot.mToe].mRestTransform * r);
                    toe = m * toe;
                }
                cVector3D points[cFootLock::kContactPoints];
                FootContactPoints(m, arm.mBones[foot.mBone].mLength, foot.mHeel, foot.mHasToe ? &toe : nullptr,
                                  foot.mHasToe ? arm.mBones[foot.mToe].mLength : 0.0f, points);
                // Over the ground the ankle, which stays put on a flat foot
                // whichever of its points lies lowest; its height, the lowest
                // point's.
                float low = points[cFootLock::kHeel].mData[1];
                for (const cVector3D& p : points)
                    low = std::min(low, p.mData[1]);
                const cVector3D ankle = m.getTransform();
                const float sample[3] = {ankle.mData[0], low, ankle.mData[2]};
                mSamples[s].insert(mSamples[s].end(), sample, sample + 3);
            }
        }
    }
    mFeet = 2;
}

const float* cStopIndex::Sample(unsigned int slot, unsigned int t, unsigned int length) const
{
    const size_t count = mSamples[slot].size() / 6;
    const size_t k =
        std::min<size_t>(count - 1, (ClockDistance(kRestartTime, t, length) + mStep[slot] / 2) / mStep[slot]);
    return &mSamples[slot][6 * k];
}

unsigned int cStopIndex::Choose(unsigned int slot, unsigned int target, unsigned int targetTime, unsigned int from,
                                unsigned int within, unsigned int ahead, unsigned int length,
                                unsigned int fallback) const
{
    if (slot >= kActionSlots || target >= kActionSlots || mFeet == 0 || mSamples[slot].empty() ||
        mSamples[target].empty())
        return fallback;
    const float* stand = Sample(target, targetTime, mArmLength[target]);
    const unsigned int step = mStep[slot];
    float best = INFINITY;
    unsigned int bestTime = fallback;
    for (unsigned int d = 0; d <= within; d += step)
    {
        const unsigned int t = ClockAfter(from, d, length);
        const float* now = Sample(slot, t, length);
        const int f = now[1] <= now[4] ? 0 : 1; // the lower foot stands
        const int other = 1 - f;
        // The other foot stays off the ground until the walk halts.
        bool alone = true;
        for (unsigned int a = 0; a <= ahead + step && alone; a += step)
        {
            const float* p = Sample(slot, ClockAfter(t, std::min(a, ahead), length), length);
            alone = p[3 * other + 1] - p[3 * f + 1] > mFoot[other].mBand;
        }
        if (!alone)
            continue;
        const float* halt = Sample(slot, ClockAfter(t, ahead, length), length);
        const float dx = halt[3 * f] - stand[3 * f], dz = halt[3 * f + 2] - stand[3 * f + 2];
        const float cost = dx * dx + dz * dz;
        if (cost < best)
        {
            best = cost;
            bestTime = t;
        }
    }
    return bestTime;
}

// ---------------------------------------------------------------------------
// cCrossFade

void cCrossFade::Prepare(const cArmature& arm, const ActionSlots& actions, const cFootLock* rightFoot,
                         const cFootLock* leftFoot, size_t poseBones)
{
    mPhases.Build(arm, actions, kActionSlots, rightFoot ? rightFoot->mBone : nullptr,
                  leftFoot ? leftFoot->mBone : nullptr);
    mStops.Build(arm, actions, kActionSlots, rightFoot, leftFoot);
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
            if (mStopping)
            {
                // A stop's walk slows to a halt: its clock's rate falls with
                // the fade's weight, so that it runs on by half a fade.
                mSlowClock += (float)dt * (1.0f - mFade.mWeight);
                const unsigned int whole = (unsigned int)mSlowClock;
                mSlowClock -= (float)whole;
                mFade.mTime += whole;
            }
            else
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

    bool finished = false;
    if (next != current && next < kActionSlots && !FinishingStep(actions, next, blend, current, time, finished))
    {
        Start(actions, next, blend, current, time, pose, scratch, finished);
        mStopping = finished;
        mSlowClock = 0.0f;
    }
    return blending;
}

bool cCrossFade::FinishingStep(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int current,
                               unsigned int time, bool& finished)
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
        const unsigned int within = CyclePeriod(length) / 2;
        mStopAt = mStops.Choose(current, kStandSlot, ClockAfter(kRestartTime, blend, actions[kStandSlot].mLength), time,
                                within, blend / 2, length, kNoStop);
        if (mStopAt == kNoStop)
            mStopAt = mPhases.NearestAhead(current, kStandSlot, time, within, length, kNoStop);
        if (mStopAt == kNoStop)
            return false;
    }
    // The step is finished once the clock has run as far as the place to stop
    // from (the clock only moves on, by less than the step each frame).
    if (ClockDistance(mStopFrom, time, length) >= ClockDistance(mStopFrom, mStopAt, length))
    {
        mStopAt = kNoStop;
        finished = true;
        return false;
    }
    return true;
}

void cCrossFade::Start(const ActionSlots& actions, unsigned int next, unsigned int blend, unsigned int& current,
                       unsigned int& time, const cPose& pose, cPose& scratch, bool stop)
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
    if (stop)
    {
        // The stand from its start: the place to stop from was chosen to
        // come to rest on its feet as they are at the end of the fade.
        time = kRestartTime;
        current = next;
        return;
    }
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
