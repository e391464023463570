// Stage: reduce keys. Greedy: from each kept key, the next kept key is the
// farthest one for which every key in between is reproduced within the bound
// by the library's own interpolation (cChannel::EvaluateAt: nlerp in single
// precision at whole milliseconds). The bound is per joint rotation, at the
// captured samples; it adds up along a chain of bones.
#include <cmath>

#include "QV_channel.h"
#include "QV_import.h"

namespace qvimport
{
namespace
{

sKeyFrame ToLibrary(const sKey& k)
{
    sKeyFrame f;
    f.mTime = k.mTime;
    f.mValue = cQuaternion((float)k.mValue.x, (float)k.mValue.y, (float)k.mValue.z, (float)k.mValue.w);
    return f;
}

// Angle in degrees between a full key and the library's value at its time
// from a channel of the two keys around it.
double KeyError(const sKey& full, const cChannel& span)
{
    cQuaternion q;
    span.EvaluateAt(full.mTime, q);
    const double ang = AngleBetween(full.mValue, sQuat(q.mData[3], q.mData[0], q.mData[1], q.mData[2]));
    return ang * 180.0 / M_PI;
}

// The root's height as the loader plays it: linear between the kept keys,
// in file units.
double HeightError(const sKey& full, const sKey& a, const sKey& b)
{
    if (!full.mHasHeight || b.mTime == a.mTime)
        return 0;
    const double f = (double)(full.mTime - a.mTime) / (double)(b.mTime - a.mTime);
    return std::fabs(a.mHeight + (b.mHeight - a.mHeight) * f - full.mHeight);
}

bool SpanFits(const std::vector<sKey>& keys, size_t i, size_t j, double tolDeg, double heightTol)
{
    cChannel span;
    span.mKeyFrames = {ToLibrary(keys[i]), ToLibrary(keys[j])};
    for (size_t k = i + 1; k < j; ++k)
        if (KeyError(keys[k], span) > tolDeg || HeightError(keys[k], keys[i], keys[j]) > heightTol)
            return false;
    return true;
}

} // namespace

double HeightTolerance(double hipHeight) { return 0.0005 * hipHeight; }

std::vector<sKey> ReduceKeys(const std::vector<sKey>& keys, double tolDeg, double heightTol)
{
    if (keys.size() <= 2)
        return keys;
    std::vector<sKey> out{keys.front()};
    size_t i = 0;
    while (i + 1 < keys.size())
    {
        size_t j = i + 1;
        while (j + 1 < keys.size() && SpanFits(keys, i, j + 1, tolDeg, heightTol))
            ++j;
        out.push_back(keys[j]);
        i = j;
    }
    return out;
}

double ReductionError(const std::vector<sKey>& full, const std::vector<sKey>& reduced)
{
    cChannel ch;
    for (const sKey& k : reduced)
        ch.mKeyFrames.push_back(ToLibrary(k));
    double worst = 0;
    for (const sKey& k : full)
    {
        cQuaternion q;
        ch.EvaluateAt(k.mTime, q);
        worst = std::max(worst,
                         AngleBetween(k.mValue, sQuat(q.mData[3], q.mData[0], q.mData[1], q.mData[2])) * 180.0 / M_PI);
    }
    return worst;
}

} // namespace qvimport
