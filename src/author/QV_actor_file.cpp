#include "QV_actor_file.h"

#include <math.h>
#include <stdio.h>

namespace author
{

namespace
{
void Matrix(std::string& s, const sFileBone& b, NumberFormat number)
{
    for (int row = 0; row < 3; ++row)
    {
        for (int col = 0; col < 3; ++col)
        {
            number(s, b.mRest[row][col]);
            s += ",";
        }
        number(s, b.mRest[row][3]);
        if (row < 2)
            s += ", ";
    }
}

void Key(std::string& s, const sFileKey& k, NumberFormat number)
{
    s += "          <key t=\"" + std::to_string(k.mTime) + "\"";
    if (k.mHasHeight)
    {
        s += " h=\"";
        number(s, k.mHeight);
        s += "\"";
    }
    s += "><quat w=\"";
    number(s, k.mW);
    s += "\" x=\"";
    number(s, k.mX);
    s += "\" y=\"";
    number(s, k.mY);
    s += "\" z=\"";
    number(s, k.mZ);
    s += "\"/></key>\n";
}

void Node(std::string& s, const sActorFile& file, int i)
{
    const sFileBone& b = file.mBones[i];
    s += "      <node name=\"" + b.mName + "\">" +
         (b.mParent < 0 ? std::string("NULL") : file.mBones[b.mParent].mName) + "</node>\n";
}
} // namespace

void FixedSixDecimals(std::string& s, double v)
{
    char buf[64];
    snprintf(buf, sizeof buf, "%.6f", v);
    std::string n = buf;
    bool zero = true;
    for (char ch : n)
        if (ch >= '1' && ch <= '9')
            zero = false;
    if (zero && n[0] == '-')
        n.erase(0, 1);
    s += n;
}

void SevenDigits(std::string& s, double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.7g", fabs(v) < 1e-9 ? 0.0 : v);
    s += buf;
}

std::string FormatActorFile(const sActorFile& file, NumberFormat number)
{
    std::string s = file.mProlog;
    s += "<QVArmature>\n";
    s += "  <armature name=\"" + file.mName + "\">\n";
    s += "    <skeleton bones=\"" + std::to_string(file.mBones.size()) + "\">\n";
    for (const sFileBone& b : file.mBones)
    {
        s += "      <bone name=\"" + b.mName + "\" len=\"";
        number(s, b.mLength);
        s += "\">\n        <matrix>";
        Matrix(s, b, number);
        s += "</matrix>\n      </bone>\n";
    }
    s += "    </skeleton>\n    <heirachy>\n";
    if (file.mHierarchy.empty())
        for (size_t i = 0; i < file.mBones.size(); ++i)
            Node(s, file, (int)i);
    for (int i : file.mHierarchy)
        Node(s, file, i);
    s += "    </heirachy>\n  </armature>\n  <actions>\n";
    for (const sFileAction& a : file.mActions)
    {
        s += "    <action name=\"" + a.mName + "\" len=\"" + std::to_string(a.mLength) + "\">\n";
        for (const std::vector<sFileKey>& channel : a.mChannels)
        {
            s += "      <channel>\n        <keyframes keys=\"" + std::to_string(channel.size()) + "\">\n";
            for (const sFileKey& k : channel)
                Key(s, k, number);
            s += "        </keyframes>\n      </channel>\n";
        }
        s += "    </action>\n";
    }
    s += "  </actions>\n</QVArmature>\n";
    return s;
}

} // namespace author
