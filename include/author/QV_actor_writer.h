// From the walker's models to the actor file: each clip sampled into keys,
// then the whole file written as text with fixed precision, so the same
// parameters always give the same bytes.
#ifndef QV_ACTOR_WRITER_H
#define QV_ACTOR_WRITER_H

#include <string>
#include <vector>

#include "QV_gait_math.h"
#include "QV_gait_params.h"

namespace walker
{

struct Channel
{
    std::vector<int> t;
    std::vector<Quat> q;
};

struct Clip
{
    std::string name;
    int length = 0;
    std::vector<Channel> channels; // one per bone
    double reachError = 0;         // largest ankle miss of the leg solver
};

// Key times of a cycle of `period` ms: 0, then the clock's restart time
// (kRestartTime) and evenly spread up to the action's length, restart time +
// period - 1: the pose at the restart time is the pose one millisecond after
// the length, so even a 1 ms frame step moves on at the restart.
std::vector<int> KeyTimes(int period, double stepMs);

// The three clips, in slot order: walk, stand, second walk.
std::vector<Clip> MakeClips(const ActorParams& p);

// The actor file text of the walker with these clips.
std::string WriteActorXML(const ActorParams& p, const std::vector<Clip>& clips);

// MakeClips and WriteActorXML: what walkergen writes.
std::string GenerateActorXML(const ActorParams& p);

} // namespace walker

#endif // QV_ACTOR_WRITER_H
