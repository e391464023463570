// Actor file texts for the loader tests, built from small parts so that each
// test can change exactly one thing.
#ifndef QV_TEST_XML_TEST_FILES_H
#define QV_TEST_XML_TEST_FILES_H

#include <string>

#include <gtest/gtest.h>

#include "QV_xml.h"

namespace xmltest
{

inline std::string Bone(const std::string& name, const std::string& len, const std::string& matrix)
{
    return "<bone name=\"" + name + "\" len=\"" + len + "\"><matrix>" + matrix + "</matrix></bone>\n";
}

inline std::string Node(const std::string& name, const std::string& parent)
{
    return "<node name=\"" + name + "\">" + parent + "</node>\n";
}

inline std::string Key(const std::string& t, const std::string& w, const std::string& x, const std::string& y,
                       const std::string& z)
{
    return "<key t=\"" + t + "\"><quat w=\"" + w + "\" x=\"" + x + "\" y=\"" + y + "\" z=\"" + z + "\"/></key>\n";
}

inline std::string Channel(const std::string& keys, const std::string& body)
{
    return "<channel><keyframes keys=\"" + keys + "\">\n" + body + "</keyframes></channel>\n";
}

inline std::string Action(const std::string& name, const std::string& len, const std::string& channels)
{
    return "<action name=\"" + name + "\" len=\"" + len + "\">\n" + channels + "</action>\n";
}

inline std::string Armature(const std::string& name, const std::string& bones, const std::string& boneElements,
                            const std::string& nodes)
{
    return "<armature name=\"" + name + "\">\n<skeleton bones=\"" + bones + "\">\n" + boneElements +
           "</skeleton>\n<heirachy>\n" + nodes + "</heirachy>\n</armature>\n";
}

inline std::string Document(const std::string& armature, const std::string& actions)
{
    return "<QVArmature>\n" + armature + "<actions>\n" + actions + "</actions>\n</QVArmature>\n";
}

inline std::string ExampleBones()
{
    return Bone("Bone", "1.2", "1,0,0,0, 0,1,0,0, 0,0,1,1") + Bone("Bone.001", "0.8", "1,0,0,0, 0,1,0,1.2, 0,0,1,0");
}

inline std::string ExampleNodes() { return Node("Bone", "NULL") + Node("Bone.001", "Bone"); }

inline std::string ExampleArmature() { return Armature("figure", "2", ExampleBones(), ExampleNodes()); }

inline std::string IdentityChannel()
{
    return Channel("2", Key("0", "1", "0", "0", "0") + Key("1000", "1", "0", "0", "0"));
}

inline std::string ExampleAction()
{
    return Action("nod", "1000",
                  IdentityChannel() +
                      Channel("2", Key("0", "1", "0", "0", "0") + Key("1000", "0.7071", "0.7071", "0", "0")));
}

// The worked example of the format: two bones, one action.
inline std::string Example() { return Document(ExampleArmature(), ExampleAction()); }

// 'text' with the first 'from' replaced by 'to'; 'from' must occur.
inline std::string Edit(const std::string& text, const std::string& from, const std::string& to)
{
    std::string out = text;
    const size_t at = out.find(from);
    EXPECT_NE(at, std::string::npos) << "no '" << from << "' in the text";
    if (at != std::string::npos)
        out.replace(at, from.size(), to);
    return out;
}

// A body for the example's two bones: a strip of six vertices along both,
// 0.2 wide in x, facing the file's +z; the first two vertices follow Bone,
// the next two Bone.001, the last two (at the joint) both by halves.
inline std::string ExampleBody()
{
    return "<body vertices=\"6\" triangles=\"4\">\n"
           "<positions>0.1 0 1  -0.1 0 1  0.1 2 1  -0.1 2 1  0.1 1.2 1  -0.1 1.2 1</positions>\n"
           "<normals>0 0 1  0 0 1  0 0 1  0 0 1  0 0 1  0 0 1</normals>\n"
           "<weights>0 1; 0 1; 1 1; 1 1; 0 0.5 1 0.5; 0 0.5 1 0.5;</weights>\n"
           "<triangles>0 1 4  1 5 4  4 5 2  5 3 2</triangles>\n"
           "</body>\n";
}

// The example with a body after its actions.
inline std::string ExampleWithBody(const std::string& body = ExampleBody())
{
    return Edit(Example(), "</QVArmature>", body + "</QVArmature>");
}

// The message a text is refused with, or "(loaded)".
inline std::string MessageOf(const std::string& text)
{
    cActor actor;
    try
    {
        ReadActorFromMemory(text.data(), text.size(), actor);
    }
    catch (const cXmlError& error)
    {
        return error.what();
    }
    return "(loaded)";
}

} // namespace xmltest

#endif // QV_TEST_XML_TEST_FILES_H
