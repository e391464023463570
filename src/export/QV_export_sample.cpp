// Playing an actor file as the demo does and sampling it for the formats.
//
// Index
//   [SECTION] errors and options
//   [SECTION] the walk path
//   [SECTION] the skeleton at rest
//   [SECTION] one frame
//   [SECTION] the clips
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <algorithm>
#include <memory>

#include "QV_character.h"
#include "QV_export.h"
#include "QV_export_math.h"
#include "QV_measure_host.h"

namespace qvexport
{

// ---------------------------------------------------------------------------
// [SECTION] errors and options

cExportError::cExportError(const std::string& what) : cQVError(what) {}

namespace
{
// How much sampling may hold: frames times joints over all clips. A sample
// is 56 bytes; 4 million of them are about 220 MB, the longest walk
// anyone would look at (an hour of the walker's 23 bones at 10 ms frames
// is 8 million), and an action of 4 billion milliseconds is refused
// instead of filling the memory.
constexpr double kMaxSamples = 4e6;
} // namespace

void CheckOptions(const sOptions& opt)
{
    if (opt.mFrameMs < 1 || opt.mFrameMs > 100)
        throw cExportError("--frame is in whole milliseconds, from 1 to 100");
    if (opt.mCycles < 1 || opt.mCycles > 1000)
        throw cExportError("--cycles is a whole number from 1 to 1000");
}

// ---------------------------------------------------------------------------
// [SECTION] the walk path

std::vector<sPathStep> ParsePath(const std::string& text)
{
    std::vector<sPathStep> steps;
    size_t at = 0;
    while (at <= text.size())
    {
        const size_t comma = std::min(text.find(',', at), text.size());
        const std::string item = text.substr(at, comma - at);
        at = comma + 1;
        char word[16] = {0};
        char extra[2] = {0};
        double amount = 0;
        const int read = std::sscanf(item.c_str(), " %15[a-z] %lf %1s", word, &amount, extra);
        sPathStep step;
        const std::string w = word;
        const bool stopAlone = w == "stop" && read == 1;
        if (!stopAlone && (read != 2 || !std::isfinite(amount) || amount <= 0))
            throw cExportError("--path: cannot read '" + item +
                               "': each step is walk SECONDS, left DEGREES, right DEGREES, stand SECONDS or stop");
        if (w == "walk")
            step.mKind = sPathStep::kWalk;
        else if (w == "left")
            step.mKind = sPathStep::kLeft;
        else if (w == "right")
            step.mKind = sPathStep::kRight;
        else if (w == "stand" || w == "stop")
            step.mKind = sPathStep::kStand;
        else
            throw cExportError("--path: unknown step '" + w + "' in '" + item +
                               "': each step is walk SECONDS, left DEGREES, right DEGREES, stand SECONDS or stop");
        step.mAmount = stopAlone ? 1.0 : amount;
        // A step longer than an hour (or a turn of more than 360 turns) is
        // a typing error, and would only fill the memory.
        if (step.mAmount > (step.mKind == sPathStep::kLeft || step.mKind == sPathStep::kRight ? 129600 : 3600))
            throw cExportError("--path: '" + item + "' is longer than an hour");
        steps.push_back(step);
    }
    return steps;
}

namespace
{

// How many frames of dt ms a step takes: its time, or its turn at the
// demo's rate (kTurnRate degrees a millisecond), rounded to whole frames.
unsigned long StepFrames(const sPathStep& s, unsigned int dt)
{
    const double ms =
        s.mKind == sPathStep::kLeft || s.mKind == sPathStep::kRight ? s.mAmount / kTurnRate : s.mAmount * 1000.0;
    return (unsigned long)std::max(1.0, std::round(ms / dt));
}

// ---------------------------------------------------------------------------
// [SECTION] the skeleton at rest

// The transform of a rest matrix; refused when its block is not a rotation
// (the formats hold rotations and translations only).
sTransform RestOf(const cBone& b)
{
    const tMat3 block = Block(b.mRestTransform);
    if (RotationError(block) > 1e-3)
        throw cExportError("the bone " + QuoteName(b.mName) +
                           " has a rest matrix that stretches, shears or mirrors: glTF and BVH joints hold only "
                           "rotations and translations");
    sTransform t;
    t.mRotation = QuatOf(block);
    t.mTranslation = {b.mRestTransform._m[12], b.mRestTransform._m[13], b.mRestTransform._m[14]};
    return t;
}

// The armature's bones parents first (from the root, without recursion:
// a tree may be 10000 levels deep), and each bone's place in that order.
struct sOrder
{
    std::vector<const cBone*> mBones;
    std::vector<int> mIndexOfBone; // by position in the armature's vector
};

sOrder OrderBones(const cArmature& arm)
{
    sOrder order;
    order.mIndexOfBone.assign(arm.mBones.size(), -1);
    std::vector<const cBone*> stack{arm.mRootBone};
    while (!stack.empty())
    {
        const cBone* b = stack.back();
        stack.pop_back();
        order.mIndexOfBone[b - arm.mBones.data()] = (int)order.mBones.size();
        order.mBones.push_back(b);
        for (auto c = b->mChildren.rbegin(); c != b->mChildren.rend(); ++c)
            stack.push_back(*c);
    }
    return order;
}

std::vector<sJoint> Skeleton(const cArmature& arm, const sOrder& order)
{
    std::vector<sJoint> joints(order.mBones.size());
    for (size_t i = 0; i < joints.size(); ++i)
    {
        const cBone& b = *order.mBones[i];
        sJoint& j = joints[i];
        j.mName = b.mName;
        j.mParent = b.mParent ? order.mIndexOfBone[b.mParent - arm.mBones.data()] : -1;
        j.mRest = RestOf(b);
        j.mRestWorld = j.mParent < 0 ? j.mRest : Compose(joints[j.mParent].mRestWorld, j.mRest);
        j.mLength = b.mLength;
    }
    return joints;
}

// The body with its bone numbers as the joints': the loader's are positions
// in the armature's vector.
void TakeBody(const cBody& from, const sOrder& order, cBody& to)
{
    to.mRestPositions = from.mRestPositions;
    to.mRestNormals = from.mRestNormals;
    to.mTexCoords = from.mTexCoords;
    to.mTriangles = from.mTriangles;
    to.mTexture = from.mTexture;
    to.mInfluences = from.mInfluences;
    for (sInfluences& v : to.mInfluences)
        for (unsigned int k = 0; k < v.mCount; ++k)
            v.mBone[k] = (unsigned int)order.mIndexOfBone[v.mBone[k]];
}

// ---------------------------------------------------------------------------
// [SECTION] one frame

// The turn the heading gives the root, in the world: the actor turns its
// root's orientation by the heading about the root's own z axis (before
// the orientation), which its rest frame stands upright; seen from the
// world that is the rest rotation times Rz(heading) times its inverse.
tQuat HeadingTurn(const sJoint& root, float headingDeg)
{
    const double half = headingDeg * M_PI / 360.0;
    const tQuat rz = {0, 0, std::sin(half), std::cos(half)};
    return Normalised(Mul(Mul(root.mRest.mRotation, rz), Conjugate(root.mRest.mRotation)));
}

// Every joint's local transform as the actor stands now; the root's in the
// world on the floor the walk began on. In place, the root keeps its own
// motion (its rest place across the floor, its height, its rotation without
// the heading) and travel takes the rest.
void Sample(const cActor& a, const sOrder& order, const std::vector<sJoint>& joints, bool inPlace,
            std::vector<sTransform>& frame, sTransform& travel)
{
    frame.resize(joints.size());
    for (size_t i = 0; i < joints.size(); ++i)
    {
        const cMatrix4D& m = order.mBones[i]->mTransform;
        frame[i].mRotation = QuatOf(Block(m));
        frame[i].mTranslation = {m._m[12], m._m[13], m._m[14]};
    }
    sTransform& root = frame[0];
    for (int axis = 0; axis < 3; ++axis)
        root.mTranslation[axis] += (double)a.mOriginShift[axis];
    travel = sTransform();
    if (!inPlace)
        return;
    const sTransform baked = root;
    travel.mRotation = HeadingTurn(joints[0], a.mHeading);
    root.mRotation = Normalised(Mul(Conjugate(travel.mRotation), baked.mRotation));
    root.mTranslation = {joints[0].mRest.mTranslation[0], baked.mTranslation[1], joints[0].mRest.mTranslation[2]};
    const tVec moved = Rotate(travel.mRotation, root.mTranslation);
    for (int axis = 0; axis < 3; ++axis)
        travel.mTranslation[axis] = baked.mTranslation[axis] - moved[axis];
}

// Quaternions q and -q are one rotation; formats interpolate between the
// stored numbers, so each key takes the sign nearer the one before it.
void KeepSigns(std::vector<sTransform>& frame, const std::vector<sTransform>* before)
{
    if (!before)
        return;
    for (size_t i = 0; i < frame.size(); ++i)
    {
        tQuat& q = frame[i].mRotation;
        const tQuat& p = (*before)[i].mRotation;
        if (q[0] * p[0] + q[1] * p[1] + q[2] * p[2] + q[3] * p[3] < 0)
            for (double& v : q)
                v = -v;
    }
}

// The warm-up loop has carried the root some way: the clip is moved back
// over the floor so that it starts with the root over its rest place, as a
// clip in a viewer is expected to.
void StartOverTheOrigin(sClip& clip, const sJoint& root, bool inPlace)
{
    const sTransform& first = inPlace ? clip.mTravel[0] : clip.mFrames[0][0];
    const double dx = first.mTranslation[0] - (inPlace ? 0 : root.mRest.mTranslation[0]);
    const double dz = first.mTranslation[2] - (inPlace ? 0 : root.mRest.mTranslation[2]);
    for (size_t f = 0; f < clip.mFrames.size(); ++f)
    {
        sTransform& moved = inPlace ? clip.mTravel[f] : clip.mFrames[f][0];
        moved.mTranslation[0] -= dx;
        moved.mTranslation[2] -= dz;
    }
}

// ---------------------------------------------------------------------------
// [SECTION] the clips

class cSampler
{
public:
    cSampler(const std::string& text, const sOptions& opt) : mText(text), mOpt(opt) {}

    sClip Action(unsigned int slot);
    sClip Path();

private:
    const std::string& mText;
    const sOptions& mOpt;
    double mSamples = 0; // frames times joints so far

    std::unique_ptr<measure::cHost> Host() const;
    void Record(const measure::cHost& host, const sOrder& order, const std::vector<sJoint>& joints, sClip& clip);
    void Budget(double frames, size_t joints, const std::string& what);
};

std::unique_ptr<measure::cHost> cSampler::Host() const
{
    measure::sSwitches switches;
    switches.mContactLock = mOpt.mContactLock;
    switches.mCrossFade = mOpt.mCrossFade;
    return std::unique_ptr<measure::cHost>(new measure::cHost(measure::sActorText{mText}, switches));
}

void cSampler::Budget(double frames, size_t joints, const std::string& what)
{
    mSamples += frames * (double)joints;
    if (mSamples > kMaxSamples)
        throw cExportError(what + " is too long to sample: more than " + std::to_string((long long)kMaxSamples) +
                           " joint transforms in all (fewer --cycles, a longer --frame, or a shorter path)");
}

void cSampler::Record(const measure::cHost& host, const sOrder& order, const std::vector<sJoint>& joints, sClip& clip)
{
    clip.mFrames.emplace_back();
    clip.mTravel.emplace_back();
    Sample(host.actor(), order, joints, mOpt.mInPlace, clip.mFrames.back(), clip.mTravel.back());
    KeepSigns(clip.mFrames.back(), clip.mFrames.size() > 1 ? &clip.mFrames[clip.mFrames.size() - 2] : nullptr);
    std::vector<sTransform> travel{clip.mTravel.back()};
    if (clip.mTravel.size() > 1)
    {
        std::vector<sTransform> before{clip.mTravel[clip.mTravel.size() - 2]};
        KeepSigns(travel, &before);
    }
    clip.mTravel.back() = travel[0];
}

sClip cSampler::Action(unsigned int slot)
{
    std::unique_ptr<measure::cHost> host = Host();
    cActor& a = host->actor();
    const sOrder order = OrderBones(a.mArmature);
    const std::vector<sJoint> joints = Skeleton(a.mArmature, order);
    const cAction& action = a.mAction[slot];
    const unsigned int dt = mOpt.mFrameMs;
    // A loop lasts the action's keyed time (from the restart to its length)
    // rounded up to whole frames, and at least one frame.
    const double loopFrames = std::max(1.0, std::ceil(((double)action.mLength - kRestartTime + 1) / dt));
    Budget(loopFrames * mOpt.mCycles + 1, joints.size(), "the action " + QuoteName(action.mName));

    sSteering steering;
    steering.mWalk = slot != kStandSlot;
    a.mWalkCycle = slot == kSecondWalkSlot ? kSecondWalkSlot : kWalkSlot;
    a.mCurrentAction = a.mNextAction = slot;
    a.mTime = kRestartTime;
    // One loop first, so that the locks hold the feet as they do in a
    // steady walk; the clip starts where the clock restarts.
    for (unsigned int clock = a.mTime;; clock = a.mTime)
    {
        host->Frame(dt, steering);
        if (a.mTime < clock || (a.mTime == kRestartTime && clock == kRestartTime))
            break;
    }
    sClip clip;
    clip.mName = action.mName;
    clip.mFrameTime = dt / 1000.0;
    Record(*host, order, joints, clip);
    for (unsigned int restarts = 0; restarts < mOpt.mCycles;)
    {
        const unsigned int clock = a.mTime;
        host->Frame(dt, steering);
        if (a.mTime < clock || (a.mTime == kRestartTime && clock == kRestartTime))
            ++restarts;
        Record(*host, order, joints, clip);
    }
    StartOverTheOrigin(clip, joints[0], mOpt.mInPlace);
    return clip;
}

sClip cSampler::Path()
{
    std::unique_ptr<measure::cHost> host = Host();
    const cActor& a = host->actor();
    const sOrder order = OrderBones(a.mArmature);
    const std::vector<sJoint> joints = Skeleton(a.mArmature, order);
    const unsigned int dt = mOpt.mFrameMs;
    double frames = 1;
    for (const sPathStep& s : mOpt.mPath)
        frames += StepFrames(s, dt);
    Budget(frames, joints.size(), "the path");

    sClip clip;
    clip.mName = "path";
    clip.mFrameTime = dt / 1000.0;
    // The demo's first frame: the character as loaded, standing.
    host->Frame(dt, sSteering());
    Record(*host, order, joints, clip);
    for (const sPathStep& s : mOpt.mPath)
    {
        sSteering steering;
        steering.mWalk = s.mKind != sPathStep::kStand;
        steering.mTurnLeft = s.mKind == sPathStep::kLeft;
        steering.mTurnRight = s.mKind == sPathStep::kRight;
        for (unsigned long f = StepFrames(s, dt); f > 0; --f)
        {
            host->Frame(dt, steering);
            Record(*host, order, joints, clip);
        }
    }
    return clip;
}

// The slots to sample: all, or the one whose action is called name.
std::vector<unsigned int> SlotsToSample(const std::string& text, const std::string& name)
{
    std::vector<unsigned int> slots;
    measure::cHost host(measure::sActorText{text});
    std::string names;
    for (unsigned int slot = 0; slot < kActionSlots; ++slot)
    {
        const std::string& n = host.actor().mAction[slot].mName;
        if (name.empty() || n == name)
            slots.push_back(slot);
        names += (slot ? ", " : "") + QuoteName(n);
    }
    if (slots.empty())
        throw cExportError("--action: the actor has no action " + QuoteName(name) + " (it has " + names + ")");
    return slots;
}

} // namespace

sScene SampleActor(const std::string& actorText, const sOptions& opt)
{
    CheckOptions(opt);
    cSampler sampler(actorText, opt);
    sScene scene;
    scene.mInPlace = opt.mInPlace;
    {
        measure::cHost host(measure::sActorText{actorText});
        const cActor& a = host.actor();
        const sOrder order = OrderBones(a.mArmature);
        scene.mName = a.mArmature.mName;
        scene.mJoints = Skeleton(a.mArmature, order);
        TakeBody(a.mBody, order, scene.mBody);
    }
    if (!opt.mPath.empty())
        scene.mClips.push_back(sampler.Path());
    else
        for (unsigned int slot : SlotsToSample(actorText, opt.mAction))
            scene.mClips.push_back(sampler.Action(slot));
    return scene;
}

} // namespace qvexport
