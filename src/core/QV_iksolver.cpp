#include "QV_iksolver.h"

#include <algorithm>

bool cIK::Setup(cArmature& arm)
{
    mIKBones[1] = nullptr;
    if (!mIKBones[0])
        return false;

    std::vector<cBone>& bones = arm.mBones;
    auto end = std::find(bones.begin(), bones.end(), mIKBones[0]->mName);
    if (end == bones.end() || !mIKBones[0]->mParent)
        return false;
    auto parent = std::find(bones.begin(), bones.end(), mIKBones[0]->mParent->mName);
    if (parent == bones.end())
        return false;

    mIndices[0] = (unsigned int)(end - bones.begin());
    mIndices[1] = (unsigned int)(parent - bones.begin());
    mIKBones[1] = &*parent;
    return true;
}

void cIK::EvaluateAt(unsigned int /*t*/, cAction& /*action*/)
{
    if (!mIKBones[0] || !mIKBones[1])
        return;

    // With IK_MAX_TRIES at 0 a call makes exactly one pass; a larger limit
    // repeats passes while the tip is still off the target.
    const unsigned int maxTries = IK_MAX_TRIES;
    unsigned int tries = 0;
    unsigned int link = 0;
    cQuaternion orient;
    cVector3D diff;

    do
    {
        const cVector3D root = mIKBones[link]->mWorldTransform.getTransform();
        cVector3D effector = mIKBones[0]->mWorldTransform * cVector3D(0.0f, mIKBones[0]->mLength, 0.0f);
        diff = effector - mTarget;

        if (diff.length() > IK_THRESHOLD)
        {
            cVector3D toeffector = effector - root;
            cVector3D totarget = mTarget - root;
            toeffector.mData[2] = 0.0f;
            totarget.mData[2] = 0.0f;
            toeffector.normalize();
            totarget.normalize();

            const float cosAngle = totarget.dot(toeffector);
            if (cosAngle < 0.999f)
            {
                const cVector3D cross = toeffector.cross(totarget);
                const float turnAngle = Math::invcos(cosAngle);
                if (cross.mData[2] >= 0.0f)
                    orient.setFromEuler(0.0f, 0.0f, -turnAngle);
                else if (cross.mData[2] < 0.0f)
                    orient.setFromEuler(0.0f, 0.0f, turnAngle);

                // The sum moves the orientation part of the way towards the
                // turn. An orientation exactly opposite to the turn sums to
                // zero, which has no direction: the joint is then left alone.
                cQuaternion turned = mIKBones[link]->mOrientation + orient;
                if (turned.normalize() > 0.0f)
                {
                    mIKBones[link]->mOrientation = turned;
                    mIKBones[link]->Update();
                }
            }

            if (++link > 1)
                link = 0;
        }

        effector = mIKBones[0]->mWorldTransform * cVector3D(0.0f, mIKBones[0]->mLength, 0.0f);
        mEffector = effector;
        diff = mTarget - effector;
        ++tries;
    } while (tries < maxTries && diff.length() > IK_THRESHOLD);
}
