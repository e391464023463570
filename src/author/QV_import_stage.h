// Measures of a capture that several of the importer's stages take, after
// Upright (+Z up): one home for each, so that the stages agree.
#ifndef QV_IMPORT_STAGE_H
#define QV_IMPORT_STAGE_H

#include <algorithm>
#include <vector>

#include "QV_import.h"

namespace qvimport
{

// v without its vertical part.
inline sVec3 Flat(sVec3 v)
{
    v.z = 0;
    return v;
}

// Whether joint j is `ancestor` or hangs below it.
inline bool IsBelow(const sCapture& cap, int j, int ancestor)
{
    for (; j >= 0; j = cap.mJoints[j].mParent)
        if (j == ancestor)
            return true;
    return false;
}

// The frames on which a foot comes down (down, after a frame not down).
inline std::vector<int> Strikes(const std::vector<char>& down)
{
    std::vector<int> s;
    for (size_t f = 1; f < down.size(); ++f)
        if (down[f] && !down[f - 1])
            s.push_back((int)f);
    return s;
}

// Turns every joint of the capture by `turn` about the origin, then lowers
// it by `drop`.
inline void TurnCapture(sCapture& cap, const sQuat& turn, double drop)
{
    for (size_t f = 0; f < cap.Frames(); ++f)
        for (size_t j = 0; j < cap.mJoints.size(); ++j)
        {
            cap.mRotation[f][j] = turn * cap.mRotation[f][j];
            sVec3 p = turn * cap.mPosition[f][j];
            p.z -= drop;
            cap.mPosition[f][j] = p;
        }
}

// A leg, thigh and shin, in source units: the mean of the two.
inline double LegLength(const sFeet& feet) { return 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength); }

// The joint's horizontal speed at frame f, source units per second (central
// difference; one-sided at the clip's ends).
inline double HorizontalSpeed(const sCapture& cap, int joint, size_t f)
{
    const size_t n = cap.Frames();
    const size_t a = f > 0 ? f - 1 : f, b = f + 1 < n ? f + 1 : f;
    if (a == b)
        return 0;
    sVec3 d = cap.mPosition[b][joint] - cap.mPosition[a][joint];
    d.z = 0;
    return d.Length() * cap.mRate / (double)(b - a);
}

// The q-quantile (0..1) of v, by the nearest rank below; 0 for none.
inline double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[(size_t)(q * (double)(v.size() - 1))];
}

// The lowest of a foot's ankle and toe tip at frame f: the joint.
inline int LowPoint(const sCapture& cap, const sLeg& leg, size_t f)
{
    return leg.mTip >= 0 && cap.mPosition[f][leg.mTip].z < cap.mPosition[f][leg.mAnkle].z ? leg.mTip : leg.mAnkle;
}

// The body's walking speed: the pelvis's horizontal speed that only a tenth
// of the frames pass, source units per second.
inline double WalkingSpeed(const sCapture& cap, const sFeet& feet)
{
    std::vector<double> speeds;
    for (size_t f = 0; f < cap.Frames(); ++f)
        speeds.push_back(HorizontalSpeed(cap, feet.mPelvis, f));
    return Percentile(speeds, 0.9);
}

// Where the figure faces at frame f, horizontal, as long as the hips are
// wide: the left hip to the right one turned a quarter turn, so that it
// does not depend on how the source oriented its joints.
inline sVec3 FacingVector(const sCapture& cap, const sFeet& feet, size_t f)
{
    const sVec3 across = cap.mPosition[f][feet.mLeg[0].mHip] - cap.mPosition[f][feet.mLeg[1].mHip];
    return across.Cross(sVec3(0, 0, 1));
}

} // namespace qvimport

#endif // QV_IMPORT_STAGE_H
