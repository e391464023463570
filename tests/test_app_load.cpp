// The demo's loading path: LoadActorFromXML reads the actor file through the
// core reader and turns a refusal into the one "EXIT ON ERROR: " line and
// exit status 1.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "QV_app.h"
#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

TEST(AppLoad, AGoodFileLoadsAndReturns)
{
    const std::string path = std::string(QV_BINARY_DIR) + "/test_app_load_example.xml";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    const std::string text = Example();
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    cActor b;
    LoadActorFromXML(path.c_str(), b);
    EXPECT_EQ(b.mAction[0].mName, "nod");
    std::remove(path.c_str());
}

// The whole path: LoadActorFromXML hands the message to cQVApp::ExitError,
// which prints one line on standard output and ends the process with status 1.
namespace
{

std::string TempPath(const char* name) { return std::string(QV_BINARY_DIR) + "/" + name; }

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs LoadActorFromXML in a child process with standard output sent to a file.
void LoadInChild(const std::string& file, const std::string& outPath)
{
    if (!std::freopen(outPath.c_str(), "w", stdout))
        std::_Exit(99);
    cActor actor;
    LoadActorFromXML(file.c_str(), actor);
    std::_Exit(0); // loaded: not expected
}

} // namespace

TEST(XmlBadFilesDeathTest, MissingFilePrintsOneLineAndExitsWithOne)
{
    const std::string out = TempPath("test_xml_exit_missing.txt");
    EXPECT_EXIT(LoadInChild("./no/such/dir/walker.xml", out), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile(out), "EXIT ON ERROR: XML ERROR: Failed to open file\n");
    std::remove(out.c_str());
}

TEST(XmlBadFilesDeathTest, BadFilePrintsOneLineAndExitsWithOne)
{
    const std::string file = TempPath("test_xml_exit_bad.xml");
    const std::string out = TempPath("test_xml_exit_bad.txt");
    WriteFile(file, Edit(Example(), "<armature name=\"figure\">", "<armature>"));
    EXPECT_EXIT(LoadInChild(file, out), ::testing::ExitedWithCode(1), "");
    EXPECT_EQ(ReadFile(out), "EXIT ON ERROR: XML ERROR: Expecting 'name' attribute for 'armature'.\n");

    // One of the loader's own refusals takes the same path.
    WriteFile(file, Edit(Example(), Node("Bone.001", "Bone"), Node("Bone.001", "Bone.001")));
    EXPECT_EXIT(LoadInChild(file, out), ::testing::ExitedWithCode(1), "");
    const std::string line = ReadFile(out);
    EXPECT_EQ(line.compare(0, 26, "EXIT ON ERROR: XML ERROR: "), 0) << line;
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    std::remove(file.c_str());
    std::remove(out.c_str());
}
