#include "QV_walker_skeleton.h"

#include <stdio.h>

#include "QV_character.h"

namespace walker
{

std::string BoneName(int i)
{
    if (i == kFootR)
        return kRightFootBone;
    if (i == kFootL)
        return kLeftFootBone;
    if (i == 0)
        return "Bone";
    char buf[16];
    snprintf(buf, sizeof buf, "Bone.%03d", i);
    return buf;
}

std::vector<BoneDef> MakeSkeleton(const Body& b)
{
    std::vector<BoneDef> s(kBoneCount);
    const V3 X(1, 0, 0), Y(0, 1, 0), Z(0, 0, 1);
    auto set = [&](int i, int parent, V3 head, V3 dir, double len, V3 hint) {
        s[i].parent = parent;
        s[i].head = head;
        s[i].dir = dir.unit();
        s[i].len = len;
        s[i].rest = FrameFrom(dir, hint);
    };
    const double hipC = -b.pelvisDrop; // hip centre height in body coordinates
    const V3 hipCentre(0, 0, hipC);
    set(kRoot, -1, V3(0, 0, 0), Y, b.pelvisFront, X);
    const V3 linkHead(0, b.pelvisFront, 0);
    set(kLink, kRoot, linkHead, hipCentre - linkHead, (hipCentre - linkHead).len(), V3(-1, 0, 0));
    set(kPelvis, kLink, hipCentre, Z, b.sacrum, X);
    const double slope = Rad(b.FootSlope());
    const V3 footDir(0, cos(slope), -sin(slope));
    for (int side = 0; side < 2; ++side)
    {
        const double sx = side == 0 ? 1.0 : -1.0;
        const int thigh = side == 0 ? kThighR : kThighL;
        const int shin = side == 0 ? kShinR : kShinL;
        const int foot = side == 0 ? kFootR : kFootL;
        const int toes = side == 0 ? kToesR : kToesL;
        const int hip = side == 0 ? kHipR : kHipL;
        const V3 hipJoint(sx * b.hipHalfWidth, 0, hipC);
        const V3 ankle(sx * b.footHalfSpread, 0, hipC - b.thigh - b.shin);
        const V3 legDir = (ankle - hipJoint).unit();
        set(hip, kPelvis, hipCentre, hipJoint - hipCentre, b.hipHalfWidth, Y);
        set(thigh, kPelvis, hipJoint, legDir, b.thigh, X);
        set(shin, thigh, hipJoint + legDir * b.thigh, legDir, b.shin, X);
        set(foot, shin, ankle, footDir, b.foot, X);
        set(toes, foot, ankle + footDir * b.foot, Y, b.toes, X);

        const int clav = side == 0 ? kClavicleR : kClavicleL;
        const int upper = side == 0 ? kUpperArmR : kUpperArmL;
        const int fore = side == 0 ? kForearmR : kForearmL;
        const int hand = side == 0 ? kHandR : kHandL;
        const V3 chestTop(0, 0, hipC + b.spine + b.chest);
        const V3 shoulder(sx * b.clavicle, 0, chestTop.z - b.clavicleDrop);
        set(clav, kChest, chestTop, shoulder - chestTop, (shoulder - chestTop).len(), Y);
        const V3 armDir = V3(sx * 0.06, 0, -1).unit();
        set(upper, clav, shoulder, armDir, b.upperArm, X);
        const V3 elbow = shoulder + armDir * b.upperArm;
        const V3 foreDir = V3(sx * 0.02, 0.05, -1).unit();
        set(fore, upper, elbow, foreDir, b.forearm, X);
        set(hand, fore, elbow + foreDir * b.forearm, foreDir, b.hand, X);
    }
    set(kSpine, kPelvis, hipCentre + Z * b.sacrum, Z, b.spine - b.sacrum, X);
    set(kChest, kSpine, V3(0, 0, hipC + b.spine), Z, b.chest, X);
    set(kNeck, kChest, V3(0, 0, hipC + b.spine + b.chest), Z, b.neck, X);
    set(kHead, kNeck, V3(0, 0, hipC + b.spine + b.chest + b.neck), Z, b.head, X);
    return s;
}

std::vector<int> HierarchyOrder()
{
    return {kRoot,     kLink,  kPelvis,    kSpine,     kChest,    kNeck,  kHead, kClavicleR, kUpperArmR,
            kForearmR, kHandR, kClavicleL, kUpperArmL, kForearmL, kHandL, kHipR, kHipL,      kThighR,
            kShinR,    kFootR, kToesR,     kThighL,    kShinL,    kFootL, kToesL};
}

} // namespace walker
