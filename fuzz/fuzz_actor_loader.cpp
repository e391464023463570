// Fuzz target for the actor file loader. Every input must either load into a
// consistent actor or be refused with an "XML ERROR: " message; nothing else
// may happen (no crash, no sanitizer report, no other exception). A body that
// loads must skin into finite positions and unit normals.
//
// It also checks the markup walk that guards TinyXML against deep nesting:
// the walk must never see a shallower nesting than the parser builds, and
// must see the same nesting on a document the parser accepts.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "QV_xml.h"
#include "xml_tree_depth.h"

namespace
{

[[noreturn]] void Fault(const char* what)
{
    std::fprintf(stderr, "fuzz_actor_loader: %s\n", what);
    std::abort();
}

void CheckMarkupWalk(const uint8_t* data, size_t size)
{
    const std::string text = PrepareXmlText((const char*)data, size);
    const sXmlMarkup m = ScanXmlMarkup(text.c_str());
    if (m.mDepth > XML_MAX_NESTING || m.mItems > XML_MAX_ITEMS || m.mMaxAttributes > XML_MAX_ATTRIBUTES)
        return; // refused before parsing
    TiXmlDocument doc;
    doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    const size_t depth = XmlTreeDepth(&doc);
    if (depth > m.mDepth)
        Fault("the markup walk saw a shallower nesting than the parser built");
    // On a document the parser accepts, the walk must agree exactly (else it
    // would refuse good files for nesting they do not have).
    if (!doc.Error() && depth != m.mDepth)
        Fault("the markup walk disagrees with the parser on a good document");
}

bool Finite(const cVector3D& v)
{
    return std::isfinite(v.mData[0]) && std::isfinite(v.mData[1]) && std::isfinite(v.mData[2]);
}

// A loaded body refers only to bones and vertices that exist, is bound, and
// skins into finite positions and unit normals.
void CheckBody(cActor& actor)
{
    cBody& body = actor.mBody;
    if (body.Empty())
        return;
    const size_t vertices = body.VertexCount();
    if (body.mRestNormals.size() != vertices || body.mInfluences.size() != vertices ||
        body.mPositions.size() != vertices || body.mNormals.size() != vertices ||
        (!body.mTexCoords.empty() && body.mTexCoords.size() != 2 * vertices))
        Fault("a body whose arrays differ in length");
    if (body.mSkinMatrices.size() != actor.mArmature.mBones.size())
        Fault("a body not bound to its bones");
    for (const sInfluences& in : body.mInfluences)
    {
        if (in.mCount < 1 || in.mCount > BODY_MAX_INFLUENCES)
            Fault("a vertex moved by no bone or too many");
        for (unsigned int k = 0; k < in.mCount; ++k)
            if (in.mBone[k] >= actor.mArmature.mBones.size())
                Fault("a vertex moved by a bone that does not exist");
    }
    for (unsigned int i : body.mTriangles)
        if (i >= vertices)
            Fault("a triangle with a vertex that does not exist");
    if (!body.mTexture.Empty() &&
        body.mTexture.mPixels.size() != (size_t)body.mTexture.mWidth * body.mTexture.mHeight * 4)
        Fault("a texture whose pixels do not fill it");
    body.Skin(actor.mArmature);
    for (size_t i = 0; i < vertices; ++i)
        if (!Finite(body.mPositions[i]) || !Finite(body.mNormals[i]) ||
            std::fabs(body.mNormals[i].length() - 1.0f) > 1e-3f)
            Fault("a skinned vertex that is not finite, or a normal not of unit length");
}

void CheckActor(cActor& actor)
{
    cArmature& arm = actor.mArmature;
    if (!arm.mRootBone || arm.mBones.empty())
        Fault("a loaded actor without bones or root");
    // Every bone hangs below the root, once.
    size_t reached = 0;
    std::vector<const cBone*> stack{arm.mRootBone};
    while (!stack.empty())
    {
        const cBone* b = stack.back();
        stack.pop_back();
        if (++reached > arm.mBones.size())
            Fault("the bone links are not a tree");
        for (const cBone* c : b->mChildren)
        {
            if (c->mParent != b)
                Fault("a child whose parent is another bone");
            stack.push_back(c);
        }
    }
    if (reached != arm.mBones.size())
        Fault("a bone the root does not reach");
    for (const cAction& a : actor.mAction)
        if (a.mChannels.size() != 0 && a.mChannels.size() != arm.mBones.size())
            Fault("an action whose channels do not match the bones");
    actor.UpdateArmature();
    CheckBody(actor);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CheckMarkupWalk(data, size);

    cActor actor;
    try
    {
        ReadActorFromMemory((const char*)data, size, actor);
    }
    catch (const cXmlError& error)
    {
        const std::string message = error.what();
        if (message.compare(0, 11, "XML ERROR: ") != 0 || message.find('\n') != std::string::npos)
            Fault("a message that is not one \"XML ERROR: \" line");
        return 0;
    }
    CheckActor(actor);
    return 0;
}
