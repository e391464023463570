#include "QV_actor_file.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "QV_base64.h"

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
// The body's numbers, as short as what each holds allows: positions and
// texture coordinates to five significant digits, the rounding noise of
// double-precision work below 1e-6 as 0; the components of unit normals to
// four decimals, trailing zeros dropped. Never a negative zero.
void Significant(std::string& s, double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.5g", fabs(v) < 1e-6 ? 0.0 : v);
    s += buf;
}

void FourDecimals(std::string& s, double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%.4f", v);
    std::string n = buf;
    while (n.back() == '0')
        n.pop_back();
    if (n.back() == '.')
        n.pop_back();
    s += n == "-0" ? "0" : n;
}

void Lines(std::string& s, const char* element, const std::vector<double>& values, size_t per, NumberFormat number)
{
    s += "    <";
    s += element;
    s += ">\n";
    for (size_t i = 0; i < values.size(); ++i)
    {
        number(s, values[i]);
        s += (i + 1) % per == 0 ? "\n" : " ";
    }
    s += "    </";
    s += element;
    s += ">\n";
}

void Weight(std::string& s, int tenThousandths)
{
    if (tenThousandths >= 10000)
    {
        s += "1";
        return;
    }
    char buf[16];
    snprintf(buf, sizeof buf, "0.%04d", tenThousandths);
    std::string w = buf;
    while (w.back() == '0')
        w.pop_back();
    s += w;
}

void Body(std::string& s, const sFileBody& body)
{
    const size_t vertices = body.mPositions.size() / 3;
    s += "  <body vertices=\"" + std::to_string(vertices) + "\" triangles=\"" +
         std::to_string(body.mTriangles.size() / 3) + "\">\n";
    Lines(s, "positions", body.mPositions, 3, Significant);
    Lines(s, "normals", body.mNormals, 3, FourDecimals);
    if (!body.mTexCoords.empty())
        Lines(s, "texcoords", body.mTexCoords, 2, Significant);
    s += "    <weights>\n";
    for (size_t v = 0; v < vertices; ++v)
    {
        const std::vector<std::pair<int, int>> q =
            QuantiseWeights(v < body.mInfluences.size() ? body.mInfluences[v] : std::vector<sFileInfluence>());
        if (q.empty())
            s += "0 1";
        for (size_t k = 0; k < q.size(); ++k)
        {
            s += (k ? " " : "") + std::to_string(q[k].first) + " ";
            Weight(s, q[k].second);
        }
        s += ";\n";
    }
    s += "    </weights>\n    <triangles>\n";
    for (size_t i = 0; i < body.mTriangles.size(); ++i)
        s += std::to_string(body.mTriangles[i]) + ((i + 1) % 3 == 0 ? "\n" : " ");
    s += "    </triangles>\n";
    if (!body.mTexturePng.empty())
        s += "    <texture>\n" + Base64Lines(body.mTexturePng) + "    </texture>\n";
    s += "  </body>\n";
}
} // namespace

std::vector<std::pair<int, int>> QuantiseWeights(const std::vector<sFileInfluence>& influences)
{
    std::vector<sFileInfluence> merged;
    for (const sFileInfluence& in : influences)
    {
        auto same =
            std::find_if(merged.begin(), merged.end(), [&](const sFileInfluence& m) { return m.mBone == in.mBone; });
        if (same == merged.end())
            merged.push_back(in);
        else
            same->mWeight += in.mWeight;
    }
    std::sort(merged.begin(), merged.end(), [](const sFileInfluence& a, const sFileInfluence& b) {
        return a.mWeight != b.mWeight ? a.mWeight > b.mWeight : a.mBone < b.mBone;
    });
    if (merged.size() > 4)
        merged.resize(4);
    double total = 0;
    for (const sFileInfluence& m : merged)
        total += std::max(m.mWeight, 0.0);
    std::vector<std::pair<int, int>> out;
    if (!(total > 0))
        return out;
    int sum = 0;
    for (const sFileInfluence& m : merged)
    {
        const int q = (int)floor(std::max(m.mWeight, 0.0) / total * 10000.0 + 0.5);
        if (q > 0 || out.empty())
        {
            out.push_back({m.mBone, q});
            sum += q;
        }
    }
    out[0].second += 10000 - sum;
    return out;
}

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
    s += "  </actions>\n";
    if (!file.mBody.Empty())
        Body(s, file.mBody);
    s += "</QVArmature>\n";
    return s;
}

} // namespace author
