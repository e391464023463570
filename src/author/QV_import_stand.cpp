// Stage: stand, for a clip that never stands still (most takes start and
// end mid-walk). Frozen, a stride is no stand: the ankles are half a leg
// apart, an arm is forward, and releasing W snaps the figure into it. So a
// stand is built from the clip's own poses: the frame of the walk where the
// legs pass each other (the arms hang close to the body there), its feet set
// flat under the hips a hip width apart, the hips lowered as far as the legs
// need.
//
//   [SECTION] Frame     turning a joint and everything below it
//   [SECTION] Legs      two-bone reach of an ankle, the foot's turn
//   [SECTION] Stand     IsStanding, BuildStand
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// A found stand is a stand when its ankles are no further apart than this
// (legs, horizontally) and it moves no faster than this share of the
// walking speed (the pelvis and both ankles, added).
const double kStandFeetApart = 0.35;
const double kStandMotion = 0.5;
// The built stand's legs reach this share of their length, the knees a
// little soft.
const double kStandReach = 0.98;

// ---- [SECTION] Frame -----------------------------------------------------------

// Turns joint j and every joint below it by q about j's position, at frame f.
void TurnBelow(sCapture& cap, size_t f, int j, const sQuat& q)
{
    const sVec3 about = cap.mPosition[f][j];
    for (size_t k = 0; k < cap.mJoints.size(); ++k)
        if (IsBelow(cap, (int)k, j))
        {
            cap.mRotation[f][k] = (q * cap.mRotation[f][k]).Unit();
            cap.mPosition[f][k] = about + q * (cap.mPosition[f][k] - about);
        }
}

// ---- [SECTION] Legs ------------------------------------------------------------

// Moves the ankle of leg to target, at frame f: the knee bends (forwards) or
// straightens to the distance, then the thigh turns towards it. A target
// out of reach is reached as far as the leg goes.
void ReachAnkle(sCapture& cap, size_t f, const sLeg& leg, const sVec3& target, const sVec3& forward)
{
    const std::vector<sVec3>& p = cap.mPosition[f];
    const sVec3 hip = p[leg.mHip], knee = p[leg.mKnee], ankle = p[leg.mAnkle];
    const double thigh = (knee - hip).Length(), shin = (ankle - knee).Length();
    if (!(thigh > 0) || !(shin > 0))
        return;
    const double d =
        std::min(std::max((target - hip).Length(), std::fabs(thigh - shin) * 1.001), (thigh + shin) * 0.999);
    const double now = std::acos(std::max(-1.0, std::min(1.0, (hip - knee).Unit().Dot((ankle - knee).Unit()))));
    const double want =
        std::acos(std::max(-1.0, std::min(1.0, (thigh * thigh + shin * shin - d * d) / (2 * thigh * shin))));
    // Bending about the axis the knee bends about; a straight knee bends
    // forwards.
    sVec3 axis = (hip - knee).Cross(ankle - knee).Unit();
    if (axis.Length() < 0.5 || std::sin(now) < 0.05)
        axis = forward.Cross(sVec3(0, 0, 1)).Unit();
    TurnBelow(cap, f, leg.mKnee, sQuat::AxisAngle(axis, want - now));
    const sVec3 reached = cap.mPosition[f][leg.mAnkle];
    TurnBelow(cap, f, leg.mHip, sQuat::Between(reached - hip, target - hip));
}

// ---- [SECTION] Stand -----------------------------------------------------------

// The frame of [a, b] at which the ankles are closest along where the figure
// faces: the legs pass each other.
int PassingFrame(const sCapture& cap, const sFeet& feet, int a, int b)
{
    int best = a;
    double closest = INFINITY;
    for (int f = a; f <= b; ++f)
    {
        const sVec3 fwd = FacingVector(cap, feet, f).Unit();
        const double apart =
            std::fabs((cap.mPosition[f][feet.mLeg[0].mAnkle] - cap.mPosition[f][feet.mLeg[1].mAnkle]).Dot(fwd));
        if (apart < closest)
        {
            closest = apart;
            best = f;
        }
    }
    return best;
}

// Frame of [a, b] at which a foot is down and its ankle lowest: flat.
int FlatFrame(const sCapture& cap, const sLeg& leg, const std::vector<char>& down, int a, int b)
{
    int best = a;
    for (int f = a; f <= b; ++f)
        if (down[f] && (!down[best] || cap.mPosition[f][leg.mAnkle].z < cap.mPosition[best][leg.mAnkle].z))
            best = f;
    return best;
}

// The lowest of joint j and the joints below it, at frame f.
double LowestBelow(const sCapture& cap, size_t f, int j)
{
    double low = INFINITY;
    for (size_t k = 0; k < cap.mJoints.size(); ++k)
        if (IsBelow(cap, (int)k, j))
            low = std::min(low, cap.mPosition[f][k].z);
    return low;
}

} // namespace

bool IsStanding(const sCapture& cap, const sFeet& feet, const sContacts& contacts, int f)
{
    const double leg = LegLength(feet);
    const std::vector<sVec3>& p = cap.mPosition[f];
    const double apart = Flat(p[feet.mLeg[0].mAnkle] - p[feet.mLeg[1].mAnkle]).Length();
    const double motion = (HorizontalSpeed(cap, feet.mPelvis, f) + HorizontalSpeed(cap, feet.mLeg[0].mAnkle, f) +
                           HorizontalSpeed(cap, feet.mLeg[1].mAnkle, f)) /
                          std::max(contacts.mWalkSpeed, 0.1 * leg);
    return apart <= kStandFeetApart * leg && motion <= kStandMotion;
}

int BuildStand(sCapture& cap, const sFeet& feet, const sContacts& contacts, const sCycle& walk, int& from)
{
    from = PassingFrame(cap, feet, walk.mBegin, walk.mEnd);
    cap.mRotation.push_back(cap.mRotation[from]);
    cap.mPosition.push_back(cap.mPosition[from]);
    const size_t f = cap.Frames() - 1;
    const sVec3 forward = FacingVector(cap, feet, f).Unit();
    const double facing = std::atan2(forward.y, forward.x);

    // Each foot as it lies flat on the floor in the walk, turned to face
    // where this frame faces.
    sQuat footTurn[2];
    double ankleHeight = 0;
    for (int side = 0; side < 2; ++side)
    {
        const sLeg& leg = feet.mLeg[side];
        const int flat = FlatFrame(cap, leg, contacts.mDown[side], walk.mBegin, walk.mEnd);
        const sVec3 fwd = FacingVector(cap, feet, flat);
        const sQuat yaw = sQuat::AxisAngle(sVec3(0, 0, 1), facing - std::atan2(fwd.y, fwd.x));
        footTurn[side] = yaw * cap.mRotation[flat][leg.mAnkle];
        ankleHeight += 0.5 * cap.mPosition[flat][leg.mAnkle].z;
    }
    // The hips come down until the legs reach the floor straight below them
    // with soft knees.
    double drop = 0;
    for (const sLeg& leg : feet.mLeg)
    {
        const std::vector<sVec3>& p = cap.mPosition[f];
        const double length = (p[leg.mKnee] - p[leg.mHip]).Length() + (p[leg.mAnkle] - p[leg.mKnee]).Length();
        drop = std::max(drop, p[leg.mHip].z - ankleHeight - kStandReach * length);
    }
    for (sVec3& p : cap.mPosition[f])
        p.z -= drop;
    // Twice: the second time each ankle goes as far up or down as puts its
    // foot's lowest joint where the other's is (feet pitched a little
    // differently as they lay flat in the walk).
    double lift[2] = {0, 0};
    for (int pass = 0; pass < 2; ++pass)
    {
        double lowest[2];
        for (int side = 0; side < 2; ++side)
        {
            const sLeg& leg = feet.mLeg[side];
            sVec3 target = cap.mPosition[f][leg.mHip];
            target.z = ankleHeight + lift[side];
            ReachAnkle(cap, f, leg, target, forward);
            TurnBelow(cap, f, leg.mAnkle, footTurn[side] * cap.mRotation[f][leg.mAnkle].Conj());
            lowest[side] = LowestBelow(cap, f, leg.mAnkle);
        }
        const double level = 0.5 * (lowest[0] + lowest[1]);
        for (int side = 0; side < 2; ++side)
            lift[side] += level - lowest[side];
    }
    return (int)f;
}

} // namespace qvimport
