// Stage: write file. The actor file as docs/actor-file.md describes it; the
// root channel's keys carry the hips' height over their rest height as "h".
#include <cmath>
#include <cstdio>

#include "QV_import.h"

namespace qvimport
{
namespace
{

void Number(std::string& s, double v)
{
    char buf[32];
    // Seven significant digits: all a float holds. Rounding noise of the
    // double-precision work (1e-16 for an exact zero) is written as zero.
    std::snprintf(buf, sizeof buf, "%.7g", std::fabs(v) < 1e-9 ? 0.0 : v);
    s += buf;
}

void Matrix(std::string& s, const sOutBone& b)
{
    double r[3][3];
    b.mRest.Unit().ToMatrix(r);
    const double t[3] = {b.mOffset.x, b.mOffset.y, b.mOffset.z};
    for (int row = 0; row < 3; ++row)
    {
        for (int col = 0; col < 3; ++col)
        {
            Number(s, r[row][col]);
            s += ",";
        }
        Number(s, t[row]);
        if (row < 2)
            s += ", ";
    }
}

} // namespace

std::string WriteActorXml(const sActorOut& actor)
{
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<QVArmature>\n";
    s += "  <armature name=\"" + actor.mName + "\">\n";
    s += "    <skeleton bones=\"" + std::to_string(actor.mBones.size()) + "\">\n";
    for (const sOutBone& b : actor.mBones)
    {
        s += "      <bone name=\"" + b.mName + "\" len=\"";
        Number(s, b.mLength);
        s += "\">\n        <matrix>";
        Matrix(s, b);
        s += "</matrix>\n      </bone>\n";
    }
    s += "    </skeleton>\n    <heirachy>\n";
    for (const sOutBone& b : actor.mBones)
        s += "      <node name=\"" + b.mName + "\">" +
             (b.mParent < 0 ? std::string("NULL") : actor.mBones[b.mParent].mName) + "</node>\n";
    s += "    </heirachy>\n  </armature>\n  <actions>\n";
    for (const sOutAction& a : actor.mAction)
    {
        s += "    <action name=\"" + a.mName + "\" len=\"" + std::to_string(a.mLength) + "\">\n";
        for (const std::vector<sKey>& ch : a.mChannels)
        {
            s += "      <channel>\n        <keyframes keys=\"" + std::to_string(ch.size()) + "\">\n";
            for (const sKey& k : ch)
            {
                s += "          <key t=\"" + std::to_string(k.mTime) + "\"";
                if (k.mHasHeight)
                {
                    s += " h=\"";
                    Number(s, k.mHeight);
                    s += "\"";
                }
                s += "><quat w=\"";
                Number(s, k.mValue.w);
                s += "\" x=\"";
                Number(s, k.mValue.x);
                s += "\" y=\"";
                Number(s, k.mValue.y);
                s += "\" z=\"";
                Number(s, k.mValue.z);
                s += "\"/></key>\n";
            }
            s += "        </keyframes>\n      </channel>\n";
        }
        s += "    </action>\n";
    }
    s += "  </actions>\n</QVArmature>\n";
    return s;
}

} // namespace qvimport
