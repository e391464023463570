// The walk cycle model. Index (sections in this order):
//   [SECTION] Building   the constructor: every curve, in dependency order
//   [SECTION] Posing     pelvis, legs, trunk and arms at a phase
//   [SECTION] Stance     ankle progress and the foot's pitch
//   [SECTION] Legs       stance, pre-swing and swing targets
//   [SECTION] Hips       link pitch: the stance knee's curve, reach correction
//   [SECTION] Swing      the swing curves
//   [SECTION] Geometry   shin angles, clearance, planar leg angles
#include "QV_gait_model.h"

#include <math.h>

#include <algorithm>

namespace walker
{

namespace
{
// The phase step at which the hips are solved for the stance knee, and the
// heel lift is taken on the same phases (see HeelLiftCurve).
const double kSolveStep = 0.02;
} // namespace

// ---------------------------------------------------------------------------
// [SECTION] Building

WalkModel::WalkModel(const Author& a, const GaitParams& g) : A(a), G(g)
{
    const Body& b = A.body();
    mStep = g.stride / 2;
    mFootX[0] = b.footHalfSpread;
    mFootX[1] = -b.footHalfSpread;
    mProgress = SpeedProfile();
    mHeelOff = HeelOffCurve();
    mSoleLate = SoleLate();
    // The landing ankle is leadFraction of a step ahead of the hip joints'
    // mean position at heel strike (the link carries the hips a little
    // forwards as it lowers them). The hip height (mPitch), the landing place
    // (mAnkleY0) and the heel-strike sole pitch (mSoleStrike) depend on each
    // other: settle them together.
    mAnkleY0 = g.leadFraction * mStep;
    // The heel lift for ankleStance follows the shin, which the hips and the
    // lift itself move: each pass takes it from the pass before.
    for (int pass = 0; pass < 12; ++pass)
    {
        mPitch = PitchCurve();
        SettleSoleStrike();
        if (pass < 3)
            mAnkleY0 = LandingY();
        mHeelLift = HeelLiftCurve();
        mSoleLate = SoleLate();
    }
    mSwing = SwingCurves();
    // Measured against the solved pitch alone: mReach is still empty here.
    mReach = ReachCorrection();
    // The swing lands on the heel-strike posture, which the correction may
    // have moved: aim it again.
    SettleSoleStrike();
    mSwing = SwingCurves();
}

// ---------------------------------------------------------------------------
// [SECTION] Posing

PelvisState WalkModel::PelvisShape(double ph) const
{
    PelvisState s;
    s.list = -G.pelvisList * sin(2 * kPi * (ph + 0.05));
    s.rot = G.pelvisRotation * cos(2 * kPi * ph);
    s.tilt = G.pelvisTilt;
    const double sway = G.pelvisSway * sin(2 * kPi * (ph - 0.02));
    s.yawLink = Deg(asin(sway / A.body().pelvisFront));
    return s;
}

PelvisState WalkModel::Pelvis(double ph) const
{
    PelvisState s = PelvisShape(ph);
    s.pitch = PitchAt(ph);
    return s;
}

LegTarget WalkModel::Leg(int side, double p, const PelvisState& pelvis) const
{
    p = Wrap01(p);
    if (p < 0.5)
        return Stance(side, p);
    if (p < G.toeOff)
        return PreSwing(side, p);
    return Swing(side, p, pelvis);
}

Author::PoseInput WalkModel::Input(double ph) const
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

// ---------------------------------------------------------------------------
// [SECTION] Stance

// Relative ankle speed over stance: 1 in the middle, reduced by speedDip at
// both ends.
double WalkModel::Speed(double u) const
{
    const double w = G.speedDipWidth / 0.5;
    const double bump = exp(-(u / w) * (u / w)) + exp(-((1 - u) / w) * ((1 - u) / w));
    return 1.0 - G.speedDip * bump;
}

std::vector<double> WalkModel::SpeedProfile() const
{
    const int n = 2000;
    std::vector<double> progress(n + 1, 0.0);
    for (int i = 1; i <= n; ++i)
    {
        const double u0 = (i - 1) / (double)n, u1 = i / (double)n;
        progress[i] = progress[i - 1] + 0.5 * (Speed(u0) + Speed(u1)) / n;
    }
    const double total = progress[n];
    for (double& v : progress)
        v /= total;
    return progress;
}

double WalkModel::Progress(double u) const
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
double WalkModel::StanceY(double q) const { return mAnkleY0 - mStep * Progress(q / 0.5); }

// How far the root travels between the other leg's stance phases q0, q1.
double WalkModel::RootTravel(double q0, double q1) const { return StanceY(q0) - StanceY(q1); }

// Sole pitch: rolls from the heel to flat by footFlat; the heel starts to
// lift at heelOffStart, and further wherever the shin leans further forwards
// than ankleStance allows; it keeps rising through pre-swing.
double WalkModel::Sole(double p) const
{
    if (p < 0.5)
        return SoleBeforeLift(p) - HeelLift(p);
    return Hermite(mSoleLate, p);
}

double WalkModel::SoleBeforeLift(double p) const
{
    if (p < G.heelOffStart)
        return mSoleStrike * (1 - Smooth(p / G.footFlat));
    return Hermite(mHeelOff, p);
}

std::vector<Knot> WalkModel::HeelOffCurve() const
{
    const double s1 = (G.heelRise + G.heelOffEnd) / (G.toeOff - 0.5);
    return {{G.heelOffStart, 0, 0},
            {0.5, -G.heelOffEnd, -(G.heelOffEnd * 2.0) / (0.5 - G.heelOffStart) * 0.5 + 0.5 * s1}};
}

double WalkModel::HeelLift(double p) const { return mHeelLift.empty() ? 0.0 : Hermite(mHeelLift, p); }

// The further heel lift that keeps the stance ankle within ankleStance of
// dorsiflexion, for the shin as the model now stands: a smooth maximum of
// zero and the excess, so the lift sets in without a kink. Taken at the
// phases where the hips are solved (kSolveStep): between them the hips do not
// follow the ankle up, and a lift there would bend the knee, lean the shin
// and ask for more lift at every pass.
std::vector<Knot> WalkModel::HeelLiftCurve() const
{
    const int n = (int)lround(0.5 / kSolveStep);
    std::vector<Knot> k(n + 1);
    for (int i = 0; i <= n; ++i)
    {
        const double p = 0.5 * i / n;
        const double shin = ShinAngle(A.HipJoint(Pelvis(p), 0), Stance(0, p).ankle);
        const double excess = SoleBeforeLift(p) - shin - G.ankleStance;
        const double soft = 2.0; // degrees over which the lift sets in
        k[i] = {p, soft * log(1.0 + exp(excess / soft)), 0};
    }
    for (int i = 0; i <= n; ++i)
    {
        const int a = std::max(0, i - 1), b = std::min(n, i + 1);
        k[i].d = (k[b].v - k[a].v) / (k[b].p - k[a].p);
    }
    return k;
}

// Pre-swing carries on from the stance sole at 50 %, with its slope.
std::vector<Knot> WalkModel::SoleLate() const
{
    const double h = 1e-4;
    const double lift = HeelLift(0.5), liftSlope = (HeelLift(0.5) - HeelLift(0.5 - h)) / h;
    const Knot& end = mHeelOff.back();
    const double s0 = end.v - lift;
    const double s1 = (G.heelRise - s0) / (G.toeOff - 0.5);
    return {{0.5, s0, end.d - liftSlope}, {G.toeOff, G.heelRise, s1 * 0.6}};
}

// The foot's angle below the horizontal, radians.
double WalkModel::FootDown(double sole) const { return Rad(A.body().FootSlope() - sole); }

// ---------------------------------------------------------------------------
// [SECTION] Legs

LegTarget WalkModel::Stance(int side, double p) const
{
    const Body& b = A.body();
    LegTarget t;
    t.sole = Sole(p);
    // Ankle straight back at constant height; while the foot rolls down from
    // the heel it sits on the heel (a hair lower), and once the heel lifts it
    // rises with it, the ball staying on the ground (the toes flat on it).
    double z = A.AnkleZ();
    if (t.sole < 0)
        z = A.GroundZ() + b.foot * sin(FootDown(t.sole));
    else if (t.sole > 0)
        z = A.GroundZ() + b.ankleHeight * cos(Rad(t.sole));
    t.ankle = V3(mFootX[side], StanceY(p), z);
    t.toe = std::max(0.0, t.sole);
    return t;
}

LegTarget WalkModel::PreSwing(int side, double p) const
{
    const Body& b = A.body();
    // The ball stays put on the ground: it moves back relative to the root
    // exactly as the other leg's stance ankle does.
    const double ball0 = StanceY(0.5) + b.foot * cos(FootDown(Sole(0.5)));
    const double ballY = ball0 - RootTravel(0.0, p - 0.5);
    LegTarget lt;
    lt.sole = Sole(p);
    const double down = FootDown(lt.sole);
    lt.ankle = V3(mFootX[side], ballY - b.foot * cos(down), A.GroundZ() + b.foot * sin(down));
    lt.toe = 0;
    return lt;
}

LegTarget WalkModel::Swing(int side, double p, const PelvisState& pelvis) const
{
    LegTarget lt;
    const double y = mSwing.y0 + Hermite(mSwing.worldY, p) - RootTravel(G.toeOff - 0.5, p - 0.5);
    double za = Hermite(mSwing.lift, p);
    if (p > G.kneePeakPhase - 0.03)
    {
        // Height from the knee: the leg reaches forwards with the knee
        // straightening, never overstretched.
        const V3 hj = A.HipJoint(pelvis, side);
        const double dy = y - hj.y, dx = mFootX[side] - hj.x;
        const double D = A.KneeDistance(Hermite(mSwing.kneeLate, p));
        const double zk = hj.z - sqrt(std::max(0.0, D * D - dy * dy - dx * dx)) - A.GroundZ();
        const double w = Smooth((p - (G.kneePeakPhase - 0.03)) / 0.08);
        za = (1 - w) * za + w * zk;
    }
    lt.ankle = V3(mFootX[side], y, A.GroundZ() + za);
    // Sole from the ankle angle and the shin, kept clear of the ground (a
    // smooth maximum, so the pitch has no kinks).
    double authored = ShinAngle(A.HipJoint(pelvis, side), lt.ankle) + Hermite(mSwing.ankleSwing, p);
    // Never past a vertical foot (smoothly).
    const double steepest = A.body().FootSlope() - 88.0;
    authored = steepest + 2.0 * log(1.0 + exp((authored - steepest) / 2.0));
    // The toes stay level as the foot leaves, then follow it by swingToes.
    const double toeShare = Smooth((p - G.toeOff - 0.02) / 0.16) * G.swingToes;
    const double need = SoleForClearance(za, G.clearance * Smooth((p - G.toeOff) / 0.08), toeShare);
    const double k = 2.0;
    const double x = (authored - need) / k;
    const double clear = need + k * (x > 30 ? x : log(1.0 + exp(x)));
    const double fade = Smooth((1.0 - p) / 0.05); // the heel lands as authored
    lt.sole = fade * clear + (1 - fade) * authored;
    lt.toe = toeShare * lt.sole;
    return lt;
}

// ---------------------------------------------------------------------------
// [SECTION] Hips

// The link pitch that gives the right stance knee `knee` degrees of flexion
// at phase ph.
double WalkModel::SolvePitch(double ph, double knee) const
{
    return A.LinkPitchForReach(PelvisShape(ph), 0, Stance(0, ph).ankle, A.KneeDistance(knee), 80).Mid();
}

// Hip height: the link pitch that gives the stance knee its target flexion,
// joined by a periodic spline over half a cycle (two bumps per stride).
std::vector<Knot> WalkModel::PitchCurve() const
{
    // The stance knee follows a smooth curve (straight at heel strike,
    // bending under load, easing through mid stance, kept long as the heel
    // lifts); the hips sit at the height that gives it, solved densely up to
    // kneeTrailPhase, then eased into the next heel strike.
    const double end = G.kneeTrailPhase;
    const std::vector<Knot> knee = {{0.0, G.kneeStrike, 0},
                                    {0.12, G.kneeLoad, 0},
                                    {0.30, G.kneeMid, (G.kneeLate - G.kneeLoad) / 0.28},
                                    {0.40, G.kneeLate, (G.kneeTrail - G.kneeMid) / (end - 0.30)},
                                    {end, G.kneeTrail, (G.kneeTrail - G.kneeLate) / (end - 0.40)}};
    std::vector<Knot> k;
    for (int i = 0; i * kSolveStep < end - 1e-9; ++i)
        k.push_back({i * kSolveStep, 0, 0});
    k.push_back({end, 0, 0});
    for (Knot& s : k)
        s.v = SolvePitch(s.p, Hermite(knee, s.p));
    const size_t n = k.size() - 1;
    for (size_t i = 0; i <= n; ++i)
    {
        const double h = 1e-4;
        const double a = std::max(0.0, k[i].p - h), b = std::min(end, k[i].p + h);
        k[i].d = (SolvePitch(b, Hermite(knee, b)) - SolvePitch(a, Hermite(knee, a))) / (b - a);
    }
    k.push_back({0.5, k[0].v, k[0].d});
    return k;
}

// Heel strike: the sole follows the shin with the authored ankle angle. The
// heel-strike ankle height depends on the sole pitch, so settle both, damped
// because the hips follow the ankle height.
void WalkModel::SettleSoleStrike()
{
    for (int pass = 0; pass < 4; ++pass)
    {
        const double aim = ShinAngle(A.HipJoint(Pelvis(0.0), 0), Stance(0, 0.0).ankle) + G.ankleStrike;
        mSoleStrike = 0.5 * (mSoleStrike + aim);
    }
}

// The landing ankle, leadFraction of a step ahead of the hip joints.
double WalkModel::LandingY() const
{
    const PelvisState s = Pelvis(0.0);
    const double hipY = 0.5 * (A.HipJoint(s, 0).y + A.HipJoint(s, 1).y);
    return hipY + G.leadFraction * mStep;
}

double WalkModel::PitchAt(double ph) const
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

// The least link pitch at which both legs reach their targets with the knee
// bent at least kneeMin.
double WalkModel::NeededPitch(double ph) const
{
    PelvisState s = Pelvis(ph);
    const double minD = A.KneeDistance(G.kneeMin);
    double need = -90;
    for (int side = 0; side < 2; ++side)
    {
        const V3 ankle = Leg(side, ph - 0.5 * side, s).ankle;
        const sBracket b = A.LinkPitchForReach(s, side, ankle, minD, 60);
        need = std::max(need, b.hi);
        // The left leg's swing target is taken at the pitch the right leg's
        // search tried last, not at the curve's: data/walker.xml was made
        // that way, and its bytes depend on it.
        s.pitch = b.last;
    }
    return need;
}

// Wherever a leg cannot reach its target with the knee bent at least a
// little, lower the hips (more link pitch) just enough, smoothly.
std::vector<double> WalkModel::ReachCorrection() const
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
    return r;
}

// ---------------------------------------------------------------------------
// [SECTION] Swing

// The ankle's forward travel over the ground never reverses (so its lock
// stays free) and comes to rest at heel strike; its height rises, then
// settles onto the stance height. Needs the stance, the pre-swing and the
// hips; not the swing itself.
WalkModel::sSwing WalkModel::SwingCurves() const
{
    sSwing sw;
    const double e = 1e-5, to = G.toeOff;
    const LegTarget a = PreSwing(0, to - e), b = PreSwing(0, to - 2 * e);
    sw.y0 = a.ankle.y;
    const double relSlope = (a.ankle.y - b.ankle.y) / e;
    const double rootSlope = RootTravel(to - 0.5 - e, to - 0.5) / e;
    const double worldY = StanceY(0) - a.ankle.y + RootTravel(to - 0.5, 0.5);
    // Brake evenly from the body's speed to rest over the last part of swing:
    // the foot lands with no speed over the ground, and the leg pulls back
    // only a little before it does.
    const double rootSpeed = RootTravel(0.5 - e, 0.5) / e;
    const double pb = 1.0 - G.brake;
    const double braking = 0.5 * rootSpeed * G.brake;
    // By swingMidPhase the foot has covered swingMidShare of its way, so that
    // it is ahead of the hip, the shin nearly upright, while it passes low.
    const double midSpeed = G.swingMidSpeed * (worldY - braking) / (pb - to);
    sw.worldY = {{to, 0, relSlope + rootSlope},
                 {G.swingMidPhase, G.swingMidShare * (worldY - braking), midSpeed},
                 {pb, worldY - braking, rootSpeed},
                 {1.0, worldY, 0}};
    const double z0 = a.ankle.z - A.GroundZ(), zs = (a.ankle.z - b.ankle.z) / e;
    const double ha = A.body().ankleHeight;
    sw.lift = {{to, z0, zs},
               {to + 0.04, z0 + G.liftOff, 1.5 * (G.lift - z0) / (G.liftPhase - to)},
               {G.liftPhase, G.lift, 0},
               {0.9, ha + G.lateLift, -G.lateLift / 0.1 * 1.5}};
    // The knee straightens onto the heel-strike posture and arrives there at
    // rest, as the stance knee sets off from rest.
    double hipA, kneeA;
    StanceAngles(0.0, hipA, kneeA);
    sw.kneeLate = {{G.kneePeakPhase, G.kneeSwingPeak, 0},
                   {0.85, G.kneeSwingLate, -(G.kneeSwingPeak - kneeA) / (1.0 - G.kneePeakPhase) * 1.1},
                   {0.93, kneeA + G.kneeLanding, -2.0 * G.kneeLanding / 0.07},
                   {1.0, kneeA, 0}};
    // Ankle angle over swing: a little more push-off just after the toes
    // leave, back to neutral by mid swing, landing as authored.
    const double shinTO = SwingShin(to - e), shinTO2 = SwingShin(to - 2 * e);
    const double ankTO = Sole(to - e) - shinTO;
    const double ankTOd = ((Sole(to - e) - shinTO) - (Sole(to - 2 * e) - shinTO2)) / e;
    sw.ankleSwing = {{to, ankTO, ankTOd},
                     {to + 0.025, ankTO + G.pushOff, 0},
                     {G.kneePeakPhase, G.ankleSwing, 0},
                     {0.9, G.ankleSwing, 0},
                     {1.0, G.ankleStrike, 0}};
    return sw;
}

// ---------------------------------------------------------------------------
// [SECTION] Geometry

// Shin angle (from the vertical, forwards positive) of the right leg at
// phase p, from its target.
double WalkModel::SwingShin(double p) const
{
    const PelvisState s = Pelvis(p);
    return ShinAngle(A.HipJoint(s, 0), Leg(0, p, s).ankle);
}

// Sagittal angle of the shin the leg solver gives for a hip joint and an
// ankle (from the vertical, forwards positive). Taken from the solved leg,
// not from planar angles, which are ill-conditioned near a straight knee.
double WalkModel::ShinAngle(const V3& hip, const V3& ankle) const
{
    M3 thighW, shinW;
    V3 reached;
    A.SolveLeg(hip, ankle, V3(0, 1, 0), thighW, shinW, reached);
    const V3 d = shinW.c[1];
    return Deg(atan2(d.y, -d.z));
}

// Lowest sole pitch that keeps the ball and the toe tip this high above the
// ground with the ankle at height za, the toes pitched by toeShare of the
// sole pitch.
double WalkModel::SoleForClearance(double za, double clear, double toeShare) const
{
    const Body& b = A.body();
    // Search only poses with the foot at most vertical (toes down): the
    // lowest point falls steadily as the pitch drops over that range.
    const double lo = b.FootSlope() - 90.0, hi = 60;
    auto lowest = [&](double sole) {
        const double ball = za - b.foot * sin(FootDown(sole));
        return std::min(ball, ball + b.toes * sin(Rad(toeShare * sole)));
    };
    if (lowest(lo) >= clear)
        return lo;
    return Bisect(lo, hi, 60, [&](double sole) { return !(lowest(sole) >= clear); }).hi;
}

// Sagittal hip angle and (three-dimensional) knee flexion of the right leg in
// stance.
void WalkModel::StanceAngles(double p, double& hip, double& knee) const
{
    const V3 hj = A.HipJoint(Pelvis(p), 0);
    const V3 ankle = Stance(0, p).ankle;
    double planarKnee;
    Angles(ankle.y - hj.y, ankle.z - hj.z, hip, planarKnee);
    knee = KneeFromDistance((ankle - hj).len());
}

double WalkModel::KneeFromDistance(double D) const
{
    const double T = A.body().thigh, S = A.body().shin;
    return Deg(acos(std::min(1.0, std::max(-1.0, (D * D - T * T - S * S) / (2 * T * S)))));
}

// Sagittal two-link angles of an ankle position relative to its hip joint:
// thigh angle from the vertical (forwards positive) and knee flexion.
void WalkModel::Angles(double dy, double dz, double& hip, double& knee) const
{
    const double T = A.body().thigh, S = A.body().shin;
    const double D = std::min(sqrt(dy * dy + dz * dz), T + S - 1e-9);
    const double ck = (D * D - T * T - S * S) / (2 * T * S);
    knee = Deg(acos(std::min(1.0, std::max(-1.0, ck))));
    const double lineAngle = atan2(dy, -dz);
    const double cb = (T * T + D * D - S * S) / (2 * T * D);
    hip = Deg(lineAngle + acos(std::min(1.0, std::max(-1.0, cb))));
}

} // namespace walker
