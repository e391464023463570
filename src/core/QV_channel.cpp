#include "QV_channel.h"

#include <math.h>

void cChannel::EvaluateAt(unsigned int t, cQuaternion& q) const
{
    const size_t n = mKeyFrames.size();
    if (n == 0)
        return;

    // The last key whose time is not later than t; later keys win ties.
    size_t key1 = 0;
    for (size_t i = 0; i < n; ++i)
        if (mKeyFrames[i].mTime <= t)
            key1 = i;

    if (key1 == n - 1)
    {
        q = mKeyFrames[key1].mValue;
        return;
    }

    const size_t key2 = key1 + 1;
    const sKeyFrame& k1 = mKeyFrames[key1];
    const sKeyFrame& k2 = mKeyFrames[key2];

    // Before the first key (which can only happen when it is later than 0),
    // and on keys out of time order, hold the lower key: there is no span to
    // interpolate over.
    float param = 0.0f;
    if (t >= k1.mTime && k2.mTime > k1.mTime)
    {
        const float dt = (float)(k2.mTime - k1.mTime);
        param = (float)(t - k1.mTime) / dt;
    }
    q = cQuaternion::nlerp(param, k1.mValue, k2.mValue);

    // Two keys of opposite sign meet at zero half way, and a zero key has no
    // direction at all: hold the lower key rather than pass on not-a-numbers.
    if (!isfinite(q.mData[0]) || !isfinite(q.mData[1]) || !isfinite(q.mData[2]) || !isfinite(q.mData[3]))
        q = k1.mValue;
}
