// Fuzz target for the process boundary: any bytes, taken as the answer of
// the reader's child process, must be refused with a cImportError or decode
// to a capture that keeps every promise the decoder makes (counts within the
// limits, parents before children, finite values, unit rotations; a body's
// joints and vertices that exist, unit normals, a texture its pixels fill);
// and such
// a capture, taken through every stage of the import, must give an actor
// file or be refused with a cImportError. A crash, a sanitizer report, a
// broken promise or any other exception is a finding.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "QV_capture_wire.h"

namespace
{

// A body refers to joints and vertices that exist, with finite values, unit
// normals and a texture its pixels fill.
bool BodyKeepsItsPromises(const qvimport::sCaptureBody& b, size_t joints)
{
    const size_t vertices = b.mInfluences.size();
    if (b.Empty())
        return vertices == 0;
    if (vertices > qvimport::kMaxBodyVertices || b.mTriangles.size() % 3 != 0 ||
        (!b.mTexCoords.empty() && b.mTexCoords.size() != 2 * vertices) ||
        b.mTexture.mPixels.size() != (size_t)b.mTexture.mWidth * b.mTexture.mHeight * 4)
        return false;
    for (const std::vector<qvimport::sSkinInfluence>& v : b.mInfluences)
    {
        if (v.empty() || v.size() > qvimport::kMaxInfluences)
            return false;
        for (const qvimport::sSkinInfluence& i : v)
            if (i.mJoint < 0 || (size_t)i.mJoint >= joints || !(i.mWeight > 0) || !i.mLocal.IsFinite() ||
                std::fabs(i.mNormal.Length() - 1) > 1e-6)
                return false;
    }
    for (unsigned int t : b.mTriangles)
        if (t >= vertices)
            return false;
    for (double t : b.mTexCoords)
        if (!std::isfinite(t))
            return false;
    return true;
}

bool KeepsItsPromises(const qvimport::sCapture& c)
{
    const size_t joints = c.mJoints.size();
    if (joints == 0 || joints > qvimport::kMaxJoints || c.Frames() == 0 || c.mPosition.size() != c.Frames() ||
        !(c.mRate >= qvimport::kMinRate && c.mRate <= qvimport::kMaxRate))
        return false;
    for (size_t j = 0; j < joints; ++j)
        if (j == 0 ? c.mJoints[j].mParent != -1 : (c.mJoints[j].mParent < 0 || c.mJoints[j].mParent >= (int)j))
            return false;
    for (size_t f = 0; f < c.Frames(); ++f)
    {
        if (c.mRotation[f].size() != joints || c.mPosition[f].size() != joints)
            return false;
        for (size_t j = 0; j < joints; ++j)
            if (!c.mRotation[f][j].IsFinite() || !c.mPosition[f][j].IsFinite() ||
                std::fabs(c.mRotation[f][j].Dot(c.mRotation[f][j]) - 1) > 1e-6)
                return false;
    }
    return BodyKeepsItsPromises(c.mBody, joints);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    qvimport::cMemorySource in(data, size);
    qvimport::sCapture cap;
    try
    {
        cap = qvimport::DecodeCapture(in);
    }
    catch (const qvimport::cImportError&)
    {
        return 0;
    }
    if (!KeepsItsPromises(cap))
        __builtin_trap();
    try
    {
        qvimport::Import(cap, qvimport::sOptions());
    }
    catch (const qvimport::cImportError&)
    {
    }
    return 0;
}
