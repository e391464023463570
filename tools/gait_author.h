// The gait model behind data/walker.xml: a handful of body and gait
// parameters in, the actor file text out. Deterministic: no randomness, all
// numbers printed with fixed precision, so the same parameters always give
// the same bytes.
//
// How a walk is built (phase 0 = right heel strike, the left leg runs half a
// cycle behind). The demo's foot locks hold the ankle (the foot bone's head)
// and move the root by the ankle's backward slide, so the ankle paths are
// authored first and the legs are solved to reach them:
// - Locked stance, 0 to 50 %: the ankle moves straight back relative to the
//   root, covering one step, at a constant height; the foot rolls from heel
//   to flat in the first 8 %. Its speed eases a little at both ends, so that
//   the hand-over from one foot to the other (when the arriving foot's lock
//   lags by one frame) costs little slide even at 33 ms frames. From 34 % the
//   heel starts to lift; the ankle rises with it while staying locked.
// - Pre-swing, 50 to 60 %: the other foot has landed and carries the body;
//   the ball of this foot stays put on the ground while the heel rises, so
//   its ankle moves forwards and its lock lets go.
// - Swing, 60 to 100 %: the ankle travels forwards over the ground along a
//   path that never reverses (so its lock stays free) and brakes to rest at
//   heel strike; its height first lifts, then follows from a knee that
//   straightens onto the heel-strike posture. The ankle plantarflexes a
//   little more after toe-off, comes back to neutral, and dorsiflexes where
//   the toes would otherwise touch the ground.
// - Hip height: the pelvis hangs from the root through a link bone whose
//   tilt lowers and raises the hips; the tilt is solved so the stance knee
//   follows an adult's curve (nearly straight at heel strike, bending under
//   load, easing through mid stance), and lowered a touch wherever a leg
//   would otherwise fall short of its target.
// - List, rotation and side sway of the pelvis, trunk counter-rotation,
//   breathing and arm swing are sinusoids locked to the leg cycle.
// Every leg pose is solved by two-bone inverse kinematics, so the authored
// feet are exactly where the gait puts them.
#ifndef _GAIT_AUTHOR_H_
#define _GAIT_AUTHOR_H_

#include <algorithm>
#include <string>
#include <vector>

#include "gait_common.h"

namespace walker
{

// The clock restarts at this time once it passes the action's length. A cycle
// of period P is an action of length P + kRestartMs - 1: the pose at the
// restart time is the pose one millisecond after the length, so even a 1 ms
// frame step moves on at the restart.
static const int kRestartMs = 34;

struct GaitParams
{
    std::string name = "walk";
    int periodMs = 1130;            // one stride (two steps)
    double stride = 2.92;           // root travel per stride, units
    double leadFraction = 0.43;     // share of the step the landing ankle is ahead of its hip joint
    double speedDip = 0.3;          // 0: constant ankle speed in stance; 0.5: half speed at the hand-over
    double speedDipWidth = 0.07;    // phase width of that dip
    double kneeStrike = 2.0;        // knee flexion at heel strike, degrees
    double kneeLoad = 18.5;         // at 12 %
    double kneeMid = 21.0;          // at 30 %
    double kneeLate = 6.0;          // at 40 %
    double kneeMin = 0.8;           // the legs never lock straight
    double toeOff = 0.60;
    double heelOffStart = 0.34;     // the heel starts to lift (ankle still locked)
    double heelOffEnd = 20.0;       // sole pitch reached by 50 %, degrees toes down
    double heelRise = -62.0;        // sole pitch at toe-off, degrees
    double ankleStrike = 0.0;       // ankle dorsiflexion at heel strike
    double footFlat = 0.08;         // phase at which the sole is flat after heel strike
    double lift = 0.46;             // ankle height in early swing, units over the ground
    double liftPhase = 0.70;
    double liftOff = 0.08;          // ankle rise over the first 4 % of swing
    double lateLift = 0.10;         // ankle over its stance height at 90 %
    double clearance = 0.05;        // lowest foot point over the ground in swing
    double pushOff = -12.0;          // further plantarflexion just after toe-off
    double ankleSwing = 2.0;        // ankle dorsiflexion through mid swing
    double brake = 0.05;            // share of the cycle the landing foot brakes over
    double kneeSwingPeak = 64.0;    // knee flexion at its swing peak
    double kneePeakPhase = 0.73;
    double kneeSwingLate = 26.0;    // knee flexion at 85 %
    double kneeLanding = 4.0;       // knee flexion over its heel-strike value at 93 %
    double pelvisTilt = 3.0;        // forwards, while walking
    double pelvisList = 4.0;        // degrees
    double pelvisRotation = 5.0;    // degrees
    double pelvisSway = 0.03;       // units, side shift of the hip centre
    double trunkLean = 3.0;         // forward, degrees
    double trunkCounter = 0.6;      // chest counter-rotation, share of the pelvis rotation
    double shoulderArc = 27.0;      // full arc, degrees
    double shoulderCentre = -5.0;   // flexion at the middle of the arc
    double elbowMin = 12.0;
    double elbowMax = 38.0;
    double headPitch = 0.0;         // positive looks up
    double keyStepMs = 23.0;        // about this far apart
};

struct IdleParams
{
    std::string name = "stand";
    int periodMs = 4000;
    double sway = 0.025;            // side shift of the hip centre, units
    double list = 1.0;              // degrees
    double kneeFlex = 8.0;          // degrees, standing
    double breath = 1.2;            // chest pitch, degrees
    double shoulderBreath = 1.0;
    double elbow = 10.0;
    double keyStepMs = 50.0;
};

struct ActorParams
{
    Body body;
    GaitParams walk;
    IdleParams idle;
    GaitParams walk2;
};

inline ActorParams DefaultActorParams()
{
    ActorParams p;
    p.walk.name = "walk";
    p.walk2.name = "brisk";
    p.walk2.periodMs = 1000;
    p.walk2.stride = 3.0;
    p.walk2.kneeLoad = 19.0;
    p.walk2.kneeMid = 22.0;
    p.walk2.lift = 0.46;
    p.walk2.heelRise = -64.0;
    p.walk2.pelvisList = 3.5;
    p.walk2.pelvisRotation = 6.0;
    p.walk2.trunkLean = -2.0;
    p.walk2.trunkCounter = 0.8;
    p.walk2.shoulderArc = 26.0;
    p.walk2.shoulderCentre = -2.0;
    p.walk2.elbowMin = 26.0;
    p.walk2.elbowMax = 42.0;
    p.walk2.headPitch = 4.0;
    return p;
}

// ---------------------------------------------------------------------------
// Curves.

struct Knot
{
    double p, v, d; // phase, value, slope (per unit phase)
};

inline double Hermite(const std::vector<Knot>& k, double p)
{
    if (p <= k.front().p)
        return k.front().v + k.front().d * (p - k.front().p);
    if (p >= k.back().p)
        return k.back().v + k.back().d * (p - k.back().p);
    size_t i = 0;
    while (i + 2 < k.size() && p > k[i + 1].p)
        ++i;
    const Knot& a = k[i];
    const Knot& b = k[i + 1];
    const double h = b.p - a.p;
    const double t = (p - a.p) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * a.v + (t3 - 2 * t2 + t) * h * a.d + (-2 * t3 + 3 * t2) * b.v +
           (t3 - t2) * h * b.d;
}

inline double Wrap01(double p) { return p - floor(p); }
inline double Smooth(double t)
{
    t = std::min(1.0, std::max(0.0, t));
    return t * t * (3 - 2 * t);
}

// ---------------------------------------------------------------------------
// Posing.

struct Pose
{
    M3 W[kBoneCount];    // bone frames, body coordinates
    V3 head[kBoneCount]; // bone heads, body coordinates
};

struct PelvisState
{
    double yawLink = 0; // swings the hip centre sideways
    double pitch = 0;   // link pitch: lowers the hip centre
    double list = 0;    // pelvis, right side down positive
    double rot = 0;     // pelvis, right side forwards positive
    double tilt = 0;    // pelvis, top forwards positive
};

inline M3 LinkRotation(const PelvisState& s) { return RotZ(s.yawLink) * RotX(s.pitch); }
inline M3 PelvisWorld(const PelvisState& s) { return RotZ(s.rot) * RotY(s.list) * RotX(-s.tilt); }

struct LegTarget
{
    V3 ankle;
    double sole = 0; // foot pitch, toes up positive, body axes
    double toe = 0;  // toes pitch
};

class Author
{
public:
    explicit Author(const Body& b) : mBody(b), mSkel(MakeSkeleton(b)) {}

    const Body& body() const { return mBody; }
    const std::vector<BoneDef>& skeleton() const { return mSkel; }

    double GroundZ() const { return -mBody.RootHeight(); }
    double AnkleZ() const { return GroundZ() + mBody.ankleHeight; }

    // The hip centre (pelvis head) for a pelvis state; the root never turns.
    V3 HipCentre(const PelvisState& s) const
    {
        return mSkel[kLink].head + LinkRotation(s) * (mSkel[kPelvis].head - mSkel[kLink].head);
    }
    V3 HipJoint(const PelvisState& s, int side) const
    {
        const int thigh = side == 0 ? kThighR : kThighL;
        return HipCentre(s) + PelvisWorld(s) * (mSkel[thigh].head - mSkel[kPelvis].head);
    }

    // Two-bone leg solve: the knee bends forwards (towards `forward`).
    // Returns false when the ankle is out of reach (it is then placed as far
    // as the leg goes, straight towards the target).
    bool SolveLeg(const V3& hip, const V3& ankle, const V3& forward, M3& thighW, M3& shinW, V3& ankleOut,
                  double minKnee = 0.5) const
    {
        const double T = mBody.thigh, S = mBody.shin;
        V3 u = ankle - hip;
        double D = u.len();
        const double maxD = sqrt(T * T + S * S + 2 * T * S * cos(Rad(minKnee)));
        bool ok = true;
        if (D > maxD)
        {
            D = maxD;
            ok = false;
        }
        const V3 un = u.unit();
        const V3 w = (forward - un * forward.dot(un)).unit();
        const double cb = std::min(1.0, std::max(-1.0, (T * T + D * D - S * S) / (2 * T * D)));
        const double beta = acos(cb);
        const V3 thighDir = un * cos(beta) + w * sin(beta);
        const V3 knee = hip + thighDir * T;
        ankleOut = hip + un * D;
        const V3 shinDir = (ankleOut - knee).unit();
        const V3 X = un.cross(w).unit();
        thighW = Axes(X, thighDir, X.cross(thighDir));
        shinW = Axes(X, shinDir, X.cross(shinDir));
        return ok;
    }

    // Forward kinematics for the bones that follow their parents by
    // anatomical rotations, and the legs from their targets.
    struct PoseInput
    {
        PelvisState pelvis;
        M3 spineWorld, chestWorld, neckWorld, headWorld; // anatomical frames, body axes
        M3 clav[2], upper[2], fore[2], hand[2];          // relative anatomical rotations
        LegTarget leg[2];
    };

    bool Build(const PoseInput& in, Pose& pose, double* reachError = nullptr) const
    {
        M3 anat[kBoneCount];
        const M3 root;
        const M3 pelvisAnat = PelvisWorld(in.pelvis);
        auto place = [&](int i, const M3& a) {
            anat[i] = a;
            pose.W[i] = a * mSkel[i].rest;
            const int p = mSkel[i].parent;
            if (p >= 0)
                pose.head[i] = pose.head[p] + anat[p] * (mSkel[i].head - mSkel[p].head);
            else
                pose.head[i] = V3(0, 0, 0);
        };
        place(kRoot, root);
        place(kLink, LinkRotation(in.pelvis));
        place(kPelvis, pelvisAnat);
        place(kHipR, pelvisAnat);
        place(kHipL, pelvisAnat);
        place(kSpine, in.spineWorld);
        place(kChest, in.chestWorld);
        place(kNeck, in.neckWorld);
        place(kHead, in.headWorld);
        const int clav[2] = {kClavicleR, kClavicleL}, upper[2] = {kUpperArmR, kUpperArmL};
        const int fore[2] = {kForearmR, kForearmL}, hand[2] = {kHandR, kHandL};
        for (int s = 0; s < 2; ++s)
        {
            place(clav[s], anat[kChest] * in.clav[s]);
            place(upper[s], anat[clav[s]] * in.upper[s]);
            place(fore[s], anat[upper[s]] * in.fore[s]);
            place(hand[s], anat[fore[s]] * in.hand[s]);
        }
        bool ok = true;
        const int thigh[2] = {kThighR, kThighL}, shin[2] = {kShinR, kShinL};
        const int foot[2] = {kFootR, kFootL}, toes[2] = {kToesR, kToesL};
        const V3 forward = root * V3(0, 1, 0);
        for (int s = 0; s < 2; ++s)
        {
            const V3 hip = pose.head[kPelvis] + pelvisAnat * (mSkel[thigh[s]].head - mSkel[kPelvis].head);
            M3 tw, sw;
            V3 ankle;
            if (!SolveLeg(hip, in.leg[s].ankle, forward, tw, sw, ankle))
            {
                ok = false;
                if (reachError)
                    *reachError = std::max(*reachError, (ankle - in.leg[s].ankle).len());
            }
            pose.W[thigh[s]] = tw;
            pose.head[thigh[s]] = hip;
            anat[thigh[s]] = tw * mSkel[thigh[s]].rest.T();
            pose.W[shin[s]] = sw;
            pose.head[shin[s]] = hip + tw.c[1] * mBody.thigh;
            anat[shin[s]] = sw * mSkel[shin[s]].rest.T();
            const M3 footAnat = RotX(in.leg[s].sole);
            pose.W[foot[s]] = footAnat * mSkel[foot[s]].rest;
            pose.head[foot[s]] = ankle;
            anat[foot[s]] = footAnat;
            const M3 toeAnat = RotX(in.leg[s].toe);
            pose.W[toes[s]] = toeAnat * mSkel[toes[s]].rest;
            pose.head[toes[s]] = ankle + pose.W[foot[s]].c[1] * mBody.foot;
            anat[toes[s]] = toeAnat;
        }
        return ok;
    }

    // Local key of every bone: the rotation in the bone's rest frame that
    // carries its rest placement under its parent to the posed one.
    void Keys(const Pose& pose, Quat* keys) const
    {
        for (int i = 0; i < kBoneCount; ++i)
        {
            const int p = mSkel[i].parent;
            if (p < 0)
            {
                keys[i] = QuatFrom(pose.W[i]);
                continue;
            }
            const M3 restLocal = mSkel[p].rest.T() * mSkel[i].rest;
            keys[i] = QuatFrom(restLocal.T() * pose.W[p].T() * pose.W[i]);
        }
    }

private:
    Body mBody;
    std::vector<BoneDef> mSkel;
};

// ---------------------------------------------------------------------------
// The walk.

class WalkModel
{
public:
    WalkModel(const Author& a, const GaitParams& g) : A(a), G(g)
    {
        const Body& b = A.body();
        mStep = g.stride / 2;
        mFootX[0] = b.footHalfSpread;
        mFootX[1] = -b.footHalfSpread;
        BuildSpeedProfile();
        // The landing ankle is leadFraction of a step ahead of the hip
        // joints' mean position at heel strike (the link carries the hips a
        // little forwards as it lowers them).
        // The hip height, the landing place and the heel-strike sole pitch
        // depend on each other: settle them together.
        mAnkleY0 = g.leadFraction * mStep;
        for (int pass = 0; pass < 12; ++pass)
        {
            BuildPitchCurve();
            if (pass < 3)
            {
                const PelvisState s = Pelvis(0.0);
                const double hipY = 0.5 * (A.HipJoint(s, 0).y + A.HipJoint(s, 1).y);
                mAnkleY0 = hipY + g.leadFraction * mStep;
            }
        }
        BuildSwing();
        BuildReachCorrection();
        // The swing lands on the heel-strike posture, which the correction
        // may have moved: aim it again.
        AimStrike();
        BuildSwing();
    }

    PelvisState Pelvis(double ph) const
    {
        PelvisState s;
        s.pitch = PitchAt(ph);
        s.list = -G.pelvisList * sin(2 * kPi * (ph + 0.05));
        s.rot = G.pelvisRotation * cos(2 * kPi * ph);
        s.tilt = G.pelvisTilt;
        const double sway = G.pelvisSway * sin(2 * kPi * (ph - 0.02));
        s.yawLink = Deg(asin(sway / A.body().pelvisFront));
        return s;
    }

    // Leg target at the leg's own phase p (0 = its heel strike).
    LegTarget Leg(int side, double p, const PelvisState& pelvis) const
    {
        p = Wrap01(p);
        if (p < 0.5)
            return Stance(side, p);
        if (p < G.toeOff)
            return PreSwing(side, p);
        return Swing(side, p, pelvis);
    }

    Author::PoseInput Input(double ph) const
    {
        Author::PoseInput in;
        in.pelvis = Pelvis(ph);
        const double rot = in.pelvis.rot;
        const double counter = -G.trunkCounter * rot;
        in.spineWorld = RotZ(0.5 * (rot + counter)) * RotY(0.3 * in.pelvis.list) * RotX(-0.5 * G.trunkLean);
        in.chestWorld = RotZ(counter) * RotX(-G.trunkLean);
        in.neckWorld = RotZ(0.5 * counter) * RotX(-0.5 * G.trunkLean + 0.5 * G.headPitch);
        in.headWorld = RotX(G.headPitch);
        for (int s = 0; s < 2; ++s)
        {
            // The right arm is forwards when the left leg is (phase 0.5).
            const double armPhase = ph + (s == 0 ? 0.0 : 0.5);
            const double c = -cos(2 * kPi * (armPhase - 0.03));
            const double sh = G.shoulderCentre + 0.5 * G.shoulderArc * c;
            const double e = -cos(2 * kPi * (armPhase - 0.08));
            const double elbow = 0.5 * (G.elbowMin + G.elbowMax) + 0.5 * (G.elbowMax - G.elbowMin) * e;
            in.clav[s] = RotX(0.1 * sh);
            in.upper[s] = RotX(sh) * RotY(s == 0 ? 2.0 : -2.0);
            in.fore[s] = RotX(elbow);
            in.hand[s] = RotX(0.3 * elbow);
        }
        for (int s = 0; s < 2; ++s)
            in.leg[s] = Leg(s, ph - 0.5 * s, in.pelvis);
        return in;
    }

private:
    const Author& A;
    GaitParams G;
    double mStep = 0, mAnkleY0 = 0;
    double mFootX[2] = {0, 0};
    std::vector<double> mProgress; // cumulative stance progress table
    std::vector<Knot> mPitch;      // link pitch over half a cycle
    std::vector<Knot> mSoleLate;   // heel rise, late stance to toe-off
    std::vector<Knot> mWorldY, mLift, mAnkleSwing, mKneeLate;
    double mSoleStrike = 0;
    double mSwingY0 = 0; // relative ankle y at toe-off

    // Relative ankle speed over stance: 1 in the middle, reduced by speedDip
    // at both ends.
    double Speed(double u) const
    {
        const double w = G.speedDipWidth / 0.5;
        const double bump = exp(-(u / w) * (u / w)) + exp(-((1 - u) / w) * ((1 - u) / w));
        return 1.0 - G.speedDip * bump;
    }
    void BuildSpeedProfile()
    {
        const int n = 2000;
        mProgress.assign(n + 1, 0.0);
        for (int i = 1; i <= n; ++i)
        {
            const double u0 = (i - 1) / (double)n, u1 = i / (double)n;
            mProgress[i] = mProgress[i - 1] + 0.5 * (Speed(u0) + Speed(u1)) / n;
        }
        const double total = mProgress[n];
        for (double& v : mProgress)
            v /= total;
    }
    double Progress(double u) const
    {
        const int n = (int)mProgress.size() - 1;
        const double rate = mProgress[n] - mProgress[n - 1];
        if (u <= 0)
            return u * n * (mProgress[1] - mProgress[0]);
        if (u >= 1)
            return 1 + (u - 1) * n * rate;
        const double f = u * n;
        const int i = std::min(n - 1, (int)f);
        return mProgress[i] + (mProgress[i + 1] - mProgress[i]) * (f - i);
    }
    // Stance ankle along y (q in [0, 0.5], beyond by extrapolation).
    double StanceY(double q) const { return mAnkleY0 - mStep * Progress(q / 0.5); }
    // How far the root travels between the other leg's stance phases q0, q1.
    double RootTravel(double q0, double q1) const { return StanceY(q0) - StanceY(q1); }

    // Sole pitch: rolls from the heel to flat by footFlat, then the heel
    // starts to rise at heelOffStart and keeps rising through pre-swing.
    double Sole(double p) const
    {
        if (p < G.heelOffStart)
            return mSoleStrike * (1 - Smooth(p / G.footFlat));
        return Hermite(mSoleLate, p);
    }
    double SoleSlope(double p) const { return (Sole(p + 1e-5) - Sole(p - 1e-5)) / 2e-5; }
    void BuildSoleLate()
    {
        const double s1 = (G.heelRise + G.heelOffEnd) / (G.toeOff - 0.5);
        mSoleLate = {{G.heelOffStart, 0, 0},
                     {0.5, -G.heelOffEnd, -(G.heelOffEnd * 2.0) / (0.5 - G.heelOffStart) * 0.5 + 0.5 * s1},
                     {G.toeOff, G.heelRise, s1 * 0.6}};
    }

    double FootDown(double sole) const { return Rad(A.body().FootSlope() - sole); } // below horizontal

    LegTarget Stance(int side, double p) const
    {
        const Body& b = A.body();
        LegTarget t;
        t.sole = Sole(p);
        // Ankle straight back at constant height; while the foot rolls down
        // from the heel it sits on the heel (a hair lower), and once the heel
        // lifts it rises with it, the ball staying on the ground.
        double z = A.AnkleZ();
        if (p >= G.heelOffStart)
            z = A.GroundZ() + b.foot * sin(FootDown(t.sole));
        else if (t.sole > 0)
            z = A.GroundZ() + b.ankleHeight * cos(Rad(t.sole));
        t.ankle = V3(mFootX[side], StanceY(p), z);
        t.toe = p < G.heelOffStart ? t.sole : 0;
        return t;
    }

    LegTarget PreSwing(int side, double p) const
    {
        const Body& b = A.body();
        // The ball stays put on the ground: it moves back relative to the
        // root exactly as the other leg's stance ankle does.
        const double ball0 = StanceY(0.5) + b.foot * cos(FootDown(Sole(0.5)));
        const double ballY = ball0 - RootTravel(0.0, p - 0.5);
        LegTarget lt;
        lt.sole = Sole(p);
        const double down = FootDown(lt.sole);
        lt.ankle = V3(mFootX[side], ballY - b.foot * cos(down), A.GroundZ() + b.foot * sin(down));
        lt.toe = 0;
        return lt;
    }

    // Swing: the ankle's forward travel over the ground never reverses (so
    // its lock stays free) and comes to rest at heel strike; its height
    // rises, then settles onto the stance height.
    void BuildSwing()
    {
        const double e = 1e-5, to = G.toeOff;
        const LegTarget a = PreSwing(0, to - e), b = PreSwing(0, to - 2 * e);
        mSwingY0 = a.ankle.y;
        const double relSlope = (a.ankle.y - b.ankle.y) / e;
        const double rootSlope = RootTravel(to - 0.5 - e, to - 0.5) / e;
        const double worldY = StanceY(0) - a.ankle.y + RootTravel(to - 0.5, 0.5);
        // Brake evenly from the body's speed to rest over the last part of
        // swing: the foot lands with no speed over the ground, and the leg
        // pulls back only a little before it does.
        const double rootSpeed = RootTravel(0.5 - e, 0.5) / e;
        const double pb = 1.0 - G.brake;
        const double braking = 0.5 * rootSpeed * G.brake;
        mWorldY = {{to, 0, relSlope + rootSlope}, {pb, worldY - braking, rootSpeed}, {1.0, worldY, 0}};
        const double z0 = a.ankle.z - A.GroundZ(), zs = (a.ankle.z - b.ankle.z) / e;
        const double ha = A.body().ankleHeight;
        mLift = {{to, z0, zs},
                 {to + 0.04, z0 + G.liftOff, 1.5 * (G.lift - z0) / (G.liftPhase - to)},
                 {G.liftPhase, G.lift, 0},
                 {0.9, ha + G.lateLift, -G.lateLift / 0.1 * 1.5}};
        // Late swing: the knee straightens onto the heel-strike posture.
        double hipA, kneeA, hipB, kneeB;
        StanceAngles(0.0, hipA, kneeA);
        StanceAngles(e, hipB, kneeB);
        // The knee straightens onto the heel-strike posture and arrives
        // there at rest, as the stance knee sets off from rest.
        mKneeLate = {{G.kneePeakPhase, G.kneeSwingPeak, 0},
                     {0.85, G.kneeSwingLate, -(G.kneeSwingPeak - kneeA) / (1.0 - G.kneePeakPhase) * 1.1},
                     {0.93, kneeA + G.kneeLanding, -2.0 * G.kneeLanding / 0.07},
                     {1.0, kneeA, 0}};
        (void)kneeB;
        // Ankle angle over swing: a little more push-off just after the
        // toes leave, back to neutral by mid swing, landing as authored.
        const double shinTO = SwingShin(to - e), shinTO2 = SwingShin(to - 2 * e);
        const double ankTO = Sole(to - e) - shinTO;
        const double ankTOd = ((Sole(to - e) - shinTO) - (Sole(to - 2 * e) - shinTO2)) / e;
        mAnkleSwing = {{to, ankTO, ankTOd},
                       {to + 0.025, ankTO + G.pushOff, 0},
                       {G.kneePeakPhase, G.ankleSwing, 0},
                       {0.9, G.ankleSwing, 0},
                       {1.0, G.ankleStrike, 0}};
    }

    // Shin angle (from the vertical, forwards positive) of the right leg at
    // phase p, from its target.
    double SwingShin(double p) const
    {
        const PelvisState s = Pelvis(p);
        return ShinAngle(A.HipJoint(s, 0), Leg(0, p, s).ankle);
    }
    // Sagittal angle of the shin the leg solver gives for a hip joint and an
    // ankle (from the vertical, forwards positive). Taken from the solved
    // leg, not from planar angles, which are ill-conditioned near a straight
    // knee.
    double ShinAngle(const V3& hip, const V3& ankle) const
    {
        M3 thighW, shinW;
        V3 reached;
        A.SolveLeg(hip, ankle, V3(0, 1, 0), thighW, shinW, reached);
        const V3 d = shinW.c[1];
        return Deg(atan2(d.y, -d.z));
    }

    // Lowest sole pitch that keeps the ball and the toe tip this high above
    // the ground with the ankle at height za, the toes pitched by toeShare
    // of the sole pitch.
    double SoleForClearance(double za, double clear, double toeShare) const
    {
        const Body& b = A.body();
        // Search only poses with the foot at most vertical (toes down): the
        // lowest point falls steadily as the pitch drops over that range.
        double lo = b.FootSlope() - 90.0, hi = 60;
        auto lowest = [&](double sole) {
            const double ball = za - b.foot * sin(FootDown(sole));
            return std::min(ball, ball + b.toes * sin(Rad(toeShare * sole)));
        };
        if (lowest(lo) >= clear)
            return lo;
        for (int i = 0; i < 60; ++i)
        {
            const double m = 0.5 * (lo + hi);
            if (lowest(m) >= clear)
                hi = m;
            else
                lo = m;
        }
        return hi;
    }

    // Sagittal hip angle and (three-dimensional) knee flexion of the right
    // leg in stance.
    void StanceAngles(double p, double& hip, double& knee) const
    {
        const V3 hj = A.HipJoint(Pelvis(p), 0);
        const V3 ankle = Stance(0, p).ankle;
        double planarKnee;
        Angles(ankle.y - hj.y, ankle.z - hj.z, hip, planarKnee);
        knee = KneeFromDistance((ankle - hj).len());
    }
    double KneeFromDistance(double D) const
    {
        const double T = A.body().thigh, S = A.body().shin;
        return Deg(acos(std::min(1.0, std::max(-1.0, (D * D - T * T - S * S) / (2 * T * S)))));
    }

    LegTarget Swing(int side, double p, const PelvisState& pelvis) const
    {
        LegTarget lt;
        const double y = mSwingY0 + Hermite(mWorldY, p) - RootTravel(G.toeOff - 0.5, p - 0.5);
        double za = Hermite(mLift, p);
        if (p > G.kneePeakPhase - 0.03)
        {
            // Height from the knee: the leg reaches forwards with the knee
            // straightening, never overstretched.
            const V3 hj = A.HipJoint(pelvis, side);
            const double dy = y - hj.y, dx = mFootX[side] - hj.x;
            const double D = KneeDistance(Hermite(mKneeLate, p));
            const double zk = hj.z - sqrt(std::max(0.0, D * D - dy * dy - dx * dx)) - A.GroundZ();
            const double w = Smooth((p - (G.kneePeakPhase - 0.03)) / 0.08);
            za = (1 - w) * za + w * zk;
        }
        lt.ankle = V3(mFootX[side], y, A.GroundZ() + za);
        // Sole from the ankle angle and the shin, kept clear of the ground
        // (a smooth maximum, so the pitch has no kinks).
        double authored = ShinAngle(A.HipJoint(pelvis, side), lt.ankle) + Hermite(mAnkleSwing, p);
        // Never past a vertical foot (smoothly).
        const double steepest = A.body().FootSlope() - 88.0;
        authored = steepest + 2.0 * log(1.0 + exp((authored - steepest) / 2.0));
        // The toes stay level as the foot leaves, then follow it.
        const double toeShare = Smooth((p - G.toeOff - 0.02) / 0.16);
        const double need = SoleForClearance(za, G.clearance * Smooth((p - G.toeOff) / 0.08), toeShare);
        const double k = 2.0;
        const double x = (authored - need) / k;
        const double clear = need + k * (x > 30 ? x : log(1.0 + exp(x)));
        const double fade = Smooth((1.0 - p) / 0.05); // the heel lands as authored
        lt.sole = fade * clear + (1 - fade) * authored;
        lt.toe = toeShare * lt.sole;
        return lt;
    }

    // Hip height: the link pitch that gives the stance knee its target
    // flexion at a few phases, joined by a periodic spline (two bumps per
    // stride).
    double KneeDistance(double knee) const
    {
        const double T = A.body().thigh, S = A.body().shin;
        return sqrt(T * T + S * S + 2 * T * S * cos(Rad(knee)));
    }
    double SolvePitch(double ph, double knee) const
    {
        PelvisState s = Pelvis(ph);
        const V3 ankle = Stance(0, ph).ankle;
        const double want = KneeDistance(knee);
        double lo = -40, hi = 60;
        for (int it = 0; it < 80; ++it)
        {
            s.pitch = 0.5 * (lo + hi);
            const double d = (A.HipJoint(s, 0) - ankle).len();
            if (d > want)
                lo = s.pitch;
            else
                hi = s.pitch;
        }
        return 0.5 * (lo + hi);
    }
    void BuildPitchCurve()
    {
        mPitch.clear(); // Pelvis() reads pitch 0 while solving
        BuildSoleLate();
        // The stance knee follows a smooth curve (straight at heel strike,
        // bending under load, easing through mid stance); the hips sit at
        // the height that gives it, solved densely up to 40 %, then eased
        // into the next heel strike.
        const std::vector<Knot> knee = {{0.0, G.kneeStrike, 0},
                                        {0.12, G.kneeLoad, 0},
                                        {0.30, G.kneeMid, (G.kneeLate - G.kneeLoad) / 0.28},
                                        {0.40, G.kneeLate, (G.kneeLate - G.kneeMid) / 0.10}};
        std::vector<Knot> k;
        const int n = 20;
        for (int i = 0; i <= n; ++i)
        {
            const double ph = 0.40 * i / n;
            k.push_back({ph, SolvePitch(ph, Hermite(knee, ph)), 0});
        }
        for (int i = 0; i <= n; ++i)
        {
            const double h = 1e-4;
            const double a = std::max(0.0, k[i].p - h), b = std::min(0.40, k[i].p + h);
            k[i].d = (SolvePitch(b, Hermite(knee, b)) - SolvePitch(a, Hermite(knee, a))) / (b - a);
        }
        k.push_back({0.5, k[0].v, k[0].d});
        mPitch = k;
        AimStrike();
    }
    // Heel strike: the sole follows the shin with the authored ankle angle.
    // (The heel-strike ankle height depends on the sole pitch: settle both.)
    void AimStrike()
    {
        for (int pass = 0; pass < 4; ++pass)
        {
            const double aim = ShinAngle(A.HipJoint(Pelvis(0.0), 0), Stance(0, 0.0).ankle) + G.ankleStrike;
            mSoleStrike = 0.5 * (mSoleStrike + aim); // damped: the hips follow the ankle height
        }
    }
    double PitchAt(double ph) const
    {
        if (mPitch.empty())
            return 0;
        double v = Hermite(mPitch, Wrap01(2 * ph) * 0.5);
        if (!mReach.empty())
        {
            // Periodic table over half a cycle.
            const int n = (int)mReach.size();
            const double f = Wrap01(2 * ph) * n;
            const int i = (int)f % n;
            v += mReach[i] + (mReach[(i + 1) % n] - mReach[i]) * (f - floor(f));
        }
        return v;
    }

    // Wherever a leg cannot reach its target with the knee bent at least a
    // little, lower the hips (more link pitch) just enough, smoothly.
    std::vector<double> mReach;
    double NeededPitch(double ph) const
    {
        PelvisState s = Pelvis(ph);
        const double minD = KneeDistance(G.kneeMin);
        double need = -90;
        for (int side = 0; side < 2; ++side)
        {
            const V3 ankle = Leg(side, ph - 0.5 * side, s).ankle;
            double lo = -40, hi = 60;
            for (int it = 0; it < 60; ++it)
            {
                s.pitch = 0.5 * (lo + hi);
                if ((A.HipJoint(s, side) - ankle).len() > minD)
                    lo = s.pitch;
                else
                    hi = s.pitch;
            }
            need = std::max(need, hi);
        }
        return need;
    }
    void BuildReachCorrection()
    {
        const int n = 100; // over half a cycle
        std::vector<double> deficit(n, 0.0);
        for (int i = 0; i < n; ++i)
        {
            const double ph = 0.5 * i / n;
            deficit[i] = std::max(0.0, NeededPitch(ph) + 0.05 - PitchAt(ph));
        }
        // Spread each shortfall over its neighbourhood, then smooth twice.
        std::vector<double> r(n, 0.0);
        const int w = 6;
        for (int i = 0; i < n; ++i)
            for (int j = -w; j <= w; ++j)
                r[i] = std::max(r[i], deficit[((i + j) % n + n) % n]);
        for (int pass = 0; pass < 2; ++pass)
        {
            std::vector<double> t(n, 0.0);
            for (int i = 0; i < n; ++i)
            {
                for (int j = -w; j <= w; ++j)
                    t[i] += r[((i + j) % n + n) % n];
                t[i] /= (2 * w + 1);
            }
            r = t;
        }
        mReach = r;
    }

    // Sagittal two-link angles of an ankle position relative to its hip
    // joint: thigh angle from the vertical (forwards positive) and knee
    // flexion.
    void Angles(double dy, double dz, double& hip, double& knee) const
    {
        const double T = A.body().thigh, S = A.body().shin;
        const double D = std::min(sqrt(dy * dy + dz * dz), T + S - 1e-9);
        const double ck = (D * D - T * T - S * S) / (2 * T * S);
        knee = Deg(acos(std::min(1.0, std::max(-1.0, ck))));
        const double lineAngle = atan2(dy, -dz);
        const double cb = (T * T + D * D - S * S) / (2 * T * D);
        hip = Deg(lineAngle + acos(std::min(1.0, std::max(-1.0, cb))));
    }
};

// ---------------------------------------------------------------------------
// The standing idle: both ankles stay exactly where they are.

class IdleModel
{
public:
    IdleModel(const Author& a, const IdleParams& p) : A(a), P(p)
    {
        // Pelvis pitch that gives the standing knee flexion.
        const V3 ankle(A.body().footHalfSpread, 0, A.AnkleZ());
        const double T = A.body().thigh, S = A.body().shin;
        // (the root never turns; the link lowers the hips)
        const double want = sqrt(T * T + S * S + 2 * T * S * cos(Rad(p.kneeFlex)));
        double lo = -40, hi = 60;
        PelvisState s;
        for (int it = 0; it < 80; ++it)
        {
            s.pitch = 0.5 * (lo + hi);
            if ((A.HipJoint(s, 0) - ankle).len() > want)
                lo = s.pitch;
            else
                hi = s.pitch;
        }
        mPitch = 0.5 * (lo + hi);
    }

    Author::PoseInput Input(double ph) const
    {
        Author::PoseInput in;
        const double sway = P.sway * sin(2 * kPi * ph);
        in.pelvis.pitch = mPitch;
        in.pelvis.yawLink = Deg(asin(sway / A.body().pelvisFront));
        in.pelvis.list = -P.list * sin(2 * kPi * ph);
        const double breath = sin(2 * kPi * ph * 2); // two breaths per weight shift
        in.spineWorld = RotY(0.5 * in.pelvis.list) * RotX(-0.3 * P.breath * breath);
        in.chestWorld = RotX(-P.breath * breath);
        in.neckWorld = RotX(0.3 * P.breath * breath);
        in.headWorld = RotX(0.5 * sin(2 * kPi * ph));
        for (int s = 0; s < 2; ++s)
        {
            in.clav[s] = RotY((s == 0 ? 1.0 : -1.0) * P.shoulderBreath * breath);
            in.upper[s] = RotX(-2.0 + 0.5 * breath) * RotY(s == 0 ? 3.0 : -3.0);
            in.fore[s] = RotX(P.elbow);
            in.hand[s] = RotX(4.0);
        }
        for (int s = 0; s < 2; ++s)
        {
            in.leg[s].ankle = V3(s == 0 ? A.body().footHalfSpread : -A.body().footHalfSpread, 0, A.AnkleZ());
            in.leg[s].sole = 0;
            in.leg[s].toe = 0;
        }
        return in;
    }

private:
    const Author& A;
    IdleParams P;
    double mPitch = 0;
};

// ---------------------------------------------------------------------------
// Sampling into keys and writing the file.

struct Channel
{
    std::vector<int> t;
    std::vector<Quat> q;
};

struct Clip
{
    std::string name;
    int length = 0;
    std::vector<Channel> channels; // one per bone
    double reachError = 0;         // largest ankle miss of the leg solver
};

// Key times: 0, then kRestartMs and evenly spread up to the length
// (kRestartMs + period - 1).
inline std::vector<int> KeyTimes(int period, double stepMs)
{
    const int n = std::max(2, (int)floor(period / stepMs + 0.5));
    std::vector<int> t;
    t.push_back(0);
    for (int i = 0; i < n; ++i)
        t.push_back(kRestartMs + (int)floor((double)period * i / n + 0.5));
    t.push_back(kRestartMs + period - 1);
    return t;
}

template <class Model>
Clip SampleClip(const Author& author, const Model& model, const std::string& name, int period, double stepMs,
                double startPhase)
{
    Clip c;
    c.name = name;
    c.length = period + kRestartMs - 1;
    c.channels.resize(kBoneCount);
    for (int t : KeyTimes(period, stepMs))
    {
        const double ph = Wrap01((double)(t - kRestartMs) / period + startPhase);
        Pose pose;
        double err = 0;
        author.Build(model.Input(ph), pose, &err);
        c.reachError = std::max(c.reachError, err);
        Quat keys[kBoneCount];
        author.Keys(pose, keys);
        for (int i = 0; i < kBoneCount; ++i)
        {
            Quat q = keys[i];
            Channel& ch = c.channels[i];
            // Keep consecutive keys in the same hemisphere: the playback
            // interpolates component-wise.
            const Quat* prev = ch.q.empty() ? nullptr : &ch.q.back();
            const double dot = prev ? prev->x * q.x + prev->y * q.y + prev->z * q.z + prev->w * q.w : q.w;
            if (dot < 0)
                q = Quat{-q.x, -q.y, -q.z, -q.w};
            ch.t.push_back(t);
            ch.q.push_back(q);
        }
    }
    return c;
}

inline void AppendNumber(std::string& s, double v, int decimals)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string n = buf;
    // No negative zero in the file.
    bool zero = true;
    for (char ch : n)
        if (ch >= '1' && ch <= '9')
            zero = false;
    if (zero && n[0] == '-')
        n.erase(0, 1);
    s += n;
}

inline std::vector<Clip> MakeClips(const ActorParams& p)
{
    const Author author(p.body);
    std::vector<Clip> clips;
    clips.push_back(SampleClip(author, WalkModel(author, p.walk), p.walk.name, p.walk.periodMs, p.walk.keyStepMs,
                               kWalkStartPhase));
    clips.push_back(
        SampleClip(author, IdleModel(author, p.idle), p.idle.name, p.idle.periodMs, p.idle.keyStepMs, 0.0));
    clips.push_back(SampleClip(author, WalkModel(author, p.walk2), p.walk2.name, p.walk2.periodMs,
                               p.walk2.keyStepMs, kWalkStartPhase));
    return clips;
}

inline std::string WriteActorXML(const ActorParams& p, const std::vector<Clip>& clips)
{
    const Author author(p.body);
    const std::vector<BoneDef>& sk = author.skeleton();
    std::string s;
    s += "<?xml version=\"1.0\" ?>\n";
    s += "<!-- Generated by tools/walkergen: do not edit by hand. -->\n";
    s += "<QVArmature>\n";
    s += "  <armature name=\"walker\">\n";
    s += "    <skeleton bones=\"" + std::to_string(kBoneCount) + "\">\n";
    for (int i = 0; i < kBoneCount; ++i)
    {
        const BoneDef& b = sk[i];
        M3 r;
        V3 t;
        if (b.parent < 0)
        {
            // Half a turn about the up axis: the character faces file -y,
            // which the loader turns towards the viewer.
            r = RotZ(180.0);
            t = V3(0, 0, p.body.RootHeight());
        }
        else
        {
            const BoneDef& par = sk[b.parent];
            r = par.rest.T() * b.rest;
            t = par.rest.T() * (b.head - par.head);
        }
        s += "      <bone name=\"" + BoneName(i) + "\" len=\"";
        AppendNumber(s, b.len, 6);
        s += "\">\n        <matrix>";
        for (int row = 0; row < 3; ++row)
        {
            for (int col = 0; col < 3; ++col)
            {
                AppendNumber(s, r.at(row, col), 6);
                s += ",";
            }
            AppendNumber(s, row == 0 ? t.x : row == 1 ? t.y : t.z, 6);
            s += row < 2 ? ", " : "";
        }
        s += "</matrix>\n      </bone>\n";
    }
    s += "    </skeleton>\n";
    s += "    <heirachy>\n";
    for (int i : HierarchyOrder())
    {
        s += "      <node name=\"" + BoneName(i) + "\">";
        s += sk[i].parent < 0 ? std::string("NULL") : BoneName(sk[i].parent);
        s += "</node>\n";
    }
    s += "    </heirachy>\n";
    s += "  </armature>\n";
    s += "  <actions>\n";
    for (const Clip& c : clips)
    {
        s += "    <action name=\"" + c.name + "\" len=\"" + std::to_string(c.length) + "\">\n";
        for (const Channel& ch : c.channels)
        {
            s += "      <channel>\n";
            s += "        <keyframes keys=\"" + std::to_string(ch.t.size()) + "\">\n";
            for (size_t k = 0; k < ch.t.size(); ++k)
            {
                s += "          <key t=\"" + std::to_string(ch.t[k]) + "\"><quat w=\"";
                AppendNumber(s, ch.q[k].w, 6);
                s += "\" x=\"";
                AppendNumber(s, ch.q[k].x, 6);
                s += "\" y=\"";
                AppendNumber(s, ch.q[k].y, 6);
                s += "\" z=\"";
                AppendNumber(s, ch.q[k].z, 6);
                s += "\"/></key>\n";
            }
            s += "        </keyframes>\n";
            s += "      </channel>\n";
        }
        s += "    </action>\n";
    }
    s += "  </actions>\n";
    s += "</QVArmature>\n";
    return s;
}

inline std::string GenerateActorXML(const ActorParams& p) { return WriteActorXML(p, MakeClips(p)); }

} // namespace walker

#endif // _GAIT_AUTHOR_H_
