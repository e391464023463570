#ifndef QV_KEYFRAME_H
#define QV_KEYFRAME_H

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

#endif // QV_KEYFRAME_H
