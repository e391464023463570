#ifndef QV_MATRIX_H
#define QV_MATRIX_H

#include <cstring>
#include <iosfwd>

#include "QV_lanes.h"
#include "QV_vector.h"

class cQuaternion;

// Single-precision 4 x 4 matrix in OpenGL's column-major order: the element in
// row r and column c is _m[c*4 + r] (= m[c][r]); the translation sits in
// _m[12], _m[13] and _m[14]. Points are column vectors, so A * B applies B
// first. The storage is handed to glMultMatrixf unchanged. Aligned to 16
// bytes, so that each column is one aligned four-float load or store and
// never straddles two cache lines.
class alignas(16) cMatrix4D
{
public:
    union
    {
        float _m[16];
        float m[4][4];
    };

    cMatrix4D() { setIdentity(); }
    cMatrix4D(const cMatrix4D& in) = default;
    explicit cMatrix4D(const float* a)
    {
        for (int i = 0; i < 16; ++i)
            _m[i] = a[i];
    }
    cMatrix4D& operator=(const cMatrix4D& in) = default;

    // The four floats of column col (0 ... 3, not checked): M[c][r].
    const float* operator[](unsigned int col) const { return &_m[col * 4]; }

    void setIdentity()
    {
        for (int i = 0; i < 16; ++i)
            _m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    }

    // The full product this * in; every element sums its four terms in
    // column order: C[c*4 + r] = ((A[r]*B[c*4] + A[4+r]*B[c*4+1]) +
    // A[8+r]*B[c*4+2]) + A[12+r]*B[c*4+3].
    //
    // With GCC and Clang each column is computed as one four-float vector:
    // this column times B's four scalars, summed in that same order, so the
    // results are bit for bit those of the plain loop below. Written as
    // scalars, the compiler vectorised the product only in some settings; in
    // others (a product whose operand was just built in registers, as the
    // rotation of a bone's local matrix is, or a chain of products) it fell
    // back to sixteen scalar sums and ran about twice as slowly.
    cMatrix4D operator*(const cMatrix4D& in) const
    {
        cMatrix4D out;
        for (int c = 0; c < 4; ++c)
            ProductColumn(in, c, out._m);
        return out;
    }

    // Writes the rotation block of rest * R, R's element k (column by column)
    // being element(k), a float or a vector holding it in every lane.
    template <class Element> inline void setRotationOfElements(const cMatrix4D& rest, Element element);

    // Column c of this * in into out[c*4 ... c*4+3], as operator* computes
    // it: for the pass that recomputes only the last column of some
    // products (cArmature::UpdateMovedRoot).
    void ProductColumn(const cMatrix4D& in, int c, float* out) const
    {
#if defined(QV_LANES)
        sLanes a0, a1, a2, a3;
        std::memcpy(&a0, &_m[0], sizeof a0);
        std::memcpy(&a1, &_m[4], sizeof a1);
        std::memcpy(&a2, &_m[8], sizeof a2);
        std::memcpy(&a3, &_m[12], sizeof a3);
        sLanes b;
        std::memcpy(&b, &in._m[c * 4], sizeof b);
        const sLanes col = a0 * Broadcast<0>(b) + a1 * Broadcast<1>(b) + a2 * Broadcast<2>(b) + a3 * Broadcast<3>(b);
        std::memcpy(&out[c * 4], &col, sizeof col);
#else
        for (int r = 0; r < 4; ++r)
            out[c * 4 + r] = _m[r] * in._m[c * 4] + _m[4 + r] * in._m[c * 4 + 1] + _m[8 + r] * in._m[c * 4 + 2] +
                             _m[12 + r] * in._m[c * 4 + 3];
#endif
    }

    // The point in (w = 1): rotation, then the translation added. The bottom
    // row is ignored. All four rows are summed, column by column, so that the
    // sums vectorise; the fourth is dropped.
    cVector3D operator*(const cVector3D& in) const
    {
        const float x = in.mData[0], y = in.mData[1], z = in.mData[2];
        float p[4];
        for (int r = 0; r < 4; ++r)
            p[r] = _m[r] * x + _m[4 + r] * y + _m[8 + r] * z + _m[12 + r];
        return cVector3D(p[0], p[1], p[2]);
    }

    cMatrix4D operator+(const cMatrix4D& in) const;
    cMatrix4D operator-(const cMatrix4D& in) const;

    // Rz(rz) * Ry(ry) * Rx(rx), degrees. Writes the rotation block and zeroes
    // the bottom row's first three elements.
    void setFromEuler(float rx, float ry, float rz);
    // Rotation of q as given (not normalised). Writes the rotation block and
    // zeroes the bottom row's first three elements.
    inline void setFromQuat(const cQuaternion& q);
    // Rotation by ang degrees about axis (normalised here, on a copy). Writes
    // the rotation block only.
    void setFromAxisAngle(cVector3D axis, float ang);
    // The rotation block of rest * R(q), bit for bit what
    // r.setFromQuat(q); setRotation(rest * r) writes, and only that block:
    // the product's fourth column, which setRotation would drop, is not
    // computed, and the columns are written whole (with their bottom
    // elements as they were), so that a product that reads this matrix next
    // loads what was just stored without waiting.
    inline void setRotationOf(const cMatrix4D& rest, const cQuaternion& q);
    // The same with R(q) given as its nine rotation elements (QuatRotation),
    // element k at r[k * stride].
    inline void setRotationOf(const cMatrix4D& rest, const float* r, int stride = 1);
#if defined(QV_LANES)
    // The same with the nine elements in lane J of e[0 ... 8] (QuatRotation
    // of four quaternions at once).
    template <int J> inline void setRotationOfLane(const cMatrix4D& rest, const sLanes e[9]);
#endif

    void setTransform(const cVector3D& t) { setTransform(t.mData[0], t.mData[1], t.mData[2]); }
    void setTransform(float xx, float yy, float zz)
    {
        _m[12] = xx;
        _m[13] = yy;
        _m[14] = zz;
        _m[15] = 1.0f;
    }
    // Copies the 3 x 3 rotation block of r.
    void setRotation(const cMatrix4D& r)
    {
        _m[0] = r._m[0];
        _m[1] = r._m[1];
        _m[2] = r._m[2];
        _m[4] = r._m[4];
        _m[5] = r._m[5];
        _m[6] = r._m[6];
        _m[8] = r._m[8];
        _m[9] = r._m[9];
        _m[10] = r._m[10];
    }
    // Adds t to the translation, unrotated.
    void translate(const cVector3D& t)
    {
        _m[12] += t.mData[0];
        _m[13] += t.mData[1];
        _m[14] += t.mData[2];
    }
    cVector3D getTransform() const { return cVector3D(_m[12], _m[13], _m[14]); }
};

// Row by row: "Matrix4D: [a, b, c, d ]" and three more rows aligned under it.
std::ostream& operator<<(std::ostream& os, const cMatrix4D& in);

#include "QV_quaternion.h"

// The nine rotation elements of the quaternion (x, y, z, w), column by
// column (_m[0], _m[1], _m[2], _m[4], ..., _m[10] of its matrix), as
// setFromQuat writes them. T is float for one quaternion, or a vector of
// floats for one quaternion per lane: the same operations in the same
// order, so that every lane is bit for bit the scalar result.
template <class T> inline void QuatRotation(const T& x, const T& y, const T& z, const T& w, T e[9])
{
    e[0] = 1.0f - 2.0f * (y * y) - 2.0f * (z * z);
    e[1] = 2.0f * x * y + 2.0f * w * z;
    e[2] = 2.0f * x * z - 2.0f * w * y;
    e[3] = 2.0f * x * y - 2.0f * w * z;
    e[4] = 1.0f - 2.0f * (x * x) - 2.0f * (z * z);
    e[5] = 2.0f * y * z + 2.0f * w * x;
    e[6] = 2.0f * x * z + 2.0f * w * y;
    e[7] = 2.0f * y * z - 2.0f * w * x;
    e[8] = 1.0f - 2.0f * (x * x) - 2.0f * (y * y);
}

inline void cMatrix4D::setFromQuat(const cQuaternion& q)
{
    float e[9];
    QuatRotation(q.mData[0], q.mData[1], q.mData[2], q.mData[3], e);
    for (int c = 0; c < 3; ++c)
    {
        _m[c * 4] = e[c * 3];
        _m[c * 4 + 1] = e[c * 3 + 1];
        _m[c * 4 + 2] = e[c * 3 + 2];
        _m[c * 4 + 3] = 0.0f;
    }
}

inline void cMatrix4D::setRotationOf(const cMatrix4D& rest, const cQuaternion& q)
{
    float e[9];
    QuatRotation(q.mData[0], q.mData[1], q.mData[2], q.mData[3], e);
    setRotationOf(rest, e);
}

template <class Element> inline void cMatrix4D::setRotationOfElements(const cMatrix4D& rest, Element element)
{
#if defined(QV_LANES)
    sLanes a0, a1, a2, a3;
    std::memcpy(&a0, &rest._m[0], sizeof a0);
    std::memcpy(&a1, &rest._m[4], sizeof a1);
    std::memcpy(&a2, &rest._m[8], sizeof a2);
    std::memcpy(&a3, &rest._m[12], sizeof a3);
    for (int c = 0; c < 3; ++c)
    {
        // The fourth term is the rest translation times the rotation's zero
        // bottom element, kept because adding +0 turns a sum of -0 into +0
        // (and carries infinities as not-a-numbers), as the full product does.
        sLanes col = a0 * element(c * 3) + a1 * element(c * 3 + 1) + a2 * element(c * 3 + 2) + a3 * 0.0f;
        col[3] = _m[c * 4 + 3];
        std::memcpy(&_m[c * 4], &col, sizeof col);
    }
#else
    cMatrix4D m;
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k)
            m._m[c * 4 + k] = element(c * 3 + k);
    m._m[3] = m._m[7] = m._m[11] = 0.0f;
    setRotation(rest * m);
#endif
}

inline void cMatrix4D::setRotationOf(const cMatrix4D& rest, const float* r, int stride)
{
    setRotationOfElements(rest, [&](int k) { return r[k * stride]; });
}

#if defined(QV_LANES)
template <int J> inline void cMatrix4D::setRotationOfLane(const cMatrix4D& rest, const sLanes e[9])
{
    setRotationOfElements(rest, [&](int k) { return Broadcast<J>(e[k]); });
}
#endif

#endif // QV_MATRIX_H
