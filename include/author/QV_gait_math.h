// Double-precision helpers for authoring and measuring the walker: vectors,
// rotations, quaternions, curves through knots and a bisection.
//
// Conventions: angles in degrees; M3 stores columns (c[i] is the image of
// axis i), so M3 * V3 turns a vector and A * B applies B first.
#ifndef QV_GAIT_MATH_H
#define QV_GAIT_MATH_H

#include <math.h>

#include <vector>

namespace walker
{

static const double kPi = 3.14159265358979323846;
inline double Rad(double deg) { return deg * kPi / 180.0; }
inline double Deg(double rad) { return rad * 180.0 / kPi; }

struct V3
{
    double x = 0, y = 0, z = 0;
    V3() {}
    V3(double a, double b, double c) : x(a), y(b), z(c) {}
    V3 operator+(const V3& o) const { return V3(x + o.x, y + o.y, z + o.z); }
    V3 operator-(const V3& o) const { return V3(x - o.x, y - o.y, z - o.z); }
    V3 operator*(double s) const { return V3(x * s, y * s, z * s); }
    double dot(const V3& o) const { return x * o.x + y * o.y + z * o.z; }
    V3 cross(const V3& o) const { return V3(y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x); }
    double len() const { return sqrt(dot(*this)); }
    V3 unit() const { return *this * (1.0 / len()); }
};

// 3 x 3 rotation; c[i] is the image of axis i (column i).
struct M3
{
    V3 c[3] = {V3(1, 0, 0), V3(0, 1, 0), V3(0, 0, 1)};
    V3 operator*(const V3& v) const { return c[0] * v.x + c[1] * v.y + c[2] * v.z; }
    M3 operator*(const M3& o) const
    {
        M3 r;
        for (int i = 0; i < 3; ++i)
            r.c[i] = *this * o.c[i];
        return r;
    }
    M3 T() const
    {
        M3 r;
        r.c[0] = V3(c[0].x, c[1].x, c[2].x);
        r.c[1] = V3(c[0].y, c[1].y, c[2].y);
        r.c[2] = V3(c[0].z, c[1].z, c[2].z);
        return r;
    }
    double at(int row, int col) const
    {
        const V3& v = c[col];
        return row == 0 ? v.x : row == 1 ? v.y : v.z;
    }
};

M3 Axes(const V3& x, const V3& y, const V3& z);
M3 RotX(double deg);
M3 RotY(double deg);
M3 RotZ(double deg);
// Right-handed frame whose +y is dir and whose +x lies as close to hint as
// possible.
M3 FrameFrom(const V3& dir, const V3& hint);

struct Quat
{
    double x = 0, y = 0, z = 0, w = 1;
};

// The unit quaternion of a rotation matrix.
Quat QuatFrom(const M3& m);

// A knot of a cubic Hermite curve over the phase.
struct Knot
{
    double p, v, d; // phase, value, slope (per unit phase)
};

// The curve through the knots (in order of phase) at p; straight lines along
// the end slopes outside them.
double Hermite(const std::vector<Knot>& k, double p);

inline double Wrap01(double p) { return p - floor(p); }
// Smoothstep of t clamped to [0, 1].
double Smooth(double t);

// The bracket a bisection ends with: the answer lies between lo and hi.
struct sBracket
{
    double lo, hi;
    double last; // the point tried last (lo or hi)
    double Mid() const { return 0.5 * (lo + hi); }
};

// Halves [lo, hi] `iterations` times, keeping the part where `below(x)`
// changes from true (at lo) to false (at hi). Every search of the authoring
// code (hip heights, sole pitches) is this one.
template <class Below> sBracket Bisect(double lo, double hi, int iterations, Below below)
{
    double m = 0.5 * (lo + hi);
    for (int it = 0; it < iterations; ++it)
    {
        m = 0.5 * (lo + hi);
        if (below(m))
            lo = m;
        else
            hi = m;
    }
    return {lo, hi, m};
}

} // namespace walker

#endif // QV_GAIT_MATH_H
