#ifndef QV_BONE_H
#define QV_BONE_H

#include <string>
#include <vector>

#include "QV_matrix.h"
#include "QV_quaternion.h"

// One bone of an armature. Its frame has the head at the origin and the bone
// along local +y for mLength. Links are non-owning pointers into the owning
// armature's bone vector; copying a bone copies the links as they are.
class cBone
{
public:
    std::string mName;
    cBone* mParent;
    std::vector<cBone*> mChildren;
    float mLength;
    cMatrix4D mTransform;      // local, relative to the parent
    cMatrix4D mRestTransform;  // rest (bind) local transform, constant after loading
    cMatrix4D mWorldTransform; // bone frame in world space
    cQuaternion mOrientation;  // rotation relative to the rest orientation

    cBone() : mParent(nullptr), mLength(0.0f) {}
    cBone(const cBone&) = default;
    cBone& operator=(const cBone&) = default;
    ~cBone() = default;

    // Exact, case-sensitive name match, so a linear find looks a bone up by name.
    bool operator==(const std::string& rhs) const { return mName == rhs; }

    // Rebuilds the local rotation from the rest matrix and the orientation,
    // keeps the local translation, recomputes the world matrix, then updates
    // the children in order (depth first, pre-order).
    void Update();
};

#endif // QV_BONE_H
