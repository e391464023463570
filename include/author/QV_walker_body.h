// The walker's skinned body: a smooth, closed figure fitted to its rest
// skeleton, written into the actor file with the bones.
//
// The figure is made of closed tubes, each lofted along a chain of bones at
// rest (torso, neck, head, both legs, arms with their hands, feet), with a
// rounded cross-section whose size follows a profile along the chain and
// round caps at both ends. A tube's vertices follow the bones of its chain,
// blending smoothly from one bone to the next over a short stretch around
// each joint, so that knees and elbows bend without tearing; where two tubes
// meet (shoulders, hips, ankles, neck), one ends inside the other.
#ifndef QV_WALKER_BODY_H
#define QV_WALKER_BODY_H

#include <vector>

#include "QV_actor_file.h"
#include "QV_gait_params.h"
#include "QV_walker_skeleton.h"

namespace walker
{

// Sizes of the figure, units; half-widths run along the character's x (its
// right), half-depths along y (forward). The skeleton fixes every length.
struct BodyShape
{
    double torsoHipWidth = 0.35, torsoHipDepth = 0.22;     // at the hip joints
    double torsoWaistWidth = 0.28, torsoWaistDepth = 0.19; // at the foot of the spine bone
    double torsoChestWidth = 0.32, torsoChestDepth = 0.23; // halfway up the chest bone
    double torsoShoulderWidth = 0.34, torsoShoulderDepth = 0.2;
    double torsoBelowHips = 0.26;              // the torso's rounded bottom below the hip joints
    double neck = 0.115;                       // radius
    double headWidth = 0.18, headDepth = 0.24; // half of each; the head bone gives its height
    double thighTop = 0.16, knee = 0.105, calf = 0.115, ankle = 0.062;      // leg radii
    double upperArm = 0.092, elbow = 0.068, forearm = 0.074, wrist = 0.047; // arm radii
    double handWidth = 0.072, handThickness = 0.03;                         // half of each
    double handLength = 0.36;                                               // wrist to finger tips
    double heelBehindAnkle = 0.12;                                          // how far the foot reaches behind the ankle
    double footWidth = 0.085, instep = 0.09, toeHeight = 0.035;             // half-width at the ball, half-heights
    double blend = 0.12; // half the stretch over which a vertex passes from one bone to the next
};

// The body of the skeleton of b (MakeSkeleton(b)) in body coordinates
// (QV_walker_skeleton.h): per vertex a position, a unit normal (the average
// of its triangles' normals, weighted by their areas) and one to four bones
// with weights summing to 1; triangles counter-clockwise seen from outside;
// no texture.
author::sFileBody MakeBody(const Body& b, const BodyShape& shape = BodyShape());

} // namespace walker

#endif // QV_WALKER_BODY_H
