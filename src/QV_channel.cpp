#include "QV_channel.h"

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

    const sKeyFrame& k1 = mKeyFrames[key1];
    const sKeyFrame& k2 = mKeyFrames[key1 + 1];

    // Before the first key (which can only happen when it is later than 0),
    // and on keys out of time order, hold the lower key: there is no span to
    // interpolate over.
    if (t < k1.mTime || k2.mTime <= k1.mTime)
    {
        q = cQuaternion::nlerp(0.0f, k1.mValue, k2.mValue);
        return;
    }

    const float dt = (float)(k2.mTime - k1.mTime);
    const float param = (float)(t - k1.mTime) / dt;
    q = cQuaternion::nlerp(param, k1.mValue, k2.mValue);
}
