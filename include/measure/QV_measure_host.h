// The character as the demo hosts it, for the measuring tools: an actor file
// read by the core's reader, readied by PrepareCharacter and played frame by
// frame through StepCharacter, as the demo plays it. What is measured of the
// feet is what the core's foot locks hold: their contact points (heel, ball,
// toe tip), so that the traces and the demo agree on where a foot touches
// the ground.
#ifndef QV_MEASURE_HOST_H
#define QV_MEASURE_HOST_H

#include <string>

#include "QV_actor.h"
#include "QV_character.h"
#include "QV_error.h"

namespace measure
{

// Every failure of the measuring layer and its tools. The message is one
// line: a control character in it (a path, a name) is shown as '?'.
class cMeasureError : public cQVError
{
public:
    explicit cMeasureError(const std::string& what);
};

// The demo's motion switches (cActor::mCrossFade, cActor::mContactLock),
// both off as the demo starts.
struct sSwitches
{
    bool mCrossFade = false;
    bool mContactLock = false;
};

// The text of an actor file, to host it from memory rather than a path.
struct sActorText
{
    const std::string& mText;
};

// Foot sides, in the order the traces keep them.
enum
{
    kRight = 0,
    kLeft = 1
};

class cHost
{
public:
    // Reads the actor file at path, or the text given. Throws the reader's
    // cXmlError for a file it refuses and cMeasureError, with the demo's
    // message, for one the demo refuses to play.
    explicit cHost(const std::string& path, const sSwitches& switches = sSwitches());
    explicit cHost(const sActorText& text, const sSwitches& switches = sSwitches());
    cHost(const cHost&) = delete;
    cHost& operator=(const cHost&) = delete;

    cActor& actor() { return mActor; }
    const cActor& actor() const { return mActor; }

    // One unpaused frame of the demo, dt ms long: StepCharacter with these
    // requests (the walk cycle is the actor's mWalkCycle).
    void Frame(unsigned int dt, const sSteering& steering) { StepCharacter(mActor, dt, steering); }
    void Frame(unsigned int dt, bool walk);

    // The top of the skeleton at rest (every bone's head and tip), above
    // the ground: the scale the traces' tolerances are given in.
    double Height() const { return mHeight; }

    // The foot lock of one side (kRight, kLeft): its bone, its heel in the
    // foot's frame, its toes.
    const cFootLock& Foot(int side) const { return side == kRight ? mActor.mRightFoot : mActor.mLeftFoot; }
    // Where that foot's contact points are now (cFootLock::kHeel, kBall,
    // kToeTip), as the foot lock finds them, in the actor's scene: add
    // the origin shift (Unshifted) for the floor the walk began on.
    void ContactPoints(int side, cVector3D out[cFootLock::kContactPoints]) const { Foot(side).ContactPoints(out); }
    // Where a point of the actor's scene is on the floor the walk began on:
    // far out, the actor moves its scene back by whole units now and then
    // (cActor::mOriginShift).
    cVector3D Unshifted(const cVector3D& p) const;
    // The root bone's head on that floor.
    cVector3D Root() const;
    // A bone's tip (its head plus its length along its y axis), world.
    static cVector3D Tip(const cBone& b) { return b.mWorldTransform * cVector3D(0.0f, b.mLength, 0.0f); }
    // No not-a-number or infinity in any world matrix.
    bool Finite() const;

private:
    cActor mActor;
    double mHeight = 0;

    void Prepare(const sSwitches& switches);
};

} // namespace measure

#endif // QV_MEASURE_HOST_H
