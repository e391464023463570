#ifndef QV_CHANNEL_H
#define QV_CHANNEL_H

#include <vector>

#include "QV_keyframe.h"
#include "QV_quaternion.h"

// The rotation keys of one bone within one action, in file order.
class cChannel
{
public:
    KeyFrameVector mKeyFrames;

    // Writes the orientation at t milliseconds into q: the last key not later
    // than t, interpolated with nlerp towards the next key. Before the first
    // key the first key is held; a channel without keys leaves q unchanged.
    void EvaluateAt(unsigned int t, cQuaternion& q) const;
};

typedef std::vector<cChannel> ChannelVector;
typedef ChannelVector::iterator ChannelIterator;

#endif // QV_CHANNEL_H
