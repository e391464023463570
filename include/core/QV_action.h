#ifndef QV_ACTION_H
#define QV_ACTION_H

#include <string>
#include <vector>

#include "QV_channel.h"
#include "QV_pose.h"

// The root's height at a time: how far above its rest position the root
// bone stands, in the file's units along the vertical.
struct sHeightKey
{
    unsigned int mTime = 0; // milliseconds
    float mHeight = 0.0f;
};

// How many actions an actor holds: its action slots (cActor::mAction), filled
// in the order an actor file lists its actions. The walking character's use
// of each slot is in QV_character.h.
constexpr unsigned int kActionSlots = 3;

// One named clip: channel i drives bone i of the armature and of its poses.
class cAction
{
public:
    std::string mName;
    unsigned int mLength = 0;    // milliseconds
    unsigned int mTotalKeys = 0; // not used
    ChannelVector mChannels;
    // The root's height over the clip, from the root channel's keys, in key
    // order; empty when the clip does not key it.
    std::vector<sHeightKey> mRootHeight;

    // Writes every channel's orientation at t into the matching pose bone.
    // Only the pairs that exist are evaluated: bones beyond the last channel
    // keep their orientations.
    void EvaluateAt(unsigned int t, cPose& q) const;

    // The root's height at t, interpolated linearly between the keys around
    // t with the channels' time rules (before the first key and after the
    // last, the nearest key holds). 0 when the clip keys no height.
    float RootHeightAt(unsigned int t) const;
};

// An actor's action slots (cActor::mAction), for the parts that play them.
typedef cAction ActionSlots[kActionSlots];

#endif // QV_ACTION_H
