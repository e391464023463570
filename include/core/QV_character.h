#ifndef QV_CHARACTER_H
#define QV_CHARACTER_H

// The walking character's rules, in one place, and its per-frame step.
//
// The demo, the walker tools and the tests all drive the character through
// StepCharacter, so what they measure is what the demo shows. The rules an
// actor file must meet to be played (all kActionSlots actions, the two foot
// bones, a root with a child) follow from the constants here.

#include <string>

#include "QV_actor.h"

// Foot bones, by exact name: the foot locks hold these bones' heads.
constexpr const char* kLeftFootBone = "Bone.008";
constexpr const char* kRightFootBone = "Bone.007";

// Action slots: what the character plays walking (kWalkSlot or
// kSecondWalkSlot, as cActor::mWalkCycle says) and standing.
constexpr unsigned int kWalkSlot = 0;
constexpr unsigned int kStandSlot = 1;
constexpr unsigned int kSecondWalkSlot = 2;
static_assert(kSecondWalkSlot < kActionSlots, "every slot the character plays is one of the actor's");

// An action's clock restarts here, not at 0, once it passes the action's
// length, milliseconds. A cycle meant to loop seamlessly is keyed from this
// time to its length.
constexpr unsigned int kRestartTime = 34u;

// How fast the character turns while walking, degrees per millisecond.
constexpr double kTurnRate = 0.1;

// What the player asks of the character this frame.
struct sSteering
{
    bool mWalk = false;      // walk (the actor's walk cycle) rather than stand
    bool mTurnLeft = false;  // raise the heading, while walking
    bool mTurnRight = false; // lower the heading, while walking
};

// One unpaused frame of the character, dt milliseconds long: while walking,
// each turn flag moves the heading by dt * kTurnRate degrees (both cancel),
// kept within one turn, and the walk cycle is requested; standing requests
// kStandSlot. Then cActor::Animate(dt). Allocates nothing.
void StepCharacter(cActor& actor, unsigned int dt, const sSteering& steering);

// Why the actor cannot be played as the walking character, or an empty
// string when it can: fewer than three actions, a missing foot bone, or a
// root bone without children. The message reads as one line.
std::string WalkerProblem(const cActor& actor);

// Makes a freshly loaded actor ready to be played as the walking character:
// checks it (WalkerProblem), attaches the foot locks to its feet, computes
// its world matrices and builds what the cross-fade needs, so that no later
// frame allocates. Returns why it cannot be played, with the actor left as
// it was read, or an empty string once it is ready. Every program that plays
// an actor file calls this once after loading it.
std::string PrepareCharacter(cActor& actor);

#endif // QV_CHARACTER_H
