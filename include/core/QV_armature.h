#ifndef QV_ARMATURE_H
#define QV_ARMATURE_H

#include <string>
#include <vector>

#include "QV_bone.h"

// Owns the bones of a skeleton in one vector, sized once by the loader and
// never resized afterwards: every link points into it.
class cArmature
{
public:
    std::string mName;
    std::vector<cBone> mBones;
    cBone* mRootBone;

    cArmature() : mRootBone(nullptr) {}
    ~cArmature() = default;

    // Recomputes the world matrix of every bone reachable from the root. An
    // armature without a root (nothing loaded yet) is left as it is.
    void Update()
    {
        if (mRootBone)
            mRootBone->Update();
    }

    // Draws every bone through its world matrix: mode 1 an octahedral outline,
    // mode 2 a line, any other mode nothing. Leaves the model-view matrix as
    // it found it. Defined by the drawing layer (QV_draw.cpp): the core has
    // no OpenGL.
    void Draw(unsigned int mode);
};

#endif // QV_ARMATURE_H
