#include "QV_character.h"

#include <math.h>

#include <algorithm>
#include <string>

#include "QV_error.h"

namespace
{
// Keeps the heading within one turn, so that adding small steps stays exact
// however long the user turns.
float WrapHeading(float heading)
{
    if (heading >= 360.0f || heading <= -360.0f)
        heading = fmodf(heading, 360.0f);
    return heading;
}

bool HasBone(const cActor& actor, const char* name)
{
    const std::vector<cBone>& bones = actor.mArmature.mBones;
    return std::find(bones.begin(), bones.end(), std::string(name)) != bones.end();
}
// The foot locks take "forward" from the root's head to its first child's
// head. A first child whose head sits on the root's gives no direction at
// all, and no lock ever engages: the character would walk in place.
bool FirstChildLeavesTheRoot(const cActor& actor)
{
    const cBone& root = *actor.mArmature.mRootBone;
    const cBone& child = *root.mChildren[0];
    const cVector3D offset =
        (root.mRestTransform * child.mRestTransform).getTransform() - root.mRestTransform.getTransform();
    float longest = 0.0f;
    for (const cBone& b : actor.mArmature.mBones)
        longest = std::max(longest, fabsf(b.mLength));
    const double distance = sqrt((double)offset.mData[0] * offset.mData[0] + (double)offset.mData[1] * offset.mData[1] +
                                 (double)offset.mData[2] * offset.mData[2]);
    return distance > 1e-3 * (double)longest && distance > 0.0;
}

} // namespace

void StepCharacter(cActor& actor, unsigned int dt, const sSteering& steering)
{
    if (steering.mWalk)
    {
        if (steering.mTurnLeft)
            actor.mHeading = WrapHeading((float)(actor.mHeading + dt * kTurnRate));
        if (steering.mTurnRight)
            actor.mHeading = WrapHeading((float)(actor.mHeading - dt * kTurnRate));
        if (actor.mNextAction != actor.mWalkCycle)
            actor.mNextAction = actor.mWalkCycle;
    }
    else if (actor.mNextAction != kStandSlot)
    {
        actor.mNextAction = kStandSlot;
    }
    actor.Animate(dt);
}

std::string WalkerProblem(const cActor& actor)
{
    int actions = 0;
    for (const cAction& a : actor.mAction)
        if (!a.mChannels.empty())
            ++actions;
    static_assert(kActionSlots == 3, "the message spells the number of slots");
    if (actions < (int)kActionSlots)
        return "XML ERROR: the walker needs three actions (walk, stand, second walk).";
    if (!HasBone(actor, kLeftFootBone))
        return std::string("XML ERROR: the walker needs a left foot bone named '") + kLeftFootBone + "'.";
    if (!HasBone(actor, kRightFootBone))
        return std::string("XML ERROR: the walker needs a right foot bone named '") + kRightFootBone + "'.";
    const cBone* root = actor.mArmature.mRootBone;
    if (!root || root->mChildren.empty())
        return "XML ERROR: the walker's root bone needs at least one child.";
    if (!FirstChildLeavesTheRoot(actor))
        return "XML ERROR: the root bone's first child " + QuoteName(root->mChildren[0]->mName) +
               " sits on the root, so the foot locks have no forward direction and the character would walk "
               "in place; make the root's first child a bone ahead of the root.";
    return std::string();
}

std::string PrepareCharacter(cActor& actor)
{
    std::string problem = WalkerProblem(actor);
    if (!problem.empty())
        return problem;
    actor.SetConstraints();
    actor.UpdateArmature();
    actor.PrepareCrossFade();
    return problem;
}
