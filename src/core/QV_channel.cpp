#include "QV_channel.h"

#include <algorithm>

namespace
{
// A frame of 16 ms or so moves past a key or two: that many steps forward
// are tried one by one before a binary search over the rest.
const size_t kSteps = 4;

// The first key in [first, last) whose time is later than t.
const sKeyFrame* FirstLater(const sKeyFrame* first, const sKeyFrame* last, unsigned int t)
{
    return std::upper_bound(first, last, t, [](unsigned int time, const sKeyFrame& k) { return time < k.mTime; });
}
} // namespace

bool cChannel::RecordKeyOrder()
{
    const size_t n = mKeyFrames.size();
    size_t i = 1;
    while (i < n && mKeyFrames[i - 1].mTime <= mKeyFrames[i].mTime)
        ++i;
    mOrderedKeys = i >= n ? n : 0;
    return KeysInOrder();
}

size_t cChannel::FindKey(unsigned int t) const
{
    const size_t n = mKeyFrames.size();
    if (!KeysInOrder())
    {
        // Later keys win ties, and a later key out of order wins over an
        // earlier one.
        size_t key = 0;
        for (size_t i = 0; i < n; ++i)
            if (mKeyFrames[i].mTime <= t)
                key = i;
        return key;
    }

    const sKeyFrame* keys = mKeyFrames.data();
    size_t c = mCursor < n ? mCursor : 0;
    if (keys[c].mTime <= t)
    {
        // Forward from the cursor: the answer is the last of the keys from
        // here on that are not later than t.
        size_t steps = 0;
        while (c + 1 < n && keys[c + 1].mTime <= t)
        {
            if (++steps > kSteps)
            {
                c = (size_t)(FirstLater(keys + c + 1, keys + n, t) - keys) - 1;
                break;
            }
            ++c;
        }
    }
    else
    {
        // Back: the clock restarted or jumped. Every key from the cursor on
        // is later than t.
        const size_t later = (size_t)(FirstLater(keys, keys + c, t) - keys);
        c = later > 0 ? later - 1 : 0;
    }
    mCursor = c;
    return c;
}
