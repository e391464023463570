#include "QV_math.h"

#include <math.h>
#include <string.h>

#include <cstdint>

float Math::abs(float in)
{
    uint32_t bits;
    memcpy(&bits, &in, sizeof bits);
    bits &= 0x7FFFFFFFu;
    memcpy(&in, &bits, sizeof bits);
    return in;
}

float Math::sin(float ang) { return sinf(ang * DEGTORAD); }
float Math::cos(float ang) { return cosf(ang * DEGTORAD); }
float Math::tan(float ang) { return tanf(ang * DEGTORAD); }

float Math::invsin(float ang) { return asinf(ang) * RADTODEG; }
float Math::invcos(float ang) { return acosf(ang) * RADTODEG; }
float Math::invtan(float ang) { return atanf(ang) * RADTODEG; }
