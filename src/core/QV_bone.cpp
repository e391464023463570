#include "QV_bone.h"

void cBone::Update()
{
    cMatrix4D r;
    r.setFromQuat(mOrientation);
    mTransform.setRotation(mRestTransform * r);

    if (mParent)
        mWorldTransform = mParent->mWorldTransform * mTransform;
    else
        mWorldTransform = mTransform;

    for (cBone* child : mChildren)
        child->Update();
}
