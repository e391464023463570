#include "QV_gait_math.h"

#include <algorithm>

namespace walker
{

M3 Axes(const V3& x, const V3& y, const V3& z)
{
    M3 m;
    m.c[0] = x;
    m.c[1] = y;
    m.c[2] = z;
    return m;
}

M3 RotX(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(1, 0, 0), V3(0, c, s), V3(0, -s, c));
}

M3 RotY(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(c, 0, -s), V3(0, 1, 0), V3(s, 0, c));
}

M3 RotZ(double deg)
{
    const double c = cos(Rad(deg)), s = sin(Rad(deg));
    return Axes(V3(c, s, 0), V3(-s, c, 0), V3(0, 0, 1));
}

M3 FrameFrom(const V3& dir, const V3& hint)
{
    const V3 y = dir.unit();
    const V3 x = (hint - y * hint.dot(y)).unit();
    return Axes(x, y, x.cross(y));
}

Quat QuatFrom(const M3& m)
{
    Quat q;
    const double m00 = m.at(0, 0), m11 = m.at(1, 1), m22 = m.at(2, 2);
    const double tr = m00 + m11 + m22;
    // Divide by the largest of the four candidates: the others lose accuracy
    // near half turns.
    if (tr > 0)
    {
        const double s = sqrt(tr + 1.0) * 2;
        q.w = 0.25 * s;
        q.x = (m.at(2, 1) - m.at(1, 2)) / s;
        q.y = (m.at(0, 2) - m.at(2, 0)) / s;
        q.z = (m.at(1, 0) - m.at(0, 1)) / s;
    }
    else if (m00 > m11 && m00 > m22)
    {
        const double s = sqrt(1.0 + m00 - m11 - m22) * 2;
        q.w = (m.at(2, 1) - m.at(1, 2)) / s;
        q.x = 0.25 * s;
        q.y = (m.at(0, 1) + m.at(1, 0)) / s;
        q.z = (m.at(0, 2) + m.at(2, 0)) / s;
    }
    else if (m11 > m22)
    {
        const double s = sqrt(1.0 + m11 - m00 - m22) * 2;
        q.w = (m.at(0, 2) - m.at(2, 0)) / s;
        q.x = (m.at(0, 1) + m.at(1, 0)) / s;
        q.y = 0.25 * s;
        q.z = (m.at(1, 2) + m.at(2, 1)) / s;
    }
    else
    {
        const double s = sqrt(1.0 + m22 - m00 - m11) * 2;
        q.w = (m.at(1, 0) - m.at(0, 1)) / s;
        q.x = (m.at(0, 2) + m.at(2, 0)) / s;
        q.y = (m.at(1, 2) + m.at(2, 1)) / s;
        q.z = 0.25 * s;
    }
    const double n = sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    q.x /= n;
    q.y /= n;
    q.z /= n;
    q.w /= n;
    return q;
}

double Hermite(const std::vector<Knot>& k, double p)
{
    if (p <= k.front().p)
        return k.front().v + k.front().d * (p - k.front().p);
    if (p >= k.back().p)
        return k.back().v + k.back().d * (p - k.back().p);
    size_t i = 0;
    while (i + 2 < k.size() && p > k[i + 1].p)
        ++i;
    const Knot& a = k[i];
    const Knot& b = k[i + 1];
    const double h = b.p - a.p;
    const double t = (p - a.p) / h;
    const double t2 = t * t, t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * a.v + (t3 - 2 * t2 + t) * h * a.d + (-2 * t3 + 3 * t2) * b.v + (t3 - t2) * h * b.d;
}

double Smooth(double t)
{
    t = std::min(1.0, std::max(0.0, t));
    return t * t * (3 - 2 * t);
}

} // namespace walker
