#ifndef _QV_ACTION_H_
#define _QV_ACTION_H_

#include <string>

#include "QV_channel.h"
#include "QV_pose.h"

// One named clip: channel i drives bone i of the armature and of its poses.
class cAction
{
public:
    std::string mName;
    unsigned int mLength = 0;    // milliseconds
    unsigned int mTotalKeys = 0; // not used
    ChannelVector mChannels;

    // Writes every channel's orientation at t into the matching pose bone.
    // Only the pairs that exist are evaluated: bones beyond the last channel
    // keep their orientations.
    void EvaluateAt(unsigned int t, cPose& q) const;
};

#endif // _QV_ACTION_H_
