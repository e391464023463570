// Double-precision vectors and rotation quaternions for the importer's
// offline work. The runtime library keeps single precision; the importer
// composes long chains of captured rotations and wants the headroom.
// Conventions: right-handed, angles in radians here (degrees only at the
// command line), q * v rotates v by q, and p * q applies q first.
#ifndef QV_IMPORT_MATH_H
#define QV_IMPORT_MATH_H

#include <cmath>

namespace qvimport
{

struct sVec3
{
    double x = 0, y = 0, z = 0;

    sVec3() = default;
    sVec3(double xx, double yy, double zz) : x(xx), y(yy), z(zz) {}
    sVec3 operator+(const sVec3& o) const { return {x + o.x, y + o.y, z + o.z}; }
    sVec3 operator-(const sVec3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    sVec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    double Dot(const sVec3& o) const { return x * o.x + y * o.y + z * o.z; }
    sVec3 Cross(const sVec3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double Length() const { return std::sqrt(Dot(*this)); }
    // The unit vector, or zero for a vector too short to have a direction.
    sVec3 Unit() const
    {
        const double l = Length();
        return l > 1e-12 ? *this * (1.0 / l) : sVec3();
    }
    bool IsFinite() const { return std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }
};

struct sQuat
{
    double w = 1, x = 0, y = 0, z = 0;

    sQuat() = default;
    sQuat(double ww, double xx, double yy, double zz) : w(ww), x(xx), y(yy), z(zz) {}

    sQuat operator*(const sQuat& o) const
    {
        return {w * o.w - x * o.x - y * o.y - z * o.z, w * o.x + x * o.w + y * o.z - z * o.y,
                w * o.y + y * o.w + z * o.x - x * o.z, w * o.z + z * o.w + x * o.y - y * o.x};
    }
    sVec3 operator*(const sVec3& v) const
    {
        const sVec3 u(x, y, z);
        const sVec3 t = u.Cross(v) * 2.0;
        return v + t * w + u.Cross(t);
    }
    sQuat Conj() const { return {w, -x, -y, -z}; }
    double Dot(const sQuat& o) const { return w * o.w + x * o.x + y * o.y + z * o.z; }
    sQuat Neg() const { return {-w, -x, -y, -z}; }
    // Unit length; a quaternion with no length becomes the identity.
    sQuat Unit() const
    {
        const double l = std::sqrt(Dot(*this));
        return l > 1e-12 && std::isfinite(l) ? sQuat(w / l, x / l, y / l, z / l) : sQuat();
    }
    bool IsFinite() const { return std::isfinite(w) && std::isfinite(x) && std::isfinite(y) && std::isfinite(z); }

    static sQuat AxisAngle(const sVec3& axis, double rad)
    {
        const sVec3 a = axis.Unit();
        const double s = std::sin(rad / 2);
        return {std::cos(rad / 2), a.x * s, a.y * s, a.z * s};
    }
    // The smallest rotation taking the direction of a onto that of b.
    static sQuat Between(const sVec3& a, const sVec3& b)
    {
        const sVec3 u = a.Unit(), v = b.Unit();
        const double d = u.Dot(v);
        if (d < -1 + 1e-12)
        {
            sVec3 axis = u.Cross(sVec3(1, 0, 0));
            if (axis.Length() < 1e-6)
                axis = u.Cross(sVec3(0, 1, 0));
            return AxisAngle(axis, M_PI);
        }
        const sVec3 c = u.Cross(v);
        return sQuat(1 + d, c.x, c.y, c.z).Unit();
    }
    // From the columns of an orthonormal 3 x 3 rotation (m[row][col]).
    static sQuat FromMatrix(const double m[3][3])
    {
        const double tr = m[0][0] + m[1][1] + m[2][2];
        sQuat q;
        if (tr > 0)
        {
            const double s = std::sqrt(tr + 1.0) * 2;
            q = {0.25 * s, (m[2][1] - m[1][2]) / s, (m[0][2] - m[2][0]) / s, (m[1][0] - m[0][1]) / s};
        }
        else if (m[0][0] > m[1][1] && m[0][0] > m[2][2])
        {
            const double s = std::sqrt(1.0 + m[0][0] - m[1][1] - m[2][2]) * 2;
            q = {(m[2][1] - m[1][2]) / s, 0.25 * s, (m[0][1] + m[1][0]) / s, (m[0][2] + m[2][0]) / s};
        }
        else if (m[1][1] > m[2][2])
        {
            const double s = std::sqrt(1.0 + m[1][1] - m[0][0] - m[2][2]) * 2;
            q = {(m[0][2] - m[2][0]) / s, (m[0][1] + m[1][0]) / s, 0.25 * s, (m[1][2] + m[2][1]) / s};
        }
        else
        {
            const double s = std::sqrt(1.0 + m[2][2] - m[0][0] - m[1][1]) * 2;
            q = {(m[1][0] - m[0][1]) / s, (m[0][2] + m[2][0]) / s, (m[1][2] + m[2][1]) / s, 0.25 * s};
        }
        return q.Unit();
    }
    // Row-major 3 x 3 matrix of the rotation.
    void ToMatrix(double m[3][3]) const
    {
        m[0][0] = 1 - 2 * (y * y + z * z);
        m[0][1] = 2 * (x * y - w * z);
        m[0][2] = 2 * (x * z + w * y);
        m[1][0] = 2 * (x * y + w * z);
        m[1][1] = 1 - 2 * (x * x + z * z);
        m[1][2] = 2 * (y * z - w * x);
        m[2][0] = 2 * (x * z - w * y);
        m[2][1] = 2 * (y * z + w * x);
        m[2][2] = 1 - 2 * (x * x + y * y);
    }
};

// Rotation angle between two orientations, radians, in [0, pi].
inline double AngleBetween(const sQuat& a, const sQuat& b)
{
    const double d = std::fabs(a.Unit().Dot(b.Unit()));
    return 2 * std::acos(d > 1 ? 1 : d);
}

// Spherical interpolation on the shorter arc.
inline sQuat Slerp(const sQuat& a, sQuat b, double t)
{
    double d = a.Dot(b);
    if (d < 0)
    {
        b = b.Neg();
        d = -d;
    }
    if (d > 0.9995)
        return sQuat(a.w + (b.w - a.w) * t, a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t).Unit();
    const double th = std::acos(d), s = std::sin(th);
    const double ka = std::sin((1 - t) * th) / s, kb = std::sin(t * th) / s;
    return sQuat(a.w * ka + b.w * kb, a.x * ka + b.x * kb, a.y * ka + b.y * kb, a.z * ka + b.z * kb);
}

} // namespace qvimport

#endif // QV_IMPORT_MATH_H
