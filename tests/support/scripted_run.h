#ifndef QV_TEST_SCRIPTED_RUN_H
#define QV_TEST_SCRIPTED_RUN_H

// A fingerprint of everything a run of the character shows: the character is
// stepped as the demo steps it through a fixed script (standing, walking,
// turning both ways, the second walk cycle, stopping and starting again) and
// every frame's world matrices, clock and lock states go into a 64-bit
// FNV-1a hash. Equal hashes mean bit-identical runs.

#include <cstdint>
#include <cstring>

#include "QV_actor.h"
#include "QV_character.h"

namespace qvtest
{
inline void HashBytes(uint64_t& h, const void* data, size_t n)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i)
    {
        h ^= p[i];
        h *= 1099511628211ull;
    }
}

// Steps the actor at dt-millisecond frames for 12 simulated seconds.
inline uint64_t ScriptedRunHash(cActor& actor, unsigned int dt)
{
    uint64_t h = 14695981039346656037ull;
    for (unsigned int t = 0; t < 12000; t += dt)
    {
        sSteering s;
        s.mWalk = (t >= 1000 && t < 8000) || t >= 9000;
        s.mTurnLeft = t >= 4000 && t < 5000;
        s.mTurnRight = t >= 5000 && t < 5600;
        actor.mWalkCycle = (t >= 6000 && t < 10500) ? 2u : 0u;
        StepCharacter(actor, dt, s);
        for (const cBone& b : actor.mArmature.mBones)
            HashBytes(h, b.mWorldTransform._m, sizeof b.mWorldTransform._m);
        HashBytes(h, &actor.mTime, sizeof actor.mTime);
        HashBytes(h, &actor.mCurrentAction, sizeof actor.mCurrentAction);
        const unsigned char locks[2] = {actor.mLeftFoot.mLock, actor.mRightFoot.mLock};
        HashBytes(h, locks, sizeof locks);
    }
    return h;
}
} // namespace qvtest

#endif // QV_TEST_SCRIPTED_RUN_H
