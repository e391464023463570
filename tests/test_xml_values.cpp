// Files whose values would carry a pose out of the finite numbers, files
// with a DTD and paths that are not regular files: each is refused with one
// line that names the problem, while the walker and files as our importer
// writes them still load. (test_hostile_files.cpp plays what is accepted.)

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "QV_xml.h"
#include "data/xml_test_files.h"

using namespace xmltest;

namespace
{
// Refused with exactly "XML ERROR: " and a one-line detail that holds every
// one of `words`.
void ExpectRefused(const std::string& text, std::initializer_list<const char*> words)
{
    const std::string message = MessageOf(text);
    ASSERT_EQ(message.compare(0, 11, "XML ERROR: "), 0) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    for (const char* w : words)
        EXPECT_NE(message.find(w), std::string::npos) << "'" << w << "' not in: " << message;
}

// The example with the second channel's last (held) key replaced.
std::string HeldKey(const std::string& w, const std::string& x)
{
    return Edit(Example(), "<key t=\"1000\"><quat w=\"0.7071\" x=\"0.7071\"",
                "<key t=\"1000\"><quat w=\"" + w + "\" x=\"" + x + "\"");
}

// A chain of `bones` bones, each with the given matrix text, and one action
// with a single identity key per bone.
std::string Chain(int bones, const std::string& matrix, const std::string& len = "1")
{
    std::string b, n, c;
    for (int i = 0; i < bones; ++i)
    {
        const std::string name = "b" + std::to_string(i);
        b += Bone(name, len, matrix);
        n += Node(name, i == 0 ? "NULL" : "b" + std::to_string(i - 1));
        c += Channel("1", Key("0", "1", "0", "0", "0"));
    }
    return Document(Armature("chain", std::to_string(bones), b, n), Action("a", "100", c));
}

std::string ReadFile(const std::string& path)
{
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb"))
    {
        char buf[4096];
        size_t got;
        while ((got = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, got);
        std::fclose(f);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Key quaternions

TEST(XmlValues, AHeldKeyFarFromUnitLengthIsRefusedNamingTheKeyAndBone)
{
    ExpectRefused(HeldKey("1", "10"), {"action 'nod', channel 2", "key 2", "bone 'Bone.001'", "length 10", "0.01"});
    ExpectRefused(HeldKey("0", "1e20"), {"channel 2", "key 2", "length 1e+20"});
    ExpectRefused(HeldKey("0.5", "0"), {"length 0.5"});
}

TEST(XmlValues, TheZeroQuaternionIsRefused)
{
    ExpectRefused(HeldKey("0", "0"), {"channel 2", "key 2", "zero"});
    ExpectRefused(HeldKey("-0", "0e5"), {"zero"});
}

TEST(XmlValues, KeysWithinTheToleranceLoadAsWritten)
{
    // 1 % either way, and four-digit keys (0.7071^2 * 2 = 0.99998).
    for (const char* w : {"1.0099", "0.9901", "0.7071"})
    {
        const std::string text = HeldKey(w, std::string(w) == "0.7071" ? "0.7071" : "0");
        EXPECT_EQ(MessageOf(text), "(loaded)") << w;
    }
    EXPECT_NE(MessageOf(HeldKey("1.0101", "0")), "(loaded)");
    EXPECT_NE(MessageOf(HeldKey("0.9899", "0")), "(loaded)");
}

// ---------------------------------------------------------------------------
// Rest matrices and the tree

TEST(XmlValues, ARestMatrixWithHugeEntriesIsRefusedNamingTheBone)
{
    ExpectRefused(Edit(Example(), "1,0,0,0, 0,1,0,1.2, 0,0,1,0", "1e30,0,0,0, 0,1e30,0,1.2, 0,0,1e30,0"),
                  {"bone 'Bone.001'", "stretches by up to 1e+30", "limit is 1e+06"});
    ExpectRefused(Edit(Example(), "1,0,0,0, 0,1,0,1.2, 0,0,1,0", "1,0,0,0, 0,1,0,3e38, 0,0,1,0"),
                  {"bone 'Bone.001'", "moves it by 3e+38 units"});
}

TEST(XmlValues, StretchesThatMultiplyDownTheTreeAreRefusedWhereTheyPassTheLimit)
{
    // Each bone doubles: fine alone, 2^20 > 10^6 from the twentieth bone on.
    const std::string doubling = "2,0,0,0, 0,2,0,0, 0,0,2,0";
    EXPECT_EQ(MessageOf(Chain(19, doubling)), "(loaded)");
    ExpectRefused(Chain(25, doubling), {"down to the bone 'b19'", "stretch by up to 1.05e+06"});

    // Held keys 1 % long stretch each bone by up to 4 % (2 s^2 - 1 for
    // s^2 = 1.0201): a deep chain of them is refused too, while the same
    // chain of unit keys loads.
    std::string longKeys = Chain(800, "1,0,0,0, 0,1,0,0.01, 0,0,1,0", "0");
    EXPECT_EQ(MessageOf(longKeys), "(loaded)");
    size_t at = 0;
    while ((at = longKeys.find("w=\"1\"", at)) != std::string::npos)
    {
        longKeys.replace(at, 5, "w=\"1.01\"");
        at += 8;
    }
    ExpectRefused(longKeys, {"down to the bone", "limit is 1e+06"});
}

TEST(XmlValues, BonesThatCouldLieTooFarFromTheRootAreRefused)
{
    // Bones 9999 units apart in a straight line: the hundredth lies 999900
    // units out, the hundred-and-first beyond the limit.
    EXPECT_EQ(MessageOf(Chain(100, "1,0,0,0, 0,1,0,9999, 0,0,1,0", "0")), "(loaded)");
    ExpectRefused(Chain(101, "1,0,0,0, 0,1,0,9999, 0,0,1,0", "0"), {"bone 'b100'", "from the root's origin"});
    // A long bone counts up to its tail.
    ExpectRefused(Edit(Example(), "len=\"0.8\"", "len=\"2e6\""), {"bone 'Bone.001'", "from the root's origin"});
}

TEST(XmlValues, DeepChainsOfRotationsAndDegenerateMatricesLoad)
{
    // Rotations stretch by exactly 1 however deep the chain (the bound is
    // tight for them), six-digit rotations as generators write them by
    // little more; a zero or flat rotation block only shrinks.
    EXPECT_EQ(MessageOf(Chain(5000, "0,-1,0,0, 1,0,0,1, 0,0,1,0")), "(loaded)");
    EXPECT_EQ(MessageOf(Chain(5000, "0.999871,-0.016041,0,0.2, 0.016041,0.999871,0,0, 0,0,1,0")), "(loaded)");
    EXPECT_EQ(MessageOf(Chain(50, "0,0,0,1, 0,0,0,1, 0,0,0,1")), "(loaded)");
    // A block of ones is flat but stretches by 3: twelve of them in a row
    // (3^12 = 531441) load, thirteen do not.
    EXPECT_EQ(MessageOf(Chain(12, "1,1,1,0, 1,1,1,1, 1,1,1,0", "0")), "(loaded)");
    ExpectRefused(Chain(13, "1,1,1,0, 1,1,1,1, 1,1,1,0", "0"), {"down to the bone 'b12'"});
}

TEST(XmlValues, TheWalkerAndImporterStyleFilesLoad)
{
    EXPECT_EQ(MessageOf(ReadFile(std::string(QV_SOURCE_DIR) + "/data/walker.xml")), "(loaded)");
    // As an importer writes them: rotation matrices to six digits,
    // translations of a few units, unit quaternions to six digits.
    const std::string bones = Bone("Hips", "0.3", "0.866025,-0.5,0,0.1, 0.5,0.866025,0,-0.2, 0,0,1,1.05") +
                              Bone("Spine", "0.6", "1,0,0,0, 0,0.707107,-0.707107,0.3, 0,0.707107,0.707107,0") +
                              Bone("Leg", "0.9", "-1,0,0,0.2, 0,-1,0,0, 0,0,1,-0.05");
    const std::string nodes = Node("Hips", "NULL") + Node("Spine", "Hips") + Node("Leg", "Hips");
    const std::string key = Key("0", "0.923880", "0.382683", "0", "0") + Key("500", "0.707107", "0", "0.707107", "0");
    const std::string text = Document(Armature("imported", "3", bones, nodes),
                                      Action("walk", "500", Channel("2", key) + Channel("2", key) + Channel("2", key)));
    EXPECT_EQ(MessageOf(text), "(loaded)");
}

// ---------------------------------------------------------------------------
// DTDs

TEST(XmlValues, AFileWithADtdIsRefusedAsSuch)
{
    const std::string body = Example();
    const char* const prologs[] = {
        "<!DOCTYPE QVArmature>\n",
        "<?xml version=\"1.0\"?>\n<!DOCTYPE QVArmature [ <!ENTITY len \"1.2\"> ]>\n",
        "<!DOCTYPE QVArmature SYSTEM \"file:///etc/passwd\">\n",
        "<!-- external -->\n<!DOCTYPE QVArmature [ <!ENTITY x SYSTEM \"/etc/hostname\"> ]>\n",
        "<!ENTITY x \"y\">\n",
    };
    for (const char* prolog : prologs)
        ExpectRefused(prolog + body, {"DTDs and entity declarations are not supported"});
    // Without the DTD the same document loads.
    EXPECT_EQ(MessageOf(body), "(loaded)");
}

// ---------------------------------------------------------------------------
// Paths that are not regular files

class XmlFileKinds : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/qv_test_xml_values.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        mDir = tmpl;
    }
    void TearDown() override
    {
        unlink((mDir + "/fifo.xml").c_str());
        rmdir((mDir + "/dir.xml").c_str());
        rmdir(mDir.c_str());
    }

    // The message for the path, in a child process that an alarm ends should
    // reading block (so a regression fails the test instead of hanging it).
    static void ExpectRefusedPath(const std::string& path, const std::string& kind)
    {
        const std::string expected = "XML ERROR: the actor file '" + path + "' is " + kind + ", not a regular file.";
        EXPECT_EXIT(
            {
                alarm(60);
                cActor actor;
                try
                {
                    ReadActorFromXML(path.c_str(), actor);
                }
                catch (const cXmlError& e)
                {
                    std::fprintf(stderr, "%s\n", e.what());
                    std::exit(e.what() == expected ? 0 : 2);
                }
                std::exit(3);
            },
            ::testing::ExitedWithCode(0), "");
    }

    std::string mDir;
};

TEST_F(XmlFileKinds, AFifoIsRefusedWithoutBlocking)
{
    const std::string fifo = mDir + "/fifo.xml";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefusedPath(fifo, "a FIFO");
}

TEST_F(XmlFileKinds, ADirectoryAndADeviceAreRefused)
{
    const std::string dir = mDir + "/dir.xml";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ExpectRefusedPath(dir, "a directory");
    ExpectRefusedPath("/dev/zero", "a character device");
}
} // namespace
