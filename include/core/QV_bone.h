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
    // What the world pass reads and writes comes first and together (208
    // bytes), the orientation and local matrix that a pose copies first of
    // all (80 bytes).
    cQuaternion mOrientation;  // rotation relative to the rest orientation
    cMatrix4D mTransform;      // local, relative to the parent
    cMatrix4D mRestTransform;  // rest (bind) local transform, constant after loading
    cMatrix4D mWorldTransform; // bone frame in world space
    float mLength;
    cBone* mParent;
    std::vector<cBone*> mChildren;
    std::string mName;

    cBone() : mLength(0.0f), mParent(nullptr) {}
    cBone(const cBone&) = default;
    cBone& operator=(const cBone&) = default;
    ~cBone() = default;

    // Exact, case-sensitive name match, so a linear find looks a bone up by name.
    bool operator==(const std::string& rhs) const { return mName == rhs; }

    // Rebuilds the local rotation from the rest matrix and the orientation,
    // keeps the local translation, recomputes the world matrix, then updates
    // the children in order (depth first, pre-order).
    void Update();

    // This bone's share of Update, the children left alone: the local
    // rotation from the rest matrix and the orientation (the local
    // translation kept), then the world matrix from parentWorld, or the
    // local matrix itself when it is null.
    void UpdateWorld(const cMatrix4D* parentWorld)
    {
        mTransform.setRotationOf(mRestTransform, mOrientation);
        mWorldTransform = parentWorld ? *parentWorld * mTransform : mTransform;
    }
};

#endif // QV_BONE_H
