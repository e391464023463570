// The actor file's optional body: parse its arrays, check them, build the
// body on the linked armature (docs/actor-file.md, "The body").
//
// Index:
//   [lists]    the number lists of the arrays, read strictly
//   [arrays]   positions, normals, texture coordinates, weights, triangles
//   [texture]  base64 and PNG (QV_base64, QV_png)
//   [reader]   ReadBody: the element, its counts, the steps in order

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "QV_base64.h"
#include "QV_png.h"
#include "QV_xml.h"
#include "QV_xml_read.h"

namespace xmlread
{
namespace
{

// [lists] --------------------------------------------------------------------

// The items of one array's text: numbers separated by white space, and in
// the weights ';', which ends a vertex's group. Any other text is refused,
// naming the array and the item.
class cNumberList
{
public:
    enum eItem
    {
        END,
        NUMBER,
        GROUP_END
    };

    cNumberList(const char* text, const char* array) : mP(text ? text : ""), mArray(array) {}

    // The next item; a number's value in value (real) or index (whole).
    eItem NextReal(double& value) { return Next(&value, nullptr); }
    eItem NextIndex(unsigned long long& index) { return Next(nullptr, &index); }

    // How many numbers have been read.
    size_t Count() const { return mCount; }

    [[noreturn]] void Refuse(const std::string& why) const
    {
        Fail("the body's '" + std::string(mArray) + "', number " + std::to_string(mCount) + ": " + why);
    }

private:
    const char* mP;
    const char* mArray;
    size_t mCount = 0;

    static bool Space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    eItem Next(double* value, unsigned long long* index)
    {
        while (Space(*mP))
            ++mP;
        if (!*mP)
            return END;
        if (*mP == ';')
        {
            ++mP;
            return GROUP_END;
        }
        const char* start = mP;
        while (*mP && !Space(*mP) && *mP != ';')
            ++mP;
        ++mCount;
        const std::from_chars_result r =
            value ? std::from_chars(start, mP, *value) : std::from_chars(start, mP, *index);
        if (r.ec != std::errc() || r.ptr != mP)
            Refuse(QuoteName(std::string(start, mP)) + (value ? " is not a number." : " is not a whole number."));
        if (value && !std::isfinite(*value))
            Refuse("the value must be a finite number.");
        return NUMBER;
    }
};

const char* Text(TiXmlElement* body, const char* name, bool required)
{
    TiXmlElement* e = body->FirstChildElement(name);
    if (!e)
    {
        if (required)
            Fail("the body has no '" + std::string(name) + "' element.");
        return nullptr;
    }
    const char* t = e->GetText();
    return t ? t : "";
}

[[noreturn]] void WrongCount(const char* array, size_t got, size_t want, const char* per)
{
    Fail("the body's '" + std::string(array) + "' holds " + std::to_string(got) + " numbers; " + per + " need " +
         std::to_string(want) + ".");
}

// [arrays] -------------------------------------------------------------------

// Points or directions, three numbers a vertex, each within XML_MAX_REACH,
// turned upright (the file's +z to +y) like the root bone.
std::vector<cVector3D> ReadTriples(const char* text, const char* array, size_t vertices, bool direction)
{
    cNumberList list(text, array);
    std::vector<cVector3D> out;
    double v[3];
    int k = 0;
    cNumberList::eItem item;
    while ((item = list.NextReal(v[k])) != cNumberList::END)
    {
        if (item != cNumberList::NUMBER)
            list.Refuse("';' belongs in the weights only.");
        if (!(std::fabs(v[k]) <= XML_MAX_REACH))
            list.Refuse("the value lies beyond " + std::to_string((long)XML_MAX_REACH) + ".");
        if (++k < 3)
            continue;
        k = 0;
        if (out.size() >= vertices)
            continue;                                        // counted, for the message below
        cVector3D p((float)v[0], (float)v[2], (float)-v[1]); // x, z, -y: upright
        if (direction)
        {
            const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            if (!(len > 1e-6))
                Fail("the body's normal of vertex " + std::to_string(out.size() + 1) + " has no direction (length " +
                     std::to_string(len) + ").");
            p = cVector3D((float)(v[0] / len), (float)(v[2] / len), (float)(-v[1] / len));
        }
        out.push_back(p);
    }
    if (list.Count() != 3 * vertices)
        WrongCount(array, list.Count(), 3 * vertices, "its vertices");
    return out;
}

std::vector<float> ReadTexCoords(const char* text, size_t vertices)
{
    cNumberList list(text, "texcoords");
    std::vector<float> out;
    double v;
    cNumberList::eItem item;
    while ((item = list.NextReal(v)) != cNumberList::END)
    {
        if (item != cNumberList::NUMBER)
            list.Refuse("';' belongs in the weights only.");
        if (!(std::fabs(v) <= XML_MAX_REACH))
            list.Refuse("the value lies beyond " + std::to_string((long)XML_MAX_REACH) + ".");
        if (out.size() < 2 * vertices)
            out.push_back((float)v);
    }
    if (list.Count() != 2 * vertices)
        WrongCount("texcoords", list.Count(), 2 * vertices, "its vertices");
    return out;
}

// One vertex's group: pairs of bone index and weight, one to four of them,
// no bone twice, weights finite and non-negative, summing to 1 within
// XML_WEIGHT_TOLERANCE; stored divided by their sum.
void CheckGroup(sInfluences& in, bool pairOpen, size_t vertex, const cNumberList& list)
{
    const std::string where = "the body's vertex " + std::to_string(vertex + 1);
    if (pairOpen)
        list.Refuse("a bone without its weight; give each vertex pairs of bone and weight, ended by ';'.");
    if (in.mCount == 0)
        Fail(where + " has no bone; give each vertex one to " + std::to_string(BODY_MAX_INFLUENCES) +
             " pairs of bone and weight.");
    double sum = 0.0;
    for (unsigned int k = 0; k < in.mCount; ++k)
        sum += in.mWeight[k];
    if (!(std::fabs(sum - 1.0) <= XML_WEIGHT_TOLERANCE))
    {
        char detail[160];
        std::snprintf(detail, sizeof detail, " has weights summing to %.6g; they must sum to 1 within %g.", sum,
                      XML_WEIGHT_TOLERANCE);
        Fail(where + detail);
    }
    for (unsigned int k = 0; k < in.mCount; ++k)
        in.mWeight[k] = (float)(in.mWeight[k] / sum);
}

std::vector<sInfluences> ReadWeights(const char* text, size_t vertices, size_t bones)
{
    cNumberList list(text, "weights");
    std::vector<sInfluences> out;
    sInfluences in;
    bool pairOpen = false; // a bone read, its weight not yet
    for (;;)
    {
        unsigned long long bone = 0;
        double weight = 0.0;
        const cNumberList::eItem item = pairOpen ? list.NextReal(weight) : list.NextIndex(bone);
        if (item == cNumberList::END)
            break;
        if (item == cNumberList::GROUP_END)
        {
            if (out.size() >= vertices)
                Fail("the body's 'weights' has more groups than its " + std::to_string(vertices) + " vertices.");
            CheckGroup(in, pairOpen, out.size(), list);
            out.push_back(in);
            in = sInfluences();
            continue;
        }
        if (!pairOpen)
        {
            if (bone >= bones)
                list.Refuse("the bone " + std::to_string(bone) + " does not exist; bones count from 0 to " +
                            std::to_string(bones - 1) + " in the order of the skeleton.");
            for (unsigned int k = 0; k < in.mCount; ++k)
                if (in.mBone[k] == bone)
                    list.Refuse("the vertex names the bone " + std::to_string(bone) + " twice.");
            if (in.mCount == BODY_MAX_INFLUENCES)
                list.Refuse("more than " + std::to_string(BODY_MAX_INFLUENCES) + " bones move one vertex.");
            in.mBone[in.mCount] = (unsigned int)bone;
            pairOpen = true;
            continue;
        }
        if (!(weight >= 0.0 && weight <= 1.0 + XML_WEIGHT_TOLERANCE))
            list.Refuse("a weight must lie between 0 and 1.");
        in.mWeight[in.mCount++] = (float)weight;
        pairOpen = false;
    }
    if (pairOpen || in.mCount != 0)
        Fail("the body's 'weights' ends inside a vertex's group; end every group with ';'.");
    if (out.size() != vertices)
        Fail("the body's 'weights' has " + std::to_string(out.size()) + " groups; its " + std::to_string(vertices) +
             " vertices need one each.");
    return out;
}

std::vector<unsigned int> ReadTriangles(const char* text, size_t triangles, size_t vertices)
{
    cNumberList list(text, "triangles");
    std::vector<unsigned int> out;
    unsigned long long index;
    cNumberList::eItem item;
    while ((item = list.NextIndex(index)) != cNumberList::END)
    {
        if (item != cNumberList::NUMBER)
            list.Refuse("';' belongs in the weights only.");
        if (index >= vertices)
            list.Refuse("the vertex " + std::to_string(index) + " does not exist; vertices count from 0 to " +
                        std::to_string(vertices - 1) + ".");
        if (out.size() < 3 * triangles)
            out.push_back((unsigned int)index);
    }
    if (list.Count() != 3 * triangles)
        WrongCount("triangles", list.Count(), 3 * triangles, "its triangles");
    return out;
}

// [texture] ------------------------------------------------------------------

[[noreturn]] void BadTexture(const std::string& why) { Fail("the body's texture cannot be read: " + why + "."); }

sImage ReadTexture(const char* text)
{
    std::vector<unsigned char> png;
    std::string why;
    if (!DecodeBase64(text, png, why))
        BadTexture(why);
    sImage image;
    if (!DecodePng(png.data(), png.size(), XML_MAX_TEXTURE_SIDE, image, why))
        BadTexture("not a PNG image libpng can read (" + why + ")");
    return image;
}

// Counts of the body element: whole numbers within their limits.
size_t Count(TiXmlElement* body, const char* attr, unsigned int max, size_t least)
{
    const double declared =
        RequireNumber(body, attr, ("Expecting '" + std::string(attr) + "' attribute for 'body'.").c_str());
    double n;
    if (!TruncateInRange(declared, (double)max, n) || n < (double)least)
        Fail("'" + std::string(attr) + "' of the body says " + QuoteName(body->Attribute(attr)) + "; it must be from " +
             std::to_string(least) + " to " + std::to_string(max) + ".");
    return (size_t)n;
}

} // namespace

// [reader] -------------------------------------------------------------------

void ReadBody(TiXmlDocument& doc, cActor& actor)
{
    TiXmlElement* e = TiXmlHandle(&doc).FirstChildElement("QVArmature").FirstChildElement("body").Element();
    if (!e)
        return;
    const size_t vertices = Count(e, "vertices", XML_MAX_BODY_VERTICES, 1);
    const size_t triangles = Count(e, "triangles", XML_MAX_BODY_TRIANGLES, 1);
    const size_t bones = actor.mArmature.mBones.size();

    cBody& body = actor.mBody;
    body.mRestPositions = ReadTriples(Text(e, "positions", true), "positions", vertices, false);
    body.mRestNormals = ReadTriples(Text(e, "normals", true), "normals", vertices, true);
    const char* texcoords = Text(e, "texcoords", false);
    if (texcoords)
        body.mTexCoords = ReadTexCoords(texcoords, vertices);
    body.mInfluences = ReadWeights(Text(e, "weights", true), vertices, bones);
    body.mTriangles = ReadTriangles(Text(e, "triangles", true), triangles, vertices);
    const char* texture = Text(e, "texture", false);
    if (texture)
    {
        if (!texcoords)
            Fail("the body has a texture but no 'texcoords' to place it.");
        body.mTexture = ReadTexture(texture);
    }

    const std::string problem = BindBody(body, actor.mArmature, XML_MAX_STRETCH);
    if (!problem.empty())
        Fail(problem);
}

} // namespace xmlread
