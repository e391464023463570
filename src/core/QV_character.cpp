#include "QV_character.h"

#include <math.h>

#include <algorithm>
#include <string>

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
    if (actions < (int)kActionSlots)
        return "XML ERROR: the walker needs three actions (walk, stand, second walk).";
    if (!HasBone(actor, kLeftFootBone))
        return std::string("XML ERROR: the walker needs a left foot bone named '") + kLeftFootBone + "'.";
    if (!HasBone(actor, kRightFootBone))
        return std::string("XML ERROR: the walker needs a right foot bone named '") + kRightFootBone + "'.";
    if (!actor.mArmature.mRootBone || actor.mArmature.mRootBone->mChildren.empty())
        return "XML ERROR: the walker's root bone needs at least one child.";
    return std::string();
}
