// Stage: body (within build actions). The source's skinned mesh as the file's
// body: placed where the file's bones stand at rest (the stand), in the
// file's model frame, its weights moved onto the bones written.
#include <cmath>

#include "QV_import.h"
#include "QV_png.h"

namespace qvimport
{
namespace
{

// The bone a capture joint's weight goes to: its own, or its nearest
// ancestor's that was written, or the root's.
int BoneFor(const sCapture& cap, const std::vector<int>& boneOfJoint, int joint)
{
    for (int j = joint; j >= 0; j = cap.mJoints[j].mParent)
        if (boneOfJoint[j] >= 0)
            return boneOfJoint[j];
    return 0;
}

} // namespace

author::sFileBody BuildBody(const sCapture& cap, const std::vector<int>& boneOfJoint, int stance, double standYaw,
                            double scale, double ground, int pelvis)
{
    author::sFileBody body;
    const sCaptureBody& in = cap.mBody;
    if (in.Empty())
        return body;
    // Upright capture space to the file's model frame, as the bones are
    // placed: about the pelvis turned by the stand's yaw and the root's half
    // turn, scaled, the pelvis at its standing height over the ground.
    const sQuat turn = sQuat::AxisAngle(sVec3(0, 0, 1), M_PI + standYaw);
    const sVec3 hips = cap.mPosition[stance][pelvis];
    const sVec3 lift(0, 0, (hips.z - ground) * scale);
    for (const std::vector<sSkinInfluence>& vertex : in.mInfluences)
    {
        sVec3 p, n;
        double total = 0;
        std::vector<author::sFileInfluence> weights;
        for (const sSkinInfluence& s : vertex)
        {
            const sQuat& r = cap.mRotation[stance][s.mJoint];
            p = p + (cap.mPosition[stance][s.mJoint] + r * s.mLocal) * s.mWeight;
            n = n + (r * s.mNormal) * s.mWeight;
            total += s.mWeight;
            weights.push_back({BoneFor(cap, boneOfJoint, s.mJoint), s.mWeight});
        }
        p = p * (1.0 / total);
        // A normal whose shares cancel out: the way up, so that it is one.
        n = n.Length() > 1e-12 ? n * (1.0 / n.Length()) : sVec3(0, 0, 1);
        const sVec3 fp = turn * (p - hips) * scale + lift, fn = turn * n;
        body.mPositions.insert(body.mPositions.end(), {fp.x, fp.y, fp.z});
        body.mNormals.insert(body.mNormals.end(), {fn.x, fn.y, fn.z});
        body.mInfluences.push_back(weights);
    }
    body.mTexCoords = in.mTexCoords;
    body.mTriangles = in.mTriangles;
    if (!in.mTexture.Empty())
        body.mTexturePng = EncodePng(in.mTexture);
    return body;
}

} // namespace qvimport
