#ifndef QV_LANES_H
#define QV_LANES_H

// Four floats in one vector register, for the loops of the frame that
// compute four values at once: the same operations in the same order as the
// scalar code, so that every lane is bit for bit the scalar result (IEEE
// arithmetic rounds each lane as it rounds a scalar, and the build allows no
// fused multiply-adds). With GCC and Clang only (QV_LANES is defined); other
// compilers take the scalar code. The SSE intrinsic is x86's quick way to
// test four lanes; elsewhere the lanes are combined one by one.

#if defined(__GNUC__)
#define QV_LANES 1

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

typedef float sLanes __attribute__((vector_size(16)));
typedef int sLaneInts __attribute__((vector_size(16))); // a comparison's result: -1 where true

// Lane I of v in all four lanes.
template <int I> inline sLanes Broadcast(sLanes v)
{
#if defined(__clang__)
    return __builtin_shufflevector(v, v, I, I, I, I);
#else
    return __builtin_shuffle(v, sLaneInts{I, I, I, I});
#endif
}

// Whether all four lanes are finite (x - x is 0 exactly for those).
inline bool AllFinite(sLanes v)
{
    const sLaneInts finite = (v - v) == sLanes{0.0f, 0.0f, 0.0f, 0.0f};
#if defined(__SSE__)
    return _mm_movemask_ps((__m128)finite) == 0xF;
#else
    return (finite[0] & finite[1] & finite[2] & finite[3]) != 0;
#endif
}
#endif

#endif // QV_LANES_H
