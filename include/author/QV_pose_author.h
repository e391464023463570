// Posing the walker: from a pelvis state, trunk and arm rotations and two
// ankle targets to every bone's frame (the legs by two-bone inverse
// kinematics), and from a pose to the keys of the actor file. Shared by the
// walk and the standing models.
#ifndef QV_POSE_AUTHOR_H
#define QV_POSE_AUTHOR_H

#include <vector>

#include "QV_gait_math.h"
#include "QV_gait_params.h"
#include "QV_walker_skeleton.h"

namespace walker
{

struct Pose
{
    M3 W[kBoneCount];    // bone frames, body coordinates
    V3 head[kBoneCount]; // bone heads, body coordinates
};

struct PelvisState
{
    double yawLink = 0; // swings the hip centre sideways
    double pitch = 0;   // link pitch: lowers the hip centre
    double list = 0;    // pelvis, right side down positive
    double rot = 0;     // pelvis, right side forwards positive
    double tilt = 0;    // pelvis, top forwards positive
};

M3 LinkRotation(const PelvisState& s);
M3 PelvisWorld(const PelvisState& s);

struct LegTarget
{
    V3 ankle;
    double sole = 0; // foot pitch, toes up positive, body axes
    double toe = 0;  // toes pitch
};

class Author
{
public:
    explicit Author(const Body& b) : mBody(b), mSkel(MakeSkeleton(b)) {}

    const Body& body() const { return mBody; }
    const std::vector<BoneDef>& skeleton() const { return mSkel; }

    double GroundZ() const { return -mBody.RootHeight(); }
    double AnkleZ() const { return GroundZ() + mBody.ankleHeight; }

    // The hip centre (pelvis head) for a pelvis state; the root never turns.
    V3 HipCentre(const PelvisState& s) const;
    V3 HipJoint(const PelvisState& s, int side) const;
    // Distance from hip joint to ankle with the knee bent by `knee` degrees.
    double KneeDistance(double knee) const;
    // The link pitch that puts the hip joint of `side` `reach` away from the
    // ankle, the rest of the pelvis as in s: more pitch lowers the hips, so
    // the distance falls as the pitch grows. Bisection over -40 to 60 degrees.
    sBracket LinkPitchForReach(PelvisState s, int side, const V3& ankle, double reach, int iterations) const;

    // Two-bone leg solve: the knee bends forwards (towards `forward`).
    // Returns false when the ankle is out of reach (it is then placed as far
    // as the leg goes, straight towards the target).
    bool SolveLeg(const V3& hip, const V3& ankle, const V3& forward, M3& thighW, M3& shinW, V3& ankleOut,
                  double minKnee = 0.5) const;

    // Forward kinematics for the bones that follow their parents by
    // anatomical rotations, and the legs from their targets.
    struct PoseInput
    {
        PelvisState pelvis;
        M3 spineWorld, chestWorld, neckWorld, headWorld; // anatomical frames, body axes
        M3 clav[2], upper[2], fore[2], hand[2];          // relative anatomical rotations
        LegTarget leg[2];
    };

    // False when a leg cannot reach its target; reachError then grows to the
    // largest miss.
    bool Build(const PoseInput& in, Pose& pose, double* reachError = nullptr) const;

    // Local key of every bone: the rotation in the bone's rest frame that
    // carries its rest placement under its parent to the posed one.
    void Keys(const Pose& pose, Quat* keys) const;

private:
    Body mBody;
    std::vector<BoneDef> mSkel;
};

} // namespace walker

#endif // QV_POSE_AUTHOR_H
