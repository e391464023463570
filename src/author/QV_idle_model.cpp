#include "QV_idle_model.h"

#include <math.h>

namespace walker
{

IdleModel::IdleModel(const Author& a, const IdleParams& p) : A(a), P(p)
{
    // The root never turns; the link lowers the hips until the standing knee
    // has its flexion.
    const V3 ankle(A.body().footHalfSpread, 0, A.AnkleZ());
    mPitch = A.LinkPitchForReach(PelvisState(), 0, ankle, A.KneeDistance(p.kneeFlex), 80).Mid();
}

Author::PoseInput IdleModel::Input(double ph) const
{
    Author::PoseInput in;
    const double sway = P.sway * sin(2 * kPi * ph);
    in.pelvis.pitch = mPitch;
    in.pelvis.yawLink = Deg(asin(sway / A.body().pelvisFront));
    in.pelvis.list = -P.list * sin(2 * kPi * ph);
    const double breath = sin(2 * kPi * ph * 2); // two breaths per weight shift
    in.spineWorld = RotY(0.5 * in.pelvis.list) * RotX(-0.3 * P.breath * breath);
    in.chestWorld = RotX(-P.breath * breath);
    in.neckWorld = RotX(0.3 * P.breath * breath);
    in.headWorld = RotX(0.5 * sin(2 * kPi * ph));
    for (int s = 0; s < 2; ++s)
    {
        in.clav[s] = RotY((s == 0 ? 1.0 : -1.0) * P.shoulderBreath * breath);
        in.upper[s] = RotX(-2.0 + 0.5 * breath) * RotY(s == 0 ? 3.0 : -3.0);
        in.fore[s] = RotX(P.elbow);
        in.hand[s] = RotX(4.0);
    }
    for (int s = 0; s < 2; ++s)
    {
        in.leg[s].ankle = V3(s == 0 ? A.body().footHalfSpread : -A.body().footHalfSpread, 0, A.AnkleZ());
        in.leg[s].sole = 0;
        in.leg[s].toe = 0;
    }
    return in;
}

} // namespace walker
