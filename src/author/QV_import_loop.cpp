// Stage: loop. A walk cycle made to loop (a game asset: one stride, its last
// frame its first again or the one before it) holds no heel strike to the
// next of the same foot, since the loop begins mid-stride; played three
// times end to end it does, and the stages after it find the cycle as in a
// long take.
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{
namespace
{

// A clip this long or longer holds a whole stride already (a stride takes
// at most 2.5 s; FindCycles).
const double kLoopSeconds = 2.5;

// Played this many times, a loop holds two whole strides.
const int kLoopTimes = 3;

// How far apart two frames' poses are: the joints' turns relative to their
// parents, radians, averaged over the joints below the top (the top's turn
// is the figure's heading, compared apart).
double PoseDistance(const sCapture& cap, size_t f, size_t g)
{
    double sum = 0;
    int n = 0;
    for (size_t j = 0; j < cap.mJoints.size(); ++j)
    {
        const int p = cap.mJoints[j].mParent;
        if (p < 0)
            continue;
        sum += AngleBetween(cap.mRotation[f][p].Conj() * cap.mRotation[f][j],
                            cap.mRotation[g][p].Conj() * cap.mRotation[g][j]);
        ++n;
    }
    return n ? sum / n : 0;
}

} // namespace

int RepeatLoop(sCapture& cap, const sFeet& feet)
{
    const size_t n = cap.Frames();
    if (n < 8 || !(cap.mRate > 0) || (double)(n - 1) / cap.mRate >= kLoopSeconds)
        return 1;
    std::vector<double> steps;
    for (size_t f = 0; f + 1 < n; ++f)
        steps.push_back(PoseDistance(cap, f, f + 1));
    const double step = Percentile(steps, 0.5);
    // Moving at both ends, as a loop is everywhere (a short take that starts
    // and ends standing is not one); no turn over the clip, since the copies
    // are laid end to end along a straight line.
    if (!(step > 0) || steps.front() < 0.5 * step || steps.back() < 0.5 * step ||
        std::fabs(Turn(cap, feet, 0, (int)n - 1)) > kMaxSteadyTurn)
        return 1;
    // The last frame is the first again (within half a frame's change), or
    // one frame's change before it.
    const double end = PoseDistance(cap, n - 1, 0);
    const double height = std::fabs(cap.mPosition[n - 1][feet.mPelvis].z - cap.mPosition[0][feet.mPelvis].z);
    if (height > 0.02 * LegLength(feet))
        return 1;
    size_t period = 0;
    if (end <= 0.5 * step)
        period = n - 1;
    else if (end <= 2 * step)
        period = n;
    else
        return 1;
    // Each copy goes on from where the one before it ends: the travel of a
    // period, the clip's own over its frames, horizontal.
    const sVec3 travel =
        Flat(cap.mPosition[n - 1][feet.mPelvis] - cap.mPosition[0][feet.mPelvis]) * ((double)period / (double)(n - 1));
    // Frame f is frame f mod period moved on by f / period periods' travel
    // (with the last frame the first again, that frame is a copy too).
    const size_t frames = period * kLoopTimes + 1;
    cap.mRotation.resize(frames);
    cap.mPosition.resize(frames);
    for (size_t f = period; f < frames; ++f)
    {
        cap.mRotation[f] = cap.mRotation[f % period];
        cap.mPosition[f] = cap.mPosition[f % period];
        for (sVec3& p : cap.mPosition[f])
            p = p + travel * (double)(f / period);
    }
    return kLoopTimes;
}

} // namespace qvimport
