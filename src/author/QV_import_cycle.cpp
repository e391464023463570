// Stage: find gait cycle. Ground contacts from the ankles' height and
// speed; heel strikes where contacts begin; cycles from one left heel strike
// to the next, the steady ones those at the walk's full speed.
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// Runs of planted frames shorter than minRun are dropped, gaps shorter than
// minRun filled: a foot that rocks on the ground is still down.
void Debounce(std::vector<char>& down, size_t minRun)
{
    for (char value : {0, 1})
    {
        size_t i = 0;
        while (i < down.size())
        {
            size_t j = i;
            while (j < down.size() && down[j] == down[i])
                ++j;
            if (down[i] == value && j - i < minRun && i > 0 && j < down.size())
                std::fill(down.begin() + (long)i, down.begin() + (long)j, (char)!value);
            i = j;
        }
    }
}

sQuat LocalRotation(const sCapture& cap, size_t f, int j)
{
    const int p = cap.mJoints[j].mParent;
    return p < 0 ? cap.mRotation[f][j] : cap.mRotation[f][p].Conj() * cap.mRotation[f][j];
}

} // namespace

sContacts FindContacts(const sCapture& cap, const sFeet& feet)
{
    const size_t n = cap.Frames();
    sContacts c;
    c.mWalkSpeed = WalkingSpeed(cap, feet);

    const double leg = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength);
    // A foot is down while its ankle or its toe tip is near its own lowest
    // and moves no faster than the body: a swinging foot moves at two to
    // five times the body's speed, a planted one barely, one that rolls or
    // drags on its toes about as fast as the body or slower.
    const double speedLimit = c.mWalkSpeed + 0.1 * leg;
    const size_t minRun = std::max<size_t>(2, (size_t)std::lround(0.05 * cap.mRate));
    for (int side = 0; side < 2; ++side)
    {
        std::vector<char>& down = c.mDown[side];
        down.assign(n, 0);
        for (int point : {feet.mLeg[side].mAnkle, feet.mLeg[side].mTip})
        {
            if (point < 0)
                continue;
            std::vector<double> heights;
            for (size_t f = 0; f < n; ++f)
                heights.push_back(cap.mPosition[f][point].z);
            const double low = Percentile(heights, 0.05);
            for (size_t f = 0; f < n; ++f)
                if (heights[f] < low + 0.05 * leg && HorizontalSpeed(cap, point, f) < speedLimit)
                    down[f] = 1;
        }
        Debounce(down, minRun);
        // Off the ground only while swinging. Gaps in the contact are swings
        // when the ankle reaches a speed like that of the clip's faster
        // gaps (60 % of the upper quartile of their peaks); slower gaps are
        // the foot rolling or shuffling on the ground (heel down after
        // landing on the toes, toes dragged forwards), not a step.
        const int ankle = feet.mLeg[side].mAnkle;
        std::vector<std::pair<size_t, size_t>> gaps;
        std::vector<double> peaks;
        for (size_t i = 0; i < n;)
        {
            size_t j = i;
            while (j < n && down[j] == down[i])
                ++j;
            if (!down[i] && i > 0 && j < n)
            {
                double peak = 0;
                for (size_t f = i; f < j; ++f)
                    peak = std::max(peak, HorizontalSpeed(cap, ankle, f));
                gaps.push_back({i, j});
                peaks.push_back(peak);
            }
            i = j;
        }
        const double swingSpeed = std::max(c.mWalkSpeed, 0.6 * Percentile(peaks, 0.75));
        for (size_t g = 0; g < gaps.size(); ++g)
            if (peaks[g] < swingSpeed)
                std::fill(down.begin() + (long)gaps[g].first, down.begin() + (long)gaps[g].second, (char)1);
        if (std::find(down.begin(), down.end(), 1) == down.end())
            throw cImportError(std::string("the ") + (side ? "right" : "left") + " foot never touches the ground");
    }
    return c;
}

sCycle DescribeCycle(const sCapture& cap, const sFeet& feet, int begin, int end)
{
    sCycle c;
    c.mBegin = begin;
    c.mEnd = end;
    sVec3 d = cap.mPosition[end][feet.mPelvis] - cap.mPosition[begin][feet.mPelvis];
    d.z = 0;
    c.mSpeed = d.Length() * cap.mRate / (end - begin);
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
        c.mClosure += AngleBetween(LocalRotation(cap, begin, (int)j), LocalRotation(cap, end, (int)j));
    return c;
}

std::vector<sCycle> FindCycles(const sCapture& cap, const sFeet& feet, const sContacts& contacts)
{
    const std::vector<int> left = Strikes(contacts.mDown[0]);
    const std::vector<int> right = Strikes(contacts.mDown[1]);
    std::vector<sCycle> cycles;
    for (size_t k = 0; k + 1 < left.size(); ++k)
    {
        sCycle c = DescribeCycle(cap, feet, left[k], left[k + 1]);
        const double seconds = (c.mEnd - c.mBegin) / cap.mRate;
        // A stride takes between 0.6 and 2.5 seconds even for slow or brisk
        // walkers, and the right heel strikes once within it.
        const long rightStrikes =
            std::count_if(right.begin(), right.end(), [&](int s) { return s > c.mBegin && s < c.mEnd; });
        if (seconds < 0.6 || seconds > 2.5 || rightStrikes != 1)
            continue;
        cycles.push_back(c);
    }
    // Steady: within 20 % of the fastest cycle's speed, and within 25 % of
    // the typical duration of those (a stylised walk varies its steps).
    double fastest = 0;
    for (const sCycle& c : cycles)
        fastest = std::max(fastest, c.mSpeed);
    std::vector<double> durations;
    for (const sCycle& c : cycles)
        if (c.mSpeed >= 0.8 * fastest)
            durations.push_back(c.mEnd - c.mBegin);
    const double typical = Percentile(durations, 0.5);
    for (sCycle& c : cycles)
        c.mSteady =
            fastest > 0 && c.mSpeed >= 0.8 * fastest && std::fabs((c.mEnd - c.mBegin) - typical) <= 0.25 * typical;
    // Steady also means straight, where the clip walks straight anywhere: a
    // take that turns a corner walks its strides into the turn at full
    // speed, and a loop made of them (or a run of cycles through the turn)
    // would turn the figure's own legs out from under it once the importer
    // takes the turn out. A clip that curves all along keeps its cycles.
    std::vector<char> straight(cycles.size());
    bool anyStraight = false;
    for (size_t k = 0; k < cycles.size(); ++k)
    {
        straight[k] = std::fabs(Turn(cap, feet, cycles[k].mBegin, cycles[k].mEnd)) <= kMaxSteadyTurn;
        anyStraight = anyStraight || (cycles[k].mSteady && straight[k]);
    }
    if (anyStraight)
        for (size_t k = 0; k < cycles.size(); ++k)
            cycles[k].mSteady = cycles[k].mSteady && straight[k];
    return cycles;
}

double Turn(const sCapture& cap, const sFeet& feet, int begin, int end)
{
    double turned = 0;
    for (int f = begin; f < end; ++f)
    {
        const sVec3 a = FacingVector(cap, feet, (size_t)f), b = FacingVector(cap, feet, (size_t)f + 1);
        turned += std::atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
    }
    return turned;
}

// How far from a plain stand a frame is: its motion (the pelvis's and the
// ankles' speeds, in walking speeds) and its posture (feet further apart or
// closer than the hips, and the pelvis off the middle between them, in
// legs). A captured clip may end on a flourish; the stand should not.
double StanceScore(const sCapture& cap, const sFeet& feet, const sContacts& contacts, size_t f)
{
    const double leg = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength);
    const double motion = (HorizontalSpeed(cap, feet.mPelvis, f) + HorizontalSpeed(cap, feet.mLeg[0].mAnkle, f) +
                           HorizontalSpeed(cap, feet.mLeg[1].mAnkle, f)) /
                          std::max(contacts.mWalkSpeed, 0.1 * leg);
    const std::vector<sVec3>& p = cap.mPosition[f];
    auto flat = [](sVec3 v) {
        v.z = 0;
        return v;
    };
    const double feetApart = flat(p[feet.mLeg[0].mAnkle] - p[feet.mLeg[1].mAnkle]).Length();
    const double hipsApart = flat(p[feet.mLeg[0].mHip] - p[feet.mLeg[1].mHip]).Length();
    const sVec3 middle = (p[feet.mLeg[0].mAnkle] + p[feet.mLeg[1].mAnkle]) * 0.5;
    const double posture = (std::fabs(feetApart - hipsApart) + flat(p[feet.mPelvis] - middle).Length()) / leg;
    return motion + posture;
}

int FindStance(const sCapture& cap, const sFeet& feet, const sContacts& contacts)
{
    const size_t n = cap.Frames();
    const size_t edge = std::max<size_t>(1, n / 5);
    int best = -1;
    double bestScore = INFINITY;
    for (int pass = 0; pass < 2 && best < 0; ++pass)
        for (size_t f = 0; f < n; ++f)
        {
            // First the clip's start and end, where the captured walker
            // stands; failing that, anywhere on both feet.
            if (pass == 0 && f >= edge && f + edge < n)
                continue;
            if (!contacts.mDown[0][f] || !contacts.mDown[1][f])
                continue;
            const double score = StanceScore(cap, feet, contacts, f);
            if (score < bestScore)
            {
                bestScore = score;
                best = (int)f;
            }
        }
    if (best < 0)
        throw cImportError("the clip has no frame with both feet on the ground to stand on");
    return best;
}

sGaitMeasure MeasureCapture(const sCapture& cap, const sFeet& feet, const std::vector<sCycle>& cycles)
{
    sGaitMeasure m;
    double distance = 0, seconds = 0;
    for (const sCycle& c : cycles)
    {
        if (!c.mSteady)
            continue;
        const double s = (c.mEnd - c.mBegin) / cap.mRate;
        distance += c.mSpeed * s;
        seconds += s;
        ++m.mCycles;
    }
    const double leg = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength);
    if (m.mCycles > 0 && leg > 0)
    {
        m.mSpeedLegs = distance / seconds / leg;
        m.mCadence = 2.0 * m.mCycles * 60.0 / seconds;
    }
    return m;
}

std::vector<sSpeedSample> CapturedRootSpeed(const sCapture& cap, const sFeet& feet, const sContacts& contacts,
                                            const sCycle& walk, double scale, double playSeconds, int cycles)
{
    std::vector<sSpeedSample> out;
    const int n = walk.mEnd - walk.mBegin;
    if (n < 1 || walk.mBegin < 0 || (size_t)walk.mEnd >= cap.Frames() || !(playSeconds > 0) || cycles < 1)
        return out;
    int start = 0; // frames into the cycle
    for (int s : Strikes(contacts.mDown[1]))
        if (s > walk.mBegin && s < walk.mEnd)
        {
            start = s - walk.mBegin;
            break;
        }
    // The file plays the n frames' steps over playSeconds.
    const double step = playSeconds / n;
    for (int k = 1; k <= cycles * n; ++k)
    {
        const int f = walk.mBegin + (start + k - 1) % n; // a step from f to f + 1, both in the cycle
        sVec3 d = cap.mPosition[f + 1][feet.mPelvis] - cap.mPosition[f][feet.mPelvis];
        d.z = 0; // upright: z is up
        sSpeedSample s;
        s.mTimeMs = 1000.0 * k * step;
        s.mSpeed = d.Length() * scale / step;
        out.push_back(s);
    }
    return out;
}

} // namespace qvimport
