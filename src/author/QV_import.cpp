// All stages in order, and the command line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "QV_import.h"

namespace qvimport
{
namespace
{

// How well a steady cycle stands for the walk: its last pose close to its
// first (a smooth loop; radians summed over the joints) and its duration
// close to the steady cycles' mean (the cadence); ten per cent off the mean
// weighs like one radian.
double Unfitness(const sCycle& c, const std::vector<sCycle>& cycles)
{
    double sum = 0;
    int n = 0;
    for (const sCycle& o : cycles)
        if (o.mSteady)
        {
            sum += o.mEnd - o.mBegin;
            ++n;
        }
    const double mean = n ? sum / n : (double)(c.mEnd - c.mBegin);
    return c.mClosure + 10.0 * std::fabs((c.mEnd - c.mBegin) - mean) / mean;
}

// A single cycle stands for the walk when its stride is within this share of
// the steady cycles' mean stride (the capture's speed over its cadence).
const double kStrideTolerance = 0.03;

// The steady cycles that follow one another without a gap, as one walk from
// the first's heel strike to the last's: the longest such run (of those as
// long, the one whose last pose is closest to its first), or a cycle with
// mStrides 0 when no two steady cycles are consecutive.
//
// A captured walk's strides vary, and a single one of them played at the
// walk's mean pace covers its own stride length, not the walk's: 131_02's two
// steady strides are 0.33 and 0.47 legs long, and either alone walks 18 %
// slower or faster than the capture at its cadence. The run holds the walk's
// own mean stride and pace together, and loops where the capture repeats
// its pose best.
sCycle SteadyRun(const sCapture& cap, const sFeet& feet, const std::vector<sCycle>& cycles)
{
    sCycle best;
    best.mStrides = 0;
    for (size_t i = 0; i < cycles.size(); ++i)
    {
        if (!cycles[i].mSteady || (i > 0 && cycles[i - 1].mSteady && cycles[i - 1].mEnd == cycles[i].mBegin))
            continue;
        size_t j = i;
        while (j + 1 < cycles.size() && cycles[j + 1].mSteady && cycles[j + 1].mBegin == cycles[j].mEnd)
            ++j;
        const int strides = (int)(j - i + 1);
        if (strides < 2 || strides < best.mStrides ||
            std::fabs(Turn(cap, feet, cycles[i].mBegin, cycles[j].mEnd)) > kMaxSteadyTurn)
            continue;
        sCycle run = DescribeCycle(cap, feet, cycles[i].mBegin, cycles[j].mEnd);
        run.mSteady = true;
        run.mStrides = strides;
        if (strides > best.mStrides || run.mClosure < best.mClosure)
            best = run;
    }
    return best;
}

// The walk the file plays: the chosen cycle, an explicit frame range, the
// run of steady cycles, or the steady cycle that fits best.
sCycle ChooseWalk(const sCapture& cap, const sFeet& feet, const std::vector<sCycle>& cycles, const sOptions& opt)
{
    const size_t frames = cap.Frames();
    if (opt.mFrameA >= 0)
    {
        if (opt.mFrameB <= opt.mFrameA + 1 || (size_t)opt.mFrameB >= frames)
            throw cImportError("--frames " + std::to_string(opt.mFrameA) + ":" + std::to_string(opt.mFrameB) +
                               " is not a range of the clip's " + std::to_string(frames) + " frames");
        return DescribeCycle(cap, feet, opt.mFrameA, opt.mFrameB);
    }
    if (cycles.empty())
        throw cImportError("the clip holds no whole gait cycle (left heel strike to left heel strike, with a right "
                           "one between)");
    if (opt.mCycle > 0)
    {
        if ((size_t)opt.mCycle > cycles.size())
            throw cImportError("--cycle " + std::to_string(opt.mCycle) + ": the clip has " +
                               std::to_string(cycles.size()) + " gait cycles");
        return cycles[opt.mCycle - 1];
    }
    const sCycle* best = nullptr;
    for (const sCycle& c : cycles)
        if (c.mSteady && (!best || Unfitness(c, cycles) < Unfitness(*best, cycles)))
            best = &c;
    if (!best)
        return cycles.front();
    // One cycle is enough where its stride is the walk's: played at the
    // steady mean pace, it then walks at the capture's speed.
    const sGaitMeasure steady = MeasureCapture(cap, feet, cycles);
    const double leg = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength);
    const double stride = best->mSpeed * (best->mEnd - best->mBegin) / cap.mRate / leg;
    const double meanStride = steady.mSpeedLegs * 120.0 / steady.mCadence;
    if (std::fabs(stride - meanStride) <= kStrideTolerance * meanStride)
        return *best;
    const sCycle run = SteadyRun(cap, feet, cycles);
    return run.mStrides > 1 ? run : *best;
}

// The second walk: another steady cycle when there is one (the best single
// one when the walk is a run of them).
sCycle ChooseSecondWalk(const std::vector<sCycle>& cycles, const sCycle& walk)
{
    const sCycle* best = nullptr;
    for (const sCycle& c : cycles)
        if (c.mSteady && (c.mBegin != walk.mBegin || c.mEnd != walk.mEnd) &&
            (!best || Unfitness(c, cycles) < Unfitness(*best, cycles)))
            best = &c;
    return best ? *best : walk;
}

} // namespace

void CheckOptions(const sOptions& opt)
{
    if (!(opt.mHipHeight >= kMinHipHeight && opt.mHipHeight <= kMaxHipHeight))
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      "--hip-height must be from %g to %g units, not %g: the demo cannot play a figure "
                      "outside that range",
                      kMinHipHeight, kMaxHipHeight, opt.mHipHeight);
        throw cImportError(text);
    }
}

sImportResult Import(const sCapture& source, const sOptions& opt)
{
    CheckOptions(opt);
    sImportResult r;
    sCapture cap = source;
    r.mRate = cap.mRate;
    const sSkeleton sk = BuildSkeleton(cap);
    const sFeet feet = FindFeet(cap, opt);
    Upright(cap, feet);
    r.mSourceFrames = cap.Frames();
    if (opt.mFrameA < 0)
        r.mLoopTimes = RepeatLoop(cap, feet);
    r.mInPlaceSpeed = PutInMotion(cap, feet);
    r.mFloorSlope = LevelFloor(cap, feet);
    CheckTwoLegs(cap, feet);
    const sContacts contacts = FindContacts(cap, feet);
    CheckSteps(cap, feet, contacts);
    r.mCycles = FindCycles(cap, feet, contacts);
    if (opt.mFrameA < 0)
        CheckCycles(cap, feet, contacts, r.mCycles);
    r.mCaptured = MeasureCapture(cap, feet, r.mCycles);
    const bool chosenByHand = opt.mFrameA >= 0 || opt.mCycle > 0;
    sCycle walk = ChooseWalk(cap, feet, r.mCycles, opt);
    sCycle walk2 = chosenByHand ? walk : ChooseSecondWalk(r.mCycles, walk);
    // A found walk plays at the steady walk's mean pace per stride, so that
    // the demo's cadence is the capture's even where its strides vary in
    // length of time (a cycle the user names plays at its own). A run of all
    // the steady cycles already has that pace.
    if (!chosenByHand && !opt.mOwnTiming && r.mCaptured.mCycles > 0)
    {
        walk.mPlaySeconds = walk.mStrides * 120.0 / r.mCaptured.mCadence;
        walk2.mPlaySeconds = walk2.mStrides * 120.0 / r.mCaptured.mCadence;
    }
    const double played = walk.mPlaySeconds > 0 ? walk.mPlaySeconds : (walk.mEnd - walk.mBegin) / cap.mRate;
    const double leg = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength);
    r.mCapturedWalk.mCycles = walk.mStrides;
    r.mCapturedWalk.mCadence = 120.0 * walk.mStrides / played;
    r.mCapturedWalk.mSpeedLegs = walk.mSpeed * (walk.mEnd - walk.mBegin) / cap.mRate / played / leg;
    if (opt.mStandFrame >= 0 && (size_t)opt.mStandFrame >= cap.Frames())
        throw cImportError("--stand " + std::to_string(opt.mStandFrame) + " is not one of the clip's " +
                           std::to_string(cap.Frames()) + " frames");
    int stance = opt.mStandFrame;
    bool built = false;
    if (stance < 0)
    {
        try
        {
            stance = FindStance(cap, feet, contacts);
        }
        catch (const cImportError&)
        {
            stance = -1; // no frame on both feet: built below
        }
        built = stance < 0 || !IsStanding(cap, feet, contacts, stance);
    }
    int from = stance;
    if (built)
        stance = BuildStand(cap, feet, contacts, walk, from);
    r.mActor = BuildActor(cap, sk, feet, contacts, walk, walk2, stance, opt);
    r.mActor.mStanceFrame = from;
    r.mActor.mStandBuilt = built;
    r.mRootSpeed = CapturedRootSpeed(cap, feet, contacts, walk, r.mActor.mScale, played, 3);
    for (sOutAction& a : r.mActor.mAction)
        for (std::vector<sKey>& ch : a.mChannels)
            ch = ReduceKeys(ch, opt.mToleranceDeg, HeightTolerance(opt.mHipHeight));
    r.mXml = WriteActorXml(r.mActor);
    return r;
}

} // namespace qvimport
