// The walker's body: closed tubes lofted along the rest skeleton.
//
// Index:
//   [tube]     a tube: path, profile, rings, caps, and its triangles
//   [weights]  bones along a chain, blended over each joint
//   [parts]    torso, neck, head, legs, feet, arms
//   [body]     MakeBody: the parts, then smooth normals

#include "QV_walker_body.h"

#include <math.h>

#include <algorithm>
#include <functional>

namespace walker
{

namespace
{

using Influences = std::vector<author::sFileInfluence>;

// [tube] ---------------------------------------------------------------------

// The half-axes of a cross-section at arc length s along the path.
struct sSection
{
    double s, a, b;
};

// A closed tube: rings of `around` vertices every `step` along the path
// (a polyline, arc length from its first point), each ring a rounded
// section (a superellipse of the given exponent, 2 for an ellipse) with
// half-axes a along the direction closest to `hint` and b across it, sized
// by the profile (smoothly between its sections); beyond the first and the
// last section, round caps of the given lengths close it, each ending in a
// single vertex on the path.
struct sTube
{
    std::vector<V3> path;
    V3 hint;
    std::vector<sSection> profile;
    double capStart = 0, capEnd = 0;
    int around = 16;
    double step = 0.06;
    double exponent = 2.0;
    std::function<Influences(double s, const V3& p)> weights;
};

// Rings a cap has between its end vertex and the tube's side.
const int kCapRings = 5;

// The point at arc length s, the path extended straight beyond its ends.
V3 PathAt(const std::vector<V3>& path, double s)
{
    if (s <= 0.0)
        return path[0] + (path[1] - path[0]).unit() * s;
    double at = 0;
    for (size_t i = 0; i + 1 < path.size(); ++i)
    {
        const double len = (path[i + 1] - path[i]).len();
        if (s <= at + len || i + 2 == path.size())
            return path[i] + (path[i + 1] - path[i]).unit() * (s - at);
        at += len;
    }
    return path.back();
}

V3 TangentAt(const std::vector<V3>& path, double s)
{
    const double h = 0.05; // wider than a ring step: bends are smoothed over it
    return (PathAt(path, s + h) - PathAt(path, s - h)).unit();
}

double PathLength(const std::vector<V3>& path)
{
    double len = 0;
    for (size_t i = 0; i + 1 < path.size(); ++i)
        len += (path[i + 1] - path[i]).len();
    return len;
}

// The profile's half-axes at s: smooth steps between its sections, the end
// sections' outside them.
void ProfileAt(const std::vector<sSection>& profile, double s, double& a, double& b)
{
    a = profile.front().a;
    b = profile.front().b;
    for (size_t i = 0; i + 1 < profile.size(); ++i)
    {
        const sSection& p = profile[i];
        const sSection& q = profile[i + 1];
        if (s >= p.s && s <= q.s)
        {
            const double t = Smooth((s - p.s) / (q.s - p.s));
            a = p.a + (q.a - p.a) * t;
            b = p.b + (q.b - p.b) * t;
            return;
        }
    }
    if (s > profile.back().s)
    {
        a = profile.back().a;
        b = profile.back().b;
    }
}

// One ring's place along the tube: its arc length and how much of the
// profile it has (1 on the side, less in the caps, 0 at an end vertex).
struct sRing
{
    double s, scale;
};

std::vector<sRing> Rings(const sTube& t)
{
    const double s0 = t.profile.front().s, s1 = t.profile.back().s;
    std::vector<sRing> rings;
    for (int k = 0; k < kCapRings; ++k)
    {
        const double phi = 0.5 * kPi * k / kCapRings;
        rings.push_back({s0 - t.capStart * cos(phi), sin(phi)});
    }
    const int n = std::max(1, (int)ceil((s1 - s0) / t.step));
    for (int i = 0; i <= n; ++i)
        rings.push_back({s0 + (s1 - s0) * i / n, 1.0});
    for (int k = kCapRings - 1; k >= 0; --k)
    {
        const double phi = 0.5 * kPi * k / kCapRings;
        rings.push_back({s1 + t.capEnd * cos(phi), sin(phi)});
    }
    return rings;
}

// A superellipse's point at angle theta: the unit circle's, squared off.
void Section(double theta, double exponent, double& x, double& y)
{
    const double c = cos(theta), s = sin(theta), p = 2.0 / exponent;
    x = (c < 0 ? -1 : 1) * pow(fabs(c), p);
    y = (s < 0 ? -1 : 1) * pow(fabs(s), p);
}

class cMeshBuilder
{
public:
    std::vector<V3> mPositions;
    std::vector<Influences> mInfluences;
    std::vector<unsigned int> mTriangles;

    void Add(const sTube& t)
    {
        const std::vector<sRing> rings = Rings(t);
        std::vector<unsigned int> first(rings.size());
        for (size_t r = 0; r < rings.size(); ++r)
        {
            first[r] = (unsigned int)mPositions.size();
            const V3 centre = PathAt(t.path, rings[r].s);
            if (rings[r].scale == 0.0)
            {
                Vertex(t, rings[r].s, centre);
                continue;
            }
            const V3 tangent = TangentAt(t.path, rings[r].s);
            const V3 u = (t.hint - tangent * t.hint.dot(tangent)).unit();
            const V3 v = tangent.cross(u);
            double a, b;
            ProfileAt(t.profile, rings[r].s, a, b);
            for (int j = 0; j < t.around; ++j)
            {
                double x, y;
                Section(2.0 * kPi * j / t.around, t.exponent, x, y);
                Vertex(t, rings[r].s, centre + (u * (a * x) + v * (b * y)) * rings[r].scale);
            }
        }
        for (size_t r = 0; r + 1 < rings.size(); ++r)
            Join(first[r], rings[r].scale == 0.0, first[r + 1], rings[r + 1].scale == 0.0, t.around);
    }

    // Smooth normals: each vertex's triangles' normals, weighted by their
    // areas (the cross product's length is twice the area).
    std::vector<V3> Normals() const
    {
        std::vector<V3> n(mPositions.size());
        for (size_t i = 0; i < mTriangles.size(); i += 3)
        {
            const V3& a = mPositions[mTriangles[i]];
            const V3 f = (mPositions[mTriangles[i + 1]] - a).cross(mPositions[mTriangles[i + 2]] - a);
            for (int k = 0; k < 3; ++k)
                n[mTriangles[i + k]] = n[mTriangles[i + k]] + f;
        }
        for (V3& v : n)
            v = v.unit();
        return n;
    }

private:
    void Vertex(const sTube& t, double s, const V3& p)
    {
        mPositions.push_back(p);
        mInfluences.push_back(t.weights(s, p));
    }

    void Triangle(unsigned int a, unsigned int b, unsigned int c) { mTriangles.insert(mTriangles.end(), {a, b, c}); }

    // Triangles between two neighbouring rings (either may be an end
    // vertex), wound so that they face out: along a ring the angle grows
    // from the hint's side towards the tangent's cross product with it.
    void Join(unsigned int lo, bool loPole, unsigned int hi, bool hiPole, int around)
    {
        for (int j = 0; j < around; ++j)
        {
            const unsigned int j1 = (unsigned int)((j + 1) % around);
            const unsigned int a = loPole ? lo : lo + j, b = loPole ? lo : lo + j1;
            const unsigned int c = hiPole ? hi : hi + j1, d = hiPole ? hi : hi + j;
            if (!loPole)
                Triangle(a, b, c);
            if (!hiPole)
                Triangle(a, c, d);
        }
    }
};

// [weights] ------------------------------------------------------------------

// The bones along a chain: bones[i] holds from joints[i - 1] to joints[i]
// (arc lengths, ascending), and over `width` either side of each joint a
// vertex passes smoothly from one bone to the next.
Influences Chain(double s, const std::vector<int>& bones, const std::vector<double>& joints, double width)
{
    for (size_t k = 0; k < joints.size(); ++k)
    {
        if (s < joints[k] - width)
            return {{bones[k], 1.0}};
        if (s <= joints[k] + width)
        {
            const double t = Smooth((s - (joints[k] - width)) / (2.0 * width));
            return {{bones[k], 1.0 - t}, {bones[k + 1], t}};
        }
    }
    return {{bones.back(), 1.0}};
}

// The influences with a share w of another bone mixed in.
Influences Mix(Influences in, int bone, double w)
{
    if (w <= 0.0)
        return in;
    for (author::sFileInfluence& i : in)
        i.mWeight *= 1.0 - w;
    in.push_back({bone, w});
    return in;
}

double Ramp(double from, double to, double x) { return Smooth((x - from) / (to - from)); }

// [parts] --------------------------------------------------------------------

V3 Tail(const BoneDef& b) { return b.head + b.dir * b.len; }

const V3 kRight(1, 0, 0), kForward(0, 1, 0), kUp(0, 0, 1);

// The torso, from below the hips to the top of the chest, following the
// pelvis, spine and chest bones by height; its lower sides lean a little
// towards the thighs and its shoulders towards the clavicles.
sTube Torso(const std::vector<BoneDef>& sk, const BodyShape& sh, double blend)
{
    const double hips = sk[kThighR].head.z, waist = sk[kSpine].head.z, chest = sk[kChest].head.z;
    const double top = Tail(sk[kChest]).z, shoulder = sk[kUpperArmR].head.z;
    sTube t;
    t.path = {V3(0, 0, hips - sh.torsoBelowHips), V3(0, 0, top)};
    t.hint = kRight;
    const double base = hips - sh.torsoBelowHips;
    t.profile = {{0.6 * sh.torsoBelowHips, sh.torsoHipWidth * 0.95, sh.torsoHipDepth},
                 {hips - base, sh.torsoHipWidth, sh.torsoHipDepth},
                 {waist + 0.05 - base, sh.torsoWaistWidth, sh.torsoWaistDepth},
                 {chest + 0.5 * (top - chest) - base, sh.torsoChestWidth, sh.torsoChestDepth},
                 {shoulder - base, sh.torsoShoulderWidth, sh.torsoShoulderDepth},
                 {top - 0.04 - base, sh.torsoShoulderWidth * 0.9, sh.torsoShoulderDepth * 0.9}};
    t.capStart = 0.6 * sh.torsoBelowHips;
    t.capEnd = 0.12;
    t.around = 28;
    t.exponent = 2.5;
    t.weights = [=](double, const V3& p) {
        Influences in = Chain(p.z, {kPelvis, kSpine, kChest}, {waist, chest}, blend);
        const double side = fabs(p.x);
        in = Mix(in, p.x > 0 ? kThighR : kThighL, 0.35 * Ramp(hips - 0.06, hips - 0.24, p.z) * Ramp(0.04, 0.2, side));
        return Mix(in, p.x > 0 ? kClavicleR : kClavicleL,
                   0.6 * Ramp(shoulder - 0.15, shoulder, p.z) * Ramp(0.16, 0.3, side));
    };
    return t;
}

sTube Neck(const std::vector<BoneDef>& sk, const BodyShape& sh, double blend)
{
    const V3 base = sk[kNeck].head, head = sk[kHead].head;
    sTube t;
    t.path = {base - kUp * 0.12, head + kUp * 0.1};
    t.hint = kRight;
    t.profile = {{0.0, sh.neck * 1.1, sh.neck}, {0.12, sh.neck, sh.neck}, {PathLength(t.path), sh.neck, sh.neck}};
    t.capStart = t.capEnd = 0.06;
    t.around = 16;
    t.weights = [=](double, const V3& p) { return Chain(p.z, {kChest, kNeck, kHead}, {base.z, head.z}, blend); };
    return t;
}

// The head, an egg on the head bone, and a small nose to show which way it
// faces.
std::vector<sTube> Head(const std::vector<BoneDef>& sk, const BodyShape& sh)
{
    const BoneDef& h = sk[kHead];
    const double half = 0.5 * h.len;
    const V3 centre = h.head + h.dir * half + kForward * 0.03;
    sTube head;
    head.path = {centre - kUp * half, centre + kUp * half};
    head.hint = kRight;
    head.profile = {{half - 0.02, sh.headWidth, sh.headDepth}, {half + 0.02, sh.headWidth, sh.headDepth}};
    head.capStart = head.capEnd = half - 0.02;
    head.around = 24;
    head.weights = [](double, const V3&) { return Influences{{kHead, 1.0}}; };

    sTube nose;
    const V3 tip = centre + kForward * (sh.headDepth + 0.06) - kUp * 0.05;
    nose.path = {tip - kForward * 0.1, tip};
    nose.hint = kRight;
    nose.profile = {{0.02, 0.03, 0.045}, {0.06, 0.03, 0.045}};
    nose.capStart = 0.02;
    nose.capEnd = 0.04;
    nose.around = 8;
    nose.weights = head.weights;
    return {head, nose};
}

// A leg from above the hip joint, inside the torso, to the ankle, inside the
// foot.
sTube Leg(const std::vector<BoneDef>& sk, const BodyShape& sh, int side, double blend)
{
    const int thigh = side ? kThighL : kThighR, shin = side ? kShinL : kShinR, foot = side ? kFootL : kFootR;
    const V3 hip = sk[thigh].head, knee = sk[shin].head, ankle = sk[foot].head;
    const double k = (knee - hip).len(), a = k + (ankle - knee).len();
    sTube t;
    t.path = {hip, knee, ankle};
    t.hint = kRight;
    t.profile = {{-0.04, sh.thighTop, sh.thighTop},
                 {0.3 * k, 0.95 * sh.thighTop, 0.95 * sh.thighTop},
                 {k, sh.knee, sh.knee},
                 {k + 0.25 * (a - k), sh.calf * 0.95, sh.calf * 1.1},
                 {a - 0.05, sh.ankle, sh.ankle * 1.1}};
    t.capStart = 0.1;
    t.capEnd = 0.08;
    t.around = 18;
    t.weights = [=](double s, const V3&) {
        const Influences in = Mix(Chain(s, {thigh, shin}, {k}, blend), kPelvis, 0.3 * Ramp(0.1, -0.1, s));
        return Mix(in, foot, 0.5 * Ramp(a - 0.06, a + 0.06, s));
    };
    return t;
}

// A foot from behind the heel to the toe tips, its sole on the ground at
// rest, following the foot bone and then the toes; its top at the ankle
// leans towards the shin.
sTube Foot(const std::vector<BoneDef>& sk, const Body& body, const BodyShape& sh, int side, double blend)
{
    const int shin = side ? kShinL : kShinR, foot = side ? kFootL : kFootR, toes = side ? kToesL : kToesR;
    const V3 ankle = sk[foot].head, ball = sk[toes].head, tip = Tail(sk[toes]);
    const double ground = ankle.z - body.ankleHeight;
    const double back = -sh.heelBehindAnkle + 0.05, front = tip.y - ankle.y - 0.04;
    const double ballAt = ball.y - ankle.y;
    // The sole lies on the ground: each section's centre is its half-height up.
    const double heelH = 0.065, ballH = 0.045;
    sTube t;
    const double x = ankle.x;
    t.path = {V3(x, ankle.y + back, ground + heelH), V3(x, ankle.y + 0.02, ground + sh.instep),
              V3(x, ball.y, ground + ballH), V3(x, ankle.y + front, ground + sh.toeHeight)};
    const double len1 = (t.path[1] - t.path[0]).len(), len2 = len1 + (t.path[2] - t.path[1]).len();
    const double len3 = PathLength(t.path);
    t.hint = kRight;
    t.profile = {{0.0, 0.062, heelH},
                 {len1, 0.07, sh.instep},
                 {0.5 * (len1 + len2), 0.08, 0.07},
                 {len2, sh.footWidth, ballH},
                 {len3, 0.078, sh.toeHeight}};
    t.capStart = 0.05;
    t.capEnd = 0.04;
    t.around = 16;
    t.weights = [=](double, const V3& p) {
        const Influences in = Chain(p.y - ankle.y, {foot, toes}, {ballAt}, 0.6 * blend);
        return Mix(in, shin, 0.4 * Ramp(ankle.z - 0.02, ankle.z + 0.06, p.z) * Ramp(0.14, 0.02, fabs(p.y - ankle.y)));
    };
    return t;
}

// An arm from inside the shoulder to the finger tips: upper arm, forearm and
// a flat hand whose palm faces the thigh.
sTube Arm(const std::vector<BoneDef>& sk, const BodyShape& sh, int side, double blend)
{
    const int clav = side ? kClavicleL : kClavicleR, upper = side ? kUpperArmL : kUpperArmR;
    const int fore = side ? kForearmL : kForearmR, hand = side ? kHandL : kHandR;
    const V3 shoulder = sk[upper].head, elbow = sk[fore].head, wrist = sk[hand].head;
    const V3 tips = wrist + sk[hand].dir * sh.handLength;
    const double e = (elbow - shoulder).len(), w = e + (wrist - elbow).len();
    sTube t;
    t.path = {shoulder, elbow, wrist, tips};
    t.hint = kForward; // the hand is wide from front to back
    t.profile = {{0.0, sh.upperArm, sh.upperArm},
                 {0.35 * e, 0.95 * sh.upperArm, 0.9 * sh.upperArm},
                 {e, sh.elbow, sh.elbow},
                 {e + 0.25 * (w - e), sh.forearm, 0.9 * sh.forearm},
                 {w - 0.02, sh.wrist * 1.1, sh.wrist * 0.85},
                 {w + 0.1, sh.handWidth, sh.handThickness},
                 {w + sh.handLength - 0.08, sh.handWidth * 0.85, sh.handThickness * 0.8}};
    t.capStart = 0.08;
    t.capEnd = 0.06;
    t.around = 14;
    t.weights = [=](double s, const V3&) {
        return Mix(Chain(s, {upper, fore, hand}, {e, w}, 0.8 * blend), clav, 0.4 * Ramp(0.12, -0.06, s));
    };
    return t;
}

} // namespace

// [body] ---------------------------------------------------------------------

author::sFileBody MakeBody(const Body& b, const BodyShape& shape)
{
    const std::vector<BoneDef> sk = MakeSkeleton(b);
    std::vector<sTube> parts = {Torso(sk, shape, shape.blend), Neck(sk, shape, shape.blend)};
    for (const sTube& t : Head(sk, shape))
        parts.push_back(t);
    for (int side = 0; side < 2; ++side)
    {
        parts.push_back(Leg(sk, shape, side, shape.blend));
        parts.push_back(Foot(sk, b, shape, side, shape.blend));
        parts.push_back(Arm(sk, shape, side, shape.blend));
    }
    cMeshBuilder mesh;
    for (const sTube& t : parts)
        mesh.Add(t);

    const std::vector<V3> normals = mesh.Normals();
    author::sFileBody body;
    for (size_t i = 0; i < mesh.mPositions.size(); ++i)
    {
        const V3& p = mesh.mPositions[i];
        body.mPositions.insert(body.mPositions.end(), {p.x, p.y, p.z});
        body.mNormals.insert(body.mNormals.end(), {normals[i].x, normals[i].y, normals[i].z});
    }
    body.mInfluences = mesh.mInfluences;
    body.mTriangles = mesh.mTriangles;
    return body;
}

} // namespace walker
