// Stages: skeleton (which joints become bones and where each points) and
// upright (the capture turned so that +Z is up, the ground at z = 0).
#include <algorithm>
#include <cmath>

#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{

sSkeleton BuildSkeleton(const sCapture& cap)
{
    const size_t n = cap.mJoints.size();
    sSkeleton sk;
    sk.mChildCount.assign(n, 0);
    sk.mTail.assign(n, -1);
    std::vector<std::vector<int>> children(n);
    for (size_t j = 1; j < n; ++j)
        children[cap.mJoints[j].mParent].push_back((int)j);
    // Parents come first, so a backward pass sums the subtrees.
    for (size_t j = n; j-- > 1;)
        sk.mChildCount[cap.mJoints[j].mParent] += sk.mChildCount[j] + 1;

    const std::vector<sVec3>& rest = cap.mPosition[0];
    for (size_t j = 0; j < n; ++j)
    {
        // The bone points at the child leading the most joints (the spine
        // rather than a collar bone, the toes rather than nothing), then at
        // the farther one.
        int best = -1;
        for (int c : children[j])
        {
            if (best < 0 || sk.mChildCount[c] > sk.mChildCount[best] ||
                (sk.mChildCount[c] == sk.mChildCount[best] &&
                 (rest[c] - rest[j]).Length() > (rest[best] - rest[j]).Length()))
                best = c;
        }
        sk.mTail[j] = best;
        // A joint without motion and without children (an end site, a
        // marker) is a tail, not a bone.
        if (!children[j].empty() || cap.mJoints[j].mAnimated || j == 0)
            sk.mBoneJoints.push_back((int)j);
    }
    return sk;
}

double Upright(sCapture& cap, const sFeet& feet)
{
    const size_t frames = cap.Frames();
    // Up is where the pelvis sits over the ankles, on average over the clip.
    sVec3 up;
    for (size_t f = 0; f < frames; ++f)
    {
        const std::vector<sVec3>& p = cap.mPosition[f];
        up = up + p[feet.mPelvis] - (p[feet.mLeg[0].mAnkle] + p[feet.mLeg[1].mAnkle]) * 0.5;
    }
    up = up.Unit();
    if (up.Length() < 0.5)
        throw cImportError("the legs have no length: cannot tell which way is up");
    // Close to an axis of the file, the axis itself: capture files are
    // authored with an axis up, and a leaning walker should not tilt it.
    const sVec3 axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (const sVec3& a : axes)
        if (a.Dot(up) > std::cos(20.0 * M_PI / 180.0))
            up = a;
    const sQuat turn = sQuat::Between(up, sVec3(0, 0, 1));

    // The ground: the lowest foot point of a typical frame, taken low but
    // not at the very lowest so that one noisy frame does not decide it.
    std::vector<double> lows;
    lows.reserve(frames);
    for (size_t f = 0; f < frames; ++f)
    {
        double low = INFINITY;
        for (const sLeg& leg : feet.mLeg)
        {
            low = std::min(low, (turn * cap.mPosition[f][leg.mAnkle]).z);
            if (leg.mTip >= 0)
                low = std::min(low, (turn * cap.mPosition[f][leg.mTip]).z);
        }
        lows.push_back(low);
    }
    std::sort(lows.begin(), lows.end());
    const double ground = lows[(size_t)(0.02 * (double)(frames - 1))];

    TurnCapture(cap, turn, ground);
    return ground;
}

} // namespace qvimport
