// The walker's skeleton: its bones, their names and their rest placement.
//
// Authoring frame: every position and rotation of the walker tools is
// expressed in the root bone's rest frame, "body coordinates": +x to the
// character's right, +y forward (the way it faces), +z up, origin at the
// root bone's head. The file's model frame is +z up as well; the root's rest
// matrix turns body coordinates half a turn about z (so the character faces
// the viewer at start-up) and lifts them to hip height.
#ifndef QV_WALKER_SKELETON_H
#define QV_WALKER_SKELETON_H

#include <string>
#include <vector>

#include "QV_gait_math.h"
#include "QV_gait_params.h"

namespace walker
{

// Bone indices in file order. The feet carry the names the character looks
// for (QV_character.h), which BoneName gives them.
enum BoneIndex
{
    kRoot = 0,  // Bone: pelvis front, points forward from above the hip centre
    kLink,      // Bone.001: from the root's tail back and down to the hip centre
    kThighR,    // Bone.002
    kThighL,    // Bone.003
    kShinR,     // Bone.004
    kShinL,     // Bone.005
    kSpine,     // Bone.006
    kFootR,     // Bone.007, the right foot bone
    kFootL,     // Bone.008, the left foot bone
    kToesR,     // Bone.009
    kToesL,     // Bone.010
    kChest,     // Bone.011
    kNeck,      // Bone.012
    kHead,      // Bone.013
    kClavicleR, // Bone.014
    kUpperArmR, // Bone.015
    kForearmR,  // Bone.016
    kHandR,     // Bone.017
    kClavicleL, // Bone.018
    kUpperArmL, // Bone.019
    kForearmL,  // Bone.020
    kHandL,     // Bone.021
    kHipR,      // Bone.022: pelvis side, hip centre to the right hip joint
    kHipL,      // Bone.023
    kPelvis,    // Bone.024: sacrum, up from the hip centre; carries spine and legs
    kBoneCount
};

// "Bone", "Bone.001", ... by index, except that the feet have the foot bone
// names of QV_character.h.
std::string BoneName(int i);

struct BoneDef
{
    int parent;
    V3 head; // rest head, body coordinates
    V3 dir;  // rest direction, body coordinates
    double len;
    M3 rest; // rest orientation in body coordinates (y along the bone)
};

// The rest skeleton of a body, indexed by BoneIndex.
std::vector<BoneDef> MakeSkeleton(const Body& b);

// Bone indices in the order the hierarchy lists them: the root's first (only)
// child is the link, whose head lies straight ahead of the root at its height
// (the foot locks take that direction as forward).
std::vector<int> HierarchyOrder();

} // namespace walker

#endif // QV_WALKER_SKELETON_H
