#include "QV_action.h"

void cAction::EvaluateAt(unsigned int t, cPose& q) const
{
    // One channel per bone is the rule of a well-formed actor; a slot with
    // fewer channels (or none) drives only the bones it has channels for.
    auto citor = mChannels.begin();
    for (auto itor = q.mPoseBones.begin(), itend = q.mPoseBones.end(); itor != itend && citor != mChannels.end();
         ++itor, ++citor)
        citor->EvaluateAt(t, itor->mOrientation);
}

float cAction::RootHeightAt(unsigned int t) const
{
    const size_t n = mRootHeight.size();
    if (n == 0)
        return 0.0f;
    // The last key whose time is not later than t, as for the rotations.
    size_t key1 = 0;
    for (size_t i = 0; i < n; ++i)
        if (mRootHeight[i].mTime <= t)
            key1 = i;
    const sHeightKey& k1 = mRootHeight[key1];
    if (key1 == n - 1 || t < k1.mTime)
        return k1.mHeight;
    const sHeightKey& k2 = mRootHeight[key1 + 1];
    if (k2.mTime == k1.mTime)
        return k1.mHeight;
    const float param = (float)(t - k1.mTime) / (float)(k2.mTime - k1.mTime);
    return k1.mHeight + (k2.mHeight - k1.mHeight) * param;
}
