#include "QV_pose_author.h"

#include <algorithm>

namespace walker
{

M3 LinkRotation(const PelvisState& s) { return RotZ(s.yawLink) * RotX(s.pitch); }
M3 PelvisWorld(const PelvisState& s) { return RotZ(s.rot) * RotY(s.list) * RotX(-s.tilt); }

V3 Author::HipCentre(const PelvisState& s) const
{
    return mSkel[kLink].head + LinkRotation(s) * (mSkel[kPelvis].head - mSkel[kLink].head);
}

V3 Author::HipJoint(const PelvisState& s, int side) const
{
    const int thigh = side == 0 ? kThighR : kThighL;
    return HipCentre(s) + PelvisWorld(s) * (mSkel[thigh].head - mSkel[kPelvis].head);
}

double Author::KneeDistance(double knee) const
{
    const double T = mBody.thigh, S = mBody.shin;
    return sqrt(T * T + S * S + 2 * T * S * cos(Rad(knee)));
}

sBracket Author::LinkPitchForReach(PelvisState s, int side, const V3& ankle, double reach, int iterations) const
{
    return Bisect(-40, 60, iterations, [&](double pitch) {
        s.pitch = pitch;
        return (HipJoint(s, side) - ankle).len() > reach;
    });
}

bool Author::SolveLeg(const V3& hip, const V3& ankle, const V3& forward, M3& thighW, M3& shinW, V3& ankleOut,
                      double minKnee) const
{
    const double T = mBody.thigh, S = mBody.shin;
    V3 u = ankle - hip;
    double D = u.len();
    const double maxD = sqrt(T * T + S * S + 2 * T * S * cos(Rad(minKnee)));
    bool ok = true;
    if (D > maxD)
    {
        D = maxD;
        ok = false;
    }
    const V3 un = u.unit();
    const V3 w = (forward - un * forward.dot(un)).unit();
    const double cb = std::min(1.0, std::max(-1.0, (T * T + D * D - S * S) / (2 * T * D)));
    const double beta = acos(cb);
    const V3 thighDir = un * cos(beta) + w * sin(beta);
    const V3 knee = hip + thighDir * T;
    ankleOut = hip + un * D;
    const V3 shinDir = (ankleOut - knee).unit();
    const V3 X = un.cross(w).unit();
    thighW = Axes(X, thighDir, X.cross(thighDir));
    shinW = Axes(X, shinDir, X.cross(shinDir));
    return ok;
}

bool Author::Build(const PoseInput& in, Pose& pose, double* reachError) const
{
    M3 anat[kBoneCount];
    const M3 root;
    const M3 pelvisAnat = PelvisWorld(in.pelvis);
    // Parents are placed before their children.
    auto place = [&](int i, const M3& a) {
        anat[i] = a;
        pose.W[i] = a * mSkel[i].rest;
        const int p = mSkel[i].parent;
        if (p >= 0)
            pose.head[i] = pose.head[p] + anat[p] * (mSkel[i].head - mSkel[p].head);
        else
            pose.head[i] = V3(0, 0, 0);
    };
    place(kRoot, root);
    place(kLink, LinkRotation(in.pelvis));
    place(kPelvis, pelvisAnat);
    place(kHipR, pelvisAnat);
    place(kHipL, pelvisAnat);
    place(kSpine, in.spineWorld);
    place(kChest, in.chestWorld);
    place(kNeck, in.neckWorld);
    place(kHead, in.headWorld);
    const int clav[2] = {kClavicleR, kClavicleL}, upper[2] = {kUpperArmR, kUpperArmL};
    const int fore[2] = {kForearmR, kForearmL}, hand[2] = {kHandR, kHandL};
    for (int s = 0; s < 2; ++s)
    {
        place(clav[s], anat[kChest] * in.clav[s]);
        place(upper[s], anat[clav[s]] * in.upper[s]);
        place(fore[s], anat[upper[s]] * in.fore[s]);
        place(hand[s], anat[fore[s]] * in.hand[s]);
    }
    bool ok = true;
    const int thigh[2] = {kThighR, kThighL}, shin[2] = {kShinR, kShinL};
    const int foot[2] = {kFootR, kFootL}, toes[2] = {kToesR, kToesL};
    const V3 forward = root * V3(0, 1, 0);
    for (int s = 0; s < 2; ++s)
    {
        const V3 hip = pose.head[kPelvis] + pelvisAnat * (mSkel[thigh[s]].head - mSkel[kPelvis].head);
        M3 tw, sw;
        V3 ankle;
        if (!SolveLeg(hip, in.leg[s].ankle, forward, tw, sw, ankle))
        {
            ok = false;
            if (reachError)
                *reachError = std::max(*reachError, (ankle - in.leg[s].ankle).len());
        }
        pose.W[thigh[s]] = tw;
        pose.head[thigh[s]] = hip;
        anat[thigh[s]] = tw * mSkel[thigh[s]].rest.T();
        pose.W[shin[s]] = sw;
        pose.head[shin[s]] = hip + tw.c[1] * mBody.thigh;
        anat[shin[s]] = sw * mSkel[shin[s]].rest.T();
        const M3 footAnat = RotX(in.leg[s].sole);
        pose.W[foot[s]] = footAnat * mSkel[foot[s]].rest;
        pose.head[foot[s]] = ankle;
        anat[foot[s]] = footAnat;
        const M3 toeAnat = RotX(in.leg[s].toe);
        pose.W[toes[s]] = toeAnat * mSkel[toes[s]].rest;
        pose.head[toes[s]] = ankle + pose.W[foot[s]].c[1] * mBody.foot;
        anat[toes[s]] = toeAnat;
    }
    return ok;
}

void Author::Keys(const Pose& pose, Quat* keys) const
{
    for (int i = 0; i < kBoneCount; ++i)
    {
        const int p = mSkel[i].parent;
        if (p < 0)
        {
            keys[i] = QuatFrom(pose.W[i]);
            continue;
        }
        const M3 restLocal = mSkel[p].rest.T() * mSkel[i].rest;
        keys[i] = QuatFrom(restLocal.T() * pose.W[p].T() * pose.W[i]);
    }
}

} // namespace walker
