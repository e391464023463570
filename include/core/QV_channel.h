#ifndef QV_CHANNEL_H
#define QV_CHANNEL_H

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "QV_keyframe.h"
#include "QV_lanes.h"
#include "QV_quaternion.h"

// The rotation keys of one bone within one action, in file order.
class cChannel
{
public:
    KeyFrameVector mKeyFrames;

    // Writes the orientation at t milliseconds into q: the last key not later
    // than t, interpolated with nlerp towards the next key. Before the first
    // key the first key is held; a channel without keys leaves q unchanged.
    // Not safe to call for one channel from two threads at once (it keeps
    // where it found the keys last). Inline, as an action evaluates one
    // channel per bone every frame.
    inline void EvaluateAt(unsigned int t, cQuaternion& q) const;

    // Records whether the key times never go backwards, and returns it. While
    // they are known to, EvaluateAt finds the keys around t from where it
    // found them the last time (a frame later they are the same keys or the
    // next ones) instead of visiting every key; otherwise it visits every key,
    // which gives the same results on keys in order and the rule above on
    // keys out of order. The loader records it for every channel it reads;
    // adding or removing keys forgets it, and a program that changes key
    // times in place records it again.
    bool RecordKeyOrder();
    bool KeysInOrder() const { return mOrderedKeys != 0 && mOrderedKeys == mKeyFrames.size(); }

    // The index of the last key whose time is not later than t, or 0 when
    // every key is later (or there are none): the key EvaluateAt starts from.
    inline size_t KeyAt(unsigned int t) const;

private:
    size_t mOrderedKeys = 0;    // the key count when the keys were found in time order; 0: not known
    mutable size_t mCursor = 0; // KeyAt's last answer: only a place to start, any value gives the same answers

    // KeyAt where the keys around t are not the cursor's or the next ones.
    size_t FindKey(unsigned int t) const;
};

typedef std::vector<cChannel> ChannelVector;
typedef ChannelVector::iterator ChannelIterator;

inline size_t cChannel::KeyAt(unsigned int t) const
{
    // Most frames find the same span as the last one, or the next.
    const size_t n = mKeyFrames.size();
    const size_t c = mCursor;
    if (c + 2 < n && KeysInOrder())
    {
        const sKeyFrame* k = mKeyFrames.data() + c;
        if (k[0].mTime <= t && t < k[1].mTime)
            return c;
        if (k[1].mTime <= t && t < k[2].mTime)
            return mCursor = c + 1;
    }
    return FindKey(t);
}

inline void cChannel::EvaluateAt(unsigned int t, cQuaternion& q) const
{
    const size_t n = mKeyFrames.size();
    if (n == 0)
        return;

    const size_t key1 = KeyAt(t);
    if (key1 == n - 1)
    {
        q = mKeyFrames[key1].mValue;
        return;
    }

    const size_t key2 = key1 + 1;
    const sKeyFrame& k1 = mKeyFrames[key1];
    const sKeyFrame& k2 = mKeyFrames[key2];

    // Before the first key (which can only happen when it is later than 0),
    // and on keys out of time order, hold the lower key: there is no span to
    // interpolate over.
    float param = 0.0f;
    if (t >= k1.mTime && k2.mTime > k1.mTime)
    {
        const float dt = (float)(k2.mTime - k1.mTime);
        param = (float)(t - k1.mTime) / dt;
    }
    q = cQuaternion::nlerp(param, k1.mValue, k2.mValue);

    // Two keys of opposite sign meet at zero half way, and a zero key has no
    // direction at all: hold the lower key rather than pass on not-a-numbers.
#if defined(QV_LANES)
    sLanes v;
    std::memcpy(&v, q.mData, sizeof v);
    if (!AllFinite(v))
        q = k1.mValue;
#else
    if (!std::isfinite(q.mData[0]) || !std::isfinite(q.mData[1]) || !std::isfinite(q.mData[2]) ||
        !std::isfinite(q.mData[3]))
        q = k1.mValue;
#endif
}

#endif // QV_CHANNEL_H
