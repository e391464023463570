// The scene's first clip as BVH.
//
// BVH joints have no rest rotation: every joint's frame is the world's at
// rest, an OFFSET from its parent's head. So each joint's rotation is
// written as the turn it has made from its rest frame, seen in the world,
// relative to its parent's: G = world rotation × rest world rotation⁻¹, and
// the channel holds G_parent⁻¹ × G. Heads then land where the actor's are:
// head = parent head + G_parent × OFFSET, the OFFSET being the rest heads'
// difference in the world. Euler angles in the order Z X Y (R = Rz Rx Ry,
// as the CHANNELS line reads), degrees, each kept within half a turn of the
// frame before so that interpolating readers do not spin.
#include <cmath>
#include <cstdio>
#include <set>

#include "QV_export.h"
#include "QV_export_math.h"

namespace qvexport
{

namespace
{

// Names as BVH tokens: no white space or braces, unique.
std::vector<std::string> BvhNames(const std::vector<sJoint>& joints)
{
    std::vector<std::string> names;
    std::set<std::string> used;
    for (const sJoint& j : joints)
    {
        std::string n = j.mName.empty() ? "joint" : j.mName;
        for (char& c : n)
            if ((unsigned char)c <= ' ' || c == '{' || c == '}' || c == 0x7f)
                c = '_';
        const std::string base = n;
        for (int k = 2; used.count(n); ++k)
            n = base + "_" + std::to_string(k);
        used.insert(n);
        names.push_back(n);
    }
    return names;
}

// Z X Y angles in degrees of a rotation: R = Rz(z) Rx(x) Ry(y).
tVec EulerZXY(const tQuat& q)
{
    const tMat3 m = MatOf(q); // element (row r, column c) at [c * 3 + r]
    const double sx = std::fmax(-1.0, std::fmin(1.0, m[1 * 3 + 2]));
    const double x = std::asin(sx);
    double y, z;
    if (std::fabs(sx) < 0.9999999)
    {
        y = std::atan2(-m[0 * 3 + 2], m[2 * 3 + 2]);
        z = std::atan2(-m[1 * 3 + 0], m[1 * 3 + 1]);
    }
    else
    {
        // Gimbal lock: z and y turn about one axis; all of it goes to z.
        y = 0;
        z = std::atan2(m[0 * 3 + 1], m[0 * 3 + 0]);
    }
    const double deg = 180.0 / M_PI;
    return {z * deg, x * deg, y * deg};
}

double Near(double angle, double before) { return angle + 360.0 * std::round((before - angle) / 360.0); }

void Put(std::string& out, const char* format, double v)
{
    char text[48];
    std::snprintf(text, sizeof text, format, std::isfinite(v) ? v : 0.0);
    out += text;
}

std::string Offset(const tVec& v)
{
    std::string out = "OFFSET";
    for (double c : v)
        Put(out, " %.8f", c);
    return out;
}

std::string Hierarchy(const sScene& scene, const std::vector<std::string>& names)
{
    const std::vector<sJoint>& joints = scene.mJoints;
    std::vector<bool> parent(joints.size(), false);
    for (const sJoint& j : joints)
        if (j.mParent >= 0)
            parent[j.mParent] = true;
    std::string out = "HIERARCHY\n";
    // The joints are in depth-first order: a joint closes the open joints
    // down to its parent, then opens its own.
    std::vector<int> open;
    auto indent = [&]() { return std::string(2 * open.size(), ' '); };
    auto close = [&]() {
        open.pop_back();
        out += indent() + "}\n";
    };
    for (size_t i = 0; i < joints.size(); ++i)
    {
        const sJoint& j = joints[i];
        while (!open.empty() && open.back() != j.mParent)
            close();
        out += indent() + (j.mParent < 0 ? "ROOT " : "JOINT ") + names[i] + "\n" + indent() + "{\n";
        open.push_back((int)i);
        tVec offset = {0, 0, 0};
        if (j.mParent >= 0)
            for (int k = 0; k < 3; ++k)
                offset[k] = j.mRestWorld.mTranslation[k] - joints[j.mParent].mRestWorld.mTranslation[k];
        out += indent() + Offset(offset) + "\n";
        out += indent() + (j.mParent < 0 ? "CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n"
                                         : "CHANNELS 3 Zrotation Xrotation Yrotation\n");
        if (!parent[i])
            out += indent() + "End Site\n" + indent() + "{\n" + indent() + "  " +
                   Offset(Rotate(j.mRestWorld.mRotation, {0, j.mLength, 0})) + "\n" + indent() + "}\n";
    }
    while (!open.empty())
        close();
    return out;
}

} // namespace

std::string FormatBvh(const sScene& scene)
{
    if (scene.mJoints.empty())
        throw cExportError("the actor has no bones to write");
    if (scene.mClips.empty() || scene.mClips[0].mFrames.empty())
        throw cExportError("there is no animation to write");
    const sClip& clip = scene.mClips[0];
    const std::vector<sJoint>& joints = scene.mJoints;
    std::string out = Hierarchy(scene, BvhNames(joints));
    out += "MOTION\nFrames: " + std::to_string(clip.mFrames.size()) + "\n";
    Put(out, "Frame Time: %.6f\n", clip.mFrameTime);

    std::vector<tQuat> world(joints.size()), turn(joints.size());
    std::vector<tVec> before(joints.size(), tVec{0, 0, 0});
    for (size_t f = 0; f < clip.mFrames.size(); ++f)
    {
        const std::vector<sTransform>& frame = clip.mFrames[f];
        for (int k = 0; k < 3; ++k)
            Put(out, k ? " %.8f" : "%.8f", frame[0].mTranslation[k]);
        for (size_t i = 0; i < joints.size(); ++i)
        {
            const sJoint& j = joints[i];
            world[i] = j.mParent < 0 ? frame[i].mRotation : Mul(world[j.mParent], frame[i].mRotation);
            turn[i] = Normalised(Mul(world[i], Conjugate(j.mRestWorld.mRotation)));
            const tQuat local = j.mParent < 0 ? turn[i] : Mul(Conjugate(turn[j.mParent]), turn[i]);
            tVec angles = EulerZXY(local);
            for (int k = 0; k < 3; ++k)
            {
                angles[k] = f ? Near(angles[k], before[i][k]) : angles[k];
                Put(out, " %.6f", angles[k]);
            }
            before[i] = angles;
        }
        out += "\n";
    }
    return out;
}

} // namespace qvexport
