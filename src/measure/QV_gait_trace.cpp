// The gait trace. Index (sections in this order):
//   [SECTION] Host        the body at rest: the legs and their frames
//   [SECTION] PhaseBins   averaging by phase
//   [SECTION] Walk        the stages: settle, record, phases, contacts,
//                         curves, summary; and TraceWalk that runs them
//   [SECTION] Stand       standing drift
//   [SECTION] Turn        steering
//   [SECTION] Print       the report's lines
#include "QV_gait_trace.h"

#include <math.h>

#include <algorithm>

#include "QV_character.h"
#include "QV_gait_params.h"
#include "QV_walker_skeleton.h"

namespace measure
{

using walker::Axes;
using walker::RotZ;

// ---------------------------------------------------------------------------
// [SECTION] Host

M3 RotOf(const cMatrix4D& m)
{
    return Axes(V3(m._m[0], m._m[1], m._m[2]), V3(m._m[4], m._m[5], m._m[6]), V3(m._m[8], m._m[9], m._m[10]));
}
V3 PosOf(const cMatrix4D& m) { return V3(m._m[12], m._m[13], m._m[14]); }
V3 TailOf(const cBone& b) { return PosOf(b.mWorldTransform) + RotOf(b.mWorldTransform).c[1] * b.mLength; }

namespace
{
int IndexOf(const cArmature& arm, const cBone* b) { return b ? (int)(b - arm.mBones.data()) : -1; }

// The generated walker's bones: its names and parents, bone by bone.
bool IsWalkerSkeleton(const cArmature& arm)
{
    if (arm.mBones.size() != (size_t)walker::kBoneCount)
        return false;
    const std::vector<walker::BoneDef> skeleton = walker::MakeSkeleton(walker::Body());
    for (int i = 0; i < walker::kBoneCount; ++i)
        if (arm.mBones[i].mName != walker::BoneName(i) || IndexOf(arm, arm.mBones[i].mParent) != skeleton[i].parent)
            return false;
    return true;
}

std::string FindLeg(const cArmature& arm, const char* footName, const char* side, sLeg& leg)
{
    auto it = std::find(arm.mBones.begin(), arm.mBones.end(), std::string(footName));
    if (it == arm.mBones.end())
        return std::string("no ") + side + " foot bone named '" + footName + "'";
    const cBone& foot = *it;
    const cBone* shin = foot.mParent;
    const cBone* thigh = shin ? shin->mParent : nullptr;
    if (!thigh)
        return std::string("the ") + side + " foot '" + footName + "' needs a shin and a thigh above it";
    leg.foot = IndexOf(arm, &foot);
    leg.shin = IndexOf(arm, shin);
    leg.thigh = IndexOf(arm, thigh);
    leg.hip = IndexOf(arm, thigh->mParent);
    leg.toe = foot.mChildren.empty() ? -1 : IndexOf(arm, foot.mChildren[0]);
    return std::string();
}
} // namespace

std::string FindLayout(const cArmature& arm, sLayout& layout)
{
    layout = sLayout();
    if (!arm.mRootBone)
        return "no skeleton";
    layout.root = IndexOf(arm, arm.mRootBone);
    if (arm.mRootBone->mChildren.empty())
        return "the root bone '" + arm.mRootBone->mName + "' has no child to give the walking direction";
    layout.marker = IndexOf(arm, arm.mRootBone->mChildren[0]);
    std::string problem = FindLeg(arm, kRightFootBone, "right", layout.leg[0]);
    if (problem.empty())
        problem = FindLeg(arm, kLeftFootBone, "left", layout.leg[1]);
    if (problem.empty())
        layout.walker = IsWalkerSkeleton(arm);
    return problem;
}

cGaitHost::cGaitHost(const std::string& path) : cHost(path) { Init(); }

cGaitHost::cGaitHost(const sActorText& text) : cHost(text) { Init(); }

void cGaitHost::Init()
{
    const std::string problem = FindLayout(actor().mArmature, layout);
    if (!problem.empty())
        throw cMeasureError(problem);
    const size_t n = actor().mArmature.mBones.size();
    restWorld.resize(n);
    for (size_t i = 0; i < n; ++i)
        restWorld[i] = RotOf(actor().mArmature.mBones[i].mWorldTransform);
    const sLeg* leg = layout.leg;
    if (layout.walker)
    {
        // The walker's root frame is its body frame.
        legLength = 0.5 * (Head(leg[0].thigh).y + Head(leg[1].thigh).y);
        return;
    }
    // Body frame: forward towards the root's first child (as the foot locks
    // take it), up the world's up.
    V3 fwd = Head(layout.marker) - Head(layout.root);
    fwd.y = 0;
    if (!(fwd.len() > 1e-6 * std::max(1.0, Height())))
        throw cMeasureError("the root's first child lies straight above or below it: no walking direction");
    fwd = fwd.unit();
    const V3 up(0, 1, 0);
    bodyRest = restWorld[layout.root].T() * Axes(fwd.cross(up), fwd, up);
    const M3 body = HeadingFrame(0.0);
    for (int s = 0; s < 2; ++s)
    {
        legLength +=
            0.5 * ((Head(leg[s].shin) - Head(leg[s].thigh)).len() + (Head(leg[s].foot) - Head(leg[s].shin)).len());
        restAnkle[s] = SagittalFromDown(body, Tail(leg[s].foot) - Head(leg[s].foot)) -
                       SagittalFromDown(body, Head(leg[s].foot) - Head(leg[s].shin));
    }
}

void cGaitHost::Frame(unsigned int dt, bool walk, bool left, bool right, unsigned int walkCycle)
{
    actor().mWalkCycle = walkCycle;
    sSteering steering;
    steering.mWalk = walk;
    steering.mTurnLeft = left;
    steering.mTurnRight = right;
    Frame(dt, steering);
}

M3 cGaitHost::Anat(int i) const
{
    return RotOf(actor().mArmature.mBones[i].mWorldTransform) * restWorld[i].T() * restWorld[layout.root];
}

M3 cGaitHost::HeadingFrame(double h) const { return restWorld[layout.root] * RotZ(h) * bodyRest; }

V3 cGaitHost::Forward(double h) const { return restWorld[layout.root] * RotZ(h) * bodyRest.c[1]; }

namespace
{
// The lowest of a foot's contact points, its height.
double LowestOf(const V3 points[cFootLock::kContactPoints])
{
    return std::min(points[cFootLock::kHeel].y, std::min(points[cFootLock::kBall].y, points[cFootLock::kToeTip].y));
}
} // namespace

V3 cGaitHost::OnFloor(const cVector3D& p) const
{
    const long long* shift = actor().mOriginShift;
    return V3((double)p.mData[0] + shift[0], (double)p.mData[1] + shift[1], (double)p.mData[2] + shift[2]);
}

V3 cGaitHost::Head(int i) const { return OnFloor(actor().mArmature.mBones[i].mWorldTransform.getTransform()); }

V3 cGaitHost::Tail(int i) const
{
    const cBone& b = actor().mArmature.mBones[i];
    return Head(i) + RotOf(b.mWorldTransform).c[1] * b.mLength;
}

void cGaitHost::FootPoints(int side, V3 out[cFootLock::kContactPoints]) const
{
    cVector3D p[cFootLock::kContactPoints];
    ContactPoints(side, p);
    for (int k = 0; k < cFootLock::kContactPoints; ++k)
        out[k] = OnFloor(p[k]);
}

V3 cGaitHost::Heel(int side) const
{
    V3 p[cFootLock::kContactPoints];
    FootPoints(side, p);
    return p[cFootLock::kHeel];
}

V3 cGaitHost::ToeTip(int side) const
{
    V3 p[cFootLock::kContactPoints];
    FootPoints(side, p);
    return p[cFootLock::kToeTip];
}

double cGaitHost::Lowest() const
{
    double y = 1e30;
    for (size_t i = 0; i < actor().mArmature.mBones.size(); ++i)
        y = std::min(y, std::min(Head((int)i).y, Tail((int)i).y));
    return y;
}

double cGaitHost::FootLowest(int side) const
{
    V3 p[cFootLock::kContactPoints];
    FootPoints(side, p);
    return LowestOf(p);
}

double SagittalFromDown(const M3& a, const V3& v)
{
    const V3 l = a.T() * v;
    return Deg(atan2(l.y, -l.z));
}

double ContactThreshold(const cGaitHost& h) { return 0.001 * h.Height(); }

// ---------------------------------------------------------------------------
// [SECTION] PhaseBins

void PhaseBins::Add(double phase, double v)
{
    const int n = (int)mSum.size();
    int i = (int)floor((phase - floor(phase)) * n);
    i = std::min(n - 1, std::max(0, i));
    mSum[i] += v;
    mCount[i]++;
}

double PhaseBins::At(double phase) const
{
    const int n = (int)mSum.size();
    const double f = (phase - floor(phase)) * n - 0.5;
    const int i = (int)floor(f);
    const double w = f - i;
    return (1 - w) * Bin(i) + w * Bin(i + 1);
}

double PhaseBins::Bin(int i) const
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

double PhaseBins::Max(double a, double b, double* where) const
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

double PhaseBins::Min(double a, double b, double* where) const
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

// ---------------------------------------------------------------------------
// [SECTION] Walk

void Settle(cGaitHost& host, unsigned int dt, double ms, bool walk, unsigned int slot)
{
    double t = 0;
    while (t < ms)
    {
        host.Frame(dt, walk, false, false, slot);
        t += dt;
    }
}

namespace
{
// The joint angles of one frame against the walker's anatomical frames, per
// leg (and the arm on its side).
void MeasureAnatomicalAngles(const cGaitHost& host, sWalkFrame& f)
{
    const cArmature& arm = host.actor().mArmature;
    const M3 pelvis = host.Anat(walker::kPelvis);
    const M3 chest = host.Anat(walker::kChest);
    const int upperI[2] = {walker::kUpperArmR, walker::kUpperArmL}, foreI[2] = {walker::kForearmR, walker::kForearmL};
    for (int s = 0; s < 2; ++s)
    {
        const sLeg& leg = host.layout.leg[s];
        const M3 thighW = RotOf(arm.mBones[leg.thigh].mWorldTransform);
        const M3 shinW = RotOf(arm.mBones[leg.shin].mWorldTransform);
        const M3 footW = RotOf(arm.mBones[leg.foot].mWorldTransform);
        f.hip[s] = SagittalFromDown(pelvis, thighW.c[1]);
        f.knee[s] =
            SagittalFromDown(host.Anat(leg.thigh), thighW.c[1]) - SagittalFromDown(host.Anat(leg.thigh), shinW.c[1]);
        // Foot pitch within the shin's frame, relative to its rest pitch.
        const M3 shinA = host.Anat(leg.shin);
        const V3 fl = shinA.T() * footW.c[1];
        const V3 fr = host.restWorld[host.layout.root].T() * host.restWorld[leg.foot].c[1];
        f.ankleAngle[s] = Deg(atan2(fl.z, fl.y)) - Deg(atan2(fr.z, fr.y));
        const M3 upperW = RotOf(arm.mBones[upperI[s]].mWorldTransform);
        const M3 foreW = RotOf(arm.mBones[foreI[s]].mWorldTransform);
        f.shoulder[s] = SagittalFromDown(chest, upperW.c[1]);
        f.elbow[s] = Deg(acos(std::min(1.0, std::max(-1.0, upperW.c[1].dot(foreW.c[1])))));
    }
}

// Without anatomical frames, the angles the joints' positions give in the
// heading's sagittal plane: the thigh from the vertical (forwards positive;
// hip flexion plus the pelvis's tilt), the knee's flexion and the ankle's
// dorsiflexion against its rest angle.
void MeasureSegmentAngles(const cGaitHost& host, sWalkFrame& f)
{
    const M3 body = host.HeadingFrame();
    for (int s = 0; s < 2; ++s)
    {
        const sLeg& leg = host.layout.leg[s];
        const V3 hip = host.Head(leg.thigh), knee = host.Head(leg.shin), ankle = host.Head(leg.foot);
        const double thigh = SagittalFromDown(body, knee - hip);
        const double shin = SagittalFromDown(body, ankle - knee);
        const double foot = SagittalFromDown(body, host.Tail(leg.foot) - ankle);
        f.hip[s] = thigh;
        f.knee[s] = thigh - shin;
        f.ankleAngle[s] = foot - shin - host.restAnkle[s];
    }
}
} // namespace

sWalkRecord RecordWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double runMs)
{
    const cActor& a = host.actor();
    const sLayout& layout = host.layout;
    sWalkRecord rec;
    rec.period = (double)a.mAction[slot].mLength - (kRestartTime - 1);
    rec.start = host.Head(layout.root);
    for (int s = 0; s < 2; ++s)
        rec.startLocked[s] = host.Foot(s).mLock;
    double elapsed = 0;
    while (elapsed < runMs)
    {
        host.Frame(dt, true, false, false, slot);
        elapsed += dt;
        sWalkFrame f;
        f.elapsed = elapsed;
        f.clock = a.mTime;
        f.heading = a.mHeading;
        f.root = host.Head(layout.root);
        f.lowest = host.Lowest();
        for (int s = 0; s < 2; ++s)
        {
            V3 points[cFootLock::kContactPoints];
            host.FootPoints(s, points);
            f.locked[s] = host.Foot(s).mLock;
            f.ankle[s] = host.Head(layout.leg[s].foot);
            f.ball[s] = points[cFootLock::kBall];
            f.footLowest[s] = LowestOf(points);
            f.toeTip[s] = points[cFootLock::kToeTip].y;
            f.hipJoint[s] = host.Head(layout.leg[s].thigh);
        }
        if (layout.walker)
            MeasureAnatomicalAngles(host, f);
        else
            MeasureSegmentAngles(host, f);
        rec.frames.push_back(f);
    }
    return rec;
}

std::vector<double> CyclePhases(const sWalkRecord& rec, double period, double startPhase)
{
    std::vector<double> phase;
    phase.reserve(rec.frames.size());
    for (const sWalkFrame& f : rec.frames)
        phase.push_back(((double)f.clock - kRestartTime) / period + startPhase);
    return phase;
}

sStrikes FindStrikes(const sWalkRecord& rec)
{
    sStrikes st;
    bool wasLocked[2] = {rec.startLocked[0], rec.startLocked[1]};
    double freeSince[2] = {-1e9, -1e9}; // a contact starts with a lock after a swing
    double slideNow[2] = {0, 0};
    for (size_t i = 0; i < rec.frames.size(); ++i)
    {
        const sWalkFrame& f = rec.frames[i];
        for (int s = 0; s < 2; ++s)
        {
            const bool locked = f.locked[s];
            if (!locked && wasLocked[s])
                freeSince[s] = f.elapsed;
            if (locked && !wasLocked[s] && f.elapsed - freeSince[s] >= 100.0)
            {
                st.times.push_back(f.elapsed);
                // Where the ankle stands once this frame's corrections are
                // applied (the lock records it before them).
                st.pos[s].push_back(f.ankle[s]);
                st.frames[s].push_back(i);
                slideNow[s] = 0;
                ++st.contacts;
            }
            if (locked && !st.pos[s].empty())
            {
                const V3 d = f.ankle[s] - st.pos[s].back();
                slideNow[s] = std::max(slideNow[s], Horiz(d));
                st.worstSlide = std::max(st.worstSlide, slideNow[s]);
            }
            wasLocked[s] = locked;
        }
    }
    return st;
}

std::vector<size_t> Touchdowns(const sWalkRecord& rec, int side, double eps)
{
    std::vector<size_t> frames;
    double offSince = -1e9;
    bool wasDown = true; // a foot already down when recording begins has not just landed
    for (size_t i = 0; i < rec.frames.size(); ++i)
    {
        const sWalkFrame& f = rec.frames[i];
        const bool down = f.footLowest[side] < eps;
        if (!down && wasDown)
            offSince = f.elapsed;
        if (down && !wasDown && f.elapsed - offSince >= 100.0)
            frames.push_back(i);
        wasDown = down;
    }
    return frames;
}

std::vector<double> StrikePhases(const sWalkRecord& rec, double eps)
{
    const std::vector<size_t> k = Touchdowns(rec, 0, eps);
    std::vector<double> phase;
    if (k.size() < 2)
        return phase;
    phase.reserve(rec.frames.size());
    size_t j = 0; // the cycle [k[j], k[j + 1]) nearest to frame i
    for (size_t i = 0; i < rec.frames.size(); ++i)
    {
        while (j + 2 < k.size() && i >= k[j + 1])
            ++j;
        const double t0 = rec.frames[k[j]].elapsed, t1 = rec.frames[k[j + 1]].elapsed;
        phase.push_back(j + (rec.frames[i].elapsed - t0) / (t1 - t0));
    }
    return phase;
}

sContacts FindContacts(const sWalkRecord& rec, const std::vector<double>& phase, double eps)
{
    sContacts c;
    bool grounded[2] = {false, false};
    bool wasContact = false;
    V3 ballStart[2];
    for (size_t i = 0; i < rec.frames.size(); ++i)
    {
        const sWalkFrame& f = rec.frames[i];
        const double phR = phase[i];

        // Contact and the ground.
        bool contact[2];
        for (int s = 0; s < 2; ++s)
            contact[s] = f.footLowest[s] < eps;
        c.stanceFrames += (contact[0] ? 1 : 0) + (contact[1] ? 1 : 0);
        c.doubleFrames += (contact[0] && contact[1]) ? 1 : 0;
        c.airFrames += (!contact[0] && !contact[1]) ? 1 : 0;
        c.worstGround = std::max(c.worstGround, fabs(f.lowest));
        if (i > 0 && contact[0] != wasContact)
        {
            // Phase of the change, relative to the right heel strike.
            double ph = phR - floor(phR);
            if (contact[0])
            {
                c.onSum += ph > 0.5 ? ph - 1 : ph;
                ++c.onN;
            }
            else
            {
                c.offSum += ph;
                ++c.offN;
            }
        }
        wasContact = contact[0];

        // Ball skid while grounded, and the swinging foot's clearance.
        for (int s = 0; s < 2; ++s)
        {
            const V3& ball = f.ball[s];
            const bool ballDown = ball.y < eps;
            if (ballDown && !grounded[s])
                ballStart[s] = ball;
            if (ballDown)
                c.worstSkid = std::max(c.worstSkid, Horiz(ball - ballStart[s]));
            grounded[s] = ballDown;
            const double own = phR - 0.5 * s - floor(phR - 0.5 * s);
            if (own > 0.65 && own < 0.9)
                c.clearance = std::min(c.clearance, std::min(f.footLowest[s], f.toeTip[s]));
        }
    }
    return c;
}

sPhaseCurves PhaseCurves(const cGaitHost& host, const sWalkRecord& rec, const std::vector<double>& phase,
                         unsigned int dt)
{
    sPhaseCurves pc;
    V3 lastRoot = rec.start;
    for (size_t i = 0; i < rec.frames.size(); ++i)
    {
        const sWalkFrame& f = rec.frames[i];
        const double phR = phase[i];
        pc.rootSpeed.Add(phR, Horiz(f.root - lastRoot) / dt);
        lastRoot = f.root;

        // Angles, per leg at the leg's own phase.
        for (int s = 0; s < 2; ++s)
        {
            const double ph = phR - 0.5 * s;
            pc.hip.Add(ph, f.hip[s]);
            pc.knee.Add(ph, f.knee[s]);
            pc.ankle.Add(ph, f.ankleAngle[s]);
            pc.sideHip[s].Add(ph, f.hip[s]);
            pc.sideKnee[s].Add(ph, f.knee[s]);
            pc.sideAnkle[s].Add(ph, f.ankleAngle[s]);
            pc.shoulder.Add(ph, f.shoulder[s]);
            pc.elbow.Add(ph, f.elbow[s]);
            if (s == 0)
            {
                const double sh = f.shoulder[s], h = f.hip[s];
                pc.sumArm += sh;
                pc.sumArm2 += sh * sh;
                pc.sumLeg += h;
                pc.sumLeg2 += h * h;
                pc.sumArmLeg += sh * h;
                ++pc.armN;
            }
        }
        // Pelvis list and rotation from the hip joints, in the heading's frame.
        const V3 hr = f.hipJoint[0], hl = f.hipJoint[1];
        const M3 hf = host.HeadingFrame(f.heading);
        const V3 d = hf.T() * (hr - hl);
        pc.list.Add(phR, Deg(atan2(d.z, sqrt(d.x * d.x + d.y * d.y))));
        pc.rot.Add(phR, Deg(atan2(d.y, d.x)));
        pc.bob.Add(phR, 0.5 * (hr.y + hl.y));
    }
    return pc;
}

WalkReport Summarise(const cGaitHost& host, const sWalkRecord& rec, const sStrikes& st, const sContacts& c,
                     const sPhaseCurves& pc)
{
    WalkReport r;
    r.anatomical = host.layout.walker;
    const sWalkFrame& last = rec.frames.back();
    const double elapsed = last.elapsed;
    const long frames = (long)rec.frames.size();
    const V3 end = last.root;
    const double L = host.legLength;
    r.speedUnits = Horiz(end - rec.start) / (elapsed / 1000.0);
    r.speed = Horiz(end - rec.start) / L / (elapsed / 1000.0);
    if (st.times.size() > 1)
        r.cadence = (st.times.size() - 1) / ((st.times.back() - st.times.front()) / 60000.0);
    double strideSum = 0;
    int strideN = 0;
    for (int s = 0; s < 2; ++s)
        for (size_t i = 1; i < st.pos[s].size(); ++i)
        {
            strideSum += Horiz(st.pos[s][i] - st.pos[s][i - 1]);
            ++strideN;
        }
    const double strideUnits = strideN ? strideSum / strideN : 0;
    r.strideUnits = strideUnits;
    r.stride = strideUnits / L;
    r.stance = 100.0 * c.stanceFrames / (2.0 * frames);
    r.doubleSupport = 100.0 * c.doubleFrames / frames;
    r.airFrames = c.airFrames;
    r.hipPeak = pc.hip.Max(0.7, 1.0, &r.hipPeakPhase);
    r.hipAt50 = pc.hip.At(0.5);
    r.kneeStrike = pc.knee.At(0.0);
    r.kneeAt12 = pc.knee.At(0.12);
    r.kneeToeOff = pc.knee.At(0.6);
    r.kneePeak = pc.knee.Max(0.6, 0.9, &r.kneePeakPhase);
    r.ankleAt8 = pc.ankle.At(0.08);
    r.ankleAt50 = pc.ankle.At(0.5);
    r.ankleAt62 = pc.ankle.Min(0.58, 0.68, &r.ankle62Phase);
    r.list = 0.5 * (pc.list.Max(0, 1) - pc.list.Min(0, 1));
    r.rotation = 0.5 * (pc.rot.Max(0, 1) - pc.rot.Min(0, 1));
    r.bob = 100.0 * (pc.bob.Max(0, 1) - pc.bob.Min(0, 1)) / L;
    // Peaks of the hip height over one stride.
    r.bobPeaks = 0;
    const double bobMid = 0.5 * (pc.bob.Max(0, 1) + pc.bob.Min(0, 1));
    bool above = pc.bob.At(0.0) > bobMid;
    for (int i = 1; i <= 100; ++i)
    {
        const bool now = pc.bob.At(i / 100.0) > bobMid;
        if (now && !above)
            ++r.bobPeaks;
        above = now;
    }
    if (r.anatomical)
    {
        r.shoulderArc = pc.shoulder.Max(0, 1) - pc.shoulder.Min(0, 1);
        r.elbowMin = pc.elbow.Min(0, 1);
        r.elbowMax = pc.elbow.Max(0, 1);
        if (pc.armN > 1)
        {
            const long n = pc.armN;
            const double ma = pc.sumArm / n, ml = pc.sumLeg / n;
            const double va = pc.sumArm2 / n - ma * ma, vl = pc.sumLeg2 / n - ml * ml;
            r.armLegCorrelation = (pc.sumArmLeg / n - ma * ml) / sqrt(std::max(1e-12, va * vl));
        }
    }
    r.slide = strideUnits > 0 ? 100.0 * st.worstSlide / strideUnits : 0;
    r.toeSkid = strideUnits > 0 ? 100.0 * c.worstSkid / strideUnits : 0;
    r.ground = 100.0 * c.worstGround / host.Height();
    r.clearance = c.clearance < 1e29 ? 100.0 * c.clearance / host.Height() : 0; // 0: no frame in mid swing
    r.contacts = st.contacts;
    {
        double mean = 0, lo = 1e30, hi = 0;
        for (int i = 0; i < 20; ++i)
        {
            const double v = pc.rootSpeed.Bin(i);
            mean += v / 20;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
        // A clip that never moves the root has no speed profile.
        r.rootSlow = mean > 0 ? 100.0 * lo / mean : 0;
        r.rootFast = mean > 0 ? 100.0 * hi / mean : 0;
    }
    r.footOn = c.onN ? c.onSum / c.onN : 0;
    r.footOff = c.offN ? c.offSum / c.offN : 0;
    {
        const V3 d = end - rec.start;
        const V3 fwd = host.Forward(last.heading);
        r.heading = Deg(atan2(fwd.z * d.x - fwd.x * d.z, fwd.x * d.x + fwd.z * d.z));
    }
    for (int i = 0; i < 20; ++i)
    {
        const double ph = i / 20.0;
        r.curve[0][i] = pc.hip.At(ph);
        r.curve[1][i] = pc.knee.At(ph);
        r.curve[2][i] = pc.ankle.At(ph);
        r.curve[3][i] = pc.bob.At(ph) - pc.bob.Min(0, 1);
        r.curve[4][i] = r.anatomical ? pc.shoulder.At(ph) : 0;
        r.curve[5][i] = r.anatomical ? pc.elbow.At(ph) : 0;
    }
    return r;
}

std::vector<double> WalkPhases(const cGaitHost& host, const sWalkRecord& rec)
{
    // The walker's clips are one cycle each and start at a known phase;
    // other clips are timed by their own heel strikes.
    if (host.layout.walker)
        return CyclePhases(rec, rec.period, walker::kWalkStartPhase);
    std::vector<double> phase = StrikePhases(rec, ContactThreshold(host));
    if (phase.empty())
        phase = CyclePhases(rec, std::max(1.0, rec.period), 0.0); // a clip shorter than the restart time has no cycle
    return phase;
}

sWalkTrace RunWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double settleMs, double runMs)
{
    sWalkTrace w;
    Settle(host, dt, settleMs, true, slot);
    w.rec = RecordWalk(host, slot, dt, runMs);
    w.strikes = FindStrikes(w.rec);
    w.phase = WalkPhases(host, w.rec);
    w.contacts = FindContacts(w.rec, w.phase, ContactThreshold(host));
    w.curves = PhaseCurves(host, w.rec, w.phase, dt);
    w.report = Summarise(host, w.rec, w.strikes, w.contacts, w.curves);
    w.report.clip = host.actor().mAction[slot].mName;
    w.report.dt = dt;
    return w;
}

WalkReport TraceWalk(cGaitHost& host, unsigned int slot, unsigned int dt, double settleMs, double runMs)
{
    return RunWalk(host, slot, dt, settleMs, runMs).report;
}

// ---------------------------------------------------------------------------
// [SECTION] Stand

StandReport TraceStand(cGaitHost& host, unsigned int dt, double settleMs, double runMs)
{
    StandReport r;
    Settle(host, dt, settleMs, false, kWalkSlot);
    const V3 start = host.Head(host.layout.root);
    double drift = 0, ground = 0, travel = 0;
    V3 rel0[2];
    for (int s = 0; s < 2; ++s)
        rel0[s] = host.Head(host.layout.leg[s].foot) - host.Head(host.layout.root);
    double elapsed = 0;
    while (elapsed < runMs)
    {
        host.Frame(dt, false, false, false, kWalkSlot);
        elapsed += dt;
        drift = std::max(drift, Horiz(host.Head(host.layout.root) - start));
        ground = std::max(ground, fabs(host.Lowest()));
        for (int s = 0; s < 2; ++s)
            travel =
                std::max(travel, (host.Head(host.layout.leg[s].foot) - host.Head(host.layout.root) - rel0[s]).len());
    }
    r.drift = 100.0 * drift / host.Height();
    r.ground = 100.0 * ground / host.Height();
    r.ankleTravel = travel;
    return r;
}

// ---------------------------------------------------------------------------
// [SECTION] Turn

TurnReport TraceTurn(cGaitHost& host, unsigned int slot, unsigned int dt, bool left, double settleMs, double runMs)
{
    const cActor& a = host.actor();
    TurnReport r;
    Settle(host, dt, settleMs, true, slot);
    const double period = (double)a.mAction[slot].mLength - (kRestartTime - 1);
    // The step keeps the heading within one turn; follow it unwrapped.
    double heading = a.mHeading, last = a.mHeading;
    const double h0 = heading;
    double elapsed = 0, winStart = 0, headingSum = 0;
    long winFrames = 0;
    V3 winPos = host.Head(host.layout.root);
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
            const V3 p = host.Head(host.layout.root);
            const V3 d = p - winPos;
            const double meanHeading = headingSum / winFrames;
            const V3 fwd = host.Forward(meanHeading);
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

// ---------------------------------------------------------------------------
// [SECTION] Print

void PrintWalkHeader(FILE* f)
{
    fprintf(
        f,
        "%-6s %3s | %5s %6s %5s %5s %5s %3s | %5s %5s | %5s %5s %5s %5s@%-3s | %6s %6s %5s@%-2s | %4s %4s %4s %2s | "
        "%4s %5s %4s %4s | %5s %5s %5s %5s\n",
        "clip", "dt", "speed", "cadnc", "strd", "stnc", "dbl", "air", "hipPk", "hip50", "kHS", "k12", "kTO", "kPk",
        "ph", "ank8", "ank50", "ankPF", "ph", "list", "rot", "bob", "pk", "arm", "corr", "elMn", "elMx", "slide",
        "skid", "grnd", "clear");
}

std::string WalkLine(const WalkReport& r)
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

void PrintWalk(FILE* f, const WalkReport& r) { fprintf(f, "%s\n", WalkLine(r).c_str()); }

void PrintCurves(FILE* f, const WalkReport& r)
{
    static const char* names[6] = {"hip", "knee", "ankle", "bob", "shoulder", "elbow"};
    fprintf(f, "%-8s", "phase %");
    for (int i = 0; i < 20; ++i)
        fprintf(f, " %5d", i * 5);
    fprintf(f, "\n");
    for (int c = 0; c < (r.anatomical ? 6 : 4); ++c)
    {
        fprintf(f, "%-8s", c == 0 && !r.anatomical ? "thigh" : names[c]);
        for (int i = 0; i < 20; ++i)
            fprintf(f, c == 3 ? " %5.3f" : " %5.1f", r.curve[c][i]);
        fprintf(f, "\n");
    }
}

void PrintLayoutWalkHeader(FILE* f)
{
    fprintf(f, "%-6s %3s | %5s %5s %6s %5s %5s | %5s %5s %3s %4s | %5s %5s %5s %5s | %4s %4s %4s %2s | %5s\n", "clip",
            "dt", "u/s", "L/s", "cadnc", "strd", "strdL", "stnc", "dbl", "air", "cont", "slide", "skid", "grnd",
            "clear", "list", "rot", "bob", "pk", "head");
}

std::string LayoutWalkLine(const WalkReport& r)
{
    char buf[512];
    snprintf(buf, sizeof buf,
             "%-6s %3u | %5.2f %5.2f %6.1f %5.2f %5.2f | %5.1f %5.1f %3d %4d | %5.2f %5.2f %5.2f %5.2f | "
             "%4.1f %4.1f %4.1f %2d | %5.2f",
             r.clip.c_str(), r.dt, r.speedUnits, r.speed, r.cadence, r.strideUnits, r.stride, r.stance, r.doubleSupport,
             r.airFrames, r.contacts, r.slide, r.toeSkid, r.ground, r.clearance, r.list, r.rotation, r.bob, r.bobPeaks,
             r.heading);
    return buf;
}

namespace
{
const char* BoneNameAt(const cGaitHost& host, int i)
{
    return i >= 0 ? host.actor().mArmature.mBones[i].mName.c_str() : "(none)";
}
} // namespace

void PrintLayout(FILE* f, const cGaitHost& host)
{
    const sLayout& l = host.layout;
    fprintf(f, "Layout: root '%s', forward towards its first child '%s'%s\n", BoneNameAt(host, l.root),
            BoneNameAt(host, l.marker), l.walker ? " (the generated walker's skeleton)" : "");
    static const char* sides[2] = {"right", "left"};
    for (int s = 0; s < 2; ++s)
    {
        const sLeg& g = l.leg[s];
        fprintf(f, "  %-5s leg: hip '%s', thigh '%s', shin '%s', foot '%s', toe '%s'\n", sides[s],
                BoneNameAt(host, g.hip), BoneNameAt(host, g.thigh), BoneNameAt(host, g.shin), BoneNameAt(host, g.foot),
                g.toe >= 0 ? BoneNameAt(host, g.toe) : "(none: the foot's tip)");
    }
}

std::vector<std::string> Unmeasured(const cGaitHost& host)
{
    std::vector<std::string> lines;
    if (host.layout.walker)
        return lines;
    lines.push_back("hip flexion against the pelvis, and the walker's joint-angle norms (hipPk, kHS, k12, kTO, "
                    "ank8, ank50, ankPF): they need the walker's anatomical bone frames; the thigh from the "
                    "vertical, and knee and ankle from the joint positions, are given instead");
    lines.push_back("arm swing and elbows (arm, corr, elMn, elMx): no arm bones are known in this layout");
    static const char* sides[2] = {"right", "left"};
    for (int s = 0; s < 2; ++s)
        if (host.Foot(s).mHeel.length() == 0.0f)
            lines.push_back(std::string("the heel of the ") + sides[s] +
                            " foot: its ankle is not above the foot's lowest rest point, so the ankle stands in");
    return lines;
}

} // namespace measure
