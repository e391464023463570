// The motion trace. Index (sections in this order):
//   [SECTION] Contact   one point's ground level and its slides per contact
//   [SECTION] Run       TipMove, and TraceMotion: the run and its report
#include "QV_motion_trace.h"

#include <math.h>

#include <algorithm>

namespace measure
{

// ---------------------------------------------------------------------------
// [SECTION] Contact

void sTrack::Add(const cVector3D& p)
{
    mX.push_back(p.mData[0]);
    mY.push_back(p.mData[1]);
    mZ.push_back(p.mData[2]);
}

double ContactLevel(const sTrack& t, double eps)
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

void ContactSlides(const sTrack& t, double level, bool whole, std::vector<double>& slides)
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

// ---------------------------------------------------------------------------
// [SECTION] Run

double TipMove(const cHost& h, std::vector<cVector3D>& tips)
{
    const std::vector<cBone>& bones = h.actor().mArmature.mBones;
    double worst = 0;
    for (size_t i = 0; i < bones.size(); ++i)
    {
        const cVector3D t = h.Unshifted(cHost::Tip(bones[i]));
        worst = std::max(worst, (double)(t - tips[i]).length());
        tips[i] = t;
    }
    return worst;
}

namespace
{
// The longest a stop is followed, milliseconds: a step finished and a fade,
// with room to spare.
const double kLongestStopMs = 3000;

// The heel, ball and toe tip of both feet: track 3 s + k is point k
// (cFootLock::kHeel, kBall, kToeTip) of foot s.
const int kPoints = 2 * cFootLock::kContactPoints;

void RecordFeet(const cHost& h, sTrack* tracks)
{
    for (int s = 0; s < 2; ++s)
    {
        cVector3D p[cFootLock::kContactPoints];
        h.ContactPoints(s, p);
        for (int k = 0; k < cFootLock::kContactPoints; ++k)
            tracks[cFootLock::kContactPoints * s + k].Add(h.Unshifted(p[k]));
    }
}

// A point touches the ground within a thousandth of the height of its
// ground level; never, where that level lies more than a fiftieth of the
// height above the lowest of its foot's points' (a foot that walks on its
// toes does not put its heel and ball down).
void GroundLevels(const sTrack* steady, double height, double level[kPoints])
{
    const double eps = 0.001 * height;
    for (int k = 0; k < kPoints; ++k)
        level[k] = ContactLevel(steady[k], eps);
    for (int s = 0; s < 2; ++s)
    {
        const double* foot = &level[cFootLock::kContactPoints * s];
        const double ground = *std::min_element(foot, foot + cFootLock::kContactPoints);
        for (int k = cFootLock::kContactPoints * s; k < cFootLock::kContactPoints * (s + 1); ++k)
            if (level[k] > ground + 0.02 * height)
                level[k] = -INFINITY;
    }
}

// The worst and mean of one point's slides, % of stride, and their count.
void SummariseSlides(const std::vector<double>& v, double stride, double& worst, double& mean, int& n)
{
    n = (int)v.size();
    if (v.empty() || !(stride > 0))
        return;
    worst = 100.0 * *std::max_element(v.begin(), v.end()) / stride;
    double sum = 0;
    for (double x : v)
        sum += x;
    mean = 100.0 * sum / v.size() / stride;
}
} // namespace

sMotionReport TraceMotion(const std::string& path, unsigned int dt, const sSwitches& sw, const sRunPlan& plan)
{
    cHost h(path, sw);
    sMotionReport r;
    r.mDt = dt;
    std::vector<cVector3D> tips(h.actor().mArmature.mBones.size());
    double t = 0;
    auto frame = [&](bool walk) {
        h.Frame(dt, walk);
        t += dt;
        r.mFinite = r.mFinite && h.Finite();
        return TipMove(h, tips);
    };

    // The feet while walking steadily and around each start and stop.
    sTrack steady[kPoints];
    std::vector<sTrack> starts, stops;
    // A stop lasts until the stand has faded in: with the cross-fade and the
    // contact locks, the walk first finishes its step, then fades.
    auto stopping = [&]() { return h.actor().mCurrentAction != kStandSlot || h.actor().Fade().mActive; };
    auto window = [&](bool walk, double& worst, std::vector<sTrack>& windows) {
        windows.resize(windows.size() + kPoints);
        sTrack* tracks = &windows[windows.size() - kPoints];
        RecordFeet(h, tracks);
        for (t = 0; t < plan.mWindowMs || (!walk && t < kLongestStopMs && stopping());)
        {
            worst = std::max(worst, frame(walk));
            RecordFeet(h, tracks);
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
        RecordFeet(h, steady);
    }
    const cVector3D travel = h.Root() - start;
    r.mSpeed = hypot(travel.mData[0], travel.mData[2]) / (t / 1000.0);
    const unsigned int slot = h.actor().mWalkCycle;
    r.mStride = r.mSpeed * (h.actor().mAction[slot].mLength - kRestartTime + 1) / 1000.0;

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

    double level[kPoints];
    GroundLevels(steady, h.Height(), level);
    std::vector<double> slides[cFootLock::kContactPoints]; // heels, balls, toe tips
    for (int k = 0; k < kPoints; ++k)
        ContactSlides(steady[k], level[k], true, slides[k % cFootLock::kContactPoints]);
    auto worstIn = [&](const std::vector<sTrack>& windows) {
        std::vector<double> glides;
        for (size_t i = 0; i < windows.size(); ++i)
            ContactSlides(windows[i], level[i % kPoints], false, glides);
        const double worst = glides.empty() ? 0 : *std::max_element(glides.begin(), glides.end());
        return r.mStride > 0 ? 100.0 * worst / r.mStride : 0;
    };
    r.mStartGlide = worstIn(starts);
    r.mStopGlide = worstIn(stops);
    SummariseSlides(slides[cFootLock::kHeel], r.mStride, r.mHeelSlide, r.mHeelMean, r.mHeelContacts);
    SummariseSlides(slides[cFootLock::kBall], r.mStride, r.mBallSlide, r.mBallMean, r.mBallContacts);
    SummariseSlides(slides[cFootLock::kToeTip], r.mStride, r.mToeSlide, r.mToeMean, r.mToeContacts);
    return r;
}

} // namespace measure
