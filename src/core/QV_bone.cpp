#include "QV_bone.h"

void cBone::Update()
{
    UpdateWorld(mParent ? &mParent->mWorldTransform : nullptr);
    for (cBone* child : mChildren)
        child->Update();
}
