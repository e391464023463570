// The skinned body: binding to the rest pose, and skinning.
//
// Index:
//   [bind]  rest world matrices in doubles, their inverses, the buffers
//   [skin]  skin matrices and the per-vertex blend

#include "QV_body.h"

#include <cmath>
#include <cstring>

#include "QV_armature.h"
#include "QV_error.h"

namespace
{

// [bind] ---------------------------------------------------------------------

// An affine map in doubles: x -> r x + t, r row by row.
struct sAffine
{
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    double t[3] = {0, 0, 0};
};

sAffine FromMatrix(const cMatrix4D& m)
{
    sAffine a;
    for (int row = 0; row < 3; ++row)
    {
        for (int col = 0; col < 3; ++col)
            a.r[row][col] = m._m[col * 4 + row];
        a.t[row] = m._m[12 + row];
    }
    return a;
}

sAffine Compose(const sAffine& p, const sAffine& c)
{
    sAffine out;
    for (int i = 0; i < 3; ++i)
    {
        for (int j = 0; j < 3; ++j)
            out.r[i][j] = p.r[i][0] * c.r[0][j] + p.r[i][1] * c.r[1][j] + p.r[i][2] * c.r[2][j];
        out.t[i] = p.r[i][0] * c.t[0] + p.r[i][1] * c.t[1] + p.r[i][2] * c.t[2] + p.t[i];
    }
    return out;
}

// The rest world map of every bone: the rest matrices multiplied down the
// tree from the root, which is what the world matrices are when every bone
// holds its rest orientation and rest translation. Walked without recursion.
std::vector<sAffine> RestWorld(const cArmature& arm)
{
    std::vector<sAffine> world(arm.mBones.size());
    if (!arm.mRootBone)
        return world;
    const cBone* first = arm.mBones.data();
    std::vector<const cBone*> stack{arm.mRootBone};
    while (!stack.empty())
    {
        const cBone* b = stack.back();
        stack.pop_back();
        const size_t i = (size_t)(b - first);
        const sAffine local = FromMatrix(b->mRestTransform);
        world[i] = b->mParent ? Compose(world[(size_t)(b->mParent - first)], local) : local;
        for (const cBone* c : b->mChildren)
            stack.push_back(c);
    }
    return world;
}

// The inverse of a, when its 3 x 3 part can be inverted and the inverse
// stretches by at most maxStretch (bounded by its Frobenius norm).
bool Invert(const sAffine& a, double maxStretch, cMatrix4D& out)
{
    const double(*m)[3] = a.r;
    const double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
    const double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
    const double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
    const double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
    if (!std::isfinite(det) || det == 0.0)
        return false;
    double inv[3][3];
    inv[0][0] = c00 / det;
    inv[1][0] = c01 / det;
    inv[2][0] = c02 / det;
    inv[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) / det;
    inv[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) / det;
    inv[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) / det;
    inv[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) / det;
    inv[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) / det;
    inv[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) / det;
    double frobenius = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            frobenius += inv[i][j] * inv[i][j];
    if (!(std::sqrt(frobenius) <= maxStretch))
        return false;
    out.setIdentity();
    for (int i = 0; i < 3; ++i)
    {
        for (int j = 0; j < 3; ++j)
            out._m[j * 4 + i] = (float)inv[i][j];
        out._m[12 + i] = (float)-(inv[i][0] * a.t[0] + inv[i][1] * a.t[1] + inv[i][2] * a.t[2]);
    }
    return true;
}

} // namespace

std::string BindBody(cBody& body, const cArmature& arm, double maxStretch)
{
    const size_t bones = arm.mBones.size();
    std::vector<char> used(bones, 0);
    for (const sInfluences& in : body.mInfluences)
        for (unsigned int k = 0; k < in.mCount; ++k)
            if (in.mWeight[k] > 0.0f && in.mBone[k] < bones)
                used[in.mBone[k]] = 1;

    const std::vector<sAffine> world = RestWorld(arm);
    body.mBindInverse.assign(bones, cMatrix4D());
    for (size_t b = 0; b < bones; ++b)
        if (used[b] && !Invert(world[b], maxStretch, body.mBindInverse[b]))
            return "the body is bound to the bone " + QuoteName(arm.mBones[b].mName) +
                   ", whose rest frame is flat or nearly so and cannot be inverted.";

    body.mSkinMatrices.assign(bones, cMatrix4D());
    body.mPositions = body.mRestPositions;
    body.mNormals = body.mRestNormals;
    return std::string();
}

// [skin] ---------------------------------------------------------------------

void SkinMatrices(const cArmature& arm, const std::vector<cMatrix4D>& bindInverse, std::vector<cMatrix4D>& out)
{
    const size_t n = arm.mBones.size();
    for (size_t b = 0; b < n && b < bindInverse.size() && b < out.size(); ++b)
        out[b] = arm.mBones[b].mWorldTransform * bindInverse[b];
}

namespace
{
// The blended matrix's four columns, each with its fourth (bottom-row) lane,
// which is never read: with GCC and Clang one four-float vector a column, so
// that the blend and the transforms are four lanes at a time.
#if defined(__GNUC__)
typedef float sLane4 __attribute__((vector_size(16)));
inline sLane4 Column(const cMatrix4D& m, int c)
{
    sLane4 v;
    std::memcpy(&v, &m._m[c * 4], sizeof v);
    return v;
}
inline sLane4 Splat(float s) { return sLane4{s, s, s, s}; }
#else
struct sLane4
{
    float v[4];
    sLane4 operator*(const sLane4& o) const { return {{v[0] * o.v[0], v[1] * o.v[1], v[2] * o.v[2], v[3] * o.v[3]}}; }
    sLane4 operator+(const sLane4& o) const { return {{v[0] + o.v[0], v[1] + o.v[1], v[2] + o.v[2], v[3] + o.v[3]}}; }
    sLane4& operator+=(const sLane4& o) { return *this = *this + o; }
    float operator[](int i) const { return v[i]; }
};
inline sLane4 Column(const cMatrix4D& m, int c) { return {{m._m[c * 4], m._m[c * 4 + 1], m._m[c * 4 + 2], 0.0f}}; }
inline sLane4 Splat(float s) { return {{s, s, s, s}}; }
#endif
} // namespace

void SkinVertices(const cMatrix4D* skin, const sInfluences* influences, const cVector3D* restPositions,
                  const cVector3D* restNormals, size_t n, cVector3D* positions, cVector3D* normals)
{
    for (size_t i = 0; i < n; ++i)
    {
        const sInfluences& in = influences[i];
        // The weighted sum of the bones' matrices, column by column.
        const cMatrix4D& s0 = skin[in.mBone[0]];
        const sLane4 w0 = Splat(in.mWeight[0]);
        sLane4 c0 = Column(s0, 0) * w0, c1 = Column(s0, 1) * w0, c2 = Column(s0, 2) * w0, c3 = Column(s0, 3) * w0;
        for (unsigned int k = 1; k < in.mCount; ++k)
        {
            const cMatrix4D& s = skin[in.mBone[k]];
            const sLane4 w = Splat(in.mWeight[k]);
            c0 += Column(s, 0) * w;
            c1 += Column(s, 1) * w;
            c2 += Column(s, 2) * w;
            c3 += Column(s, 3) * w;
        }

        const cVector3D& p = restPositions[i];
        const sLane4 q = c0 * Splat(p.mData[0]) + c1 * Splat(p.mData[1]) + c2 * Splat(p.mData[2]) + c3;
        positions[i] = cVector3D(q[0], q[1], q[2]);

        const cVector3D& r = restNormals[i];
        const sLane4 m = c0 * Splat(r.mData[0]) + c1 * Splat(r.mData[1]) + c2 * Splat(r.mData[2]);
        const float len2 = m[0] * m[0] + m[1] * m[1] + m[2] * m[2];
        if (len2 > 0.0f && len2 < INFINITY)
        {
            const float inv = 1.0f / std::sqrt(len2);
            normals[i] = cVector3D(m[0] * inv, m[1] * inv, m[2] * inv);
        }
        else
            normals[i] = r;
    }
}

void cBody::Skin(const cArmature& arm)
{
    if (Empty() || mSkinMatrices.size() != arm.mBones.size())
        return;
    SkinMatrices(arm, mBindInverse, mSkinMatrices);
    SkinVertices(mSkinMatrices.data(), mInfluences.data(), mRestPositions.data(), mRestNormals.data(), VertexCount(),
                 mPositions.data(), mNormals.data());
}
