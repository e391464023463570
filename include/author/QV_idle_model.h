// The standing idle: both ankles stay exactly where they are while the hips
// sway, the chest breathes and the arms hang.
#ifndef QV_IDLE_MODEL_H
#define QV_IDLE_MODEL_H

#include "QV_gait_params.h"
#include "QV_pose_author.h"

namespace walker
{

class IdleModel
{
public:
    IdleModel(const Author& a, const IdleParams& p);
    // Everything the poser needs at phase ph of the idle cycle.
    Author::PoseInput Input(double ph) const;

private:
    const Author& A;
    IdleParams P;
    double mPitch = 0; // link pitch giving the standing knee flexion
};

} // namespace walker

#endif // QV_IDLE_MODEL_H
