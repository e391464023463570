// The loader's fixed messages: each one produced by a minimal file that breaks
// exactly one rule, and the first failing check deciding the message.

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

namespace
{

struct sCase
{
    const char* mName;
    std::string mText;
    const char* mDetail;
};

void PrintTo(const sCase& c, std::ostream* os) { *os << c.mName; }

std::string KeyFile(const std::string& keyElement)
{
    return Document(ExampleArmature(), Action("nod", "1000", Channel("1", keyElement) + IdentityChannel()));
}

std::vector<sCase> Cases()
{
    const std::string noAction = "<QVArmature>\n" + ExampleArmature() + "</QVArmature>";
    return {
        {"ParseError", Edit(Example(), "</QVArmature>", ""), "Error reading end tag."},
        {"RepeatedAttribute", Edit(Example(), "<armature name=\"figure\"", "<armature name=\"figure\" name=\"x\""),
         "Error parsing Element."},
        {"OnlyWhiteSpace", " \n\t ", "Error document empty."},
        {"RootOfAnotherName", "<Armature>" + ExampleArmature() + "</Armature>", "Expecting 'armature' tag."},
        {"NoArmature", "<QVArmature><actions>" + ExampleAction() + "</actions></QVArmature>",
         "Expecting 'armature' tag."},
        {"ArmatureWithoutName", Edit(Example(), "<armature name=\"figure\">", "<armature>"),
         "Expecting 'name' attribute for 'armature'."},
        {"NoSkeleton",
         Document("<armature name=\"figure\"><heirachy>" + ExampleNodes() + "</heirachy></armature>\n",
                  ExampleAction()),
         "Expecting 'skeleton' tag."},
        {"SkeletonWithoutBones", Edit(Example(), "<skeleton bones=\"2\">", "<skeleton>"),
         "Expecting 'bones' attribute for 'skeleton'."},
        {"NoBone", Document(Armature("figure", "2", "", ExampleNodes()), ExampleAction()),
         "Expecting (at least one) 'bone' tag."},
        {"BoneWithoutName", Edit(Example(), "<bone name=\"Bone.001\"", "<bone"),
         "Expecting 'name' attribute for 'bone'."},
        {"BoneWithoutLen", Edit(Example(), "name=\"Bone\" len=\"1.2\"", "name=\"Bone\""),
         "Expecting 'len' attribute for 'bone'."},
        {"BoneWithLengthSpelledOut", Edit(Example(), "name=\"Bone\" len=\"1.2\"", "name=\"Bone\" length=\"1.2\""),
         "Expecting 'len' attribute for 'bone'."},
        {"EmptyMatrix", Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", ""), "Expecting 'matrix' to have data."},
        {"BlankMatrix", Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", "  \n  "), "Expecting 'matrix' to have data."},
        {"MatrixStartingWithComment",
         Edit(Example(), "<matrix>1,0,0,0, 0,1,0,0, 0,0,1,1", "<matrix><!-- r -->1,0,0,0, 0,1,0,0, 0,0,1,1"),
         "Expecting 'matrix' data to be a 'text' node."},
        {"MatrixHoldingElement", Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", "<row/>"),
         "Expecting 'matrix' data to be a 'text' node."},
        {"NoHeirachy", Edit(Example(), "<heirachy>\n" + ExampleNodes() + "</heirachy>", ""),
         "Expecting 'heirachy' tag."},
        {"HierarchySpelledCorrectly",
         Edit(Example(), "<heirachy>\n" + ExampleNodes() + "</heirachy>",
              "<hierarchy>\n" + ExampleNodes() + "</hierarchy>"),
         "Expecting 'heirachy' tag."},
        {"NoNode", Edit(Example(), ExampleNodes(), ""), "Expecting (at least one) 'node' tag."},
        {"NodeWithoutName", Edit(Example(), "<node name=\"Bone.001\">", "<node>"),
         "Expecting 'name' attribute for 'node'."},
        {"EmptyNode", Edit(Example(), ">NULL</node>", "></node>"), "Expecting a 'text' parent name for 'node'."},
        {"NodeStartingWithComment", Edit(Example(), ">NULL</node>", "><!-- root -->NULL</node>"),
         "Expecting a 'text' parent name for 'node'."},
        {"NoActions", noAction, "Expecting 'action' tag."},
        {"NoAction", Edit(Example(), ExampleAction(), ""), "Expecting 'action' tag."},
        {"ActionWithoutName", Edit(Example(), "<action name=\"nod\"", "<action"),
         "Expecting 'name' attribute for 'action'."},
        {"ActionWithLengthSpelledOut", Edit(Example(), "len=\"1000\">", "length=\"1000\">"),
         "Expecting 'length' attribute for 'action'."},
        {"NoChannel", Document(ExampleArmature(), Action("nod", "1000", "")), "Expecting 'channel' tag."},
        {"ChannelWithoutKeyframes", Document(ExampleArmature(), Action("nod", "1000", "<channel/>")),
         "Expecting 'keyframes' tag."},
        {"KeyframesWithoutKeys", Edit(Example(), "<keyframes keys=\"2\">", "<keyframes>"),
         "Expecting 'keys' attribute for 'keyframes'."},
        {"NoKey", Document(ExampleArmature(), Action("nod", "1000", Channel("0", ""))),
         "Expecting (at least one) 'key' tag."},
        {"KeyWithoutT", KeyFile("<key><quat w=\"1\" x=\"0\" y=\"0\" z=\"0\"/></key>"),
         "Expecting 't' attribute for 'key'."},
        {"KeyWithoutTOrQuat", KeyFile("<key/>"), "Expecting 't' attribute for 'key'."},
        {"KeyWithoutQuat", KeyFile("<key t=\"0\"/>"), "Expecting 'quat' tag for 'key'."},
        {"QuatWithoutAnything", KeyFile("<key t=\"0\"><quat/></key>"), "Expecting 'w' attribute for 'quat'."},
        {"QuatWithoutW", KeyFile("<key t=\"0\"><quat x=\"0\" y=\"0\" z=\"0\"/></key>"),
         "Expecting 'w' attribute for 'quat'."},
        {"QuatWithoutX", KeyFile("<key t=\"0\"><quat w=\"1\" y=\"0\" z=\"0\"/></key>"),
         "Expecting 'x' attribute for 'quat'."},
        {"QuatWithoutY", KeyFile("<key t=\"0\"><quat w=\"1\" x=\"0\" z=\"0\"/></key>"),
         "Expecting 'y' attribute for 'quat'."},
        {"QuatWithoutZ", KeyFile("<key t=\"0\"><quat w=\"1\" x=\"0\" y=\"0\"/></key>"),
         "Expecting 'z' attribute for 'quat'."},
    };
}

class XmlMessages : public ::testing::TestWithParam<sCase>
{
};

} // namespace

TEST_P(XmlMessages, MinimalFileGivesTheMessage)
{
    EXPECT_EQ(MessageOf(GetParam().mText), std::string("XML ERROR: ") + GetParam().mDetail);
}

INSTANTIATE_TEST_SUITE_P(EachMessage, XmlMessages, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<sCase>& info) { return std::string(info.param.mName); });

TEST(XmlMessageOrder, TheFirstFailingCheckDecides)
{
    // A bone lacking both attributes reports its name first.
    EXPECT_EQ(MessageOf(Edit(Example(), "<bone name=\"Bone\" len=\"1.2\">", "<bone>")),
              "XML ERROR: Expecting 'name' attribute for 'bone'.");
    // The armature is checked before the actions: both broken, the armature speaks.
    EXPECT_EQ(
        MessageOf(Edit(Edit(Example(), "<armature name=\"figure\">", "<armature>"), "<action name=\"nod\"", "<action")),
        "XML ERROR: Expecting 'name' attribute for 'armature'.");
    // Bones are read before the hierarchy.
    EXPECT_EQ(MessageOf(Edit(Edit(Example(), "len=\"0.8\"", ""), "<node name=\"Bone.001\">", "<node>")),
              "XML ERROR: Expecting 'len' attribute for 'bone'.");
    // Within a channel, an unlisted "keys" is reported before a missing key.
    EXPECT_EQ(MessageOf(Document(ExampleArmature(), Action("nod", "1000", "<channel><keyframes/></channel>"))),
              "XML ERROR: Expecting 'keys' attribute for 'keyframes'.");
}

TEST(XmlFileMessages, MissingFileFailsToOpen)
{
    cActor actor;
    try
    {
        ReadActorFromXML("/nonexistent/dir/walker.xml", actor);
        FAIL() << "a missing file loaded";
    }
    catch (const cXmlError& message)
    {
        EXPECT_STREQ(message.what(), "XML ERROR: Failed to open file");
    }
}

TEST(XmlFileMessages, EmptyFileIsAnEmptyDocument)
{
    const std::string path = std::string(QV_BINARY_DIR) + "/test_xml_messages_empty.xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    cActor actor;
    try
    {
        ReadActorFromXML(path.c_str(), actor);
        FAIL() << "an empty file loaded";
    }
    catch (const cXmlError& message)
    {
        EXPECT_STREQ(message.what(), "XML ERROR: Error document empty.");
    }
    std::remove(path.c_str());
}
