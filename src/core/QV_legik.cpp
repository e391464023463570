// Two-bone reach of a leg (sLegReach): the knee's angle, then the hip's turn.
#include "QV_legik.h"

#include <math.h>

#include <algorithm>

namespace
{
bool Finite(const cVector3D& v) { return isfinite(v.mData[0]) && isfinite(v.mData[1]) && isfinite(v.mData[2]); }

// The rotation by angle (radians) about the unit axis, as a matrix.
cMatrix4D AxisAngle(const cVector3D& axis, float angle)
{
    const float c = cosf(angle), s = sinf(angle), t = 1.0f - c;
    const float x = axis.mData[0], y = axis.mData[1], z = axis.mData[2];
    cMatrix4D m;
    m._m[0] = t * x * x + c;
    m._m[1] = t * x * y + s * z;
    m._m[2] = t * x * z - s * y;
    m._m[4] = t * x * y - s * z;
    m._m[5] = t * y * y + c;
    m._m[6] = t * y * z + s * x;
    m._m[8] = t * x * z + s * y;
    m._m[9] = t * y * z - s * x;
    m._m[10] = t * z * z + c;
    return m;
}

// The rotation part of m, transposed: its inverse where it is a rotation.
cMatrix4D TransposedRotation(const cMatrix4D& m)
{
    cMatrix4D t;
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            t._m[c * 4 + r] = m._m[r * 4 + c];
    return t;
}

// The angle at the middle of a triangle with sides a and b meeting there
// and c opposite, radians; the sides are clamped to a triangle.
float AngleOpposite(float a, float b, float c)
{
    const float cosine = (a * a + b * b - c * c) / (2.0f * a * b);
    return acosf(std::max(-1.0f, std::min(1.0f, cosine)));
}

// Turns bone (index i) by the world rotation turn about its head: its new
// orientation, written into pose when finite.
bool Turn(const cArmature& arm, unsigned int i, const cMatrix4D& turn, cPose& pose)
{
    const cBone& b = arm.mBones[i];
    // The world rotation is parent * rest * orientation; turned, it is turn
    // times that, so the orientation becomes (parent * rest)^-1 * turn *
    // parent * rest * orientation.
    const cMatrix4D parent = b.mParent ? b.mParent->mWorldTransform : cMatrix4D();
    cMatrix4D frame = parent * b.mRestTransform;
    frame.setTransform(0.0f, 0.0f, 0.0f);
    cMatrix4D q;
    q.setFromQuat(pose.mPoseBones[i].mOrientation);
    const cMatrix4D turned = TransposedRotation(frame) * turn * frame * q;
    cQuaternion out;
    out.setFromMatrix(turned);
    if (!(out.normalize() > 0.0f) || !isfinite(out.mData[0] + out.mData[1] + out.mData[2] + out.mData[3]))
        return false;
    pose.mPoseBones[i].mOrientation = out;
    return true;
}
} // namespace

bool sLegReach::Validate(const cPose& pose) const
{
    if (!mArm || !mFoot || mArm->mBones.empty() || pose.mPoseBones.size() < mArm->mBones.size())
        return false;
    const cBone* base = mArm->mBones.data();
    const cBone* shin = mFoot->mParent;
    const cBone* thigh = shin ? shin->mParent : nullptr;
    for (const cBone* b : {mFoot, shin, thigh})
        if (!b || b < base || b >= base + mArm->mBones.size())
            return false;
    return Finite(mTarget);
}

bool sLegReach::Run(cPose& pose) const
{
    const cBone* base = mArm->mBones.data();
    const cBone* shin = mFoot->mParent;
    const cBone* thigh = shin->mParent;
    const cVector3D hip = thigh->mWorldTransform.getTransform();
    const cVector3D knee = shin->mWorldTransform.getTransform();
    const cVector3D ankle = mFoot->mWorldTransform.getTransform();
    const float upper = (knee - hip).length(), lower = (ankle - knee).length();
    cVector3D bend = (hip - knee).cross(ankle - knee);
    const float bendLength = bend.length();
    if (!(upper > 0.0f) || !(lower > 0.0f) || !(bendLength > 1e-6f * upper * lower))
        return false;
    bend /= bendLength;

    // The knee: from its angle now to the one that puts the ankle as far
    // from the hip as the target is (within the leg's reach).
    const float reach = std::max(fabsf(upper - lower), std::min(upper + lower, (mTarget - hip).length()));
    const float now = AngleOpposite(upper, lower, (ankle - hip).length());
    const float want = AngleOpposite(upper, lower, reach);
    const cMatrix4D kneeTurn = AxisAngle(bend, want - now);
    const cVector3D bentAnkle = knee + kneeTurn * (ankle - knee);

    // The hip: the shortest turn of the bent leg onto the target.
    cVector3D from = bentAnkle - hip, to = mTarget - hip;
    const float fromLength = from.length(), toLength = to.length();
    if (!(fromLength > 0.0f) || !(toLength > 0.0f))
        return false;
    from /= fromLength;
    to /= toLength;
    cVector3D axis = from.cross(to);
    const float sine = axis.length();
    const float angle = atan2f(sine, from.dot(to));
    const cMatrix4D hipTurn = sine > 1e-7f ? AxisAngle(axis / sine, angle) : cMatrix4D();

    // The shin turns by the knee's turn under the thigh as it is now; the
    // thigh's turn then carries it along, so the shin ends turned by the
    // hip's turn after the knee's.
    // The foot turns back by both, so that it keeps its turn in the world
    // and rises or falls whole (a foot carried along would tip its toes).
    const unsigned int ti = (unsigned int)(thigh - base), si = (unsigned int)(shin - base);
    const unsigned int fi = (unsigned int)(mFoot - base);
    const cQuaternion before[3] = {pose.mPoseBones[ti].mOrientation, pose.mPoseBones[si].mOrientation,
                                   pose.mPoseBones[fi].mOrientation};
    if (Turn(*mArm, si, kneeTurn, pose) && Turn(*mArm, ti, hipTurn, pose) &&
        Turn(*mArm, fi, TransposedRotation(hipTurn * kneeTurn), pose))
        return true;
    pose.mPoseBones[ti].mOrientation = before[0];
    pose.mPoseBones[si].mOrientation = before[1];
    pose.mPoseBones[fi].mOrientation = before[2];
    return false;
}
