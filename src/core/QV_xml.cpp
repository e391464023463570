// The actor-file reader.
//
// Index:
//   [helpers]   messages, numbers, places
//   [markup]    the walk over the markup that guards the parser (limits, DTDs)
//   [hierarchy] parse, check and link the bone tree
//   [values]    checks that keep every pose finite: keys, rest matrices, reach
//   [actions]   the action slots, channels, keys and the root's heights
//   [reader]    the skeleton, LoadMatrix, and the entry points (memory, file)

#include "QV_xml.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "QV_file.h"

namespace
{

// [helpers] ------------------------------------------------------------------

[[noreturn]] void Fail(const std::string& detail) { throw cXmlError("XML ERROR: " + detail); }

const char* RequireText(TiXmlElement* e, const char* attr, const char* message)
{
    const char* v = e->Attribute(attr);
    if (!v)
        Fail(message);
    return v;
}

double RequireNumber(TiXmlElement* e, const char* attr, const char* message)
{
    double d = 0.0;
    if (!e->Attribute(attr, &d))
        Fail(message);
    return d;
}

// A count or a time: the value truncated toward zero, which must lie in
// 0 ... max. Values outside are refused before any conversion.
bool TruncateInRange(double v, double max, double& out)
{
    if (!std::isfinite(v))
        return false;
    const double t = std::trunc(v);
    if (t < 0.0 || t > max)
        return false;
    out = t;
    return true;
}

bool ToMillis(double v, unsigned int& out)
{
    double t;
    if (!TruncateInRange(v, 4294967295.0, t))
        return false;
    out = (unsigned int)t;
    return true;
}

bool ToFloat(double v, float& out)
{
    if (!std::isfinite(v) || std::fabs(v) > (double)FLT_MAX)
        return false;
    out = (float)v;
    return true;
}

const char* const kTimeRange = " must be a time from 0 to 4294967295 milliseconds.";
const char* const kFinite = " must be a finite number.";

// Where in the actions a problem lies, for messages: "in the action 'walk',
// channel 3" and optionally ", key 2" (counting from 1).
std::string Place(const std::string& action, size_t channel, size_t key = 0)
{
    std::string s = "in the action " + QuoteName(action) + ", channel " + std::to_string(channel + 1);
    if (key)
        s += ", key " + std::to_string(key);
    return s;
}

// [markup] -------------------------------------------------------------------

// The markup walk. TinyXML parses nested elements recursively, one stack
// frame chain per level, and builds every node on the heap. This class
// retraces the parser's element-level control flow without recursion and
// uses TinyXML's own routines for everything else (names, attributes,
// texts, comments, declarations, white space, characters and entities), so
// it ends exactly where the parser would and sees the same nesting.
class cMarkupWalk : public TiXmlBase
{
public:
    static sXmlMarkup Walk(const char* p);

private:
    enum eNode
    {
        NODE_NONE,
        NODE_DECLARATION,
        NODE_COMMENT,
        NODE_CDATA,
        NODE_UNKNOWN,
        NODE_ELEMENT
    };

    static bool OverLimit(const sXmlMarkup& m)
    {
        return m.mDepth > XML_MAX_NESTING || m.mItems > XML_MAX_ITEMS || m.mMaxAttributes > XML_MAX_ATTRIBUTES;
    }

    // TiXmlNode::Identify.
    static eNode Identify(const char*& p, TiXmlEncoding encoding)
    {
        p = SkipWhiteSpace(p, encoding);
        if (!p || !*p || *p != '<')
            return NODE_NONE;
        if (StringEqual(p, "<?xml", true, encoding))
            return NODE_DECLARATION;
        if (StringEqual(p, "<!--", false, encoding))
            return NODE_COMMENT;
        if (StringEqual(p, "<![CDATA[", false, encoding))
            return NODE_CDATA;
        if (StringEqual(p, "<!", false, encoding))
            return NODE_UNKNOWN;
        if (IsAlpha((unsigned char)*(p + 1), encoding) || *(p + 1) == '_')
            return NODE_ELEMENT;
        return NODE_UNKNOWN;
    }

    // TinyXML reads a document type declaration as an unknown node that ends
    // at its first '>' and then stops reading the document at the "]>" of an
    // internal subset, so a file with a DTD would fail later with a message
    // about a missing element. The walk notes such markup for a message of
    // its own.
    static bool IsDtdMarkup(const char* p, TiXmlEncoding encoding)
    {
        static const char* const kDtd[] = {"<!DOCTYPE", "<!ENTITY", "<!ELEMENT", "<!ATTLIST", "<!NOTATION"};
        for (const char* d : kDtd)
            if (StringEqual(p, d, true, encoding))
                return true;
        return false;
    }

    // Parses a node that holds no elements with TinyXML's own parser.
    static const char* ParseLeaf(eNode kind, const char* p, TiXmlEncoding encoding, TiXmlDeclaration* decl)
    {
        switch (kind)
        {
        case NODE_DECLARATION: return decl->Parse(p, nullptr, encoding);
        case NODE_COMMENT:
        {
            TiXmlComment comment;
            return comment.Parse(p, nullptr, encoding);
        }
        case NODE_CDATA:
        {
            TiXmlText text("");
            text.SetCDATA(true);
            return text.Parse(p, nullptr, encoding);
        }
        default:
        {
            TiXmlUnknown unknown;
            return unknown.Parse(p, nullptr, encoding);
        }
        }
    }

    // The start of TiXmlElement::Parse up to and including its attributes.
    // Returns the position after the start tag; sets 'empty' for an empty
    // element tag and stores the expected end tag. Null on a parse error.
    static const char* StartTag(const char* p, TiXmlEncoding encoding, sXmlMarkup& m, bool& empty, std::string& endTag)
    {
        p = SkipWhiteSpace(p, encoding);
        if (!p || !*p || *p != '<')
            return nullptr;
        p = SkipWhiteSpace(p + 1, encoding);
        std::string name;
        p = ReadName(p, &name, encoding);
        if (!p || !*p)
            return nullptr;
        endTag = "</" + name;

        std::vector<std::string> names;
        while (p && *p)
        {
            p = SkipWhiteSpace(p, encoding);
            if (!p || !*p)
                return nullptr;
            if (*p == '/')
            {
                ++p;
                if (*p != '>')
                    return nullptr;
                empty = true;
                return p + 1;
            }
            if (*p == '>')
            {
                empty = false;
                return p + 1;
            }
            TiXmlAttribute attribute;
            p = attribute.Parse(p, nullptr, encoding);
            if (!p || !*p)
                return nullptr;
            for (const std::string& n : names)
                if (n == attribute.NameTStr())
                    return nullptr; // a repeated attribute is a parse error
            names.push_back(attribute.NameTStr());
            ++m.mItems;
            if (names.size() > m.mMaxAttributes)
                m.mMaxAttributes = names.size();
            if (OverLimit(m))
                return nullptr;
        }
        return nullptr;
    }
};

sXmlMarkup cMarkupWalk::Walk(const char* p)
{
    sXmlMarkup m;
    if (!p || !*p)
        return m;

    TiXmlEncoding encoding = TIXML_ENCODING_UNKNOWN;
    const unsigned char* u = (const unsigned char*)p;
    if (u[0] == 0xefU && u[1] == 0xbbU && u[2] == 0xbfU)
        encoding = TIXML_ENCODING_UTF8;

    // The end tags of the open elements, innermost last.
    std::vector<std::string> open;
    p = SkipWhiteSpace(p, encoding);

    // TiXmlDocument::Parse at the top level; TiXmlElement::Parse and
    // ReadValue inside elements, with the recursion turned into 'open'.
    while (p && *p)
    {
        const bool top = open.empty();
        if (!top && *p != '<')
        {
            TiXmlText text("");
            p = text.Parse(p, nullptr, encoding);
            ++m.mItems;
        }
        else if (!top && StringEqual(p, "</", false, encoding))
        {
            // The end tag of the innermost element: "</name", white space, ">".
            if (!StringEqual(p, open.back().c_str(), false, encoding))
                break;
            p = SkipWhiteSpace(p + open.back().size(), encoding);
            if (!p || *p != '>')
                break;
            ++p;
            open.pop_back();
        }
        else
        {
            const char* start = p;
            const eNode kind = Identify(start, encoding);
            if (kind == NODE_NONE)
                break;
            ++m.mItems;
            if (kind == NODE_ELEMENT)
            {
                bool empty = false;
                std::string endTag;
                ++m.mElements;
                m.mDepth = std::max(m.mDepth, open.size() + 1);
                p = StartTag(p, encoding, m, empty, endTag);
                if (p && !empty)
                    open.push_back(endTag);
            }
            else
            {
                if (kind == NODE_UNKNOWN && IsDtdMarkup(start, encoding))
                    m.mDocumentType = true;
                TiXmlDeclaration decl;
                p = ParseLeaf(kind, p, encoding, &decl);
                // The first top-level declaration settles the encoding.
                if (top && kind == NODE_DECLARATION && encoding == TIXML_ENCODING_UNKNOWN)
                {
                    const char* enc = decl.Encoding();
                    if (*enc == 0 || StringEqual(enc, "UTF-8", true, TIXML_ENCODING_UNKNOWN) ||
                        StringEqual(enc, "UTF8", true, TIXML_ENCODING_UNKNOWN))
                        encoding = TIXML_ENCODING_UTF8;
                    else
                        encoding = TIXML_ENCODING_LEGACY;
                }
            }
        }
        if (!p || OverLimit(m))
            break;
        p = SkipWhiteSpace(p, encoding);
    }
    return m;
}

std::string ErrorText(int code)
{
    TiXmlDocument doc;
    doc.SetError(code, nullptr, nullptr, TIXML_ENCODING_UNKNOWN);
    return doc.ErrorDesc();
}

// [hierarchy] ----------------------------------------------------------------

struct sNodeLink
{
    size_t mBone;
    size_t mParent; // the bone's own index for the root
};

// The hierarchy as the file gives it: one link a node, in node order.
struct sHierarchy
{
    std::vector<sNodeLink> mLinks;
    size_t mRoot; // the bone whose parent is NULL
};

const size_t kNoBone = (size_t)-1;

// Parse: reads the nodes into links by bone index. Refuses a node that names
// no bone, a bone described twice, a bone that is its own parent, an unknown
// parent, two roots, no root, and a bone that no node describes.
sHierarchy ReadHierarchy(TiXmlDocument& doc, const std::vector<cBone>& bones,
                         const std::unordered_map<std::string, size_t>& index)
{
    TiXmlElement* heirachy = TiXmlHandle(&doc)
                                 .FirstChildElement("QVArmature")
                                 .FirstChildElement("armature")
                                 .FirstChildElement("heirachy")
                                 .Element();
    if (!heirachy)
        Fail("Expecting 'heirachy' tag.");
    TiXmlElement* node = heirachy->FirstChildElement("node");
    if (!node)
        Fail("Expecting (at least one) 'node' tag.");

    const size_t n = bones.size();
    std::vector<char> described(n, 0);
    sHierarchy h;
    h.mLinks.reserve(n);
    h.mRoot = kNoBone;

    for (; node; node = node->NextSiblingElement())
    {
        const std::string name = RequireText(node, "name", "Expecting 'name' attribute for 'node'.");
        TiXmlNode* child = node->FirstChild();
        if (!child || child->Type() != TiXmlNode::TINYXML_TEXT)
            Fail("Expecting a 'text' parent name for 'node'.");
        const std::string parentName = child->Value();

        auto it = index.find(name);
        if (it == index.end())
            Fail("the 'node' named " + QuoteName(name) + " describes no bone of the skeleton.");
        const size_t b = it->second;
        if (described[b])
            Fail("the bone " + QuoteName(name) + " is described by more than one 'node'.");
        described[b] = 1;

        if (parentName == "NULL")
        {
            if (h.mRoot != kNoBone)
                Fail("the bones " + QuoteName(bones[h.mRoot].mName) + " and " + QuoteName(name) +
                     " both have the parent NULL; there must be exactly one root bone.");
            h.mRoot = b;
            h.mLinks.push_back({b, b});
            continue;
        }
        auto pit = index.find(parentName);
        if (pit == index.end())
            Fail("the parent " + QuoteName(parentName) + " of the bone " + QuoteName(name) +
                 " is not a bone of the skeleton.");
        if (pit->second == b)
            Fail("the bone " + QuoteName(name) + " is its own parent.");
        h.mLinks.push_back({b, pit->second});
    }

    if (h.mRoot == kNoBone)
        Fail("no 'node' has the parent NULL; there must be exactly one root bone.");
    for (size_t i = 0; i < n; ++i)
        if (!described[i])
            Fail("the bone " + QuoteName(bones[i].mName) + " is described by no 'node'.");
    return h;
}

// Check: with one parent a bone and one root, the links form a tree exactly
// when the root reaches every bone. Walks it without recursion; refuses a
// loop (naming a bone on it) and a tree deeper than the limit.
void CheckTree(const sHierarchy& h, const std::vector<cBone>& bones)
{
    const size_t n = bones.size();
    std::vector<size_t> parent(n, kNoBone);
    std::vector<size_t> firstChild(n, kNoBone), nextSibling(n, kNoBone), lastChild(n, kNoBone);
    for (const sNodeLink& l : h.mLinks)
    {
        parent[l.mBone] = l.mParent;
        if (l.mBone == l.mParent)
            continue;
        if (lastChild[l.mParent] == kNoBone)
            firstChild[l.mParent] = l.mBone;
        else
            nextSibling[lastChild[l.mParent]] = l.mBone;
        lastChild[l.mParent] = l.mBone;
    }
    std::vector<char> reached(n, 0);
    std::vector<std::pair<size_t, size_t>> stack; // bone, depth
    stack.push_back({h.mRoot, 1});
    size_t count = 0;
    while (!stack.empty())
    {
        const size_t b = stack.back().first;
        const size_t depth = stack.back().second;
        stack.pop_back();
        reached[b] = 1;
        ++count;
        if (depth > XML_MAX_HIERARCHY_DEPTH)
            Fail("the bone hierarchy is more than " + std::to_string(XML_MAX_HIERARCHY_DEPTH) + " levels deep.");
        for (size_t c = firstChild[b]; c != kNoBone; c = nextSibling[c])
            stack.push_back({c, depth + 1});
    }
    if (count != n)
    {
        // Every bone the root does not reach has a parent: following the
        // parents from one of them ends in a loop. Name a bone on the loop.
        size_t b = 0;
        while (reached[b])
            ++b;
        for (size_t i = 0; i < n; ++i)
            b = parent[b];
        Fail("the bone " + QuoteName(bones[b].mName) + " is its own ancestor.");
    }
}

// Build: links the bones in node order, so each parent lists its children
// as the nodes do, and turns the root upright.
void LinkBones(const sHierarchy& h, cArmature& arm)
{
    std::vector<cBone>& bones = arm.mBones;
    for (const sNodeLink& l : h.mLinks)
    {
        cBone& bone = bones[l.mBone];
        if (l.mBone == l.mParent)
        {
            bone.mParent = nullptr;
            arm.mRootBone = &bone;
            bone.mRestTransform = UprightRootRest(bone.mRestTransform);
            bone.mTransform = bone.mRestTransform;
        }
        else
        {
            bone.mParent = &bones[l.mParent];
            bones[l.mParent].mChildren.push_back(&bone);
        }
    }
}

// [values] -------------------------------------------------------------------
//
// A pose's world matrices are products down the bone tree: each bone's rest
// rotation block times the rotation of its key, and its rest translation
// carried by everything above it. The checks below bound those products for
// every pose the file can produce, so that no accepted file can drive a world
// matrix to infinity or not-a-number however it is played.

// A key's rotation: a unit quaternion within XML_QUAT_TOLERANCE. A longer one
// is not a rotation but a rotation with a stretch (the matrix of s * q, for a
// unit q, is (1 - s^2) I + s^2 R(q)), which a held key passes on unchanged
// and which multiplies down the tree; the zero quaternion turns nothing at
// all and cannot be interpolated.
// The message names the key's place and the bone its channel drives.
void CheckKeyQuaternion(const cQuaternion& q, const std::string& action, size_t channel, size_t key,
                        const std::string& bone)
{
    const double x = q.mData[0], y = q.mData[1], z = q.mData[2], w = q.mData[3];
    const double length = std::sqrt(x * x + y * y + z * z + w * w);
    if (std::fabs(length - 1.0) <= XML_QUAT_TOLERANCE)
        return;
    const std::string place = Place(action, channel, key) + " (bone " + QuoteName(bone) + ")";
    if (length == 0.0)
        Fail(place + ": the quaternion is zero, which is no rotation; keys must be unit quaternions.");
    {
        char detail[160];
        std::snprintf(detail, sizeof detail,
                      ": the quaternion has length %.6g; keys must be unit quaternions (length 1 within %g).", length,
                      XML_QUAT_TOLERANCE);
        Fail(place + detail);
    }
}

// How far the 3 x 3 block of m can stretch a vector: the square root of the
// largest row sum of |m^T m|. That bounds the spectral norm from above and is
// exactly 1 for a rotation, so that chains of rotations bound to 1 however
// deep they are. Computed in doubles from the floats, so it cannot overflow.
double StretchBound(const cMatrix4D& m)
{
    double worst = 0.0;
    for (int i = 0; i < 3; ++i)
    {
        double sum = 0.0;
        for (int j = 0; j < 3; ++j)
        {
            double dot = 0.0;
            for (int k = 0; k < 3; ++k)
                dot += (double)m._m[i * 4 + k] * (double)m._m[j * 4 + k];
            sum += std::fabs(dot);
        }
        worst = std::max(worst, sum);
    }
    return std::sqrt(worst);
}

double TranslationLength(const cMatrix4D& m)
{
    const double x = m._m[12], y = m._m[13], z = m._m[14];
    return std::sqrt(x * x + y * y + z * z);
}

std::string Number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3g", v);
    return buf;
}

// One bone's rest matrix on its own: its rotation block may stretch by at
// most XML_MAX_STRETCH and its translation is at most XML_MAX_REACH long. (An
// entry is never larger than the stretch, so every product of such entries
// stays far inside the float range.)
void CheckRestMatrix(const cBone& bone)
{
    const double stretch = StretchBound(bone.mRestTransform);
    if (!(stretch <= XML_MAX_STRETCH))
        Fail("the rest matrix of the bone " + QuoteName(bone.mName) + " stretches by up to " + Number(stretch) +
             "; the limit is " + Number(XML_MAX_STRETCH) + ".");
    const double t = TranslationLength(bone.mRestTransform);
    if (!(t <= XML_MAX_REACH))
        Fail("the rest matrix of the bone " + QuoteName(bone.mName) + " moves it by " + Number(t) +
             " units; the limit is " + Number(XML_MAX_REACH) + ".");
}

// The stretch of one bone's key rotations: the largest (|1 - s^2| + s^2)
// over its keys in every action, s being a key's length, and 1 for a bone
// without keys (it keeps the identity) and for interpolated keys (those are
// normalised).
std::vector<double> KeyStretch(const cActor& actor)
{
    std::vector<double> stretch(actor.mArmature.mBones.size(), 1.0);
    for (const cAction& a : actor.mAction)
        for (size_t j = 0; j < a.mChannels.size() && j < stretch.size(); ++j)
            for (const sKeyFrame& k : a.mChannels[j].mKeyFrames)
            {
                const cQuaternion& q = k.mValue;
                const double s2 = (double)q.mData[0] * q.mData[0] + (double)q.mData[1] * q.mData[1] +
                                  (double)q.mData[2] * q.mData[2] + (double)q.mData[3] * q.mData[3];
                stretch[j] = std::max(stretch[j], std::fabs(1.0 - s2) + s2);
            }
    return stretch;
}

// The whole tree in any pose: going down from the root, the stretch of the
// chain above a bone (rest blocks times key stretches) stays within
// XML_MAX_STRETCH, and a bound on the distance of the bone's head and tail
// from the root's origin (the distance of its parent's head plus the parent
// chain's stretch times its translation) stays within XML_MAX_REACH. The
// root's own translation counts, as the root's origin is the world's.
// Returns the figure's size: the same bound on the distance of any bone's
// head or tail, from the root's head rather than its origin.
double CheckReach(const cActor& actor)
{
    const cArmature& arm = actor.mArmature;
    if (!arm.mRootBone)
        return 0.0;
    const std::vector<double> keyStretch = KeyStretch(actor);
    const cBone* first = arm.mBones.data();
    struct sBound
    {
        const cBone* mBone;
        double mChain; // stretch of the parent's world rotation
        double mHead;  // bound on the distance of the parent's head
    };
    std::vector<sBound> stack;
    stack.push_back({arm.mRootBone, 1.0, 0.0});
    const double rootOffset = TranslationLength(arm.mRootBone->mRestTransform);
    double size = 0.0;
    while (!stack.empty())
    {
        const sBound b = stack.back();
        stack.pop_back();
        const cBone& bone = *b.mBone;
        const size_t i = (size_t)(b.mBone - first);
        const double chain = b.mChain * StretchBound(bone.mRestTransform) * keyStretch[i];
        const double head = b.mHead + b.mChain * TranslationLength(bone.mRestTransform);
        const double tail = head + chain * std::fabs((double)bone.mLength);
        if (!(chain <= XML_MAX_STRETCH))
            Fail("the rest matrices and keys from the root down to the bone " + QuoteName(bone.mName) +
                 " stretch by up to " + Number(chain) + " together; the limit is " + Number(XML_MAX_STRETCH) + ".");
        if (!(std::max(head, tail) <= XML_MAX_REACH))
            Fail("the bone " + QuoteName(bone.mName) + " can lie up to " + Number(std::max(head, tail)) +
                 " units from the root's origin; the limit is " + Number(XML_MAX_REACH) + ".");
        size = std::max(size, std::max(head, tail) - rootOffset);
        for (const cBone* child : bone.mChildren)
            stack.push_back({child, chain, head});
    }
    return size;
}

// The root's height lifts the whole figure, and single-precision positions
// at a height h lie about h / 8 000 000 apart: at a million units they are
// a sixteenth of a unit apart, and the bones of a figure 2 units high at the
// hips, played in 1 ms frames, jumped 4.5 times as far per frame as at rest
// height. So h stays within
// XML_MAX_ROOT_HEIGHT_PER_SIZE times the figure's size (the bound from
// CheckReach), where the spacing is a hundred-thousandth of that size.
void CheckRootHeights(const cActor& actor, double size)
{
    const double limit = std::min(XML_MAX_ROOT_HEIGHT_PER_SIZE * size, XML_MAX_ROOT_HEIGHT);
    const size_t root = (size_t)(actor.mArmature.mRootBone - actor.mArmature.mBones.data());
    for (const cAction& a : actor.mAction)
        for (size_t k = 0; k < a.mRootHeight.size(); ++k)
            if (std::fabs((double)a.mRootHeight[k].mHeight) > limit)
            {
                char height[32];
                std::snprintf(height, sizeof height, "%g", (double)a.mRootHeight[k].mHeight);
                Fail("'h' " + Place(a.mName, root, k + 1) + " is " + height + " units; a figure of size " +
                     Number(size) + " may rise or sink at most " + Number(XML_MAX_ROOT_HEIGHT_PER_SIZE) +
                     " times its size, beyond which its positions in single precision are too coarse.");
            }
}

// [actions] ------------------------------------------------------------------

// The optional root height of key k (counting from 1), 'h': only on the root
// bone's channel, a finite number within XML_MAX_ROOT_HEIGHT, and on every
// key of that channel or on none.
void ReadRootHeight(TiXmlElement* key, cAction& slot, bool rootChannel, size_t channel, size_t k, unsigned int time)
{
    const char* const everyOrNone = "; give every key of the root's channel a height, or none.";
    double h = 0.0;
    const int got = key->QueryDoubleAttribute("h", &h);
    if (got == TIXML_NO_ATTRIBUTE)
    {
        if (rootChannel && !slot.mRootHeight.empty())
            Fail(Place(slot.mName, channel, k) + ": the key has no 'h' but the channel's first key has one" +
                 everyOrNone);
        return;
    }
    if (!rootChannel)
        Fail("'h' " + Place(slot.mName, channel, k) + ": only the root bone's channel may carry a height.");
    if (got != TIXML_SUCCESS || !std::isfinite(h) || std::fabs(h) > XML_MAX_ROOT_HEIGHT)
        Fail("'h' " + Place(slot.mName, channel, k) + " must be a finite number from -" +
             std::to_string((long)XML_MAX_ROOT_HEIGHT) + " to " + std::to_string((long)XML_MAX_ROOT_HEIGHT) + ".");
    if (k != 1 && slot.mRootHeight.empty())
        Fail(Place(slot.mName, channel, k) + ": the key has an 'h' but the channel's first key has none" + everyOrNone);
    slot.mRootHeight.push_back({time, (float)h});
}

void ReadActions(TiXmlDocument& doc, cActor& actor)
{
    TiXmlElement* action = TiXmlHandle(&doc)
                               .FirstChildElement("QVArmature")
                               .FirstChildElement("actions")
                               .FirstChildElement("action")
                               .Element();
    if (!action)
        Fail("Expecting 'action' tag.");

    const size_t nbones = actor.mArmature.mBones.size();
    const size_t rootIndex = (size_t)(actor.mArmature.mRootBone - actor.mArmature.mBones.data());
    size_t i = 0;
    for (; action; action = action->NextSiblingElement(), ++i)
    {
        static_assert(kActionSlots == 3, "the message spells the number of slots");
        if (i >= kActionSlots)
            Fail("more than three 'action' elements; an actor has three action slots.");
        cAction& slot = actor.mAction[i];
        slot.mName = RequireText(action, "name", "Expecting 'name' attribute for 'action'.");
        const double len = RequireNumber(action, "len", "Expecting 'length' attribute for 'action'.");
        slot.mChannels.resize(nbones);

        TiXmlElement* channel = action->FirstChildElement("channel");
        if (!channel)
            Fail("Expecting 'channel' tag.");
        size_t j = 0;
        for (; channel; channel = channel->NextSiblingElement(), ++j)
        {
            if (j >= nbones)
                Fail("the action " + QuoteName(slot.mName) + " has more 'channel' elements than the " +
                     std::to_string(nbones) + " bones of the skeleton.");
            TiXmlElement* keyframes = channel->FirstChildElement("keyframes");
            if (!keyframes)
                Fail("Expecting 'keyframes' tag.");
            const double keys = RequireNumber(keyframes, "keys", "Expecting 'keys' attribute for 'keyframes'.");
            TiXmlElement* key = keyframes->FirstChildElement("key");
            if (!key)
                Fail("Expecting (at least one) 'key' tag.");

            KeyFrameVector& frames = slot.mChannels[j].mKeyFrames;
            for (; key; key = key->NextSiblingElement("key"))
            {
                if (frames.size() >= XML_MAX_KEYS)
                    Fail(Place(slot.mName, j) + ": more than " + std::to_string(XML_MAX_KEYS) + " keys.");
                const double t = RequireNumber(key, "t", "Expecting 't' attribute for 'key'.");
                TiXmlElement* quat = key->FirstChildElement("quat");
                if (!quat)
                    Fail("Expecting 'quat' tag for 'key'.");
                const double w = RequireNumber(quat, "w", "Expecting 'w' attribute for 'quat'.");
                const double x = RequireNumber(quat, "x", "Expecting 'x' attribute for 'quat'.");
                const double y = RequireNumber(quat, "y", "Expecting 'y' attribute for 'quat'.");
                const double z = RequireNumber(quat, "z", "Expecting 'z' attribute for 'quat'.");

                const size_t k = frames.size() + 1;
                sKeyFrame frame;
                if (!ToMillis(t, frame.mTime))
                    Fail("'t' " + Place(slot.mName, j, k) + kTimeRange);
                if (!frames.empty() && frame.mTime < frames.back().mTime)
                    Fail(Place(slot.mName, j, k) + ": the time " + std::to_string(frame.mTime) +
                         " ms comes before the previous key's " + std::to_string(frames.back().mTime) +
                         " ms; key times must not go backwards.");
                if (!ToFloat(w, frame.mValue.mData[3]))
                    Fail("'w' " + Place(slot.mName, j, k) + kFinite);
                if (!ToFloat(x, frame.mValue.mData[0]))
                    Fail("'x' " + Place(slot.mName, j, k) + kFinite);
                if (!ToFloat(y, frame.mValue.mData[1]))
                    Fail("'y' " + Place(slot.mName, j, k) + kFinite);
                if (!ToFloat(z, frame.mValue.mData[2]))
                    Fail("'z' " + Place(slot.mName, j, k) + kFinite);
                CheckKeyQuaternion(frame.mValue, slot.mName, j, k, actor.mArmature.mBones[j].mName);
                ReadRootHeight(key, slot, j == rootIndex, j, k, frame.mTime);
                frames.push_back(frame);
            }
            double declared;
            if (!TruncateInRange(keys, (double)XML_MAX_KEYS, declared) || (size_t)declared != frames.size())
                Fail(Place(slot.mName, j) + ": 'keys' says " + QuoteName(keyframes->Attribute("keys")) +
                     " but there are " + std::to_string(frames.size()) + " 'key' elements.");
        }
        if (!ToMillis(len, slot.mLength))
            Fail("'len' of the action " + QuoteName(slot.mName) + kTimeRange);
    }
}

// [reader] -------------------------------------------------------------------

void ReadActor(TiXmlDocument& doc, cActor& actor)
{
    TiXmlElement* armature = TiXmlHandle(&doc).FirstChildElement("QVArmature").FirstChildElement("armature").Element();
    if (!armature)
        Fail("Expecting 'armature' tag.");
    actor.mName = RequireText(armature, "name", "Expecting 'name' attribute for 'armature'.");

    TiXmlElement* skeleton = armature->FirstChildElement("skeleton");
    if (!skeleton)
        Fail("Expecting 'skeleton' tag.");
    const double declared = RequireNumber(skeleton, "bones", "Expecting 'bones' attribute for 'skeleton'.");
    TiXmlElement* bone = skeleton->FirstChildElement("bone");
    if (!bone)
        Fail("Expecting (at least one) 'bone' tag.");

    // The bones are read as they come and checked against "bones" afterwards,
    // so nothing is sized from an unchecked count.
    std::vector<cBone> bones;
    for (; bone; bone = bone->NextSiblingElement())
    {
        if (bones.size() >= XML_MAX_BONES)
            Fail("the skeleton has more than " + std::to_string(XML_MAX_BONES) + " bones.");
        bones.emplace_back();
        cBone& b = bones.back();
        b.mName = RequireText(bone, "name", "Expecting 'name' attribute for 'bone'.");
        const double len = RequireNumber(bone, "len", "Expecting 'len' attribute for 'bone'.");
        TiXmlElement* matrix = bone->FirstChildElement("matrix");
        if (!matrix)
            Fail("the bone " + QuoteName(b.mName) + " has no 'matrix' element.");
        LoadMatrix(matrix, b.mRestTransform);
        CheckRestMatrix(b);
        b.mTransform = b.mRestTransform;
        if (!ToFloat(len, b.mLength))
            Fail("'len' of the bone " + QuoteName(b.mName) + kFinite);
    }
    double count;
    if (!TruncateInRange(declared, (double)XML_MAX_BONES, count) || (size_t)count != bones.size())
        Fail("'bones' of 'skeleton' says " + QuoteName(skeleton->Attribute("bones")) + " but there are " +
             std::to_string(bones.size()) + " bone elements.");

    // Bone names are unique; the map finds a bone by name in constant time.
    std::unordered_map<std::string, size_t> index;
    index.reserve(bones.size());
    for (size_t i = 0; i < bones.size(); ++i)
        if (!index.emplace(bones[i].mName, i).second)
            Fail("two bones are named " + QuoteName(bones[i].mName) + "; bone names must be unique.");

    const sHierarchy hierarchy = ReadHierarchy(doc, bones, index);
    CheckTree(hierarchy, bones);
    actor.mArmature.mBones = std::move(bones);
    actor.mArmature.mRootBone = nullptr;
    LinkBones(hierarchy, actor.mArmature);

    actor.mPose.Setup(actor.mArmature);
    actor.mPose2.Setup(actor.mArmature);

    ReadActions(doc, actor);
    CheckRootHeights(actor, CheckReach(actor));
}

} // namespace

cMatrix4D UprightRootRest(const cMatrix4D& fileRest)
{
    cMatrix4D upright;
    upright.setFromEuler(-90.0f, 0.0f, 0.0f);
    return upright * fileRest;
}

void LoadMatrix(TiXmlElement* xml, cMatrix4D& m)
{
    TiXmlNode* child = xml ? xml->FirstChild() : nullptr;
    if (!child)
        Fail("Expecting 'matrix' to have data.");
    if (child->Type() != TiXmlNode::TINYXML_TEXT)
        Fail("Expecting 'matrix' data to be a 'text' node.");

    // Fields 1 to 11 end at a comma; field 12 is everything after the
    // eleventh comma (a sixteen-number matrix reads like its first twelve).
    const std::string text = child->Value();
    std::string fields[12];
    size_t start = 0;
    for (int k = 0; k < 11; ++k)
    {
        const size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            Fail("a 'matrix' holds " + std::to_string(k + 1) + " comma-separated numbers; it needs twelve.");
        fields[k] = text.substr(start, comma - start);
        start = comma + 1;
    }
    fields[11] = text.substr(start);

    // One stream for all fields: what an extraction leaves unread stays in
    // front of the next field. An element whose extraction fails reads 0.
    std::stringstream stream(std::ios::in | std::ios::out);
    for (int k = 0; k < 12; ++k)
    {
        stream.clear();
        stream << fields[k];
        float v = 0.0f;
        if (!(stream >> v))
            v = 0.0f;
        m._m[4 * (k % 4) + (k / 4)] = v;
    }
}

sXmlMarkup ScanXmlMarkup(const char* text) { return cMarkupWalk::Walk(text); }

std::string PrepareXmlText(const char* text, size_t len)
{
    // Some TinyXML routines step past the end of a truncated multi-byte
    // character; the extra NUL bytes give them something to land on.
    std::string out;
    out.reserve(len + 9);
    for (size_t i = 0; text && i < len && text[i]; ++i)
    {
        if (text[i] == '\r')
        {
            out += '\n';
            if (i + 1 < len && text[i + 1] == '\n')
                ++i;
        }
        else
            out += text[i];
    }
    out.append(8, '\0');
    return out;
}

void ReadActorFromMemory(const char* text, size_t len, cActor& actor)
{
    if (!text)
        len = 0;
    if (len > XML_MAX_FILE_BYTES)
        Fail("the file is larger than " + std::to_string(XML_MAX_FILE_BYTES >> 20) + " MiB.");
    const std::string buffer = PrepareXmlText(text, len);

    const sXmlMarkup m = ScanXmlMarkup(buffer.c_str());
    if (m.mDepth > XML_MAX_NESTING)
        Fail("elements are nested more than " + std::to_string(XML_MAX_NESTING) + " levels deep.");
    if (m.mMaxAttributes > XML_MAX_ATTRIBUTES)
        Fail("an element has more than " + std::to_string(XML_MAX_ATTRIBUTES) + " attributes.");
    if (m.mItems > XML_MAX_ITEMS)
        Fail("the file holds more than " + std::to_string(XML_MAX_ITEMS) + " elements, texts and attributes.");

    if (m.mDocumentType)
        Fail("the file has a document type declaration (<!DOCTYPE ...>) or DTD markup such as <!ENTITY ...>; "
             "DTDs and entity declarations are not supported.");

    TiXmlDocument doc;
    doc.Parse(buffer.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (doc.Error())
        Fail(doc.ErrorDesc());
    ReadActor(doc, actor);
}

namespace
{
// Only a regular file is read. Opening a FIFO blocks until something writes
// to it, and a device can be read for ever, so anything else is refused
// before it is opened.
void CheckRegularFile(const char* fname, const struct stat& info)
{
    if (!S_ISREG(info.st_mode))
        Fail("the actor file " + QuoteName(fname) + " is " + FileKind(info.st_mode) + ", not a regular file.");
}

// Opens a regular file for reading, or fails. The file is looked at first
// and refused when it is not regular; the open itself does not block either
// (should the path have been replaced by a FIFO in between), and what was
// opened is checked again.
FILE* OpenRegularFile(const char* fname, struct stat& info)
{
    if (!fname || stat(fname, &info) != 0)
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_OPENING_FILE));
    CheckRegularFile(fname, info);
    const int fd = open(fname, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_OPENING_FILE));
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        close(fd);
        CheckRegularFile(fname, info);
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_OPENING_FILE));
    }
    FILE* file = fdopen(fd, "rb");
    if (!file)
    {
        close(fd);
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_OPENING_FILE));
    }
    return file;
}
} // namespace

void ReadActorFromXML(const char* fname, cActor& actor)
{
    // The file is read whole (as TinyXML's own loading does) and checked
    // before it is parsed. Its size is known up front; should it grow while
    // it is read, it is read up to the limit.
    struct stat info;
    FILE* file = OpenRegularFile(fname, info);
    bool tooLarge = (unsigned long long)info.st_size > XML_MAX_FILE_BYTES;
    std::string content;
    if (!tooLarge)
        content.reserve((size_t)info.st_size);
    char chunk[65536];
    size_t got;
    while (!tooLarge && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    {
        if (content.size() + got > XML_MAX_FILE_BYTES)
        {
            tooLarge = true;
            break;
        }
        content.append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLarge)
        Fail("the file is larger than " + std::to_string(XML_MAX_FILE_BYTES >> 20) + " MiB.");
    if (failed)
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_OPENING_FILE));
    if (content.empty())
        Fail(ErrorText(TiXmlBase::TIXML_ERROR_DOCUMENT_EMPTY));
    ReadActorFromMemory(content.data(), content.size(), actor);
}
