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
