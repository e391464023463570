#ifndef QV_CONTACT_H
#define QV_CONTACT_H

#include "QV_bone.h"
#include "QV_footlock.h"
#include "QV_pose.h"

// The contact locks (cActor::mContactLock), one frame: each foot is held by
// the point it stands on (heel, ball or toe tip, cFootLock::ContactPoints)
// rather than its ankle, and the two feet move the pose's root by one shared
// horizontal correction. Their state is each foot lock's own (mContactLast,
// mContact, mContactPrimed, and the ankle lock's mLock, mLockedPosition,
// mOffset, mLastPosition, so that the ankle locks carry on seamlessly should
// the switch be turned off). root is the armature's root bone; it and both
// feet need current world matrices. The first frame after the ankle locks
// ran holds the ankles once and starts following the points. A lock without
// a bone is skipped. Allocates nothing.
// With stance (one of the two, in a stop's fade: cCrossFade::Stopping), that
// foot alone stands, and holds whichever way it would slide, not only
// backwards: the stand moves it under the root in every direction, and the
// root follows. The other swings (cActor keeps it clear of the ground).
void HoldContacts(cBone* root, cPose& pose, cFootLock& right, cFootLock& left, const cFootLock* stance = nullptr);

#endif // QV_CONTACT_H
