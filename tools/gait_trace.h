// Plays the walker through the library exactly as the demo's character step
// does, and measures the gait: speed, cadence, stride, stance, joint angles,
// pelvis motion, arm swing, foot slide, ground contact, standing drift and
// steering. Used by tools/walkertrace and by the gait test.
#ifndef _GAIT_TRACE_H_
#define _GAIT_TRACE_H_

#include <math.h>
#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_xml.h"
#include "gait_common.h"

namespace walker
{

// World rotation block and translation of a library matrix, in doubles.
inline M3 RotOf(const cMatrix4D& m)
{
    return Axes(V3(m._m[0], m._m[1], m._m[2]), V3(m._m[4], m._m[5], m._m[6]), V3(m._m[8], m._m[9], m._m[10]));
}
inline V3 PosOf(const cMatrix4D& m) { return V3(m._m[12], m._m[13], m._m[14]); }
inline V3 TailOf(const cBone& b) { return PosOf(b.mWorldTransform) + RotOf(b.mWorldTransform).c[1] * b.mLength; }
inline double Horiz(const V3& v) { return sqrt(v.x * v.x + v.z * v.z); }

// The character as the demo hosts it: loaded, locks installed, world
// matrices computed; Frame() is the character step of one unpaused frame.
class Host
{
public:
    // Throws the loader's cXmlError on a bad file.
    explicit Host(const char* path) { Init([&] { ReadActorFromXML(path, mActor); }); }
    Host(const std::string& text, bool /*fromMemory*/)
    {
        Init([&] { ReadActorFromMemory(text.data(), text.size(), mActor); });
    }

    cActor& actor() { return mActor; }

    void Frame(unsigned int dt, bool walk, bool left, bool right, unsigned int walkCycle)
    {
        mActor.mWalkCycle = walkCycle;
        sSteering steering;
        steering.mWalk = walk;
        steering.mTurnLeft = left;
        steering.mTurnRight = right;
        StepCharacter(mActor, dt, steering);
    }

    // Rest-pose facts, measured before the first frame.
    double height = 0;    // top of the skeleton above the ground
    double legLength = 0; // hip joint above the ground
    M3 restWorld[kBoneCount];
    V3 heelOffset[2]; // heel point in each foot bone's frame
    int footIndex[2] = {kFootR, kFootL};

    // Anatomical frame (right, forward, up) carried by bone i, in world axes.
    M3 Anat(int i) const
    {
        return RotOf(mActor.mArmature.mBones[i].mWorldTransform) * restWorld[i].T() * restWorld[kRoot];
    }
    // The frame the heading alone gives: right, forward, up of the walker.
    M3 HeadingFrame() const { return restWorld[kRoot] * RotZ(mActor.mHeading); }
    V3 Head(int i) const { return PosOf(mActor.mArmature.mBones[i].mWorldTransform); }
    V3 Tail(int i) const { return TailOf(mActor.mArmature.mBones[i]); }
    V3 Heel(int side) const
    {
        const cMatrix4D& m = mActor.mArmature.mBones[footIndex[side]].mWorldTransform;
        return PosOf(m) + RotOf(m) * heelOffset[side];
    }
    double Lowest() const
    {
        double y = 1e30;
        for (size_t i = 0; i < mActor.mArmature.mBones.size(); ++i)
            y = std::min(y, std::min(Head((int)i).y, Tail((int)i).y));
        return y;
    }
    // Lowest point of one foot (heel, ball, toe tip).
    double FootLowest(int side) const
    {
        const int toes = side == 0 ? kToesR : kToesL;
        return std::min(Heel(side).y, std::min(Tail(footIndex[side]).y, Tail(toes).y));
    }

private:
    cActor mActor;

    template <class F> void Init(F load)
    {
        load();
        mActor.SetConstraints();
        mActor.UpdateArmature();
        if (mActor.mArmature.mBones.size() != (size_t)kBoneCount)
            throw std::string("walker: unexpected bone count");
        for (int i = 0; i < kBoneCount; ++i)
        {
            restWorld[i] = RotOf(mActor.mArmature.mBones[i].mWorldTransform);
            height = std::max(height, std::max(Head(i).y, Tail(i).y));
        }
        legLength = 0.5 * (Head(kThighR).y + Head(kThighL).y);
        for (int s = 0; s < 2; ++s)
        {
            // At rest the heel is on the ground straight below the ankle.
            const cMatrix4D& m = mActor.mArmature.mBones[footIndex[s]].mWorldTransform;
            const V3 ankle = PosOf(m);
            const V3 heel(ankle.x, 0, ankle.z);
            heelOffset[s] = RotOf(m).T() * (heel - ankle);
        }
    }
};

// Angle of v within the sagittal plane of frame a: forwards from straight
// down, degrees.
inline double SagittalFromDown(const M3& a, const V3& v)
{
    const V3 l = a.T() * v;
    return Deg(atan2(l.y, -l.z));
}

struct WalkReport
{
    std::string clip;
    unsigned int dt = 0;
    double speed = 0;       // leg lengths per second
    double cadence = 0;     // steps per minute
    double stride = 0;      // leg lengths
    double stance = 0;      // % of the cycle
    double doubleSupport = 0;
    int airFrames = 0;      // frames with both feet off the ground
    double hipPeak = 0, hipPeakPhase = 0, hipAt50 = 0;
    double kneeStrike = 0, kneeAt12 = 0, kneeToeOff = 0, kneePeak = 0, kneePeakPhase = 0;
    double ankleAt8 = 0, ankleAt50 = 0; // dorsiflexion positive
    double ankleAt62 = 0, ankle62Phase = 0; // deepest plantarflexion around toe-off (58 to 68 %) and where
    double list = 0, rotation = 0;                      // half ranges, degrees
    double bob = 0;                                     // peak to peak, % of leg length
    int bobPeaks = 0;                                   // per stride
    double shoulderArc = 0, armLegCorrelation = 0, elbowMin = 0, elbowMax = 0;
    double slide = 0;     // worst planted-ankle slide per contact, % of stride
    double toeSkid = 0;   // worst slide of a grounded ball, % of stride
    double ground = 0;    // worst |lowest point|, % of height
    double clearance = 0; // lowest point of the swinging foot in mid swing (65 to 90 %), % of height
    int contacts = 0;     // lock engagements measured
    double heading = 0;   // direction of travel against the heading, degrees
    double footOn = 0, footOff = 0; // mean phase of ground contact start and end (right foot)
    double rootSlow = 0, rootFast = 0; // root speed over the cycle (5 % means), % of its average
    // Curves over the cycle at 5 % steps (leg's own phase): hip, knee, ankle,
    // hip-centre height over its lowest (units), shoulder, elbow.
    double curve[6][20] = {};
};

struct StandReport
{
    double drift = 0;  // % of height over the run
    double ground = 0; // worst |lowest point|, % of height
    double ankleTravel = 0; // largest ankle movement relative to the root, units
};

struct TurnReport
{
    double meanError = 0, maxError = 0; // degrees between travel and heading
    double turned = 0;                  // degrees of heading covered
};

class PhaseBins
{
public:
    explicit PhaseBins(int n = 100) : mSum(n, 0.0), mCount(n, 0) {}
    void Add(double phase, double v)
    {
        const int n = (int)mSum.size();
        int i = (int)floor((phase - floor(phase)) * n);
        i = std::min(n - 1, std::max(0, i));
        mSum[i] += v;
        mCount[i]++;
    }
    // Value at a phase, interpolated between the centres of the bins around
    // it; empty bins borrow from their nearest filled neighbour.
    double At(double phase) const
    {
        const int n = (int)mSum.size();
        const double f = (phase - floor(phase)) * n - 0.5;
        const int i = (int)floor(f);
        const double w = f - i;
        return (1 - w) * Bin(i) + w * Bin(i + 1);
    }
    double Bin(int i) const
    {
        const int n = (int)mSum.size();
        for (int d = 0; d < n; ++d)
        {
            for (int s = -1; s <= 1; s += 2)
            {
                const int j = ((i + s * d) % n + n) % n;
                if (mCount[j])
                    return mSum[j] / mCount[j];
            }
        }
        return 0;
    }
    // Largest value in [a, b) and where it is.
    double Max(double a, double b, double* where = nullptr) const
    {
        double best = -1e30;
        for (double p = a; p < b; p += 1.0 / mSum.size())
        {
            const double v = At(p);
            if (v > best)
            {
                best = v;
                if (where)
                    *where = p;
            }
        }
        return best;
    }
    // Smallest value in [a, b) and where it is.
    double Min(double a, double b, double* where = nullptr) const
    {
        double best = 1e30;
        for (double p = a; p < b; p += 1.0 / mSum.size())
        {
            const double v = At(p);
            if (v < best)
            {
                best = v;
                if (where)
                    *where = p;
            }
        }
        return best;
    }

private:
    std::vector<double> mSum;
    std::vector<int> mCount;
};

// Ground contact threshold: a foot point this close to the ground touches it.
inline double ContactThreshold(const Host& h) { return 0.001 * h.height; }

inline WalkReport TraceWalk(Host& host, unsigned int slot, unsigned int dt, double settleMs = 3000,
                            double runMs = 20000)
{
    cActor& a = host.actor();
    WalkReport r;
    r.clip = a.mAction[slot].mName;
    r.dt = dt;
    const double period = (double)a.mAction[slot].mLength - 33.0;
    const double eps = ContactThreshold(host);

    double t = 0;
    while (t < settleMs)
    {
        host.Frame(dt, true, false, false, slot);
        t += dt;
    }

    PhaseBins hip, knee, ankle, list, rot, bob, shoulder, elbow, rootSpeed(20);
    const V3 start = host.Head(kRoot);
    V3 lastRoot = start;
    double elapsed = 0;
    long frames = 0, stanceFrames = 0, doubleFrames = 0;
    std::vector<double> strikeTimes;
    std::vector<V3> strikePos[2];
    bool wasLocked[2] = {a.mRightFoot.mLock, a.mLeftFoot.mLock};
    double freeSince[2] = {-1e9, -1e9}; // a contact starts with a lock after a swing
    double slideNow[2] = {0, 0};
    bool grounded[2] = {false, false};
    bool wasContact = false;
    double onSum = 0, offSum = 0;
    int onN = 0, offN = 0;
    V3 ballStart[2];
    double worstSkid = 0, worstSlide = 0, worstGround = 0, clearance = 1e30;
    int contacts = 0;
    double bobMin = 1e30, bobMax = -1e30;
    double sumArm = 0, sumArm2 = 0, sumLeg = 0, sumLeg2 = 0, sumArmLeg = 0;
    long armN = 0;
    cFootLock* locks[2] = {&a.mRightFoot, &a.mLeftFoot};
    const int toes[2] = {kToesR, kToesL};

    while (elapsed < runMs)
    {
        host.Frame(dt, true, false, false, slot);
        elapsed += dt;
        ++frames;
        const double phR = ((double)a.mTime - 34.0) / period + kWalkStartPhase;
        {
            const V3 root = host.Head(kRoot);
            rootSpeed.Add(phR, Horiz(root - lastRoot) / dt);
            lastRoot = root;
        }

        // Contact and the ground.
        bool contact[2];
        for (int s = 0; s < 2; ++s)
            contact[s] = host.FootLowest(s) < eps;
        stanceFrames += (contact[0] ? 1 : 0) + (contact[1] ? 1 : 0);
        doubleFrames += (contact[0] && contact[1]) ? 1 : 0;
        r.airFrames += (!contact[0] && !contact[1]) ? 1 : 0;
        worstGround = std::max(worstGround, fabs(host.Lowest()));
        if (frames > 1 && contact[0] != wasContact)
        {
            // Phase of the change, relative to the right heel strike.
            double ph = phR - floor(phR);
            if (contact[0])
            {
                onSum += ph > 0.5 ? ph - 1 : ph;
                ++onN;
            }
            else
            {
                offSum += ph;
                ++offN;
            }
        }
        wasContact = contact[0];

        // Locks: heel strikes, slide while locked, ball skid while grounded.
        for (int s = 0; s < 2; ++s)
        {
            const bool locked = locks[s]->mLock;
            const V3 ankleNow = host.Head(host.footIndex[s]);
            if (!locked && wasLocked[s])
                freeSince[s] = elapsed;
            if (locked && !wasLocked[s] && elapsed - freeSince[s] >= 100.0)
            {
                strikeTimes.push_back(elapsed);
                // Where the ankle stands once this frame's corrections are
                // applied (the lock records it before them).
                strikePos[s].push_back(ankleNow);
                slideNow[s] = 0;
                ++contacts;
            }
            if (locked && !strikePos[s].empty())
            {
                const V3 d = ankleNow - strikePos[s].back();
                slideNow[s] = std::max(slideNow[s], Horiz(d));
                worstSlide = std::max(worstSlide, slideNow[s]);
            }
            wasLocked[s] = locked;

            const V3 ball = host.Tail(host.footIndex[s]);
            const bool ballDown = ball.y < eps;
            if (ballDown && !grounded[s])
                ballStart[s] = ball;
            if (ballDown)
                worstSkid = std::max(worstSkid, Horiz(ball - ballStart[s]));
            grounded[s] = ballDown;
            const double own = phR - 0.5 * s - floor(phR - 0.5 * s);
            if (own > 0.65 && own < 0.9)
                clearance = std::min(clearance, std::min(host.FootLowest(s), host.Tail(toes[s]).y));
        }

        // Angles, per leg at the leg's own phase.
        const M3 pelvis = host.Anat(kPelvis);
        const M3 chest = host.Anat(kChest);
        const int thighI[2] = {kThighR, kThighL}, shinI[2] = {kShinR, kShinL};
        const int upperI[2] = {kUpperArmR, kUpperArmL}, foreI[2] = {kForearmR, kForearmL};
        for (int s = 0; s < 2; ++s)
        {
            const double ph = phR - 0.5 * s;
            const M3 thighW = RotOf(a.mArmature.mBones[thighI[s]].mWorldTransform);
            const M3 shinW = RotOf(a.mArmature.mBones[shinI[s]].mWorldTransform);
            const M3 footW = RotOf(a.mArmature.mBones[host.footIndex[s]].mWorldTransform);
            const double h = SagittalFromDown(pelvis, thighW.c[1]);
            const double k = SagittalFromDown(host.Anat(thighI[s]), thighW.c[1]) -
                             SagittalFromDown(host.Anat(thighI[s]), shinW.c[1]);
            // Foot pitch within the shin's frame, relative to its rest pitch.
            const M3 shinA = host.Anat(shinI[s]);
            const V3 fl = shinA.T() * footW.c[1];
            const V3 fr = host.restWorld[kRoot].T() * host.restWorld[host.footIndex[s]].c[1];
            const double an = Deg(atan2(fl.z, fl.y)) - Deg(atan2(fr.z, fr.y));
            hip.Add(ph, h);
            knee.Add(ph, k);
            ankle.Add(ph, an);
            const M3 upperW = RotOf(a.mArmature.mBones[upperI[s]].mWorldTransform);
            const M3 foreW = RotOf(a.mArmature.mBones[foreI[s]].mWorldTransform);
            const double sh = SagittalFromDown(chest, upperW.c[1]);
            const double el = Deg(acos(std::min(1.0, std::max(-1.0, upperW.c[1].dot(foreW.c[1])))));
            shoulder.Add(ph, sh);
            elbow.Add(ph, el);
            if (s == 0)
            {
                sumArm += sh;
                sumArm2 += sh * sh;
                sumLeg += h;
                sumLeg2 += h * h;
                sumArmLeg += sh * h;
                ++armN;
            }
        }
        const V3 hr = host.Head(kThighR), hl = host.Head(kThighL);
        const M3 hf = host.HeadingFrame();
        const V3 d = hf.T() * (hr - hl);
        list.Add(phR, Deg(atan2(d.z, sqrt(d.x * d.x + d.y * d.y))));
        rot.Add(phR, Deg(atan2(d.y, d.x)));
        const double mid = 0.5 * (hr.y + hl.y);
        bob.Add(phR, mid);
        bobMin = std::min(bobMin, mid);
        bobMax = std::max(bobMax, mid);
    }

    const V3 end = host.Head(kRoot);
    const double L = host.legLength;
    r.speed = Horiz(end - start) / L / (elapsed / 1000.0);
    if (strikeTimes.size() > 1)
        r.cadence = (strikeTimes.size() - 1) / ((strikeTimes.back() - strikeTimes.front()) / 60000.0);
    double strideSum = 0;
    int strideN = 0;
    for (int s = 0; s < 2; ++s)
        for (size_t i = 1; i < strikePos[s].size(); ++i)
        {
            strideSum += Horiz(strikePos[s][i] - strikePos[s][i - 1]);
            ++strideN;
        }
    const double strideUnits = strideN ? strideSum / strideN : 0;
    r.stride = strideUnits / L;
    r.stance = 100.0 * stanceFrames / (2.0 * frames);
    r.doubleSupport = 100.0 * doubleFrames / frames;
    r.hipPeak = hip.Max(0.7, 1.0, &r.hipPeakPhase);
    r.hipAt50 = hip.At(0.5);
    r.kneeStrike = knee.At(0.0);
    r.kneeAt12 = knee.At(0.12);
    r.kneeToeOff = knee.At(0.6);
    r.kneePeak = knee.Max(0.6, 0.9, &r.kneePeakPhase);
    r.ankleAt8 = ankle.At(0.08);
    r.ankleAt50 = ankle.At(0.5);
    r.ankleAt62 = ankle.Min(0.58, 0.68, &r.ankle62Phase);
    r.list = 0.5 * (list.Max(0, 1) - list.Min(0, 1));
    r.rotation = 0.5 * (rot.Max(0, 1) - rot.Min(0, 1));
    r.bob = 100.0 * (bob.Max(0, 1) - bob.Min(0, 1)) / L;
    // Peaks of the hip height over one stride.
    r.bobPeaks = 0;
    const double bobMid = 0.5 * (bob.Max(0, 1) + bob.Min(0, 1));
    bool above = bob.At(0.0) > bobMid;
    for (int i = 1; i <= 100; ++i)
    {
        const bool now = bob.At(i / 100.0) > bobMid;
        if (now && !above)
            ++r.bobPeaks;
        above = now;
    }
    r.shoulderArc = shoulder.Max(0, 1) - shoulder.Min(0, 1);
    r.elbowMin = elbow.Min(0, 1);
    r.elbowMax = elbow.Max(0, 1);
    if (armN > 1)
    {
        const double ma = sumArm / armN, ml = sumLeg / armN;
        const double va = sumArm2 / armN - ma * ma, vl = sumLeg2 / armN - ml * ml;
        r.armLegCorrelation = (sumArmLeg / armN - ma * ml) / sqrt(std::max(1e-12, va * vl));
    }
    r.slide = strideUnits > 0 ? 100.0 * worstSlide / strideUnits : 0;
    r.toeSkid = strideUnits > 0 ? 100.0 * worstSkid / strideUnits : 0;
    r.ground = 100.0 * worstGround / host.height;
    r.clearance = 100.0 * clearance / host.height;
    r.contacts = contacts;
    {
        double mean = 0, lo = 1e30, hi = 0;
        for (int i = 0; i < 20; ++i)
        {
            const double v = rootSpeed.Bin(i);
            mean += v / 20;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        r.rootSlow = 100.0 * lo / mean;
        r.rootFast = 100.0 * hi / mean;
    }
    r.footOn = onN ? onSum / onN : 0;
    r.footOff = offN ? offSum / offN : 0;
    {
        const V3 d = end - start;
        const V3 fwd = host.restWorld[kRoot] * RotZ(a.mHeading) * V3(0, 1, 0);
        r.heading = Deg(atan2(fwd.z * d.x - fwd.x * d.z, fwd.x * d.x + fwd.z * d.z));
    }
    for (int i = 0; i < 20; ++i)
    {
        const double ph = i / 20.0;
        r.curve[0][i] = hip.At(ph);
        r.curve[1][i] = knee.At(ph);
        r.curve[2][i] = ankle.At(ph);
        r.curve[3][i] = bob.At(ph) - bob.Min(0, 1);
        r.curve[4][i] = shoulder.At(ph);
        r.curve[5][i] = elbow.At(ph);
    }
    (void)bobMin;
    (void)bobMax;
    return r;
}

inline StandReport TraceStand(Host& host, unsigned int dt, double settleMs = 2000, double runMs = 10000)
{
    StandReport r;
    double t = 0;
    while (t < settleMs)
    {
        host.Frame(dt, false, false, false, 0);
        t += dt;
    }
    const V3 start = host.Head(kRoot);
    double drift = 0, ground = 0, travel = 0;
    V3 rel0[2];
    for (int s = 0; s < 2; ++s)
        rel0[s] = host.Head(host.footIndex[s]) - host.Head(kRoot);
    double elapsed = 0;
    while (elapsed < runMs)
    {
        host.Frame(dt, false, false, false, 0);
        elapsed += dt;
        drift = std::max(drift, Horiz(host.Head(kRoot) - start));
        ground = std::max(ground, fabs(host.Lowest()));
        for (int s = 0; s < 2; ++s)
            travel = std::max(travel, (host.Head(host.footIndex[s]) - host.Head(kRoot) - rel0[s]).len());
    }
    r.drift = 100.0 * drift / host.height;
    r.ground = 100.0 * ground / host.height;
    r.ankleTravel = travel;
    return r;
}

// Walks while turning (left when rate > 0), compares the direction of travel
// over each stride with the mean heading over it.
inline TurnReport TraceTurn(Host& host, unsigned int slot, unsigned int dt, bool left, double settleMs = 3000,
                            double runMs = 12000)
{
    cActor& a = host.actor();
    TurnReport r;
    double t = 0;
    while (t < settleMs)
    {
        host.Frame(dt, true, false, false, slot);
        t += dt;
    }
    const double period = (double)a.mAction[slot].mLength - 33.0;
    // The step keeps the heading within one turn; follow it unwrapped.
    double heading = a.mHeading, last = a.mHeading;
    const double h0 = heading;
    double elapsed = 0, winStart = 0, headingSum = 0;
    long winFrames = 0;
    V3 winPos = host.Head(kRoot);
    double errSum = 0;
    int windows = 0;
    while (elapsed < runMs)
    {
        host.Frame(dt, true, left, !left, slot);
        elapsed += dt;
        heading += remainder(a.mHeading - last, 360.0);
        last = a.mHeading;
        headingSum += heading;
        ++winFrames;
        if (elapsed - winStart >= period)
        {
            const V3 p = host.Head(kRoot);
            const V3 d = p - winPos;
            const double meanHeading = headingSum / winFrames;
            // Forward at heading h, in world axes: the heading frame's +y.
            const V3 fwd = host.restWorld[kRoot] * RotZ(meanHeading) * V3(0, 1, 0);
            const double cross = fwd.z * d.x - fwd.x * d.z;
            const double dot = fwd.x * d.x + fwd.z * d.z;
            const double err = fabs(Deg(atan2(cross, dot)));
            errSum += err;
            r.maxError = std::max(r.maxError, err);
            ++windows;
            winPos = p;
            winStart = elapsed;
            headingSum = 0;
            winFrames = 0;
        }
    }
    r.meanError = windows ? errSum / windows : 0;
    r.turned = fabs(heading - h0);
    return r;
}

inline void PrintWalkHeader(FILE* f)
{
    fprintf(f, "%-6s %3s | %5s %6s %5s %5s %5s %3s | %5s %5s | %5s %5s %5s %5s@%-3s | %6s %6s %5s@%-2s | %4s %4s %4s %2s | "
               "%4s %5s %4s %4s | %5s %5s %5s %5s\n",
            "clip", "dt", "speed", "cadnc", "strd", "stnc", "dbl", "air", "hipPk", "hip50", "kHS", "k12", "kTO",
            "kPk", "ph", "ank8", "ank50", "ankPF", "ph", "list", "rot", "bob", "pk", "arm", "corr", "elMn", "elMx",
            "slide", "skid", "grnd", "clear");
}

inline std::string WalkLine(const WalkReport& r)
{
    char buf[512];
    snprintf(buf, sizeof buf,
             "%-6s %3u | %5.2f %6.1f %5.2f %5.1f %5.1f %3d | %5.1f %5.1f | %5.1f %5.1f %5.1f %5.1f@%-3.0f | "
             "%6.1f %6.1f %5.1f@%-2.0f | %4.1f %4.1f %4.1f %2d | %4.1f %5.2f %4.1f %4.1f | %5.2f %5.2f %5.2f %5.2f",
             r.clip.c_str(), r.dt, r.speed, r.cadence, r.stride, r.stance, r.doubleSupport, r.airFrames, r.hipPeak,
             r.hipAt50, r.kneeStrike, r.kneeAt12, r.kneeToeOff, r.kneePeak, r.kneePeakPhase * 100, r.ankleAt8,
             r.ankleAt50, r.ankleAt62, r.ankle62Phase * 100, r.list, r.rotation, r.bob, r.bobPeaks, r.shoulderArc,
             r.armLegCorrelation, r.elbowMin, r.elbowMax, r.slide, r.toeSkid, r.ground, r.clearance);
    return buf;
}

inline void PrintWalk(FILE* f, const WalkReport& r) { fprintf(f, "%s\n", WalkLine(r).c_str()); }

inline void PrintCurves(FILE* f, const WalkReport& r)
{
    static const char* names[6] = {"hip", "knee", "ankle", "bob", "shoulder", "elbow"};
    fprintf(f, "%-8s", "phase %");
    for (int i = 0; i < 20; ++i)
        fprintf(f, " %5d", i * 5);
    fprintf(f, "\n");
    for (int c = 0; c < 6; ++c)
    {
        fprintf(f, "%-8s", names[c]);
        for (int i = 0; i < 20; ++i)
            fprintf(f, c == 3 ? " %5.3f" : " %5.1f", r.curve[c][i]);
        fprintf(f, "\n");
    }
}

} // namespace walker

#endif // _GAIT_TRACE_H_
