// Files the loader cannot turn into a consistent actor: each is refused with
// one line "XML ERROR: " and a detail, never loaded half-way, never a crash.
// The whole path to the process exit is checked in test_app_load.cpp.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

namespace
{

// Refused with one line of our own wording that mentions 'word'.
void ExpectRefused(const std::string& text, const std::string& word)
{
    const std::string message = MessageOf(text);
    EXPECT_EQ(message.compare(0, 11, "XML ERROR: "), 0) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_NE(message.find(word), std::string::npos) << "'" << word << "' not in: " << message;
}

std::string Identity() { return "1,0,0,0,0,1,0,0,0,0,1,0"; }

// Three bones Root, A, B with the given nodes and one full action.
std::string ThreeBones(const std::string& nodes)
{
    const std::string bones = Bone("Root", "1", Identity()) + Bone("A", "1", Identity()) + Bone("B", "1", Identity());
    return Document(Armature("t", "3", bones, nodes),
                    Action("x", "1000", IdentityChannel() + IdentityChannel() + IdentityChannel()));
}

// A chain of n bones, each the child of the one before.
std::string Chain(size_t n)
{
    std::string bones, nodes, channels;
    for (size_t i = 0; i < n; ++i)
    {
        bones += Bone("b" + std::to_string(i), "1", Identity());
        nodes += Node("b" + std::to_string(i), i == 0 ? "NULL" : "b" + std::to_string(i - 1));
    }
    return Document(Armature("chain", std::to_string(n), bones, nodes), Action("x", "1000", IdentityChannel()));
}

} // namespace

TEST(XmlBadCounts, BoneElementsMustMatchBones)
{
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"1\""), "bones");
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"3\""), "bones");
}

TEST(XmlBadCounts, NegativeOrAbsurdCountsAreRefused)
{
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"-1\""), "bones");
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"-2147483648\""), "bones");
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"1e12\""), "bones");
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"nan\""), "bones");
    ExpectRefused(Edit(Example(), "bones=\"2\"", "bones=\"inf\""), "bones");
    ExpectRefused(Edit(Example(), "keys=\"2\"", "keys=\"-2\""), "keys");
    ExpectRefused(Edit(Example(), "keys=\"2\"", "keys=\"1e18\""), "keys");
    ExpectRefused(Edit(Example(), "keys=\"2\"", "keys=\"4294967298\""), "keys");
}

TEST(XmlBadCounts, KeyElementsMustMatchKeys)
{
    ExpectRefused(Edit(Example(), "keys=\"2\"", "keys=\"3\""), "keys");
    ExpectRefused(Edit(Example(), "keys=\"2\"", "keys=\"1\""), "keys");
}

TEST(XmlBadCounts, AtMostThreeActions)
{
    const std::string ch = IdentityChannel() + IdentityChannel();
    std::string four;
    for (int i = 0; i < 4; ++i)
        four += Action("a" + std::to_string(i), "1000", ch);
    ExpectRefused(Document(ExampleArmature(), four), "three");
}

TEST(XmlBadCounts, NoMoreChannelsThanBones)
{
    ExpectRefused(
        Document(ExampleArmature(), Action("nod", "1000", IdentityChannel() + IdentityChannel() + IdentityChannel())),
        "channel");
}

TEST(XmlBadNames, NodesMustNameBones)
{
    ExpectRefused(Edit(Example(), "<node name=\"Bone.001\">", "<node name=\"Bone.002\">"), "Bone.002");
    ExpectRefused(Edit(Example(), ">Bone</node>", ">Bone.009</node>"), "Bone.009");
    // Case matters.
    ExpectRefused(Edit(Example(), ">Bone</node>", ">bone</node>"), "bone");
}

TEST(XmlBadNames, BoneNamesAreUnique)
{
    ExpectRefused(Edit(Example(), "name=\"Bone.001\" len", "name=\"Bone\" len"), "unique");
}

TEST(XmlBadTree, EveryBoneIsDescribedByExactlyOneNode)
{
    ExpectRefused(Edit(Example(), "<node name=\"Bone.001\">Bone</node>", ""), "Bone.001");
    ExpectRefused(ThreeBones(Node("Root", "NULL") + Node("A", "Root") + Node("B", "Root") + Node("A", "B")), "'A'");
}

TEST(XmlBadTree, ExactlyOneRoot)
{
    ExpectRefused(ThreeBones(Node("Root", "A") + Node("A", "B") + Node("B", "Root")), "root");
    ExpectRefused(ThreeBones(Node("Root", "NULL") + Node("A", "NULL") + Node("B", "Root")), "root");
}

TEST(XmlBadTree, NoBoneIsItsOwnParentOrAncestor)
{
    ExpectRefused(ThreeBones(Node("Root", "NULL") + Node("A", "A") + Node("B", "Root")), "own parent");
    ExpectRefused(ThreeBones(Node("Root", "NULL") + Node("A", "B") + Node("B", "A")), "own ancestor");
}

TEST(XmlBadTree, HierarchyDepthIsCapped)
{
    // The deepest accepted tree loads and its world matrices can be computed
    // (the update recurses once per level).
    const std::string deepest = Chain(XML_MAX_HIERARCHY_DEPTH);
    cActor actor;
    ReadActorFromMemory(deepest.data(), deepest.size(), actor);
    actor.UpdateArmature();
    EXPECT_NEAR(actor.mArmature.mBones.back().mWorldTransform._m[13], 0.0f, 1e-3f);
    ExpectRefused(Chain(XML_MAX_HIERARCHY_DEPTH + 1), "levels");
}

TEST(XmlBadMatrix, BoneWithoutMatrix)
{
    ExpectRefused(Edit(Example(), "<matrix>1,0,0,0, 0,1,0,0, 0,0,1,1</matrix>", ""), "matrix");
}

TEST(XmlBadMatrix, FewerThanTwelveFields)
{
    ExpectRefused(Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", "1,0,0,0, 0,1,0,0, 0,0,1"), "twelve");
    ExpectRefused(Edit(Example(), "1,0,0,0, 0,1,0,0, 0,0,1,1", "1 0 0 0 0 1 0 0 0 0 1 1"), "twelve");
}

TEST(XmlBadValues, TimesMustNotGoBackwards)
{
    const std::string keys =
        Key("0", "1", "0", "0", "0") + Key("500", "1", "0", "0", "0") + Key("400", "1", "0", "0", "0");
    ExpectRefused(Document(ExampleArmature(), Action("nod", "1000", Channel("3", keys))), "backwards");
}

TEST(XmlBadValues, TimesAndNumbersMustBeInRange)
{
    ExpectRefused(Edit(Example(), "t=\"1000\"", "t=\"-1\""), "'t'");
    ExpectRefused(Edit(Example(), "t=\"1000\"", "t=\"4294967296\""), "'t'");
    ExpectRefused(Edit(Example(), "len=\"1000\"", "len=\"-5\""), "'len'");
    ExpectRefused(Edit(Example(), "len=\"1.2\"", "len=\"1e40\""), "'len'");
    ExpectRefused(Edit(Example(), "len=\"1.2\"", "len=\"nan\""), "'len'");
    ExpectRefused(Edit(Example(), "w=\"0.7071\"", "w=\"inf\""), "'w'");
    ExpectRefused(Edit(Example(), "x=\"0.7071\"", "x=\"-1e39\""), "'x'");
}

TEST(XmlBadMarkup, DeepNestingIsRefusedBeforeParsing)
{
    std::string deep;
    for (int i = 0; i < 50000; ++i)
        deep += "<a>";
    for (int i = 0; i < 50000; ++i)
        deep += "</a>";
    ExpectRefused(deep, "nested");

    // Just over the cap, inside an otherwise good file.
    std::string over, close;
    for (unsigned i = 0; i < XML_MAX_NESTING; ++i)
    {
        over += "<x>";
        close += "</x>";
    }
    ExpectRefused(Edit(Example(), "<heirachy>", "<heirachy>" + over + close), "nested");

    // Unclosed nesting is refused the same way (the parser would recurse just as deep).
    ExpectRefused(deep.substr(0, 3 * 50000), "nested");
}

TEST(XmlBadMarkup, NestingTheParserCannotSeeThroughStillCounts)
{
    // Entities, character references and comments hide markup from a naive
    // count but not from the walk, which follows the parser.
    std::string hidden = "<a>";
    for (int i = 0; i < 400; ++i)
        hidden += "<b x=\"</b>\"><!-- </b> -->&#</b>#1;";
    ExpectRefused(hidden, "nested");
}

TEST(XmlBadMarkup, ManyAttributesAreRefused)
{
    std::string attrs;
    for (unsigned i = 0; i <= XML_MAX_ATTRIBUTES; ++i)
        attrs += " a" + std::to_string(i) + "=\"1\"";
    ExpectRefused(Edit(Example(), "<armature name=\"figure\"", "<armature name=\"figure\"" + attrs), "attributes");
    std::string fewer;
    for (unsigned i = 0; i + 1 < XML_MAX_ATTRIBUTES; ++i)
        fewer += " a" + std::to_string(i) + "=\"1\"";
    EXPECT_EQ(MessageOf(Edit(Example(), "<armature name=\"figure\"", "<armature name=\"figure\"" + fewer)), "(loaded)");
}

TEST(XmlBadMarkup, ParseErrorsKeepTheParsersWords)
{
    EXPECT_EQ(MessageOf("<QVArmature><armature name=\"a\">"), "XML ERROR: Error reading Element value.");
    EXPECT_EQ(MessageOf("<QVArmature"), "XML ERROR: Failed to read Element name");
}

TEST(XmlBadMessages, NamesInMessagesStayOnOneLine)
{
    ExpectRefused(Edit(Example(), "<node name=\"Bone.001\">", "<node name=\"Bone\n.001\">"), "Bone?.001");
    const std::string longName(5000, 'q');
    const std::string message =
        MessageOf(Edit(Example(), "<node name=\"Bone.001\">", "<node name=\"" + longName + "\">"));
    EXPECT_LT(message.size(), 300u);
}

TEST(XmlBadFiles, OversizedFileIsRefused)
{
    const std::string path = std::string(QV_BINARY_DIR) + "/test_xml_bad_files_big.xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(ftruncate(fileno(f), (off_t)XML_MAX_FILE_BYTES + 1), 0);
    std::fclose(f);
    cActor actor;
    std::string message;
    try
    {
        ReadActorFromXML(path.c_str(), actor);
    }
    catch (const cXmlError& m)
    {
        message = m.what();
    }
    std::remove(path.c_str());
    EXPECT_NE(message.find("larger than"), std::string::npos) << message;
}

TEST(XmlBadFiles, ADirectoryFailsToOpen)
{
    cActor actor;
    EXPECT_THROW(ReadActorFromXML(QV_BINARY_DIR, actor), cXmlError);
}
