// Stage: floor. Two ways a clip's ground is not the plain floor the demo
// walks on, put right after Upright and before the contacts are found:
//
//   [SECTION] In place   a cycle authored in place (a game asset): the hips
//                        stay put and the standing foot slides back at
//                        walking speed; the travel the feet give is put back
//   [SECTION] Level      a capture floor that is not level: the plane the
//                        feet stand on, fitted from the stances, turned level
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// ---- [SECTION] In place --------------------------------------------------------

// A clip is in place when its pelvis goes less far than this over the clip,
// in legs per second, while its feet move back and forth by more than
// kSwingLegs along where it faces.
const double kInPlaceLegsPerSecond = 0.05;
const double kSwingLegs = 0.2;
// A foot slides with the floor while its ankle is this close to its own low
// (legs) and moves backwards; it must do so on this share of the frames.
const double kSlideBand = 0.03;
const double kSlideShare = 0.2;

// Where the figure faces over the clip, horizontal, of unit length.
sVec3 MeanFacing(const sCapture& cap, const sFeet& feet)
{
    sVec3 sum;
    for (size_t f = 0; f < cap.Frames(); ++f)
        sum = sum + FacingVector(cap, feet, f).Unit();
    return sum.Unit();
}

// The speed at which one foot slides backwards while it stands (its ankle
// near its own low), per frame it does; none when it never does.
std::vector<double> SlideSpeeds(const sCapture& cap, const sLeg& leg, const sVec3& forward, double legLength)
{
    const size_t n = cap.Frames();
    std::vector<double> heights;
    double lo = INFINITY, hi = -INFINITY;
    for (size_t f = 0; f < n; ++f)
    {
        heights.push_back(cap.mPosition[f][leg.mAnkle].z);
        const double u = cap.mPosition[f][leg.mAnkle].Dot(forward);
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    std::vector<double> speeds;
    if (hi - lo < kSwingLegs * legLength)
        return speeds;
    const double low = Percentile(heights, 0.05);
    for (size_t f = 1; f + 1 < n; ++f)
    {
        const double back =
            -(cap.mPosition[f + 1][leg.mAnkle] - cap.mPosition[f - 1][leg.mAnkle]).Dot(forward) * cap.mRate / 2;
        if (heights[f] < low + kSlideBand * legLength && back > 0)
            speeds.push_back(back);
    }
    return speeds;
}

// ---- [SECTION] Level -----------------------------------------------------------

// A foot stands still while its lowest point moves slower than this share of
// the walking speed (or this many legs per second, for a slow clip).
const double kStillShare = 0.3;
const double kStillLegsPerSecond = 0.05;
// Fitting the floor, points higher than this over the plane (legs) are a
// foot held up, not the floor.
const double kFloorBand = 0.02;
// A floor is levelled only where it rises by more than this over the ground
// the feet cover (legs): half the band in which a foot counts as down
// (FindContacts), where the later stances begin to stop counting.
const double kLevelRise = 0.025;
// The stances lie along a line when their spread across is less than this
// share of their spread along (variances).
const double kAcrossShare = 0.1;

struct sPlane
{
    double mA = 0, mB = 0, mC = 0; // z = a + b x + c y
    double Z(double x, double y) const { return mA + mB * x + mC * y; }
};

// Least squares through the points; false when they do not span a line.
// Where they lie along a line (a straight walk) the floor rises along it and
// is taken level across it: across a walk the points are the two feet, and a
// marker set a little lower on one foot would tilt the figure sideways.
bool FitPlane(const std::vector<sVec3>& pts, sPlane& plane)
{
    if (pts.size() < 3)
        return false;
    sVec3 mean;
    for (const sVec3& p : pts)
        mean = mean + p;
    mean = mean * (1.0 / (double)pts.size());
    double sxx = 0, sxy = 0, syy = 0, sxz = 0, syz = 0;
    for (const sVec3& p : pts)
    {
        const sVec3 d = p - mean;
        sxx += d.x * d.x;
        sxy += d.x * d.y;
        syy += d.y * d.y;
        sxz += d.x * d.z;
        syz += d.y * d.z;
    }
    const double trace = sxx + syy;
    const double root = std::sqrt((sxx - syy) * (sxx - syy) + 4 * sxy * sxy);
    const double major = 0.5 * (trace + root), minor = 0.5 * (trace - root);
    if (!(major > 0))
        return false;
    if (minor < kAcrossShare * major)
    {
        const sVec3 dir = sxx >= syy ? sVec3(major - syy, sxy, 0).Unit() : sVec3(sxy, major - sxx, 0).Unit();
        const double slope = (sxz * dir.x + syz * dir.y) / major; // the variance along dir
        plane.mB = slope * dir.x;
        plane.mC = slope * dir.y;
    }
    else
    {
        const double det = sxx * syy - sxy * sxy;
        plane.mB = (sxz * syy - syz * sxy) / det;
        plane.mC = (syz * sxx - sxz * sxy) / det;
    }
    plane.mA = mean.z - plane.mB * mean.x - plane.mC * mean.y;
    return std::isfinite(plane.mA) && std::isfinite(plane.mB) && std::isfinite(plane.mC);
}

// Where each ankle is while it stands still: over a flat foot, the same
// height above the floor from one stance to the next (a toe marker's height
// varies more, with how the toes curl).
std::vector<sVec3> StancePoints(const sCapture& cap, const sFeet& feet)
{
    const double still = std::max(kStillShare * WalkingSpeed(cap, feet), kStillLegsPerSecond * LegLength(feet));
    std::vector<sVec3> pts;
    for (size_t f = 0; f < cap.Frames(); ++f)
        for (const sLeg& leg : feet.mLeg)
            if (HorizontalSpeed(cap, leg.mAnkle, f) < still)
                pts.push_back(cap.mPosition[f][leg.mAnkle]);
    return pts;
}

} // namespace

double PutInMotion(sCapture& cap, const sFeet& feet)
{
    const size_t n = cap.Frames();
    const double leg = LegLength(feet);
    if (n < 3 || !(leg > 0))
        return 0;
    const double seconds = (double)(n - 1) / cap.mRate;
    const double travel = Flat(cap.mPosition[n - 1][feet.mPelvis] - cap.mPosition[0][feet.mPelvis]).Length();
    if (travel > kInPlaceLegsPerSecond * leg * seconds)
        return 0;
    const sVec3 forward = MeanFacing(cap, feet);
    std::vector<double> speeds;
    for (const sLeg& l : feet.mLeg)
    {
        const std::vector<double> s = SlideSpeeds(cap, l, forward, leg);
        if ((double)s.size() < kSlideShare * (double)n)
            return 0;
        speeds.insert(speeds.end(), s.begin(), s.end());
    }
    // The standing foot slides at the speed the figure walks: its typical
    // backward speed while down (the landing and the lift-off are the
    // slower and faster ends).
    const double speed = Percentile(speeds, 0.5);
    if (!(speed > kInPlaceLegsPerSecond * leg))
        return 0;
    for (size_t f = 0; f < n; ++f)
    {
        const sVec3 shift = forward * (speed * (double)f / cap.mRate);
        for (sVec3& p : cap.mPosition[f])
            p = p + shift;
    }
    return speed;
}

double LevelFloor(sCapture& cap, const sFeet& feet)
{
    const double leg = LegLength(feet);
    std::vector<sVec3> pts = StancePoints(cap, feet);
    sPlane plane;
    if (!FitPlane(pts, plane))
        return 0;
    // The floor is under the stances: a foot that is still in the air is
    // dropped, and the rest fitted again.
    for (int round = 0; round < 4; ++round)
    {
        std::vector<sVec3> kept;
        for (const sVec3& p : pts)
            if (p.z - plane.Z(p.x, p.y) < kFloorBand * leg)
                kept.push_back(p);
        if (kept.size() == pts.size() || !FitPlane(kept, plane))
            break;
        pts = kept;
    }
    double spread = 0;
    for (const sVec3& p : pts)
        spread = std::max(spread, Flat(p - pts.front()).Length());
    const double slope = std::sqrt(plane.mB * plane.mB + plane.mC * plane.mC);
    if (slope * spread < kLevelRise * leg)
        return 0;
    const sQuat level = sQuat::Between(sVec3(-plane.mB, -plane.mC, 1), sVec3(0, 0, 1));
    const sVec3 onFloor(pts.front().x, pts.front().y, plane.Z(pts.front().x, pts.front().y));
    const double drop = (level * onFloor).z;
    TurnCapture(cap, level, drop);
    return slope;
}

} // namespace qvimport
