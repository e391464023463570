// Stage: checks. What is not a two-legged walk is refused with the reason,
// before anything is built from it: the demo would play it as a walk, and
// a file that walks wrongly misleads more than a refusal.
//
//   CheckTwoLegs   a figure with more than two feet on the ground
//   CheckSteps     a foot that never stands still; flight in every cycle
//                  (hops, a run)
//   CheckCycles    steps that go nowhere (boxing, dancing, stepping on the
//                  spot)
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// Another end of the skeleton is a foot when it is this close to the floor
// (legs) on this share of the frames while the pelvis is this high (legs):
// a figure that stands on it, not one that lies or crawls.
const double kOtherFootBand = 0.1;
const double kOtherFootShare = 0.1;
const double kStandingLegs = 0.6;
// A foot plants when, while down, its ankle or toe tip moves slower than
// this share of the walking speed (or this many legs per second) on at
// least kPlantShare of its frames down.
const double kPlantSpeedShare = 0.25;
const double kPlantLegsPerSecond = 0.05;
const double kPlantShare = 0.1;
// Both feet off the ground this long (seconds) is a flight phase; a clip
// with one in most cycles (flights per strike of either foot) is not a walk.
const double kFlightSeconds = 0.04;
const double kFlightsPerStrike = 0.4;
// Strikes of the two feet this close (seconds) land together (a hop).
const double kTogetherSeconds = 0.1;
// A gait cycle walks when the pelvis goes this far (legs) and each foot
// steps on by at least this share of that, the same way.
const double kMinStrideLegs = 0.15;
const double kFootAdvanceShare = 0.5;

// Runs of frames with neither foot down at least minFrames long.
int Flights(const sContacts& contacts, size_t minFrames)
{
    int flights = 0;
    size_t run = 0;
    const size_t n = contacts.mDown[0].size();
    for (size_t f = 0; f <= n; ++f)
    {
        if (f < n && !contacts.mDown[0][f] && !contacts.mDown[1][f])
        {
            ++run;
            continue;
        }
        // A clip that starts or ends in the air is not a flight between steps.
        if (run >= minFrames && run < f && f < n)
            ++flights;
        run = 0;
    }
    return flights;
}

// The frames on which a foot is down and still.
int PlantedFrames(const sCapture& cap, const sLeg& leg, const std::vector<char>& down, double still)
{
    int planted = 0;
    for (size_t f = 0; f < cap.Frames(); ++f)
    {
        double speed = HorizontalSpeed(cap, leg.mAnkle, f);
        if (leg.mTip >= 0)
            speed = std::min(speed, HorizontalSpeed(cap, leg.mTip, f));
        planted += down[f] && speed < still ? 1 : 0;
    }
    return planted;
}

// The first strike of a foot after frame f, or -1.
int NextStrike(const std::vector<int>& strikes, int f)
{
    for (int s : strikes)
        if (s > f)
            return s;
    return -1;
}

// Whether a cycle walks: the pelvis goes somewhere, and each foot lands
// further on the same way by a good part of that.
bool Walks(const sCapture& cap, const sFeet& feet, const sContacts& contacts, const sCycle& c)
{
    const sVec3 stride = Flat(cap.mPosition[c.mEnd][feet.mPelvis] - cap.mPosition[c.mBegin][feet.mPelvis]);
    const double length = stride.Length();
    if (length < kMinStrideLegs * LegLength(feet))
        return false;
    const sVec3 dir = stride.Unit();
    const int ankle[2] = {feet.mLeg[0].mAnkle, feet.mLeg[1].mAnkle};
    const double leftOn = (cap.mPosition[c.mEnd][ankle[0]] - cap.mPosition[c.mBegin][ankle[0]]).Dot(dir);
    const std::vector<int> right = Strikes(contacts.mDown[1]);
    const int r0 = NextStrike(right, c.mBegin);
    const int r1 = r0 >= 0 ? NextStrike(right, r0) : -1;
    const double rightOn = r1 >= 0 ? (cap.mPosition[r1][ankle[1]] - cap.mPosition[r0][ankle[1]]).Dot(dir) : length;
    return leftOn > kFootAdvanceShare * length && rightOn > kFootAdvanceShare * length;
}

} // namespace

void CheckTwoLegs(const sCapture& cap, const sFeet& feet)
{
    const size_t n = cap.mJoints.size();
    const double leg = LegLength(feet);
    std::vector<char> hasChild(n, 0);
    for (const sJoint& j : cap.mJoints)
        if (j.mParent >= 0)
            hasChild[j.mParent] = 1;
    for (size_t j = 0; j < n; ++j)
    {
        if (hasChild[j] || IsBelow(cap, (int)j, feet.mLeg[0].mHip) || IsBelow(cap, (int)j, feet.mLeg[1].mHip))
            continue;
        // Standing, not lying or crawling: the pelvis a leg's height up.
        size_t onGround = 0;
        for (size_t f = 0; f < cap.Frames(); ++f)
            onGround +=
                cap.mPosition[f][j].z < kOtherFootBand * leg && cap.mPosition[f][feet.mPelvis].z > kStandingLegs * leg;
        if ((double)onGround > kOtherFootShare * (double)cap.Frames())
            throw cImportError("more than two feet reach the ground ('" + cap.mJoints[j].mName +
                               "' too): only two-legged walks are imported");
    }
}

void CheckSteps(const sCapture& cap, const sFeet& feet, const sContacts& contacts)
{
    const char* sideName[2] = {"left", "right"};
    const double still = std::max(kPlantSpeedShare * contacts.mWalkSpeed, kPlantLegsPerSecond * LegLength(feet));
    for (int side = 0; side < 2; ++side)
    {
        const std::vector<char>& down = contacts.mDown[side];
        const long frames = std::count(down.begin(), down.end(), 1);
        if (PlantedFrames(cap, feet.mLeg[side], down, still) < std::max(3.0, kPlantShare * (double)frames))
            throw cImportError(std::string("the ") + sideName[side] +
                               " foot never stands still on the ground (it slides or swings all along): not a walk");
    }
    const std::vector<int> left = Strikes(contacts.mDown[0]), right = Strikes(contacts.mDown[1]);
    const size_t minFrames = std::max<size_t>(2, (size_t)std::lround(kFlightSeconds * cap.mRate));
    const int flights = Flights(contacts, minFrames);
    if (flights < 2 || flights < kFlightsPerStrike * (double)(left.size() + right.size()))
        return;
    int together = 0;
    for (int l : left)
        for (int r : right)
            if (std::abs(l - r) <= kTogetherSeconds * cap.mRate)
            {
                ++together;
                break;
            }
    if (2 * together >= (int)left.size())
        throw cImportError("both feet leave the ground together in every cycle (hops): not a walk");
    throw cImportError("both feet are off the ground between the steps (a run): not a walk");
}

void CheckCycles(const sCapture& cap, const sFeet& feet, const sContacts& contacts, const std::vector<sCycle>& cycles)
{
    if (cycles.empty())
        return; // the walk's choice says why
    for (const sCycle& c : cycles)
        if (Walks(cap, feet, contacts, c))
            return;
    throw cImportError("the steps go nowhere (no steady alternating steps along a path, as in boxing or dancing): not "
                       "a walk");
}

} // namespace qvimport
