#ifndef QV_TEST_SYNTHETIC_ACTOR_H
#define QV_TEST_SYNTHETIC_ACTOR_H

// Builds an in-memory actor of any size, filled the way the actor file loader
// fills one, for tests and benchmarks that need more bones than a hand-made
// skeleton. Header only; include it wherever it is needed.
//
//     cActor actor;                                  // never copied afterwards:
//     qvtest::BuildSyntheticActor(actor, 200, 16);   // the bones point at each other
//     actor.Animate(16);
//
// What it builds:
// - `bones` bones named "Bone", "Bone.001", "Bone.002", ... in vector order, so
//   an actor of 9 bones or more has the feet "Bone.007" and "Bone.008" and
//   SetConstraints attaches both foot locks (with fewer, the locks stay
//   unattached and Animate skips them).
// - A binary tree in heap order: bone i > 0 hangs from bone (i - 1) / 2 and
//   is listed in its parent's children in index order, so the root's first
//   child is bone 1 and the depth is about log2(bones).
// - Bone lengths shrink slowly with depth; a child's head sits at its
//   parent's tail, tilted by a fixed rest rotation (left and right children
//   opposite ways) so the tree spreads out instead of stacking up.
// - The root's rest matrix has translation (0, 0, 1) and is turned by -90
//   degrees about x, as the loader does, so the root stands one unit above
//   the ground with its +z axis on the vertical.
// - An action in every slot (kActionSlots): "walk", "stand" and "walk2" of
//   `lengthMs` milliseconds, each with one channel per bone of `keys` keys
//   spread evenly from 0 to lengthMs. Key values are small, deterministic
//   rotations (about 30 degrees at most), unit length, different per bone,
//   key and action.
// - Both poses set up from the armature, then SetConstraints and
//   UpdateArmature: the foot locks and first world matrices PrepareCharacter
//   gives, without its checks (an actor of any size is built) or the
//   cross-fade's index (Animate builds it on the first frame that needs it).
//
// The actor must be freshly constructed and must not be copied or moved
// afterwards (pointers lead into its own bone vector).

#include <cstdio>
#include <string>

#include "QV_actor.h"
#include "QV_matrix.h"
#include "QV_quaternion.h"
#include "QV_xml.h"

namespace qvtest
{
// The name of the bone at vector index i: "Bone", "Bone.001", ...
inline std::string SyntheticBoneName(unsigned int i)
{
    if (i == 0)
        return "Bone";
    char buf[32];
    std::snprintf(buf, sizeof buf, "Bone.%03u", i);
    return buf;
}

// A deterministic unit quaternion for (bone, key, action): a turn of up to
// about 30 degrees about an axis that varies with its arguments.
inline cQuaternion SyntheticKeyValue(unsigned int bone, unsigned int key, unsigned int action)
{
    const float a = (float)((bone * 7u + key * 13u + action * 29u) % 61u) - 30.0f; // -30 ... 30 degrees
    const float ax = (float)((bone + key) % 5u) - 2.0f;
    const float ay = (float)((bone * 3u + action) % 7u) - 3.0f;
    const float az = 1.0f + (float)(key % 3u);
    cVector3D axis(ax, ay, az); // az >= 1: never the zero vector
    axis.normalize();
    const float s = Math::sin(a / 2.0f);
    cQuaternion q(axis.mData[0] * s, axis.mData[1] * s, axis.mData[2] * s, Math::cos(a / 2.0f));
    q.normalize();
    return q;
}

// The smallest armature with a root and a child: "Bone" at the origin and
// "Bone.001" one unit above it, both at rest, no lengths, no world matrices
// yet. The armature must not be copied afterwards.
inline void BuildTwoBoneArmature(cArmature& arm)
{
    arm.mBones.clear();
    arm.mBones.resize(2);
    arm.mBones[0].mName = "Bone";
    arm.mBones[1].mName = "Bone.001";
    arm.mBones[1].mRestTransform.setTransform(0, 1, 0);
    for (cBone& b : arm.mBones)
        b.mTransform = b.mRestTransform;
    arm.mBones[1].mParent = &arm.mBones[0];
    arm.mBones[0].mChildren.push_back(&arm.mBones[1]);
    arm.mRootBone = &arm.mBones[0];
}

inline void BuildSyntheticActor(cActor& actor, unsigned int bones, unsigned int keys, unsigned int lengthMs = 1000)
{
    if (bones == 0)
        bones = 1;
    if (keys == 0)
        keys = 1;

    actor.mName = "synthetic";
    cArmature& arm = actor.mArmature;
    arm.mBones.clear();
    arm.mBones.resize(bones); // sized once: the links below point into it

    for (unsigned int i = 0; i < bones; ++i)
    {
        cBone& b = arm.mBones[i];
        b.mName = SyntheticBoneName(i);
        unsigned int depth = 0;
        for (unsigned int j = i; j > 0; j = (j - 1) / 2)
            ++depth;
        b.mLength = 1.0f / (1.0f + 0.1f * (float)depth);

        cMatrix4D rest;
        if (i == 0)
        {
            rest.setTransform(0.0f, 0.0f, 1.0f);
            rest = UprightRootRest(rest); // as the loader turns the root
        }
        else
        {
            const unsigned int parent = (i - 1) / 2;
            const float side = (i % 2 == 1) ? 1.0f : -1.0f;
            rest.setFromEuler(10.0f * side, 0.0f, 25.0f * side);
            rest.setTransform(0.0f, arm.mBones[parent].mLength, 0.0f);
            b.mParent = &arm.mBones[parent];
            arm.mBones[parent].mChildren.push_back(&b);
        }
        b.mRestTransform = rest;
        b.mTransform = rest;
    }
    arm.mRootBone = &arm.mBones[0];

    actor.mPose.Setup(arm);
    actor.mPose2.Setup(arm);

    static const char* const names[kActionSlots] = {"walk", "stand", "walk2"};
    for (unsigned int a = 0; a < kActionSlots; ++a)
    {
        cAction& action = actor.mAction[a];
        action.mName = names[a];
        action.mLength = lengthMs;
        action.mChannels.clear();
        action.mChannels.resize(bones);
        for (unsigned int i = 0; i < bones; ++i)
        {
            KeyFrameVector& kf = action.mChannels[i].mKeyFrames;
            kf.resize(keys);
            for (unsigned int k = 0; k < keys; ++k)
            {
                kf[k].mTime = keys > 1 ? (unsigned int)((unsigned long long)lengthMs * k / (keys - 1)) : 0u;
                kf[k].mValue = SyntheticKeyValue(i, k, a);
            }
        }
    }

    actor.SetConstraints();
    actor.UpdateArmature();
}
} // namespace qvtest

#endif // QV_TEST_SYNTHETIC_ACTOR_H
