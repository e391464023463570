#ifndef QV_MATH_H
#define QV_MATH_H

#include <cmath>

// Scalar helpers and constants of the math library. Every angle that crosses
// this interface is in degrees; radians live only inside the six
// trigonometric helpers.
struct Math
{
    // The constants are given as exact single-precision bit patterns.
    static constexpr float PI = 0x1.921fb6p+1f;          // 0x40490FDB
    static constexpr float ALMOSTZERO = 0x1.0624dep-10f; // 0x3A83126F
    static constexpr float DEGTORAD = 0x1.1df46ap-6f;    // 0x3C8EFA35
    static constexpr float RADTODEG = 0x1.ca5dcp+5f;     // 0x42652EE0

    static inline float sqr(float in) { return in * in; }
    static float abs(float in);
    // Inline, as the frame takes one for every interpolated key (nlerp) and
    // a call cost a tenth of a channel's evaluation; the correctly rounded
    // square root either way.
    static inline float sqrt(float in) { return std::sqrt(in); }
    static float sin(float ang);
    static float cos(float ang);
    static float tan(float ang);
    static float invsin(float ang);
    static float invcos(float ang);
    static float invtan(float ang);

    Math() = delete;
};

#endif // QV_MATH_H
