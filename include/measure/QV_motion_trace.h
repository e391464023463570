// Measures how smoothly the character moves, driven exactly as the demo
// drives it (StepCharacter): how far any bone tip moves in one frame while
// walking steadily and just after W is pressed or released, how far the heel,
// the ball and the toe tip of a planted foot slide over the ground while they
// touch it,
// and how fast the character travels; also how far a foot glides over the
// ground in a start or a stop. Used by tools/motiontrace and by
// tests/test_motion_fidelity.cpp.
//
// Contents: sSwitches, sMotionReport, sRunPlan (what is measured, over which
// run); sTrack, ContactLevel, ContactSlides (ground contact of one point);
// cMotionHost (the character as the demo hosts it, with heels, balls and toe
// tips);
// TipMove; TraceMotion (the run and its report).
#ifndef QV_MOTION_TRACE_H
#define QV_MOTION_TRACE_H

#include <math.h>

#include <algorithm>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"

namespace motion
{

struct sSwitches
{
    bool mCrossFade = false;
    bool mContactLock = false;
};

struct sMotionReport
{
    unsigned int mDt = 0;   // frame length, ms
    double mSteadyMove = 0; // largest move of a bone tip in one frame of steady walking, units
    double mStartMove = 0;  // the same in the 300 ms after W is pressed (from standing)
    double mStopMove = 0;   // the same in the 300 ms after W is released (from walking)
    double mHeelSlide = 0;  // worst slide of a heel over one contact, % of stride
    double mBallSlide = 0;  // worst slide of a ball of the foot over one contact, % of stride
    double mToeSlide = 0;   // worst slide of a toe tip (the tail of the foot's first child)
                            // over one contact, % of stride
    double mHeelMean = 0;   // mean of the heel's slides per contact, % of stride
    double mBallMean = 0;
    double mToeMean = 0;
    int mHeelContacts = 0; // contacts measured
    int mBallContacts = 0;
    int mToeContacts = 0;
    double mStartGlide = 0; // farthest a heel, ball or toe tip moves over the ground while down on
                            // it in the 300 ms after W is pressed (from the frame before), % of stride
    double mStopGlide = 0;  // the same after W is released
    double mSpeed = 0;      // travel over the ground while walking steadily, units per second
    double mStride = 0;     // travel per cycle of the walk clip, units
    bool mFinite = true;    // no not-a-number or infinity in any world matrix, in any frame
};

// Phases of the run, milliseconds. The first start and stop frame the
// steady walk; the others come after standing and walking for times that
// differ from trial to trial, so that W is pressed and released at many
// points of the clips.
struct sRunPlan
{
    double mStandMs = 2000;  // standing before W is first pressed
    double mSettleMs = 3000; // walking before the steady measurement
    double mSteadyMs = 12000;
    double mWindowMs = 300;                              // after pressing and after releasing W
    int mTrials = 12;                                    // starts and stops measured
    double mTrialStandMs = 900, mTrialStandStepMs = 487; // standing before the k-th start
    double mTrialWalkMs = 1500, mTrialWalkStepMs = 211;  // walking before the k-th stop
};

// One foot point's height and ground position over a run.
struct sTrack
{
    std::vector<float> mY;
    std::vector<float> mX, mZ;
    void Add(const cVector3D& p)
    {
        mX.push_back(p.mData[0]);
        mY.push_back(p.mData[1]);
        mZ.push_back(p.mData[2]);
    }
};

// Where a point touches the ground: within eps of the level where it spends
// the lowest fifth of the run (it stands there for longer than that), eps
// widened by three times the scatter of those heights, so that a captured
// walk's jitter does not cut its contacts into pieces. (TraceMotion leaves
// out a point whose level is well above its foot's others: it never
// touches the ground.)
inline double ContactLevel(const sTrack& t, double eps)
{
    if (t.mY.size() < 5)
        return -INFINITY;
    std::vector<float> low(t.mY);
    std::sort(low.begin(), low.end());
    low.resize(low.size() / 5);
    double mean = 0, var = 0;
    for (float y : low)
        mean += y / low.size();
    for (float y : low)
        var += (y - mean) * (y - mean) / low.size();
    return mean + eps + 3.0 * sqrt(var);
}

// Slides of one point per contact (while it is no higher than level): the
// farthest it gets over the ground from where the contact began. With whole
// set, a contact already running when the track begins, or still running
// when it ends, is left out; without, it counts from the track's first
// sample and up to its last.
inline void ContactSlides(const sTrack& t, double level, bool whole, std::vector<double>& slides)
{
    bool in = whole, counted = !whole;
    double x0 = t.mX.empty() ? 0 : t.mX[0], z0 = t.mZ.empty() ? 0 : t.mZ[0], worst = 0;
    for (size_t i = 0; i < t.mY.size(); ++i)
    {
        const bool down = t.mY[i] <= level;
        if (down && !in)
        {
            x0 = t.mX[i];
            z0 = t.mZ[i];
            worst = 0;
            counted = true;
        }
        if (down)
            worst = std::max(worst, hypot(t.mX[i] - x0, t.mZ[i] - z0));
        if (!down && in && counted)
            slides.push_back(worst);
        in = down;
    }
    if (in && counted && !whole)
        slides.push_back(worst);
}

// The character as the demo hosts it, with the heel, ball and toe tip of each
// foot found from the rest pose: the ball is the foot bone's tail, the toe
// tip the tail of the foot's first child (the ball where it has none), the
// heel lies straight below the ankle at the height of the foot's lowest rest
// point (the ball or the toe tip).
class cMotionHost
{
public:
    cActor mActor;
    double mHeight = 0;
    cVector3D mHeel[2]; // in each foot bone's frame
    const cBone* mFoot[2] = {nullptr, nullptr};

    // Throws cXmlError for a file the loader refuses, and std::string for
    // one the demo refuses to play.
    explicit cMotionHost(const std::string& path, const sSwitches& sw)
    {
        ReadActorFromXML(path.c_str(), mActor);
        const std::string problem = WalkerProblem(mActor);
        if (!problem.empty())
            throw problem;
        mActor.SetConstraints();
        mActor.UpdateArmature();
        mActor.mCrossFade = sw.mCrossFade;
        mActor.mContactLock = sw.mContactLock;
        for (const cBone& b : mActor.mArmature.mBones)
            mHeight = std::max(mHeight, (double)std::max(b.mWorldTransform.getTransform().mData[1], Tip(b).mData[1]));
        mFoot[0] = mActor.mRightFoot.mBone;
        mFoot[1] = mActor.mLeftFoot.mBone;
        for (int s = 0; s < 2; ++s)
        {
            const cBone& f = *mFoot[s];
            const cMatrix4D& m = f.mWorldTransform;
            float low = Tip(f).mData[1];
            if (!f.mChildren.empty())
                low = std::min(low, Tip(*f.mChildren[0]).mData[1]);
            const cVector3D ankle = m.getTransform();
            const cVector3D d(0.0f, low - ankle.mData[1], 0.0f);
            // World offset into the foot's frame: the transposed rotation.
            mHeel[s] = cVector3D(m._m[0] * d.mData[0] + m._m[1] * d.mData[1] + m._m[2] * d.mData[2],
                                 m._m[4] * d.mData[0] + m._m[5] * d.mData[1] + m._m[6] * d.mData[2],
                                 m._m[8] * d.mData[0] + m._m[9] * d.mData[1] + m._m[10] * d.mData[2]);
        }
    }

    static cVector3D Tip(const cBone& b) { return b.mWorldTransform * cVector3D(0.0f, b.mLength, 0.0f); }
    // Where a point of the scene is on the floor the walk started on: the
    // actor shifts its scene back by whole units now and then, far out.
    cVector3D Unshifted(const cVector3D& p) const
    {
        return p +
               cVector3D((float)mActor.mOriginShift[0], (float)mActor.mOriginShift[1], (float)mActor.mOriginShift[2]);
    }
    cVector3D Heel(int s) const { return Unshifted(mFoot[s]->mWorldTransform * mHeel[s]); }
    cVector3D Ball(int s) const { return Unshifted(Tip(*mFoot[s])); }
    cVector3D Toe(int s) const
    {
        return mFoot[s]->mChildren.empty() ? Ball(s) : Unshifted(Tip(*mFoot[s]->mChildren[0]));
    }
    cVector3D Root() const { return Unshifted(mActor.mArmature.mRootBone->mWorldTransform.getTransform()); }

    void Frame(unsigned int dt, bool walk)
    {
        sSteering steering;
        steering.mWalk = walk;
        StepCharacter(mActor, dt, steering);
    }
    bool Finite() const
    {
        for (const cBone& b : mActor.mArmature.mBones)
            for (float v : b.mWorldTransform._m)
                if (!std::isfinite(v))
                    return false;
        return true;
    }
};

// Largest distance any bone tip moved since the tips were last recorded;
// records them.
inline double TipMove(const cMotionHost& h, std::vector<cVector3D>& tips)
{
    const std::vector<cBone>& bones = h.mActor.mArmature.mBones;
    double worst = 0;
    for (size_t i = 0; i < bones.size(); ++i)
    {
        const cVector3D t = h.Unshifted(cMotionHost::Tip(bones[i]));
        worst = std::max(worst, (double)(t - tips[i]).length());
        tips[i] = t;
    }
    return worst;
}

// Stands, walks, stands again, with the switches as given, at frames of dt
// milliseconds.
inline sMotionReport TraceMotion(const std::string& path, unsigned int dt, const sSwitches& sw,
                                 const sRunPlan& plan = sRunPlan())
{
    cMotionHost h(path, sw);
    sMotionReport r;
    r.mDt = dt;
    std::vector<cVector3D> tips(h.mActor.mArmature.mBones.size());
    double t = 0;
    auto frame = [&](bool walk) {
        h.Frame(dt, walk);
        t += dt;
        r.mFinite = r.mFinite && h.Finite();
        return TipMove(h, tips);
    };

    // The heel, ball and toe tip of both feet (kPoints tracks, 3 s + k for
    // point k of foot s), while walking steadily and around each start and
    // stop.
    const int kPoints = 6;
    sTrack steady[kPoints];
    std::vector<sTrack> starts, stops;
    auto record = [&](sTrack* tracks) {
        for (int s = 0; s < 2; ++s)
        {
            tracks[3 * s].Add(h.Heel(s));
            tracks[3 * s + 1].Add(h.Ball(s));
            tracks[3 * s + 2].Add(h.Toe(s));
        }
    };
    auto window = [&](bool walk, double& worst, std::vector<sTrack>& windows) {
        windows.resize(windows.size() + kPoints);
        sTrack* tracks = &windows[windows.size() - kPoints];
        record(tracks);
        for (t = 0; t < plan.mWindowMs;)
        {
            worst = std::max(worst, frame(walk));
            record(tracks);
        }
    };

    while (t < plan.mStandMs)
        frame(false);
    window(true, r.mStartMove, starts);
    for (t = 0; t < plan.mSettleMs;)
        frame(true);

    const cVector3D start = h.Root();
    for (t = 0; t < plan.mSteadyMs;)
    {
        r.mSteadyMove = std::max(r.mSteadyMove, frame(true));
        record(steady);
    }
    const cVector3D travel = h.Root() - start;
    r.mSpeed = hypot(travel.mData[0], travel.mData[2]) / (t / 1000.0);
    const unsigned int slot = h.mActor.mWalkCycle;
    r.mStride = r.mSpeed * (h.mActor.mAction[slot].mLength - kRestartTime + 1) / 1000.0;

    window(false, r.mStopMove, stops);
    for (int k = 1; k < plan.mTrials; ++k)
    {
        for (t = 0; t < plan.mTrialStandMs + k * plan.mTrialStandStepMs;)
            frame(false);
        window(true, r.mStartMove, starts);
        for (t = 0; t < plan.mTrialWalkMs + k * plan.mTrialWalkStepMs;)
            frame(true);
        window(false, r.mStopMove, stops);
    }

    // A point touches the ground within a thousandth of the height of its
    // ground level; never, where that level lies more than a fiftieth of the
    // height above the lowest of its foot's points' (a foot that walks on its
    // toes does not put its heel and ball down).
    const double eps = 0.001 * h.mHeight;
    double level[kPoints];
    for (int k = 0; k < kPoints; ++k)
        level[k] = ContactLevel(steady[k], eps);
    for (int s = 0; s < 2; ++s)
    {
        const double ground = std::min(level[3 * s], std::min(level[3 * s + 1], level[3 * s + 2]));
        for (int k = 3 * s; k < 3 * s + 3; ++k)
            if (level[k] > ground + 0.02 * h.mHeight)
                level[k] = -INFINITY;
    }
    std::vector<double> slides[3]; // heels, balls, toe tips
    for (int k = 0; k < kPoints; ++k)
        ContactSlides(steady[k], level[k], true, slides[k % 3]);
    auto worstIn = [&](const std::vector<sTrack>& windows) {
        std::vector<double> slides;
        for (size_t i = 0; i < windows.size(); ++i)
            ContactSlides(windows[i], level[i % kPoints], false, slides);
        const double worst = slides.empty() ? 0 : *std::max_element(slides.begin(), slides.end());
        return r.mStride > 0 ? 100.0 * worst / r.mStride : 0;
    };
    r.mStartGlide = worstIn(starts);
    r.mStopGlide = worstIn(stops);
    auto summarise = [&](const std::vector<double>& v, double& worst, double& mean, int& n) {
        n = (int)v.size();
        if (v.empty() || !(r.mStride > 0))
            return;
        worst = 100.0 * *std::max_element(v.begin(), v.end()) / r.mStride;
        double sum = 0;
        for (double x : v)
            sum += x;
        mean = 100.0 * sum / v.size() / r.mStride;
    };
    summarise(slides[0], r.mHeelSlide, r.mHeelMean, r.mHeelContacts);
    summarise(slides[1], r.mBallSlide, r.mBallMean, r.mBallContacts);
    summarise(slides[2], r.mToeSlide, r.mToeMean, r.mToeContacts);
    return r;
}

} // namespace motion

#endif // QV_MOTION_TRACE_H
