// Shared by walkergen (which authors data/walker.xml) and walkertrace (which
// plays it back through the library and measures the gait).
//
// Authoring frame: every position and rotation below is expressed in the
// root bone's rest frame, "body coordinates": +x to the character's right,
// +y forward (the way it faces), +z up, origin at the root bone's head. The
// file's model frame is +z up as well; the root's rest matrix turns body
// coordinates half a turn about z (so the character faces the viewer at
// start-up) and lifts them to hip height.
#ifndef _GAIT_COMMON_H_
#define _GAIT_COMMON_H_

#include <math.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace walker
{

// ---------------------------------------------------------------------------
// Double-precision helpers for authoring.

static const double kPi = 3.14159265358979323846;
inline double Rad(double deg) { return deg * kPi / 180.0; }
inline double Deg(double rad) { return rad * 180.0 / kPi; }

struct V3
{
    double x = 0, y = 0, z = 0;
    V3() {}
    V3(double a, double b, double c) : x(a), y(b), z(c) {}
    V3 operator+(const V3& o) const { return V3(x + o.x, y + o.y, z + o.z); }
    V3 operator-(const V3& o) const { return V3(x - o.x, y - o.y, z - o.z); }
    V3 operator*(double s) const { return V3(x * s, y * s, z * s); }
    double dot(const V3& o) const { return x * o.x + y * o.y + z * o.z; }
    V3 cross(const V3& o) const { return V3(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x); }
    double len() const { return sqrt(dot(*this)); }
    V3 unit() const { return *this * (1.0 / len()); }
};

// 3 x 3 rotation; c[i] is the image of axis i (column i).
struct M3
{
    V3 c[3] = {V3(1, 0, 0), V3(0, 1, 0), V3(0, 0, 1)};
    V3 operator*(const V3& v) const { return c[0] * v.x + c[1] * v.y + c[2] * v.z; }
    M3 operator*(const M3& o) const
    {
        M3 r;
        for (int i = 0; i < 3; ++i)
            r.c[i] = *this * o.c[i];
        return r;
    }
    M3 T() const
    {
        M3 r;
        r.c[0] = V3(c[0].x, c[1].x, c[2].x);
        r.c[1] = V3(c[0].y, c[1].y, c[2].y);
        r.c[2] = V3(c[0].z, c[1].z, c[2].z);
        return r;
    }
    double at(int row, int col) const
    {
        const V3& v = c[col];
        return row == 0 ? v.x : row == 1 ? v.y : v.z;
    }
};

inline M3 Axes(const V3& x, const V3& y, const V3& z)
{
    M3 m;
    m.c[0] = x;
    m.c[1] = y;
    m.c[2] = z;
    return m;
}
inline M3 RotX(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(1, 0, 0), V3(0, c, s), V3(0, -s, c));
}
inline M3 RotY(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(c, 0, -s), V3(0, 1, 0), V3(s, 0, c));
}
inline M3 RotZ(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(c, s, 0), V3(-s, c, 0), V3(0, 0, 1));
}
// Right-handed frame whose +y is dir and whose +x lies as close to hint as
// possible.
inline M3 FrameFrom(const V3& dir, const V3& hint)
{
    const V3 y = dir.unit();
    const V3 x = (hint - y * hint.dot(y)).unit();
    return Axes(x, y, x.cross(y));
}

struct Quat
{
    double x = 0, y = 0, z = 0, w = 1;
};

inline Quat QuatFrom(const M3& m)
{
    Quat q;
    const double m00 = m.at(0, 0), m11 = m.at(1, 1), m22 = m.at(2, 2);
    const double tr = m00 + m11 + m22;
    if (tr > 0)
    {
        const double s = sqrt(tr + 1.0) * 2;
        q.w = 0.25 * s;
        q.x = (m.at(2, 1) - m.at(1, 2)) / s;
        q.y = (m.at(0, 2) - m.at(2, 0)) / s;
        q.z = (m.at(1, 0) - m.at(0, 1)) / s;
    }
    else if (m00 > m11 && m00 > m22)
    {
        const double s = sqrt(1.0 + m00 - m11 - m22) * 2;
        q.w = (m.at(2, 1) - m.at(1, 2)) / s;
        q.x = 0.25 * s;
        q.y = (m.at(0, 1) + m.at(1, 0)) / s;
        q.z = (m.at(0, 2) + m.at(2, 0)) / s;
    }
    else if (m11 > m22)
    {
        const double s = sqrt(1.0 + m11 - m00 - m22) * 2;
        q.w = (m.at(0, 2) - m.at(2, 0)) / s;
        q.x = (m.at(0, 1) + m.at(1, 0)) / s;
        q.y = 0.25 * s;
        q.z = (m.at(1, 2) + m.at(2, 1)) / s;
    }
    else
    {
        const double s = sqrt(1.0 + m22 - m00 - m11) * 2;
        q.w = (m.at(1, 0) - m.at(0, 1)) / s;
        q.x = (m.at(0, 2) + m.at(2, 0)) / s;
        q.y = (m.at(1, 2) + m.at(2, 1)) / s;
        q.z = 0.25 * s;
    }
    const double n = sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    q.x /= n;
    q.y /= n;
    q.z /= n;
    q.w /= n;
    return q;
}

// ---------------------------------------------------------------------------
// The skeleton.

// Bone indices in file order. The feet have the names the actor looks for:
// the right foot is "Bone.007" and the left "Bone.008".
enum BoneIndex
{
    kRoot = 0,   // Bone: pelvis front, points forward from above the hip centre
    kLink,       // Bone.001: from the root's tail back and down to the hip centre
    kThighR,     // Bone.002
    kThighL,     // Bone.003
    kShinR,      // Bone.004
    kShinL,      // Bone.005
    kSpine,      // Bone.006
    kFootR,      // Bone.007
    kFootL,      // Bone.008
    kToesR,      // Bone.009
    kToesL,      // Bone.010
    kChest,      // Bone.011
    kNeck,       // Bone.012
    kHead,       // Bone.013
    kClavicleR,  // Bone.014
    kUpperArmR,  // Bone.015
    kForearmR,   // Bone.016
    kHandR,      // Bone.017
    kClavicleL,  // Bone.018
    kUpperArmL,  // Bone.019
    kForearmL,   // Bone.020
    kHandL,      // Bone.021
    kHipR,       // Bone.022: pelvis side, hip centre to the right hip joint
    kHipL,       // Bone.023
    kPelvis,     // Bone.024: sacrum, up from the hip centre; carries spine and legs
    kBoneCount
};

inline std::string BoneName(int i)
{
    if (i == 0)
        return "Bone";
    char buf[16];
    snprintf(buf, sizeof buf, "Bone.%03d", i);
    return buf;
}

// A walk clip starts (at the clock's restart time) this far into the gait
// cycle, whose phase 0 is the right heel strike: at right mid stance, with
// the left foot passing it, both feet lie close to where the standing pose
// has them, so starting to walk from standing moves the skeleton least.
static const double kWalkStartPhase = 0.28;

struct Body
{
    double ankleHeight = 0.11; // ankle above the ground, standing
    double foot = 0.36;        // ankle to ball
    double toes = 0.12;
    double shin = 0.93;
    double thigh = 0.94;
    double hipHalfWidth = 0.20;
    double pelvisFront = 0.30; // root bone: hip centre forwards
    double pelvisDrop = 0.06;  // hip centre below the root's head
    double sacrum = 0.16;      // pelvis bone, up from the hip centre
    double spine = 0.55;
    double chest = 0.60;
    double neck = 0.22;
    double head = 0.60;
    double clavicle = 0.36;
    double clavicleDrop = 0.10;
    double upperArm = 0.72;
    double forearm = 0.60;
    double hand = 0.20;
    double footHalfSpread = 0.17; // ankles' distance from the midline, standing

    double HipHeight() const { return ankleHeight + shin + thigh; }
    double RootHeight() const { return HipHeight() + pelvisDrop; }
    double FootSlope() const { return Deg(asin(ankleHeight / foot)); } // degrees below horizontal
};

struct BoneDef
{
    int parent;
    V3 head;   // rest head, body coordinates
    V3 dir;    // rest direction, body coordinates
    double len;
    M3 rest;   // rest orientation in body coordinates (y along the bone)
};

inline std::vector<BoneDef> MakeSkeleton(const Body& b)
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

// Children in the order the hierarchy lists them: the root's first (only)
// child is the link, whose head lies straight ahead of the root at its height.
inline std::vector<int> HierarchyOrder()
{
    return {kRoot,      kLink,     kPelvis,    kSpine,     kChest,     kNeck,      kHead,     kClavicleR, kUpperArmR,
            kForearmR,  kHandR,    kClavicleL, kUpperArmL, kForearmL,  kHandL,    kHipR,      kHipL,
            kThighR,    kShinR,    kFootR,     kToesR,     kThighL,    kShinL,    kFootL,     kToesL};
}

} // namespace walker

#endif // _GAIT_COMMON_H_
