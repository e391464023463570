// Stage: build actions. Turns the upright capture into the demo's bones and
// three actions.
//
// Index
//   [SECTION] Layout      the bones the demo needs around the captured ones
//   [SECTION] Heading     yaw that holds one walking direction over a cycle
//   [SECTION] Ground      where each action's feet meet the floor
//   [SECTION] Bones       rest frames: head at the joint, +Y towards the tail
//   [SECTION] Samples     per frame, every bone's key; loop closure
//   [SECTION] BuildActor  the stage itself
//
// Body space is the root bone's frame: +Z up, +Y forward (the direction the
// foot locks take from the root to its first child), ground at z = 0, file
// units. The root's rest matrix turns it half a turn about Z into file space,
// as the generated walker's does, so the figure faces the viewer. The root
// stands at the hips' standing height; the hips' rise and fall over a cycle
// is the root's height (the root channel's "h"), the pelvis hanging from the
// root at zero offset.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <set>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_import.h"
#include "QV_import_stage.h"

namespace qvimport
{

const char* const kLeftFootName = kLeftFootBone;
const char* const kRightFootName = kRightFootBone;

namespace
{

// Every action is keyed from where the clock restarts once it passes the
// action's length.
const unsigned kRestartMs = kRestartTime;
// The still stand is keyed over this long.
const unsigned kStandMs = 1000;
// Once the clock passes an action's length, the frame that passes it shows
// the restart pose and the overshoot is lost: a cycle keyed over P plays
// over P plus, on average, half a frame. Cycles are keyed this much short,
// half of the demo's usual 16 ms frame, so that they play at their captured
// pace (within a few tenths of a per cent at 16 ms, about 1 % at 1 or 33 ms).
const double kWrapAllowanceS = 0.008;

// ---- [SECTION] Layout ----------------------------------------------------------

enum
{
    kRoot = 0,    // at the hips; carries the heading and the height, never keyed away from its rest rotation
    kForward = 1, // the root's first child, straight ahead at the root's height
    kFirstJointBone = 2
};

std::string SafeName(const std::string& name)
{
    std::string s;
    for (char c : name)
        s += std::isalnum((unsigned char)c) || c == '_' || c == '.' || c == '-' ? c : '_';
    return s.empty() ? std::string("joint") : s;
}

sQuat RotZ(double rad) { return sQuat::AxisAngle(sVec3(0, 0, 1), rad); }

// ---- [SECTION] Heading ---------------------------------------------------------

// Facing angle about +Z: forward is left hip to right hip turned a quarter
// turn, so it does not depend on how the source oriented its joints.
double Facing(const sCapture& cap, const sFeet& feet, size_t f)
{
    const sVec3 fwd = FacingVector(cap, feet, f);
    return std::atan2(fwd.y, fwd.x);
}

// Yaw per frame of [a, b]: the capture's turn over the cycle taken out
// evenly, and the whole turned so that the pelvis travels along +Y.
struct sHeading
{
    double mAlign = 0; // radians added at the first frame
    double mDrift = 0; // radians the capture turns over the cycle
    int mBegin = 0, mEnd = 1;

    double At(int f) const { return mAlign - mDrift * (f - mBegin) / (double)(mEnd - mBegin); }
};

sHeading HoldHeading(const sCapture& cap, const sFeet& feet, int a, int b)
{
    sHeading h;
    h.mBegin = a;
    h.mEnd = b;
    h.mDrift = Turn(cap, feet, a, b);
    sVec3 travel;
    for (int f = a; f < b; ++f)
    {
        sVec3 d = cap.mPosition[f + 1][feet.mPelvis] - cap.mPosition[f][feet.mPelvis];
        d.z = 0;
        travel = travel + RotZ(h.At(f)) * d;
    }
    // A cycle that goes nowhere keeps its facing forward instead.
    const double dir = travel.Length() > 1e-9 ? std::atan2(travel.y, travel.x) : Facing(cap, feet, a) + h.At(a);
    h.mAlign = M_PI / 2 - dir;
    return h;
}

// The mean facing over the cycle once its heading is held.
double HeldFacing(const sCapture& cap, const sFeet& feet, const sHeading& h)
{
    double s = 0, c = 0;
    for (int f = h.mBegin; f <= h.mEnd; ++f)
    {
        const double a = Facing(cap, feet, f) + h.At(f);
        s += std::sin(a);
        c += std::cos(a);
    }
    return std::atan2(s, c);
}

// ---- [SECTION] Ground --------------------------------------------------------

double GroundUnder(const sCapture& cap, const sFeet& feet, int first, int last)
{
    double low = INFINITY;
    for (int f = first; f <= last; ++f)
        for (const sLeg& leg : feet.mLeg)
        {
            low = std::min(low, cap.mPosition[f][leg.mAnkle].z);
            if (leg.mTip >= 0)
                low = std::min(low, cap.mPosition[f][leg.mTip].z);
        }
    return low;
}

// ---- [SECTION] Bones -----------------------------------------------------------

struct sBoneSource
{
    int mJoint = -1;  // capture joint, or -1 for a bone of the layout
    sQuat mOffsetRot; // source joint frame to bone frame (C: O = W C)
};

// Names of the joints made unique and safe, the feet named as the demo wants.
std::vector<std::string> BoneNames(const sCapture& cap, const std::vector<int>& joints, const sFeet& feet)
{
    std::set<std::string> taken = {"root", "forward", kLeftFootName, kRightFootName};
    std::vector<std::string> names;
    for (int j : joints)
    {
        if (j == feet.mLeg[0].mAnkle)
        {
            names.push_back(kLeftFootName);
            continue;
        }
        if (j == feet.mLeg[1].mAnkle)
        {
            names.push_back(kRightFootName);
            continue;
        }
        const std::string base = SafeName(cap.mJoints[j].mName);
        std::string name = base;
        for (int k = 2; taken.count(name); ++k)
            name = base + "_" + std::to_string(k);
        taken.insert(name);
        names.push_back(name);
    }
    return names;
}

// The joint a bone points at: its tail, or where the tail sits on the joint
// (a zero-length joint), the first joint further down the same chain that is
// away from it.
int PointAt(const sCapture& cap, const sSkeleton& sk, int j, int frame, double minDist)
{
    for (int t = sk.mTail[j]; t >= 0; t = sk.mTail[t])
        if ((cap.mPosition[frame][t] - cap.mPosition[frame][j]).Length() > minDist)
            return t;
    return -1;
}

// The root at the hips' standing height and the forward marker.
void AddLayoutBones(double standHip, sActorOut& out, std::vector<sBoneSource>& src, std::vector<sQuat>& restWorld)
{
    src.assign(kFirstJointBone, sBoneSource());
    restWorld.assign(kFirstJointBone, sQuat());
    out.mBones.assign(kFirstJointBone, sOutBone());
    out.mBones[kRoot].mName = "root";
    out.mBones[kRoot].mOffset = sVec3(0, 0, standHip);
    out.mBones[kRoot].mRest = RotZ(M_PI);
    out.mBones[kForward].mName = "forward";
    out.mBones[kForward].mParent = kRoot;
    out.mBones[kForward].mOffset = sVec3(0, 0.1 * out.mLegLength, 0);
    out.mBones[kForward].mLength = 0.1 * out.mLegLength;
}

// The captured bones, the pelvis and everything the skeleton keeps below it,
// at rest in the standing frame: the stand's keys are then all the identity.
void AddJointBones(const sCapture& cap, const sSkeleton& sk, const sFeet& feet, int stance, double standYaw,
                   double scale, double minDist, sActorOut& out, std::vector<sBoneSource>& src,
                   std::vector<sQuat>& restWorld)
{
    std::vector<int> joints;
    for (int j : sk.mBoneJoints)
    {
        int a = j;
        while (a >= 0 && a != feet.mPelvis)
            a = cap.mJoints[a].mParent;
        if (a == feet.mPelvis)
            joints.push_back(j);
    }
    const std::vector<std::string> names = BoneNames(cap, joints, feet);
    std::vector<int> boneOfJoint(cap.mJoints.size(), -1);
    const sQuat standTurn = RotZ(standYaw);
    for (size_t k = 0; k < joints.size(); ++k)
    {
        const int j = joints[k];
        boneOfJoint[j] = (int)out.mBones.size();
        const sQuat w = standTurn * cap.mRotation[stance][j];
        sQuat rest = w;
        const int target = PointAt(cap, sk, j, stance, std::max(minDist, 1e-9));
        sOutBone b;
        b.mName = names[k];
        if (target >= 0)
        {
            const sVec3 dir = standTurn * (cap.mPosition[stance][target] - cap.mPosition[stance][j]);
            rest = sQuat::Between(w * sVec3(0, 1, 0), dir) * w;
            if (target == sk.mTail[j])
                b.mLength = dir.Length() * scale;
        }
        sBoneSource s;
        s.mJoint = j;
        s.mOffsetRot = (w.Conj() * rest).Unit();
        src.push_back(s);
        restWorld.push_back(rest);

        const int pj = cap.mJoints[j].mParent;
        if (j == feet.mPelvis || pj < 0 || boneOfJoint[pj] < 0)
            b.mParent = kRoot; // at the root's head: the root stands at the hips
        else
        {
            b.mParent = boneOfJoint[pj];
            const sVec3 d = standTurn * (cap.mPosition[stance][j] - cap.mPosition[stance][pj]) * scale;
            b.mOffset = restWorld[b.mParent].Conj() * d;
        }
        out.mBones.push_back(b);
    }
}

// ---- [SECTION] Samples ---------------------------------------------------------

// Every bone's world rotation (body space) at one frame, and the hips'
// height.
struct sFrameRotations
{
    std::vector<sQuat> mWorld;
    double mHipZ = 0; // over the action's ground, file units
};

sFrameRotations PoseAt(const sCapture& cap, const sFeet& feet, const std::vector<sBoneSource>& src, int f, double yaw,
                       double ground, double scale)
{
    sFrameRotations r;
    r.mWorld.resize(src.size());
    r.mHipZ = (cap.mPosition[f][feet.mPelvis].z - ground) * scale;
    r.mWorld[kRoot] = sQuat();
    r.mWorld[kForward] = sQuat();
    const sQuat y = RotZ(yaw);
    for (size_t i = kFirstJointBone; i < src.size(); ++i)
        r.mWorld[i] = y * cap.mRotation[f][src[i].mJoint] * src[i].mOffsetRot;
    return r;
}

// Keys relative to the rest rotations: q = rest^-1 * parent_world^-1 * world.
// The root's key stays the identity: body space is its frame.
std::vector<sQuat> KeyValues(const sActorOut& out, const sFrameRotations& pose)
{
    std::vector<sQuat> q(out.mBones.size());
    for (size_t i = 0; i < out.mBones.size(); ++i)
    {
        const int p = out.mBones[i].mParent;
        if (p >= 0)
            q[i] = (out.mBones[i].mRest.Conj() * pose.mWorld[p].Conj() * pose.mWorld[i]).Unit();
    }
    return q;
}

unsigned Millis(double seconds) { return (unsigned)std::lround(seconds * 1000.0); }

double PlaySeconds(const sCycle& c, double rate)
{
    return c.mPlaySeconds > 0 ? c.mPlaySeconds : (c.mEnd - c.mBegin) / rate;
}

// One cycle as an action: frames a..b keyed from the restart time, the last
// pose made equal to the first by spreading the difference over the cycle;
// then, unless opt says not to, the feet planted (PlantCycle).
sOutAction CycleAction(const std::string& name, const sCapture& cap, const sFeet& feet, const sContacts& contacts,
                       const std::vector<sBoneSource>& src, const sLegBones legs[2], const sActorOut& out,
                       const sHeading& heading, double seconds, double ground, double scale, bool plant,
                       sLoopPlant& planted)
{
    sOutAction act;
    act.mName = name;
    const int a = heading.mBegin, b = heading.mEnd, n = b - a;
    const size_t bones = out.mBones.size();
    const double restHip = out.mBones[kRoot].mOffset.z;
    std::vector<std::vector<sQuat>> q;
    std::vector<double> hipZ;
    for (int i = 0; i <= n; ++i)
    {
        const sFrameRotations pose = PoseAt(cap, feet, src, a + i, heading.At(a + i), ground, scale);
        q.push_back(KeyValues(out, pose));
        hipZ.push_back(pose.mHipZ);
    }
    // Loop closure: the error between the last and the first pose is taken
    // out gradually, so the cycle repeats without a jump.
    for (size_t k = 0; k < bones; ++k)
    {
        for (int i = 1; i <= n; ++i)
            if (q[i][k].Dot(q[i - 1][k]) < 0)
                q[i][k] = q[i][k].Neg();
        const sQuat err = q[0][k] * q[n][k].Conj();
        for (int i = 1; i <= n; ++i)
            q[i][k] = (Slerp(sQuat(), err, i / (double)n) * q[i][k]).Unit();
        q[n][k] = q[0][k];
    }
    // The height closes its loop the same way.
    const double heightErr = hipZ[0] - hipZ[n];
    for (int i = 0; i <= n; ++i)
        hipZ[i] += heightErr * i / (double)n;

    if (plant)
    {
        std::vector<char> down[2];
        std::vector<sVec3> step;
        for (int i = 0; i < n; ++i)
        {
            for (int side = 0; side < 2; ++side)
                down[side].push_back(contacts.mDown[side][a + i]);
            sVec3 d = cap.mPosition[a + i + 1][feet.mPelvis] - cap.mPosition[a + i][feet.mPelvis];
            d.z = 0;
            step.push_back(RotZ(heading.At(a + i)) * d * scale);
        }
        planted = PlantCycle(out, legs, down, step, q, &hipZ);
    }

    act.mChannels.assign(bones, {});
    for (int i = 0; i <= n; ++i)
        for (size_t k = 0; k < bones; ++k)
        {
            sKey key;
            key.mTime = kRestartMs + Millis((seconds - kWrapAllowanceS) * i / n);
            key.mValue = q[i][k];
            // The library interpolates without taking the shorter arc: keep
            // each key on the same side as the one before.
            if (i > 0 && key.mValue.Dot(act.mChannels[k].back().mValue) < 0)
                key.mValue = key.mValue.Neg();
            if (k == kRoot)
            {
                key.mHasHeight = true;
                key.mHeight = hipZ[i] - restHip;
            }
            act.mChannels[k].push_back(key);
        }
    for (std::vector<sKey>& ch : act.mChannels)
    {
        // The last key is the first pose again, on the side of the key
        // before it, so that the last stretch too turns the short way.
        const sQuat& before = ch[ch.size() - 2].mValue;
        ch.back().mValue = ch.front().mValue.Dot(before) < 0 ? ch.front().mValue.Neg() : ch.front().mValue;
        ch.back().mHeight = ch.front().mHeight;
    }
    act.mLength = act.mChannels[0].back().mTime;
    return act;
}

sOutAction StandAction(const sCapture& cap, const sFeet& feet, const std::vector<sBoneSource>& src,
                       const sActorOut& out, int stance, double yaw, double ground, double scale)
{
    sOutAction act;
    act.mName = "stand";
    const std::vector<sQuat> q = KeyValues(out, PoseAt(cap, feet, src, stance, yaw, ground, scale));
    for (size_t k = 0; k < out.mBones.size(); ++k)
    {
        sKey key;
        key.mTime = kRestartMs;
        key.mValue = q[k];
        if (k == kRoot)
        {
            // The rest pose is this frame on this ground: the hips at rest.
            key.mHasHeight = true;
            key.mHeight = (cap.mPosition[stance][feet.mPelvis].z - ground) * scale - out.mBones[kRoot].mOffset.z;
        }
        sKey end = key;
        end.mTime = kRestartMs + kStandMs;
        act.mChannels.push_back({key, end});
    }
    act.mLength = kRestartMs + kStandMs;
    return act;
}

} // namespace

// ---- [SECTION] BuildActor ------------------------------------------------------

sActorOut BuildActor(const sCapture& cap, const sSkeleton& sk, const sFeet& feet, const sContacts& contacts,
                     const sCycle& walk, const sCycle& walk2, int stance, const sOptions& opt)
{
    sActorOut out;
    out.mName = "captured";
    // Each action stands on its own ground: the lowest foot point over its
    // frames. A capture's floor as the skeleton sees it moves a little with
    // the pose (markers are not bones), and the demo's feet must meet y = 0
    // in the clips it plays.
    const double ground1 = GroundUnder(cap, feet, walk.mBegin, walk.mEnd);
    const double ground2 = GroundUnder(cap, feet, walk2.mBegin, walk2.mEnd);
    const double groundStand = GroundUnder(cap, feet, stance, stance);
    const double standHip = cap.mPosition[stance][feet.mPelvis].z - groundStand;
    for (int f = walk.mBegin; f <= walk.mEnd; ++f)
        out.mWalkLowestMax = std::max(out.mWalkLowestMax, GroundUnder(cap, feet, f, f) - ground1);
    if (!(standHip > 0))
        throw cImportError("the pelvis is not above the ground when standing");
    const double scale = opt.mHipHeight / standHip;
    out.mScale = scale;
    out.mWalkLowestMax *= scale;
    out.mLegLength = 0.5 * (feet.mLeg[0].mLength + feet.mLeg[1].mLength) * scale;
    out.mStanceFrame = stance;
    out.mCycleFrames[0][0] = walk.mBegin;
    out.mCycleFrames[0][1] = walk.mEnd;
    out.mCycleFrames[1][0] = walk2.mBegin;
    out.mCycleFrames[1][1] = walk2.mEnd;

    const sHeading head1 = HoldHeading(cap, feet, walk.mBegin, walk.mEnd);
    const sHeading head2 = HoldHeading(cap, feet, walk2.mBegin, walk2.mEnd);
    // The stand faces where the walk faces, so stopping does not turn.
    const double standYaw = HeldFacing(cap, feet, head1) - Facing(cap, feet, stance);

    double extent = 0;
    for (const sVec3& p : cap.mPosition[stance])
        extent = std::max(extent, p.z - groundStand);
    out.mFigureHeight = extent * scale;

    std::vector<sBoneSource> src;
    std::vector<sQuat> restWorld;
    AddLayoutBones(standHip * scale, out, src, restWorld);
    AddJointBones(cap, sk, feet, stance, standYaw, scale, extent * 1e-3, out, src, restWorld);
    for (size_t i = 0; i < out.mBones.size(); ++i)
    {
        const int p = out.mBones[i].mParent;
        if (i != kRoot)
            out.mBones[i].mRest = (restWorld[p].Conj() * restWorld[i]).Unit();
    }

    // The legs' bones, for planting the feet.
    sLegBones legs[2];
    for (int side = 0; side < 2; ++side)
    {
        for (size_t i = 0; i < src.size(); ++i)
        {
            if (src[i].mJoint == feet.mLeg[side].mHip)
                legs[side].mThigh = (int)i;
            if (src[i].mJoint == feet.mLeg[side].mKnee)
                legs[side].mShin = (int)i;
            if (src[i].mJoint == feet.mLeg[side].mAnkle)
                legs[side].mFoot = (int)i;
        }
        for (size_t i = 0; i < out.mBones.size() && legs[side].mFoot >= 0 && legs[side].mToe < 0; ++i)
            if (out.mBones[i].mParent == legs[side].mFoot)
                legs[side].mToe = (int)i;
    }

    // The body on the bones written, at the stand (their rest).
    std::vector<int> boneOfJoint(cap.mJoints.size(), -1);
    for (size_t i = kFirstJointBone; i < src.size(); ++i)
        boneOfJoint[src[i].mJoint] = (int)i;
    out.mBody = BuildBody(cap, boneOfJoint, stance, standYaw, scale, groundStand, feet.mPelvis);
    out.mBodyNote = cap.mBody.mNote;

    out.mAction[kWalkSlot] = CycleAction("walk", cap, feet, contacts, src, legs, out, head1,
                                         PlaySeconds(walk, cap.mRate), ground1, scale, opt.mPlant, out.mPlant[0]);
    out.mAction[kStandSlot] = StandAction(cap, feet, src, out, stance, standYaw, groundStand, scale);
    out.mAction[kSecondWalkSlot] =
        CycleAction("walk2", cap, feet, contacts, src, legs, out, head2, PlaySeconds(walk2, cap.mRate), ground2, scale,
                    opt.mPlant, out.mPlant[1]);
    return out;
}

} // namespace qvimport
