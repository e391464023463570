// Contact locks (cActor::mContactLock): each foot is held by the point it
// stands on, and the two feet move the root by one shared correction.
#include "QV_contact.h"

#include <math.h>

namespace
{
bool Finite(const cVector3D& v) { return isfinite(v.mData[0]) && isfinite(v.mData[1]) && isfinite(v.mData[2]); }

// The lowest of the foot's contact points: the heel on landing, the ball or
// the toe tip once the heel has risen. A rolling foot turns about its lowest
// point, so that is the one point that stays put on the ground.
int LowestPoint(const cFootLock& lock, const cVector3D* points)
{
    int lowest = cFootLock::kHeel;
    const int count = lock.mToe ? cFootLock::kContactPoints : cFootLock::kToeTip;
    for (int k = cFootLock::kBall; k < count; ++k)
        if (points[k].mData[1] < points[lowest].mData[1])
            lowest = k;
    return lowest;
}
} // namespace

void HoldContacts(cBone* root, cPose& pose, cFootLock& right, cFootLock& left, const cFootLock* stance)
{
    if (!root || !pose.mPoseRoot)
        return;
    cFootLock* locks[2] = {&right, &left};
    cVector3D now[2][cFootLock::kContactPoints];
    cVector3D ankle[2];
    bool primed = true;
    for (int s = 0; s < 2; ++s)
    {
        if (!locks[s]->mBone)
            continue;
        locks[s]->ContactPoints(now[s]);
        ankle[s] = locks[s]->mBone->mWorldTransform.getTransform();
        primed = primed && locks[s]->mContactPrimed;
    }

    if (!primed)
    {
        // No previous frame to compare the contact points with (the first
        // frame, or the ankle locks ran last): the ankles are held this once,
        // and the contact points are followed from the corrected pose on.
        right.Evaluate(root, pose);
        left.Evaluate(root, pose);
        for (int s = 0; s < 2; ++s)
        {
            if (!locks[s]->mBone)
                continue;
            const cVector3D shift = right.mOffset + left.mOffset;
            for (int k = 0; k < cFootLock::kContactPoints; ++k)
                locks[s]->mContactLast[k] = now[s][k] + shift;
            locks[s]->mContactPrimed = true;
        }
        return;
    }

    // Which point each foot stands on, and how far it slid since the last
    // frame. A foot can stand only while that point slides backwards (the
    // clips play in place). Of the feet that do, the lower one stands; the
    // other one only as it comes down to it: a hundredth of its length
    // above, it has no say, and its say grows as it comes down. (A foot
    // swinging forwards does not count as the ground, however low it dips.)
    // Where both stand, the root takes the mean of their corrections,
    // weighted so.
    cVector3D dir;
    const bool dirDefined = LockDirection(root, dir);
    int contact[2] = {cFootLock::kHeel, cFootLock::kHeel};
    cVector3D slide[2];
    bool back[2] = {false, false};
    float weight[2] = {0.0f, 0.0f};
    float ground = INFINITY;
    for (int s = 0; s < 2; ++s)
    {
        if (!locks[s]->mBone)
            continue;
        if (dirDefined)
            locks[s]->mDir = dir;
        contact[s] = LowestPoint(*locks[s], now[s]);
        const cVector3D& p = now[s][contact[s]];
        slide[s] = locks[s]->mContactLast[contact[s]] - p;
        slide[s].mData[1] = 0.0f;
        back[s] = dirDefined && Finite(slide[s]) && (stance ? stance == locks[s] : slide[s].dot(dir) > 0.0f);
        if (back[s])
            ground = fminf(ground, p.mData[1]);
    }
    float total = 0.0f;
    cVector3D shift;
    for (int s = 0; s < 2; ++s)
    {
        if (!back[s])
            continue;
        const float band = 0.01f * fabsf(locks[s]->mBone->mLength);
        const float above = now[s][contact[s]].mData[1] - ground;
        const float down = band > 0.0f ? 1.0f - above / band : (above <= 0.0f ? 1.0f : 0.0f);
        if (down > 0.0f)
        {
            weight[s] = fminf(down, 1.0f);
            shift += slide[s] * weight[s];
            total += weight[s];
        }
    }
    if (total > 0.0f)
    {
        shift /= total;
        pose.mPoseRoot->mTransform.translate(shift);
    }

    for (int s = 0; s < 2; ++s)
    {
        cFootLock& lock = *locks[s];
        if (!lock.mBone)
            continue;
        const bool locked = weight[s] > 0.0f;
        if (locked && !lock.mLock)
            lock.mLockedPosition = now[s][contact[s]];
        lock.mLock = locked;
        lock.mContact = contact[s];
        // The shares of the two feet add up to the root's shift.
        lock.mOffset = locked ? shift * (weight[s] / total) : cVector3D();
        for (int k = 0; k < cFootLock::kContactPoints; ++k)
            lock.mContactLast[k] = now[s][k] + shift;
        // The ankle too, so that the ankle locks carry on seamlessly should
        // the switch be turned off.
        lock.mLastPosition = ankle[s] + shift;
    }
}
