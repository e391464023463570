#include "QV_gait_params.h"

namespace walker
{

ActorParams DefaultActorParams()
{
    ActorParams p;
    p.walk.name = "walk";
    p.walk2.name = "brisk";
    p.walk2.periodMs = 1000;
    p.walk2.stride = 3.0;
    p.walk2.kneeLoad = 19.0;
    p.walk2.kneeMid = 15.0;
    p.walk2.heelRise = -64.0;
    p.walk2.pelvisList = 3.5;
    p.walk2.pelvisRotation = 6.0;
    p.walk2.trunkLean = -2.0;
    p.walk2.trunkCounter = 0.8;
    p.walk2.shoulderArc = 26.0;
    p.walk2.shoulderCentre = -2.0;
    p.walk2.elbowMin = 26.0;
    p.walk2.elbowMax = 42.0;
    p.walk2.headPitch = 4.0;
    return p;
}

} // namespace walker
