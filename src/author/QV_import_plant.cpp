// Stage: plant feet, part of building each walk. Re-poses the legs of a
// looped cycle so that a foot on the ground stays where it is until it lifts
// off, in the space and at the keys the demo plays.
//
// A capture's standing foot is not quite still: heels are not joints, markers
// move on the skin, and a stylised walk drags its toes; closing the loop
// spreads the difference between its last and first pose over the cycle,
// which creeps the standing feet as well. The demo's locks carry the body by
// the standing foot's slide backwards under it, so whatever the foot glides
// forwards is travel the walk loses (131_01: about 8 %, 131_02: far more),
// and a foot that swivels while flat slides at one end.
//
// Here each foot, while down, is held the way the contact locks hold it: it
// keeps its heading while it lies flat, and it turns about its lowest point
// (heel, ball or toe tip), which moves backwards under the body exactly as
// the captured pelvis moves forwards over the floor, so that the locks put
// back the captured travel. A foot that stands all but flat is laid flat,
// heel and front on the floor, so that each of them is down while it stands
// and only then. The leg reaches the held ankle by turning the thigh and the
// shin (two-bone inverse kinematics, the knee kept in the plane it bends
// in); the foot keeps its roll. While the foot swings, its turn, pitch and
// shift ease from where the last contact left them to where the next one
// needs them, and it comes down onto its place and lifts off it rather than
// touching the floor while it moves over it. Everything runs round the
// loop, so the cycle still repeats without a jump.
//
// Index
//   [SECTION] Pose      body-space pose from keys, as the library builds it
//   [SECTION] Feet      the points a foot stands on
//   [SECTION] Loop      runs of keys round the loop, easing between them
//   [SECTION] Hold      a flat foot, its heading, where a held foot stays
//   [SECTION] Reach     two-bone inverse kinematics on the leg
//   [SECTION] Steps     held keys, turns, pitches, shifts and clearance of one
//                       foot over a loop
//   [SECTION] PlantCycle
#include <algorithm>
#include <array>
#include <cmath>

#include "QV_footlock.h"
#include "QV_import.h"

namespace qvimport
{

// ---- [SECTION] Pose ------------------------------------------------------------

void BodyPose(const sActorOut& out, const std::vector<sQuat>& keys, std::vector<sQuat>& world, std::vector<sVec3>& head)
{
    const size_t n = out.mBones.size();
    world.assign(n, sQuat());
    head.assign(n, sVec3());
    for (size_t k = 0; k < n; ++k)
    {
        const int p = out.mBones[k].mParent;
        if (p < 0)
            continue; // the root: body space is its frame
        world[k] = world[p] * out.mBones[k].mRest * keys[k];
        head[k] = head[p] + world[p] * out.mBones[k].mOffset;
    }
}

namespace
{

sVec3 Flat(sVec3 v)
{
    v.z = 0;
    return v;
}

bool Below(const sActorOut& out, int bone, int ancestor)
{
    for (int b = bone; b >= 0; b = out.mBones[b].mParent)
        if (b == ancestor)
            return true;
    return false;
}

sVec3 Tail(const sActorOut& out, const std::vector<sQuat>& world, const std::vector<sVec3>& head, int b)
{
    return head[b] + world[b] * sVec3(0, out.mBones[b].mLength, 0);
}

} // namespace

// ---- [SECTION] Feet ------------------------------------------------------------

namespace
{
// A bone's place in a pose: times a point in the bone's frame, where the
// pose puts it (the frames FootContactPoints takes).
struct sPlaced
{
    const sQuat& mRotation;
    const sVec3& mHead;
    sVec3 operator*(const sVec3& v) const { return mHead + mRotation * v; }
};

// The heel in the foot bone's frame, from the rest pose's world and head.
sVec3 RestHeel(const sActorOut& out, const sLegBones& bones, const std::vector<sQuat>& world,
               const std::vector<sVec3>& head)
{
    sVec3 rest[cFootLock::kContactPoints];
    FootPoints(out, bones, sVec3(), world, head, rest);
    const int f = bones.mFoot;
    const double drop =
        HeelDrop(head[f].z, rest[cFootLock::kBall].z, rest[cFootLock::kToeTip].z, out.mBones[f].mLength);
    return world[f].Conj() * sVec3(0, 0, -drop);
}
} // namespace

void FootPoints(const sActorOut& out, const sLegBones& bones, const sVec3& heel, const std::vector<sQuat>& world,
                const std::vector<sVec3>& head, sVec3 p[3])
{
    const int f = bones.mFoot, t = bones.mToe >= 0 ? bones.mToe : bones.mFoot;
    const sPlaced foot{world[f], head[f]}, toes{world[t], head[t]};
    FootContactPoints(foot, out.mBones[f].mLength, heel, bones.mToe >= 0 ? &toes : nullptr, out.mBones[t].mLength, p);
}

sVec3 FootHeel(const sActorOut& out, const sLegBones& bones)
{
    std::vector<sQuat> world;
    std::vector<sVec3> head;
    BodyPose(out, std::vector<sQuat>(out.mBones.size()), world, head); // the rest pose
    return RestHeel(out, bones, world, head);
}

namespace
{
// A foot of a leg, for planting it: its bones, its heel (FootHeel), its
// across axis and the leg's length.
struct sFoot
{
    sLegBones mBones;
    sVec3 mHeel;     // in the foot bone's frame
    sVec3 mAcross;   // the foot's across axis (level at rest), in the foot bone's frame
    double mLeg = 0; // thigh + shin, file units
};

sFoot MakeFoot(const sActorOut& out, const sLegBones& bones)
{
    sFoot foot;
    foot.mBones = bones;
    std::vector<sQuat> world;
    std::vector<sVec3> head;
    BodyPose(out, std::vector<sQuat>(out.mBones.size()), world, head); // the rest pose
    const int f = bones.mFoot;
    const sVec3 ankle = head[f];
    foot.mHeel = RestHeel(out, bones, world, head);
    sVec3 across = (Tail(out, world, head, bones.mToe >= 0 ? bones.mToe : f) - ankle).Cross(sVec3(0, 0, 1)).Unit();
    if (across.Length() == 0)
        across = sVec3(1, 0, 0);
    foot.mAcross = world[f].Conj() * across;
    foot.mLeg = out.mBones[bones.mThigh].mLength + out.mBones[bones.mShin].mLength;
    if (!(foot.mLeg > 0))
        foot.mLeg = (head[f] - head[bones.mThigh]).Length();
    return foot;
}

int Lowest(const sVec3 p[3])
{
    int k = 0;
    for (int i = 1; i < 3; ++i)
        if (p[i].z < p[k].z)
            k = i;
    return k;
}

// A foot lifting off may still scrape the floor: a captured toe dips as it
// flexes, while the foot already moves on faster than a contact allows. The
// hold runs on past a contact while the foot's lowest point is no higher
// than where the contact left it plus this many leg lengths.
const double kScrapeBand = 0.005;
// A leg reaches the floor for a held foot no further than this share of
// its length (thigh + shin), a hair short of straight.
const double kStraightLeg = 0.995;
// A knee whose joint is less than this share of the thigh off the line from
// hip to ankle is all but straight (about 6 degrees).
const double kStraightKnee = 0.1;
// A foot that is not held clears the floor by this share of the leg, or, where
// that is less, by this many times its lowest point's distance over the
// ground from where that point stands at the nearest held key: it comes down
// onto its place and lifts off it, so that a point coming down does not
// touch the floor while it still moves over it (nor scrape it leaving).
const double kSwingClearance = 0.01;
const double kClearanceSlope = 1.0;

// ---- [SECTION] Loop ------------------------------------------------------------

// Frames [first, first + length) round a loop of n.
struct sRun
{
    int mFirst = 0, mLength = 0;
};

// The runs of set frames round the loop; one run of n frames when all are set.
std::vector<sRun> Runs(const std::vector<char>& set)
{
    const int n = (int)set.size();
    std::vector<sRun> runs;
    int start = -1; // a frame after an unset one
    for (int i = 0; i < n && start < 0; ++i)
        if (!set[i])
            start = (i + 1) % n;
    if (start < 0)
    {
        if (n > 0)
            runs.push_back({0, n});
        return runs;
    }
    for (int j = 0; j < n;)
    {
        const int i = (start + j) % n;
        if (!set[i])
        {
            ++j;
            continue;
        }
        sRun r{i, 0};
        while (j < n && set[(start + j) % n])
        {
            ++r.mLength;
            ++j;
        }
        runs.push_back(r);
    }
    return runs;
}

// Between runs, values ease from where one run leaves them to where the next
// takes them up, round the loop.
template <class T> void EaseBetween(const std::vector<sRun>& runs, int n, std::vector<T>& v)
{
    for (size_t r = 0; r < runs.size(); ++r)
    {
        const sRun& a = runs[r];
        const sRun& b = runs[(r + 1) % runs.size()];
        const int from = (a.mFirst + a.mLength - 1) % n;
        int gap = (b.mFirst - from + n) % n; // frames from the last held one to the next
        if (runs.size() == 1)
            gap = n - a.mLength + 1;
        for (int g = 1; g < gap; ++g)
        {
            const double t = g / (double)gap;
            const double s = t * t * (3 - 2 * t);
            v[(from + g) % n] = v[from] * (1 - s) + v[b.mFirst] * s;
        }
    }
}

// ---- [SECTION] Hold ------------------------------------------------------------

// A foot lies flat while its heel and its front (the lower of the ball and
// the toe tip) are within this many leg lengths of each other in height.
const double kFlatBand = 0.02;
// A flat foot that turns further than this over a contact is turning on the
// spot; it turns as captured.
const double kMostHeldTurn = 30 * M_PI / 180;

// The foot's heading about the vertical, from its across axis (which stays
// level as the foot pitches, so the heading is defined on the toes too),
// unwrapped next to the previous one.
double Heading(const sQuat& footWorld, const sVec3& acrossLocal, double previous)
{
    const sVec3 across = footWorld * acrossLocal;
    if (Flat(across).Length() < 0.2)
        return previous;
    double h = std::atan2(across.y, across.x);
    while (h - previous > M_PI)
        h -= 2 * M_PI;
    while (h - previous < -M_PI)
        h += 2 * M_PI;
    return h;
}

// The frame of a run at which the foot keeps its place: where the leg is
// most upright, so that it has least to reach at heel strike and toe-off.
int Upright(const std::vector<std::vector<sVec3>>& heads, const sFoot& foot, const sRun& run, int n)
{
    int best = run.mFirst;
    double nearest = INFINITY;
    for (int j = 0; j < run.mLength; ++j)
    {
        const int i = (run.mFirst + j) % n;
        const double d = Flat(heads[i][foot.mBones.mFoot] - heads[i][foot.mBones.mThigh]).Length();
        if (d < nearest)
        {
            nearest = d;
            best = i;
        }
    }
    return best;
}

// The least horizontal move of a held foot's place (shift, over one run)
// that the leg reaches at every frame of the run, found by projecting onto
// each frame's reach in turn; as near as it gets where there is none.
sVec3 ReachableOffset(const std::vector<std::vector<sVec3>>& heads, const sFoot& foot, const sRun& run, int n,
                      const std::vector<sVec3>& shift)
{
    sVec3 offset;
    for (int pass = 0; pass < 100; ++pass)
    {
        bool moved = false;
        for (int j = 0; j < run.mLength; ++j)
        {
            const int i = (run.mFirst + j) % n;
            const sVec3 hip = heads[i][foot.mBones.mThigh], knee = heads[i][foot.mBones.mShin];
            const sVec3 ankle = heads[i][foot.mBones.mFoot];
            const double reach = ((knee - hip).Length() + (ankle - knee).Length()) * (1 - 1e-6);
            const double dz = ankle.z - hip.z, r2 = reach * reach - dz * dz;
            if (!(r2 > 0))
                continue;
            const double r = std::sqrt(r2);
            const sVec3 centre = Flat(hip - ankle - shift[i]);
            const sVec3 d = offset - centre;
            if (d.Length() > r)
            {
                offset = centre + d * (r / d.Length());
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    return offset;
}

// ---- [SECTION] Reach -----------------------------------------------------------

// Moves the ankle by shift (as far along it as the leg reaches), turning
// the thigh about the hip and the shin about the knee: their bones and those
// hanging from them take the turn in body space; the foot keeps its
// orientation. Returns the ankle's move.
sVec3 ReachAnkle(const sActorOut& out, const sFoot& foot, std::vector<sQuat>& world, const std::vector<sVec3>& head,
                 const sVec3& shift)
{
    const int thighBone = foot.mBones.mThigh, shinBone = foot.mBones.mShin, footBone = foot.mBones.mFoot;
    const sVec3 hip = head[thighBone], knee = head[shinBone], ankle = head[footBone];
    const double thigh = (knee - hip).Length(), shin = (ankle - knee).Length();
    if (!(thigh > 0) || !(shin > 0) || !shift.IsFinite() || (shift.x == 0 && shift.y == 0 && shift.z == 0))
        return sVec3();
    // Out of the leg's reach (a hair inside full stretch and full fold, or
    // as far as the pose itself goes), the ankle goes as far along the shift
    // as the leg reaches: the foot keeps its height and slides a little
    // rather than lifting off the floor.
    const double now = (ankle - hip).Length();
    const double lo = std::min(std::fabs(thigh - shin) * (1 + 1e-6) + 1e-9, now);
    const double hi = std::max((thigh + shin) * (1 - 1e-6), now);
    auto reachable = [&](double t) {
        const double d = (ankle + shift * t - hip).Length();
        return d >= lo && d <= hi;
    };
    double part = 1;
    if (!reachable(1))
    {
        double in = 0, outside = 1;
        for (int i = 0; i < 60; ++i)
            (reachable(0.5 * (in + outside)) ? in : outside) = 0.5 * (in + outside);
        part = in;
    }
    const sVec3 want = ankle + shift * part;
    const double d = (want - hip).Length();
    const sVec3 u = (want - hip).Unit();
    // The knee stays on the side it bends to; a knee all but straight bends
    // forwards (+Y), as knees do, so that it does not flip from one key to
    // the next (the leg would stretch between them, the foot through the
    // floor).
    sVec3 side = (knee - hip) - u * (knee - hip).Dot(u);
    if (side.Length() < kStraightKnee * thigh)
        side = sVec3(0, 1, 0) - u * u.y;
    if (side.Length() < 1e-9)
        side = u.Cross(sVec3(1, 0, 0)).Length() > 0.1 ? u.Cross(sVec3(1, 0, 0)) : u.Cross(sVec3(0, 1, 0));
    side = side.Unit();
    const double along = (thigh * thigh - shin * shin + d * d) / (2 * d);
    const double across = std::sqrt(std::max(thigh * thigh - along * along, 0.0));
    const sVec3 newKnee = hip + u * along + side * across;
    const sQuat turnThigh = sQuat::Between(knee - hip, newKnee - hip);
    const sQuat turnShin = sQuat::Between((ankle - knee), (hip + u * d) - newKnee);
    const sVec3 move = newKnee + turnShin * (ankle - knee) - ankle;
    if (!turnThigh.IsFinite() || !turnShin.IsFinite() || !move.IsFinite())
        return sVec3();
    for (size_t b = 0; b < out.mBones.size(); ++b)
    {
        if (!Below(out, (int)b, thighBone) || Below(out, (int)b, footBone))
            continue;
        world[b] = ((Below(out, (int)b, shinBone) ? turnShin : turnThigh) * world[b]).Unit();
    }
    return move;
}

// Keys of the leg's bones from their body-space rotations.
void LegKeys(const sActorOut& out, const sFoot& foot, const std::vector<sQuat>& world, std::vector<sQuat>& keys)
{
    for (size_t b = 0; b < out.mBones.size(); ++b)
        if (Below(out, (int)b, foot.mBones.mThigh))
        {
            const sOutBone& bone = out.mBones[b];
            keys[b] = (bone.mRest.Conj() * world[bone.mParent].Conj() * world[b]).Unit();
        }
}

// ---- [SECTION] Steps -----------------------------------------------------------

// One foot of one loop, as PlantCycle works on it: per key, the body-space
// pose and the foot's heel, ball and toe tip.
struct sLoop
{
    int n = 0;
    std::vector<std::vector<sQuat>> mWorld;
    std::vector<std::vector<sVec3>> mHead;
    std::vector<std::array<sVec3, 3>> mPoints;

    double LowestHeight(int i) const { return mPoints[i][Lowest(mPoints[i].data())].z; }
};

// The keys at which the foot is held: its contacts, each run on while the
// foot scrapes the floor lifting off.
std::vector<char> HeldKeys(const sLoop& loop, const std::vector<char>& down, double leg)
{
    const int n = loop.n;
    std::vector<char> held = down;
    for (const sRun& run : Runs(down))
    {
        const int last = (run.mFirst + run.mLength - 1) % n;
        const double top = loop.LowestHeight(last) + kScrapeBand * leg;
        for (int j = 1; j < n; ++j)
        {
            const int i = (last + j) % n;
            if (down[i] || loop.LowestHeight(i) > top)
                break;
            held[i] = 1;
        }
    }
    return held;
}

// Per key, the turn about the vertical that keeps the foot's heading while
// it lies flat, and the turn of the nearest flat key before and after it in
// the rest of the contact; eased between contacts.
std::vector<double> FootTurns(const sLoop& loop, const sFoot& foot, const std::vector<sRun>& runs)
{
    const int n = loop.n;
    std::vector<double> heading(n), turn(n, 0.0);
    for (int i = 0; i < n; ++i)
        heading[i] = Heading(loop.mWorld[i][foot.mBones.mFoot], foot.mAcross, i ? heading[i - 1] : 0.0);
    for (const sRun& run : runs)
    {
        std::vector<int> flat; // offsets into the run
        double lo = INFINITY, hi = -INFINITY;
        for (int j = 0; j < run.mLength; ++j)
        {
            const int i = (run.mFirst + j) % n;
            const std::array<sVec3, 3>& p = loop.mPoints[i];
            if (std::fabs(p[0].z - std::min(p[1].z, p[2].z)) <= kFlatBand * foot.mLeg)
            {
                flat.push_back(j);
                lo = std::min(lo, heading[i]);
                hi = std::max(hi, heading[i]);
            }
        }
        if (flat.empty() || hi - lo > kMostHeldTurn)
            continue;
        auto nearest = [&](int j) {
            const auto it = std::lower_bound(flat.begin(), flat.end(), j);
            if (it == flat.end())
                return flat.back();
            if (it == flat.begin() || *it - j <= j - *(it - 1))
                return *it;
            return *(it - 1);
        };
        const int keepAt = (Upright(loop.mHead, foot, run, n) - run.mFirst + n) % n;
        const double keep = heading[(run.mFirst + nearest(keepAt)) % n];
        for (int j = 0; j < run.mLength; ++j)
            turn[(run.mFirst + j) % n] = keep - heading[(run.mFirst + nearest(j)) % n];
    }
    EaseBetween(runs, n, turn);
    return turn;
}

// Turns the foot, what hangs from it and its points about an axis through
// the ankle (the vertical, to turn it; its level across axis, to pitch it).
void TurnFoot(const sActorOut& out, const sFoot& foot, sLoop& loop, int i, const sVec3& axis, double angle)
{
    if (angle == 0 || axis.Length() == 0)
        return;
    const sQuat q = sQuat::AxisAngle(axis, angle);
    for (size_t b = 0; b < out.mBones.size(); ++b)
        if (Below(out, (int)b, foot.mBones.mFoot))
            loop.mWorld[i][b] = (q * loop.mWorld[i][b]).Unit();
    const sVec3 ankle = loop.mHead[i][foot.mBones.mFoot];
    for (sVec3& p : loop.mPoints[i])
        p = ankle + q * (p - ankle);
}

// The foot's pitch axis: its across axis, level (the foot turns about it as
// it rolls from heel to ball); zero where the foot stands on its side.
sVec3 PitchAxis(const sLoop& loop, const sFoot& foot, int i)
{
    const sVec3 across = Flat(loop.mWorld[i][foot.mBones.mFoot] * foot.mAcross);
    return across.Length() < 0.2 ? sVec3() : across.Unit();
}

// The turn about the pitch axis that brings the foot's front (the lower of
// the ball and the toe tip) level with its heel, at key i.
double LevellingPitch(const sLoop& loop, const sFoot& foot, int i)
{
    const sVec3 axis = PitchAxis(loop, foot, i);
    const std::array<sVec3, 3>& p = loop.mPoints[i];
    sVec3 along = (p[1].z < p[2].z ? p[1] : p[2]) - p[0];
    along = along - axis * along.Dot(axis); // in the plane the pitch turns in
    const double ahead = Flat(along).Length();
    if (axis.Length() == 0 || !(ahead > 0))
        return 0;
    const double angle = std::atan2(along.z, ahead);
    // The sense that lowers a front that is up.
    const sVec3 turned = sQuat::AxisAngle(axis, angle) * along;
    return std::fabs(turned.z) < std::fabs(along.z) ? angle : -angle;
}

// Per key, the pitch that lays the foot flat where it stands flattest: a
// captured foot that stands all but flat (within kFlatBand) where its leg is
// most upright is made to lie flat there, heel and front on the floor, by
// one turn over the whole contact (markers on the skin tilt a captured foot
// by a few degrees, and a foot whose front hovers over the floor while its
// heel stands, or the other way round, touches the floor with that point
// only in passing, while it moves); eased between contacts. A foot that
// stands on its toes, or on its heel alone, keeps its pitch.
std::vector<double> FootPitches(const sLoop& loop, const sFoot& foot, const std::vector<sRun>& runs)
{
    const int n = loop.n;
    std::vector<double> pitch(n, 0.0);
    for (const sRun& run : runs)
    {
        const int at = Upright(loop.mHead, foot, run, n);
        const std::array<sVec3, 3>& p = loop.mPoints[at];
        if (std::fabs(p[0].z - std::min(p[1].z, p[2].z)) > kFlatBand * foot.mLeg)
            continue;
        const double level = LevellingPitch(loop, foot, at);
        for (int j = 0; j < run.mLength; ++j)
            pitch[(run.mFirst + j) % n] = level;
    }
    EaseBetween(runs, n, pitch);
    return pitch;
}

// Per held key, the horizontal shift of the foot: the point it stands on
// moves backwards under the body by the pelvis's step from where it was
// (shifted) the key before; the foot keeps its place where the leg is most
// upright, moved as little as the leg needs to reach it all contact long.
std::vector<sVec3> FootShifts(const sLoop& loop, const sFoot& foot, const std::vector<sRun>& runs,
                              const std::vector<sVec3>& pelvisStep)
{
    const int n = loop.n;
    std::vector<sVec3> shift(n);
    for (const sRun& run : runs)
    {
        const bool whole = run.mLength == n;
        for (int j = 1; j < run.mLength + (whole ? 1 : 0); ++j)
        {
            const int i = (run.mFirst + j) % n, before = (run.mFirst + j - 1) % n;
            const int k = Lowest(loop.mPoints[i].data());
            const sVec3 next = shift[before] + Flat(loop.mPoints[before][k] - pelvisStep[before] - loop.mPoints[i][k]);
            if (j < run.mLength)
                shift[i] = next;
            else
            {
                // A foot down all round the loop: what does not close is
                // spread over it.
                for (int m = 1; m < n; ++m)
                    shift[(run.mFirst + m) % n] = shift[(run.mFirst + m) % n] - next * (m / (double)n);
            }
        }
        const sVec3 anchor = shift[Upright(loop.mHead, foot, run, n)];
        for (int j = 0; j < run.mLength; ++j)
            shift[(run.mFirst + j) % n] = shift[(run.mFirst + j) % n] - anchor;
        const sVec3 offset = ReachableOffset(loop.mHead, foot, run, n, shift);
        for (int j = 0; j < run.mLength; ++j)
            shift[(run.mFirst + j) % n] = shift[(run.mFirst + j) % n] + offset;
    }
    return shift;
}

// The foot's lowest point at key i of the loop, its height in body space:
// the ankle, or a point the contact locks stand it on (the heel, below the
// ankle as they place it; the ball; the toe tip).
double LowestJoint(const sLoop& loop, const sFoot& foot, int i)
{
    return std::min(loop.mHead[i][foot.mBones.mFoot].z, loop.LowestHeight(i));
}

// A held foot's lowest joint (the ankle, the ball or the toe tip: the heel
// is not a joint) on the floor, which lies the root's height below the root
// in body space: a captured foot stands a little above or below its cycle's
// ground, by how its markers sit and where that cycle's lowest joint was,
// and the demo's feet are to stand on y = 0.
void PutOnFloor(const sLoop& loop, const sFoot& foot, const std::vector<sRun>& runs,
                const std::vector<double>& hipHeight, std::vector<sVec3>& shift)
{
    for (const sRun& run : runs)
        for (int j = 0; j < run.mLength; ++j)
        {
            const int i = (run.mFirst + j) % loop.n;
            shift[i].z = -hipHeight[i] - LowestJoint(loop, foot, i);
        }
}

// Per key that is not held, how far the foot's lowest point is over the
// ground (horizontally, in body space plus the pelvis's travel since) from
// where that point stands at the nearest held key before or after it; 0 at
// held keys, infinite where none is held.
std::vector<double> GroundDistances(const sLoop& loop, const std::vector<sVec3>& shift, const std::vector<char>& held,
                                    const std::vector<sVec3>& pelvisStep)
{
    const int n = loop.n;
    std::vector<double> d(n, INFINITY);
    if (std::find(held.begin(), held.end(), 1) == held.end())
        return d;
    for (int i = 0; i < n; ++i)
    {
        if (held[i])
        {
            d[i] = 0;
            continue;
        }
        const int k = Lowest(loop.mPoints[i].data());
        const sVec3 here = loop.mPoints[i][k] + shift[i];
        sVec3 travel; // the pelvis's from a held key before, then to one after
        int a = i;
        do
        {
            a = (a + n - 1) % n;
            travel = travel + pelvisStep[a];
        } while (!held[a]);
        d[i] = Flat(here - (loop.mPoints[a][k] + shift[a]) + travel).Length();
        travel = sVec3();
        int b = i;
        do
        {
            travel = travel + pelvisStep[b];
            b = (b + 1) % n;
        } while (!held[b]);
        d[i] = std::min(d[i], Flat(loop.mPoints[b][k] + shift[b] - here + travel).Length());
    }
    return d;
}

// One foot's plan over a loop: its points, held keys, turns and shifts.
struct sFootPlan
{
    bool mPlanted = false;
    sFoot mFoot;
    sLoop mLoop;
    std::vector<sRun> mRuns;
    std::vector<sVec3> mShift;
};

// How far the hips must come down at each key for every held foot's lowest
// joint to reach the floor (-hipHeight in body space) with its leg a hair
// short of straight: a captured foot may stand higher than the cycle's
// ground (which the lowest foot sets) by more than its straight leg gives.
// Widened and smoothed round the loop, so that the hips ease down and up
// and are never higher than any key needs.
std::vector<double> HipDrops(const sFootPlan plan[2], const std::vector<double>& hipHeight, int n)
{
    std::vector<double> need(n, 0.0);
    for (int side = 0; side < 2; ++side)
    {
        const sFootPlan& p = plan[side];
        if (!p.mPlanted)
            continue;
        const sLegBones& b = p.mFoot.mBones;
        for (const sRun& run : p.mRuns)
            for (int j = 0; j < run.mLength; ++j)
            {
                const int i = (run.mFirst + j) % n;
                const std::vector<sVec3>& h = p.mLoop.mHead[i];
                const double reach =
                    kStraightLeg * ((h[b.mShin] - h[b.mThigh]).Length() + (h[b.mFoot] - h[b.mShin]).Length());
                const double lowest = LowestJoint(p.mLoop, p.mFoot, i);
                sVec3 ankle = h[b.mFoot] + p.mShift[i];
                ankle.z = h[b.mFoot].z - hipHeight[i] - lowest;
                const double across = Flat(ankle - h[b.mThigh]).Length();
                if (across >= reach)
                    continue;
                const double down = h[b.mThigh].z - ankle.z, most = std::sqrt(reach * reach - across * across);
                need[i] = std::max(need[i], down - most);
            }
    }
    const int w = std::max(1, n / 12);
    std::vector<double> wide(n, 0.0), drop(n, 0.0);
    for (int i = 0; i < n; ++i)
        for (int k = -w; k <= w; ++k)
            wide[i] = std::max(wide[i], need[((i + k) % n + n) % n]);
    for (int i = 0; i < n; ++i)
    {
        for (int k = -w; k <= w; ++k)
            drop[i] += wide[((i + k) % n + n) % n];
        drop[i] /= 2 * w + 1;
    }
    return drop;
}

} // namespace

// ---- [SECTION] PlantCycle ------------------------------------------------------

sLoopPlant PlantCycle(const sActorOut& out, const sLegBones legs[2], const std::vector<char> down[2],
                      const std::vector<sVec3>& pelvisStep, std::vector<std::vector<sQuat>>& keys,
                      std::vector<double>* hipHeight)
{
    sLoopPlant report;
    const int n = (int)keys.size() - 1; // the last key repeats the first
    report.mPelvisStep = pelvisStep;
    if (n < 2 || (int)pelvisStep.size() != n || (int)down[0].size() != n || (int)down[1].size() != n)
        return report;
    sFootPlan plan[2];
    for (int side = 0; side < 2; ++side)
    {
        const sLegBones& bones = legs[side];
        if (bones.mThigh < 0 || bones.mShin < 0 || bones.mFoot < 0 || !Below(out, bones.mFoot, bones.mShin) ||
            !Below(out, bones.mShin, bones.mThigh))
            continue;
        sFootPlan& p = plan[side];
        p.mFoot = MakeFoot(out, bones);
        sLoop& loop = p.mLoop;
        loop.n = n;
        loop.mWorld.resize(n);
        loop.mHead.resize(n);
        loop.mPoints.resize(n);
        for (int i = 0; i < n; ++i)
        {
            BodyPose(out, keys[i], loop.mWorld[i], loop.mHead[i]);
            FootPoints(out, p.mFoot.mBones, p.mFoot.mHeel, loop.mWorld[i], loop.mHead[i], loop.mPoints[i].data());
        }
        report.mHeld[side] = HeldKeys(loop, down[side], p.mFoot.mLeg);
        p.mRuns = Runs(report.mHeld[side]);
        if (p.mRuns.empty())
            continue;
        const std::vector<double> turn = FootTurns(loop, p.mFoot, p.mRuns);
        for (int i = 0; i < n; ++i)
        {
            TurnFoot(out, p.mFoot, loop, i, sVec3(0, 0, 1), turn[i]);
            report.mLargestTurnDeg = std::max(report.mLargestTurnDeg, std::fabs(turn[i]) * 180 / M_PI);
        }
        const std::vector<double> pitch = FootPitches(loop, p.mFoot, p.mRuns);
        for (int i = 0; i < n; ++i)
        {
            TurnFoot(out, p.mFoot, loop, i, PitchAxis(loop, p.mFoot, i), pitch[i]);
            report.mLargestPitchDeg = std::max(report.mLargestPitchDeg, std::fabs(pitch[i]) * 180 / M_PI);
        }
        p.mShift = FootShifts(loop, p.mFoot, p.mRuns, pelvisStep);
        p.mPlanted = true;
    }
    std::vector<double> drop(n, 0.0);
    if (hipHeight && (int)hipHeight->size() == n + 1)
    {
        drop = HipDrops(plan, *hipHeight, n);
        for (int i = 0; i <= n; ++i)
        {
            (*hipHeight)[i] -= drop[i % n];
            report.mLargestHipDrop = std::max(report.mLargestHipDrop, drop[i % n]);
        }
        for (sFootPlan& p : plan)
            if (p.mPlanted)
                PutOnFloor(p.mLoop, p.mFoot, p.mRuns, *hipHeight, p.mShift);
    }
    for (sFootPlan& p : plan)
    {
        if (!p.mPlanted)
            continue;
        const sFoot& foot = p.mFoot;
        sLoop& loop = p.mLoop;
        std::vector<sVec3>& shift = p.mShift;

        // The held keys in order: a foot the leg still cannot reach stays
        // where it got to, rather than sliding back to its place later; then
        // the swings, eased from the shifts reached.
        std::vector<char> reached(n, 0);
        auto reach = [&](int i, const sVec3& want) {
            const sVec3 moved = ReachAnkle(out, foot, loop.mWorld[i], loop.mHead[i], want);
            report.mLargestShift = std::max(report.mLargestShift, Flat(want).Length() / foot.mLeg);
            report.mLargestMiss = std::max(report.mLargestMiss, (want - moved).Length() / foot.mLeg);
            LegKeys(out, foot, loop.mWorld[i], keys[i]);
            reached[i] = 1;
            return moved;
        };
        for (const sRun& run : p.mRuns)
        {
            sVec3 behind;
            for (int j = 0; j < run.mLength; ++j)
            {
                const int i = (run.mFirst + j) % n;
                const sVec3 moved = reach(i, shift[i] + behind);
                behind = moved - shift[i];
                shift[i] = moved;
            }
        }
        // A swinging foot keeps its captured height over the floor where
        // the hips come down: it rises against them by as much; and it
        // clears the floor, where a held foot was lowered onto it (a
        // captured toe dips lower than the stance as it pushes off) and
        // where the capture drags it (a foot that is not held is in the
        // air, and the measures count a toe on the floor as a contact).
        for (int i = 0; i < n; ++i)
            shift[i].z -= drop[i];
        EaseBetween(p.mRuns, n, shift);
        for (int i = 0; i < n; ++i)
            shift[i].z += drop[i];
        const std::vector<double> away = GroundDistances(loop, shift, reached, pelvisStep);
        for (int i = 0; i < n; ++i)
        {
            if (reached[i])
                continue;
            if (hipHeight && (int)hipHeight->size() == n + 1)
            {
                const double clear = std::min(kSwingClearance * foot.mLeg, kClearanceSlope * away[i]);
                shift[i].z = std::max(shift[i].z, clear - (*hipHeight)[i] - LowestJoint(loop, foot, i));
            }
            reach(i, shift[i]);
        }
        keys[n] = keys[0];
    }
    return report;
}

} // namespace qvimport
