#ifndef _QV_KEYFRAME_H_
#define _QV_KEYFRAME_H_

#include <vector>

#include "QV_quaternion.h"

// One rotation key: a bone's local orientation at mTime milliseconds.
struct sKeyFrame
{
    unsigned int mTime = 0;
    cQuaternion mValue;
};

typedef std::vector<sKeyFrame> KeyFrameVector;
typedef KeyFrameVector::iterator KeyFrameIterator;

#endif // _QV_KEYFRAME_H_
