// Stage: plant feet. Re-poses the legs so that a foot on the ground stays
// where it is until it lifts off.
//
// A capture's standing foot is not quite still: heels are not joints, markers
// move on the skin, and a stylised walk drags its toes. The demo's locks carry
// the body by the standing foot's backward slide under it, so whatever the
// captured foot glides forwards is travel the played walk loses (131_01: about
// 8 %, 131_02: far more), and a foot that swivels while flat slides at one
// end. Here each foot, while down, is held the way the contact locks hold it:
// it keeps its heading while it lies flat, and turns about its lowest point
// (heel, ball or toe tip), which keeps its place over the floor. The leg
// reaches the held ankle by turning the thigh and the shin (two-bone inverse
// kinematics, the knee kept in the plane it bends in); the foot keeps its
// captured pitch, roll and height, so only the horizontal changes. While the
// foot swings, its turn and shift ease from where the last contact left them
// to where the next one needs them.
#include <algorithm>
#include <cmath>

#include "qvimport.h"

namespace qvimport
{
namespace
{

sVec3 Flat(sVec3 v)
{
    v.z = 0;
    return v;
}

bool Below(const sCapture& cap, int joint, int ancestor)
{
    for (int a = joint; a >= 0; a = cap.mJoints[a].mParent)
        if (a == ancestor)
            return true;
    return false;
}

// The points a foot can stand on, as the demo's contact locks place them:
// the heel straight below the ankle in the standing frame, down to the
// lowest of the foot's other points but never further than the foot is long,
// kept in the ankle's frame; the ball (the ankle's toe joint) and the toe
// tip, where the skeleton has them.
struct sFootPoints
{
    sVec3 mHeel;     // in the ankle joint's frame
    int mBall = -1;  // joints, or -1
    int mTip = -1;
};

sFootPoints FootPoints(const sCapture& cap, const sLeg& leg, int stance)
{
    sFootPoints fp;
    fp.mBall = leg.mToe;
    fp.mTip = leg.mTip != leg.mToe ? leg.mTip : -1;
    const std::vector<sVec3>& p = cap.mPosition[stance];
    const sVec3 ankle = p[leg.mAnkle];
    double lowest = ankle.z, length = 0;
    for (int j : {fp.mBall, fp.mTip})
        if (j >= 0)
            lowest = std::min(lowest, p[j].z);
    if (fp.mBall >= 0)
        length = (p[fp.mBall] - ankle).Length();
    else if (fp.mTip >= 0)
        length = (p[fp.mTip] - ankle).Length();
    const double drop = std::min(ankle.z - lowest, length);
    fp.mHeel = cap.mRotation[stance][leg.mAnkle].Conj() * sVec3(0, 0, -drop);
    return fp;
}

// The foot's points at a frame, as captured: heel, ball, tip (the last two
// are the heel again where the skeleton lacks them).
void PointsAt(const sCapture& cap, const sLeg& leg, const sFootPoints& fp, size_t f, sVec3 out[3])
{
    out[0] = cap.mPosition[f][leg.mAnkle] + cap.mRotation[f][leg.mAnkle] * fp.mHeel;
    out[1] = fp.mBall >= 0 ? cap.mPosition[f][fp.mBall] : out[0];
    out[2] = fp.mTip >= 0 ? cap.mPosition[f][fp.mTip] : out[0];
}

int Lowest(const sVec3 p[3])
{
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (p[i].z < p[k].z)
            k = i;
    return k;
}

// A foot's stretches on the ground: [first, last] frames.
typedef std::pair<size_t, size_t> tRun;

std::vector<tRun> Contacts(const std::vector<char>& down)
{
    std::vector<tRun> runs;
    for (size_t f = 0; f < down.size();)
    {
        size_t g = f;
        while (g < down.size() && down[g] == down[f])
            ++g;
        if (down[f])
            runs.push_back({f, g - 1});
        f = g;
    }
    return runs;
}

// The frame of a contact at which the foot keeps its captured place: the
// standing frame, where the contact holds it (the stand is the rest pose,
// left as captured), else where the leg is most upright, so that it has
// least to reach at heel strike and toe-off.
size_t AnchorFrame(const sCapture& cap, const sLeg& leg, const tRun& run, int stance)
{
    if (stance >= 0 && (size_t)stance >= run.first && (size_t)stance <= run.second)
        return (size_t)stance;
    size_t upright = run.first;
    double nearest = INFINITY;
    for (size_t f = run.first; f <= run.second; ++f)
    {
        const double d = Flat(cap.mPosition[f][leg.mAnkle] - cap.mPosition[f][leg.mHip]).Length();
        if (d < nearest)
        {
            nearest = d;
            upright = f;
        }
    }
    return upright;
}

// Between contacts (and before the first, after the last), values ease from
// where one contact leaves them to where the next takes them up.
template <class T> void EaseBetween(const std::vector<tRun>& runs, std::vector<T>& v)
{
    if (runs.empty())
        return;
    for (size_t f = 0; f < runs.front().first; ++f)
        v[f] = v[runs.front().first];
    for (size_t f = runs.back().second + 1; f < v.size(); ++f)
        v[f] = v[runs.back().second];
    for (size_t i = 0; i + 1 < runs.size(); ++i)
    {
        const size_t a = runs[i].second, b = runs[i + 1].first;
        for (size_t f = a + 1; f < b; ++f)
        {
            const double t = (double)(f - a) / (double)(b - a);
            const double s = t * t * (3 - 2 * t);
            v[f] = v[a] * (1 - s) + v[b] * s;
        }
    }
}

// The foot's heading about the vertical, from its across axis (which stays
// level as the foot pitches, so the heading is defined on the toes too).
double FootHeading(const sCapture& cap, const sLeg& leg, const sVec3& acrossLocal, size_t f, double previous)
{
    const sVec3 across = cap.mRotation[f][leg.mAnkle] * acrossLocal;
    if (Flat(across).Length() < 0.2)
        return previous;
    double h = std::atan2(across.y, across.x);
    // Unwrapped next to the frame before.
    while (h - previous > M_PI)
        h -= 2 * M_PI;
    while (h - previous < -M_PI)
        h += 2 * M_PI;
    return h;
}

// A foot lies flat while its heel and its front (the lower of the ball and
// the toe tip) are within this many leg lengths of each other in height.
const double kFlatBand = 0.02;
// A flat foot that turns further than this over a contact is turning on the
// spot; it turns as captured.
const double kMostHeldTurn = 30 * M_PI / 180;

bool FlatAt(const sCapture& cap, const sLeg& leg, const sFootPoints& fp, size_t f)
{
    sVec3 p[3];
    PointsAt(cap, leg, fp, f, p);
    return std::fabs(p[0].z - std::min(p[1].z, p[2].z)) <= kFlatBand * leg.mLength;
}

// Per frame, the turn about the vertical that keeps the foot's heading while
// it lies flat on the ground: a flat foot cannot swivel on the floor without
// its heel or its toes sliding (captured ones do, on the skin's markers).
// Before and after the flat part of a contact (heel strike, heel rise) the
// foot keeps the turn it had at the nearest flat frame; a contact with no
// flat frame (on the toes) is left as captured.
std::vector<double> FootTurns(const sCapture& cap, const sLeg& leg, const sFootPoints& fp,
                              const std::vector<tRun>& runs, int stance)
{
    std::vector<double> turn(cap.Frames(), 0.0);
    const int front = fp.mTip >= 0 ? fp.mTip : fp.mBall;
    if (front < 0)
        return turn;
    const std::vector<sVec3>& p = cap.mPosition[stance];
    const sVec3 across = (p[front] - p[leg.mAnkle]).Cross(sVec3(0, 0, 1)).Unit();
    if (across.Length() == 0)
        return turn;
    const sVec3 acrossLocal = cap.mRotation[stance][leg.mAnkle].Conj() * across;
    std::vector<double> heading(cap.Frames());
    double h = 0;
    for (size_t f = 0; f < cap.Frames(); ++f)
        heading[f] = h = FootHeading(cap, leg, acrossLocal, f, f ? h : std::atan2(across.y, across.x));
    for (const tRun& run : runs)
    {
        std::vector<size_t> flat;
        double lo = INFINITY, hi = -INFINITY;
        for (size_t f = run.first; f <= run.second; ++f)
            if ((int)f == stance || FlatAt(cap, leg, fp, f))
            {
                flat.push_back(f);
                lo = std::min(lo, heading[f]);
                hi = std::max(hi, heading[f]);
            }
        if (flat.empty() || hi - lo > kMostHeldTurn)
            continue;
        // The flat frame nearest to f.
        auto nearest = [&](size_t f) {
            const auto it = std::lower_bound(flat.begin(), flat.end(), f);
            if (it == flat.end())
                return flat.back();
            if (it == flat.begin() || *it - f <= f - *(it - 1))
                return *it;
            return *(it - 1);
        };
        const double keep = heading[nearest(AnchorFrame(cap, leg, run, stance))];
        for (size_t f = run.first; f <= run.second; ++f)
            turn[f] = keep - heading[nearest(f)];
    }
    EaseBetween(runs, turn);
    return turn;
}

// Turns the foot (the ankle and everything below it) about the vertical
// through the ankle.
void TurnFoot(sCapture& cap, const sLeg& leg, size_t f, double angle)
{
    if (angle == 0)
        return;
    const sQuat q = sQuat::AxisAngle(sVec3(0, 0, 1), angle);
    const sVec3 ankle = cap.mPosition[f][leg.mAnkle];
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
        if (Below(cap, (int)j, leg.mAnkle))
        {
            cap.mPosition[f][j] = ankle + q * (cap.mPosition[f][j] - ankle);
            cap.mRotation[f][j] = (q * cap.mRotation[f][j]).Unit();
        }
}

// Per frame, the horizontal shift that holds the foot while it is down, and
// eases between contacts while it swings.
std::vector<sVec3> FootShifts(const sCapture& cap, const sLeg& leg, const sFootPoints& fp,
                              const std::vector<tRun>& runs, int stance)
{
    std::vector<sVec3> shift(cap.Frames());
    for (const tRun& run : runs)
    {
        // Rolling: the point the foot stands on this frame is kept where it
        // was (after its shift) the frame before.
        sVec3 before[3], now[3];
        PointsAt(cap, leg, fp, run.first, before);
        for (size_t f = run.first + 1; f <= run.second; ++f)
        {
            PointsAt(cap, leg, fp, f, now);
            const int k = Lowest(now);
            shift[f] = shift[f - 1] + Flat(before[k] - now[k]);
            std::copy(now, now + 3, before);
        }
        const sVec3 anchor = shift[AnchorFrame(cap, leg, run, stance)];
        for (size_t f = run.first; f <= run.second; ++f)
            shift[f] = shift[f] - anchor;
    }
    EaseBetween(runs, shift);
    return shift;
}

// Moves the ankle of one leg at one frame by shift (as near as the leg
// reaches), turning the thigh about the hip and the shin about the knee;
// the foot keeps its orientation. Returns the ankle's move.
sVec3 ReachAnkle(sCapture& cap, const sLeg& leg, size_t f, const sVec3& shift)
{
    std::vector<sVec3>& pos = cap.mPosition[f];
    std::vector<sQuat>& rot = cap.mRotation[f];
    const sVec3 hip = pos[leg.mHip], knee = pos[leg.mKnee], ankle = pos[leg.mAnkle];
    const double thigh = (knee - hip).Length(), shin = (ankle - knee).Length();
    if (!(thigh > 0) || !(shin > 0) || !shift.IsFinite() || (shift.x == 0 && shift.y == 0 && shift.z == 0))
        return sVec3();
    // Out of the leg's reach (a hair inside full stretch and full fold, or
    // as far as the capture itself goes), the ankle goes as far along the
    // shift as the leg reaches: the foot keeps its height and slides a little
    // rather than lifting off the floor.
    const double now = (ankle - hip).Length();
    const double lo = std::min(std::fabs(thigh - shin) * (1 + 1e-6) + 1e-9, now);
    const double hi = std::max((thigh + shin) * (1 - 1e-6), now);
    auto reachable = [&](double t) {
        const double d = (ankle + shift * t - hip).Length();
        return d >= lo && d <= hi;
    };
    double part = 1;
    if (!reachable(1))
    {
        double in = 0, out = 1;
        for (int i = 0; i < 60; ++i)
            (reachable(0.5 * (in + out)) ? in : out) = 0.5 * (in + out);
        part = in;
    }
    const sVec3 want = ankle + shift * part;
    const double d = (want - hip).Length();
    sVec3 u = (want - hip).Unit();
    if (u.Length() == 0)
        u = (ankle - hip).Unit();
    // The knee stays on the side it bends to.
    sVec3 side = (knee - hip) - u * (knee - hip).Dot(u);
    if (side.Length() < 1e-9 * thigh)
        side = u.Cross(sVec3(1, 0, 0)).Length() > 0.1 ? u.Cross(sVec3(1, 0, 0)) : u.Cross(sVec3(0, 1, 0));
    side = side.Unit();
    const double along = (thigh * thigh - shin * shin + d * d) / (2 * d);
    const double out = std::sqrt(std::max(thigh * thigh - along * along, 0.0));
    const sVec3 newKnee = hip + u * along + side * out;
    const sQuat turnThigh = sQuat::Between(knee - hip, newKnee - hip);
    const sVec3 reached = hip + u * d;
    const sQuat turnShin = sQuat::Between(ankle - knee, reached - newKnee);
    const sVec3 footMove = newKnee + turnShin * (ankle - knee) - ankle;
    if (!turnThigh.IsFinite() || !turnShin.IsFinite() || !footMove.IsFinite())
        return sVec3();

    for (size_t j = 0; j < pos.size(); ++j)
    {
        if (!Below(cap, (int)j, leg.mHip))
            continue;
        if (Below(cap, (int)j, leg.mAnkle))
            pos[j] = pos[j] + footMove;
        else if (Below(cap, (int)j, leg.mKnee))
        {
            pos[j] = newKnee + turnShin * (pos[j] - knee);
            rot[j] = (turnShin * rot[j]).Unit();
        }
        else
        {
            pos[j] = hip + turnThigh * (pos[j] - hip);
            rot[j] = (turnThigh * rot[j]).Unit();
        }
    }
    return footMove;
}

} // namespace

sPlantReport PlantFeet(sCapture& cap, const sFeet& feet, const sContacts& contacts, int stance)
{
    sPlantReport report;
    for (int side = 0; side < 2; ++side)
    {
        const sLeg& leg = feet.mLeg[side];
        const sFootPoints fp = FootPoints(cap, leg, stance);
        const std::vector<tRun> runs = Contacts(contacts.mDown[side]);
        const std::vector<double> turn = FootTurns(cap, leg, fp, runs, stance);
        for (size_t f = 0; f < cap.Frames(); ++f)
        {
            TurnFoot(cap, leg, f, turn[f]);
            report.mLargestTurnDeg = std::max(report.mLargestTurnDeg, std::fabs(turn[f]) * 180 / M_PI);
        }
        const std::vector<sVec3> shift = FootShifts(cap, leg, fp, runs, stance);
        for (size_t f = 0; f < cap.Frames(); ++f)
        {
            const sVec3 moved = ReachAnkle(cap, leg, f, shift[f]);
            report.mLargestShift = std::max(report.mLargestShift, shift[f].Length() / leg.mLength);
            report.mLargestMiss = std::max(report.mLargestMiss, (shift[f] - moved).Length() / leg.mLength);
        }
    }
    return report;
}

} // namespace qvimport
