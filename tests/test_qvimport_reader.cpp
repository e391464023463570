// The importer's reading: hostile scenes that crash, hang or exhaust the
// third-party reader are one line and a failing status; the BVH check reads
// the file as that reader does; the process boundary turns a crash, a hang
// or a limit into one line; and its decoder takes nothing on trust.
//
// Index
//   [SECTION] Helpers    files and the program
//   [SECTION] Scenes     hostile files for Assimp, through ReadScene and qvimport
//   [SECTION] BVH        the check against Assimp's BVH reader
//   [SECTION] Values     what the capture holds: finite keys, sane counts
//   [SECTION] Inputs     what is not a regular file
//   [SECTION] Boundary   the child process: crash, hang, limits, short answers
//   [SECTION] Decoder    the parent's side of the bytes
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QV_capture.h"
#include "QV_capture_wire.h"
#include "QV_child.h"
#include "QV_scene_reader.h"
#include "support/run_program.h"

using namespace qvimport;

namespace
{

// ---- [SECTION] Helpers ----------------------------------------------------------

const std::string kProgram = std::string(QV_BINARY_DIR) + "/qvimport";

// Per process: CTest runs each test case as a process of its own, side by side.
std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "qvreader_" + std::to_string(getpid()) + "_" + name;
}

std::string Written(const std::string& name, const std::string& text)
{
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The message ReadScene gives, or "" when it reads the file.
std::string ReadMessage(const std::string& path)
{
    try
    {
        ReadScene(path);
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

std::string CheckMessage(const std::string& text)
{
    try
    {
        CheckBvh(text.data(), text.size());
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

// qvimport IN OUT: its status and standard error.
qvtest::sRun RunProgram(const std::string& in)
{
    return qvtest::RunProgram(kProgram, {in, TempPath("out.xml")}, TempPath("stderr.txt"));
}

// A BVH chain of `joints` joints, each on the last, three frames.
std::string BvhChain(size_t joints)
{
    std::string s = "HIERARCHY\nROOT j0\n{\nOFFSET 0 0 0\nCHANNELS 3 Zrotation Xrotation Yrotation\n";
    for (size_t i = 1; i < joints; ++i)
        s += "JOINT j" + std::to_string(i) + "\n{\nOFFSET 0 1 0\nCHANNELS 3 Zrotation Xrotation Yrotation\n";
    s += "End Site\n{\nOFFSET 0 1 0\n}\n";
    s.append(joints * 2, '}');
    for (size_t i = 1; i < joints * 2; i += 2)
        s[s.size() - i] = '\n';
    s += "\nMOTION\nFrames: 2\nFrame Time: 0.1\n";
    for (int f = 0; f < 2; ++f)
    {
        for (size_t i = 0; i < 3 * joints; ++i)
            s += "0 ";
        s += "\n";
    }
    return s;
}

// Three joints that wave an arm, with a value of the motion replaced.
const char* const kArmBvh =
    "HIERARCHY\nROOT Body\n{\n  OFFSET 0 0 0\n  CHANNELS 6 Xposition Yposition Zposition "
    "Zrotation Xrotation Yrotation\n  JOINT Arm\n  {\n    OFFSET 1 0 0\n    CHANNELS 3 "
    "Zrotation Xrotation Yrotation\n    JOINT Hand\n    {\n      OFFSET 1 0 0\n      CHANNELS 3 "
    "Zrotation Xrotation Yrotation\n      End Site\n      {\n        OFFSET 1 0 0\n      }\n    "
    "}\n  }\n}\nMOTION\nFrames: 3\nFrame Time: 0.0333333\n";

std::string ArmBvh(int frame = -1, int value = 0, const std::string& with = "")
{
    std::string s = kArmBvh;
    for (int f = 0; f < 3; ++f)
    {
        for (int v = 0; v < 12; ++v)
        {
            const std::string x = v == 7 ? std::to_string(10 * f) : v == 1 ? "1" : "0";
            s += (f == frame && v == value ? with : x) + (v < 11 ? " " : "\n");
        }
    }
    return s;
}

// ArmBvh with the first `from` made `to`.
std::string Edited(const std::string& from, const std::string& to)
{
    std::string s = ArmBvh();
    return s.replace(s.find(from), from.size(), to);
}

const char* const kColladaHead = "<?xml version=\"1.0\"?>\n<COLLADA "
                                 "xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">\n";
const char* const kColladaScene = "<scene><instance_visual_scene url=\"#s\"/></scene>\n</COLLADA>\n";

// ---- [SECTION] Scenes -------------------------------------------------------------

// Each of these crashed Assimp 5.2 or overflowed the stack in the program
// itself (status 139, no message). Now each is one line: a crash of the
// reader in its child process, or a refusal.
TEST(QvImportHostileScenes, EachIsOneLineAndTheProgramFailsCleanly)
{
    std::string nested = std::string(kColladaHead) + "<library_visual_scenes><visual_scene id=\"s\">";
    for (int i = 0; i < 50000; ++i)
        nested += "<node id=\"n" + std::to_string(i) + "\">";
    for (int i = 0; i < 50000; ++i)
        nested += "</node>";
    nested += "</visual_scene></library_visual_scenes>" + std::string(kColladaScene);

    std::string chain = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    for (int i = 0; i < 100000; ++i)
        chain += (i ? "," : "") + std::string(R"({"name":"n)") + std::to_string(i) + "\"" +
                 (i + 1 < 100000 ? R"(,"children":[)" + std::to_string(i + 1) + "]}" : "}");
    chain += "]}";

    std::string fbx = "; FBX 7.4.0 project file\nFBXHeaderExtension:  {\n FBXHeaderVersion: 1003\n FBXVersion: "
                      "7400\n}\nObjects: {\n";
    for (int i = 0; i < 100000; ++i)
        fbx += "A: {\n";
    for (int i = 0; i < 100000; ++i)
        fbx += "}\n";
    fbx += "}\n";

    const struct
    {
        const char* mName;
        std::string mText;
        const char* mExpected; // in the message; empty: any one line
    } cases[] = {
        {"self.dae",
         std::string(kColladaHead) +
             "<library_nodes><node id=\"n\"><instance_node url=\"#n\"/></node></library_nodes>\n"
             "<library_visual_scenes><visual_scene id=\"s\"><node id=\"r\"><instance_node url=\"#n\"/></node>"
             "</visual_scene></library_visual_scenes>\n" +
             kColladaScene,
         "the reader crashed on this file"},
        {"mutual.dae",
         std::string(kColladaHead) +
             "<library_nodes><node id=\"a\"><instance_node url=\"#b\"/></node><node id=\"b\"><instance_node "
             "url=\"#a\"/></node></library_nodes>\n<library_visual_scenes><visual_scene id=\"s\"><node "
             "id=\"r\"><instance_node url=\"#a\"/></node></visual_scene></library_visual_scenes>\n" +
             kColladaScene,
         "the reader crashed on this file"},
        {"nested.dae", nested, ""},
        {"chain.gltf", chain, ""},
        {"nested.fbx", fbx, ""},
        {"deep.bvh", BvhChain(40000), "the skeleton has more than 5000 joints"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mName);
        const std::string path = Written(c.mName, c.mText);
        const std::string message = ReadMessage(path);
        EXPECT_NE(message, "");
        EXPECT_EQ(message.find('\n'), std::string::npos);
        EXPECT_NE(message.find(c.mExpected), std::string::npos) << message;
        if (access(kProgram.c_str(), X_OK) == 0)
        {
            const qvtest::sRun r = RunProgram(path);
            EXPECT_EQ(r.mStatus, 1);
            EXPECT_EQ(r.mErr, "qvimport: " + message + "\n");
        }
        std::printf("%s (%zu bytes): %s\n", c.mName, c.mText.size(), message.c_str());
    }
}

// A scene whose node tree is larger than the importer takes is refused at
// once, before any work grows with it: a glTF chain 8000 deep, every node
// animated (the search for the skeleton's top used to take minutes on it).
TEST(QvImportHostileScenes, ASkeletonBeyondTheLimitsIsRefusedBeforeItIsSearched)
{
    const int n = 8000;
    std::string g = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    for (int i = 0; i < n; ++i)
        g += (i ? "," : "") + std::string(R"({"name":"j)") + std::to_string(i) + R"(","translation":[0,1,0])" +
             (i + 1 < n ? R"(,"children":[)" + std::to_string(i + 1) + "]}" : "}");
    // Two keys for every node, from one buffer: times, then one rotation.
    g += R"(],"buffers":[{"byteLength":40,"uri":"data:application/octet-stream;base64,)"
         R"(AAAAAAAAgD8AAAAAAAAAAAAAAAAAAIA/AAAAAAAAAAAAAAAAAACAPw=="}],"bufferViews":[)"
         R"({"buffer":0,"byteOffset":0,"byteLength":8},{"buffer":0,"byteOffset":8,"byteLength":32}],)"
         R"("accessors":[{"bufferView":0,"componentType":5126,"count":2,"type":"SCALAR","min":[0],"max":[1]},)"
         R"({"bufferView":1,"componentType":5126,"count":2,"type":"VEC4"}],"animations":[{"samplers":[)"
         R"({"input":0,"output":1,"interpolation":"LINEAR"}],"channels":[)";
    for (int i = 0; i < n; ++i)
        g += (i ? "," : "") + std::string(R"({"sampler":0,"target":{"node":)") + std::to_string(i) +
             R"(,"path":"rotation"}})";
    g += "]}]}";
    EXPECT_EQ(ReadMessage(Written("deep.gltf", g)), "the skeleton has more than 5000 joints");
}

// ---- [SECTION] BVH -----------------------------------------------------------------

// Assimp 5.2's BVH reader writes freed memory when a joint's CHANNELS follow
// a child joint. The check reads the file as that reader does: wherever the
// hierarchy starts, and with braces glued to the words around them.
TEST(QvImportBvhCheck, LateChannelsAreFoundHoweverTheFileIsSpaced)
{
    std::string late = ArmBvh();
    const std::string channels = "  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation\n";
    late.erase(late.find(channels), channels.size());
    late.insert(late.find("}\nMOTION"), channels);

    std::string glued;
    for (char c : late)
        if (glued.empty() || glued.back() != '{' || !std::isspace((unsigned char)c))
            glued += c;
    std::string closing = late;
    const std::string tail = "      }\n    }\n  }\n" + channels;
    ASSERT_NE(closing.find(tail), std::string::npos);
    closing.replace(closing.find(tail), tail.size(), "}}}" + channels.substr(2));

    std::string wide = "\xFF\xFE";
    for (char c : ArmBvh())
        wide += std::string(1, c) + '\0';

    const struct
    {
        const char* mWhat;
        std::string mText, mExpected;
    } cases[] = {
        {"as written", late, "malformed BVH: a joint's CHANNELS come after its child joints (line 19)"},
        {"after 60 blank bytes", std::string(60, ' ') + late, "a joint's CHANNELS come after its child joints"},
        {"after a megabyte of blank lines", std::string(1 << 20, '\n') + late, "CHANNELS come after its child joints"},
        {"after a UTF-8 byte-order mark", "\xEF\xBB\xBF" + late, "CHANNELS come after its child joints"},
        {"braces glued to the next word", glued, "CHANNELS come after its child joints"},
        {"}}}CHANNELS", closing, "CHANNELS come after its child joints"},
        {"OFFSET after a child", Edited("}\nMOTION", "OFFSET 0 0 0\n}\nMOTION"),
         "a joint's OFFSET come after its child joints"},
        {"in UTF-16", wide, "the BVH file is in UTF-16 or UTF-32"},
        {"a NUL in a name", Edited("Arm", std::string(1, '\0')), "a control character in the hierarchy"},
        {"a vertical tab", Edited("\n  JOINT", "\v"), "a control character in the hierarchy"},
        {"an unknown channel", Edited("Yposition", "Wposition"),
         "expected a channel such as Xrotation, found 'Wposition'"},
        {"a channel count out of range", Edited("CHANNELS 3", "CHANNELS 99"), "a joint with 99"},
        {"the file ending in the hierarchy", ArmBvh().substr(0, ArmBvh().find("End Site")),
         "found the end of the file"},
        {"a joint too many", BvhChain(5001), "the skeleton has more than 5000 joints"},
        {"an absurd frame count", Edited("Frames: 3", "Frames: 1000000000"),
         "the BVH file has 1000000000 frames; the importer takes at most 200000"},
        {"more frames announced than held", Edited("Frames: 3", "Frames: 5"),
         "the BVH file announces 5 frames of 12 values but holds 36 values (3 whole frames)"},
        {"a frame time of 0", Edited("0.0333333", "0"),
         "the BVH file's frame time is 0 s; it must be a positive number of seconds"},
        {"a negative frame time", Edited("0.0333333", "-0.01"), "frame time is -0.01 s"},
        {"a frame time that is not a number", Edited("0.0333333", "nan"), "frame time is nan s"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mWhat);
        const std::string message = CheckMessage(c.mText);
        EXPECT_NE(message.find(c.mExpected), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos);
    }
    // What is not a BVH file to Assimp's reader, and a good one, pass.
    for (const std::string& fine : {ArmBvh(), BvhChain(5000), std::string("{\"asset\":{}}"), std::string(" HIERARCH"),
                                    std::string(), std::string("\xFF\xFE", 2)})
        EXPECT_EQ(CheckMessage(fine), "") << fine.substr(0, 40);
    // Through the reader, in its child process, the same message.
    EXPECT_EQ(ReadMessage(Written("late.bvh", std::string(60, ' ') + late)),
              "malformed BVH: a joint's CHANNELS come after its child joints (line 19)");
}

// ---- [SECTION] Values --------------------------------------------------------------

// A key that is not a number (NaN or infinity) used to become no rotation,
// and the knee jumped 88 degrees in the written walk. It is refused, named.
TEST(QvImportValues, ANonFiniteKeyIsRefusedNamingTheJointAndTheFrame)
{
    const struct
    {
        int mFrame, mValue;
        const char* mWith;
        const char* mExpected;
    } cases[] = {
        {1, 7, "nan", "the joint 'Arm' has a rotation that is not a finite number at frame 1"},
        {2, 8, "inf", "the joint 'Arm' has a rotation that is not a finite number at frame 2"},
        {0, 11, "-inf", "the joint 'Hand' has a rotation that is not a finite number at frame 0"},
        {2, 1, "nan", "the joint 'Body' has a position that is not a finite number at frame 2"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mExpected);
        EXPECT_EQ(ReadMessage(Written("nan.bvh", ArmBvh(c.mFrame, c.mValue, c.mWith))), c.mExpected);
    }
    EXPECT_NO_THROW(ReadScene(Written("fine.bvh", ArmBvh())));
    // Assimp's own complaint that quotes a word of the file is not taken for
    // its running out of memory.
    const std::string word = ReadMessage(Written("word.bvh", ArmBvh(1, 4, "1bad_alloc")));
    EXPECT_NE(word.find("Expected a floating point number, but found \"1bad_alloc\""), std::string::npos) << word;
}

// ---- [SECTION] Inputs --------------------------------------------------------------

// A FIFO used to block for ever without a writer (and fail with a BVH
// message with one); devices and folders are no captures either. Each is
// refused before it is opened for reading.
TEST(QvImportInputs, WhatIsNotARegularFileIsRefusedAtOnce)
{
    const std::string fifo = TempPath("capture.fifo");
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const struct
    {
        std::string mPath, mExpected;
    } cases[] = {
        {fifo, "cannot read '" + fifo + "': it is a FIFO, not a regular file"},
        {"/dev/null", "cannot read '/dev/null': it is a character device, not a regular file"},
        {::testing::TempDir(), "it is a directory, not a regular file"},
        {TempPath("nothing-here.bvh"), "No such file or directory"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mPath);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_NE(ReadMessage(c.mPath).find(c.mExpected), std::string::npos) << ReadMessage(c.mPath);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "it waited";
        if (access(kProgram.c_str(), X_OK) == 0)
        {
            const qvtest::sRun r = RunProgram(c.mPath);
            EXPECT_EQ(r.mStatus, 1);
            EXPECT_EQ(std::count(r.mErr.begin(), r.mErr.end(), '\n'), 1) << r.mErr;
        }
    }
    unlink(fifo.c_str());
}

// ---- [SECTION] Boundary ------------------------------------------------------------

std::string IsolatedMessage(const std::function<void(cCaptureSink&)>& work, const sChildLimits& limits = sChildLimits())
{
    try
    {
        ReadIsolated(work, "'x.bvh'", "file", limits);
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

// A small capture: three joints, two frames.
sCapture SmallCapture()
{
    sCapture c;
    c.mRate = 30;
    c.mJoints = {{"Hips", -1, true}, {std::string("odd\n\0name", 9), 0, false}, {"", 1, true}};
    for (int f = 0; f < 2; ++f)
    {
        c.mRotation.push_back({sQuat(), sQuat::AxisAngle(sVec3(1, 2, 3), 0.1 * f), sQuat(0, 1, 0, 0)});
        c.mPosition.push_back({sVec3(0, 1, f), sVec3(-1e300, 0, 1e-300), sVec3(1, 1, 1)});
    }
    return c;
}

void Send(const sCapture& c, cCaptureSink& sink)
{
    sink.Begin(c.mJoints, c.mRate, c.Frames());
    for (size_t f = 0; f < c.Frames(); ++f)
        sink.Frame(c.mRotation[f], c.mPosition[f]);
    sink.End();
}

void ExpectSame(const sCapture& a, const sCapture& b)
{
    ASSERT_EQ(a.mJoints.size(), b.mJoints.size());
    for (size_t j = 0; j < a.mJoints.size(); ++j)
    {
        EXPECT_EQ(a.mJoints[j].mName, b.mJoints[j].mName);
        EXPECT_EQ(a.mJoints[j].mParent, b.mJoints[j].mParent);
        EXPECT_EQ(a.mJoints[j].mAnimated, b.mJoints[j].mAnimated);
    }
    EXPECT_EQ(a.mRate, b.mRate);
    ASSERT_EQ(a.Frames(), b.Frames());
    for (size_t f = 0; f < a.Frames(); ++f)
        for (size_t j = 0; j < a.mJoints.size(); ++j)
        {
            EXPECT_EQ(std::memcmp(&a.mRotation[f][j], &b.mRotation[f][j], sizeof(sQuat)), 0);
            EXPECT_EQ(std::memcmp(&a.mPosition[f][j], &b.mPosition[f][j], sizeof(sVec3)), 0);
        }
}

int Deeper(int n) // recursion the compiler cannot turn into a loop
{
    volatile char pad[256];
    pad[0] = (char)n;
    return n <= 0 ? pad[0] : Deeper(n - 1) + pad[0];
}

TEST(QvImportBoundary, WhatTheChildSendsComesBackBitForBit)
{
    const sCapture sent = SmallCapture();
    const sCapture got = ReadIsolated([&](cCaptureSink& s) { Send(sent, s); }, "'x'", "file");
    ExpectSame(sent, got);
    // The real reader's capture, through the child and not, is the same.
    const std::string bvh = ArmBvh();
    ExpectSame(ReadSceneFromMemory(bvh.data(), bvh.size(), "bvh"), ReadSceneInProcess(bvh.data(), bvh.size(), "bvh"));
}

TEST(QvImportBoundary, ACrashAHangOrALimitInTheChildIsOneLine)
{
    sChildLimits quick;
    quick.mWallSeconds = 2;
    sChildLimits cpu;
    cpu.mCpuSeconds = 1;
    cpu.mWallSeconds = 60;
    sChildLimits small;
    small.mMemoryBytes = size_t(256) << 20;
    const std::string crashed = "cannot read 'x.bvh': the reader crashed on this file";
    const struct
    {
        const char* mWhat;
        std::function<void(cCaptureSink&)> mWork;
        sChildLimits mLimits;
        std::string mExpected;
    } cases[] = {
        {"a segmentation fault", [](cCaptureSink&) { raise(SIGSEGV); }, sChildLimits(), crashed},
        {"an abort", [](cCaptureSink&) { std::abort(); }, sChildLimits(), crashed},
        {"recursion without end", [](cCaptureSink&) { std::printf("%d", Deeper(1 << 30)); }, sChildLimits(), crashed},
        {"a crash after the header",
         [](cCaptureSink& s) {
             const sCapture c = SmallCapture();
             s.Begin(c.mJoints, c.mRate, 2);
             s.Frame(c.mRotation[0], c.mPosition[0]);
             raise(SIGBUS);
         },
         sChildLimits(), crashed},
        {"a hang", [](cCaptureSink&) { pause(); }, quick,
         "cannot read 'x.bvh': the reader took longer than 2 s on this file"},
        {"a busy loop",
         [](cCaptureSink&) {
             for (volatile unsigned long i = 0;; i = i + 1)
             {
             }
         },
         cpu, "cannot read 'x.bvh': the reader used more than 1 s of processor time on this file"},
        {"its own refusal", [](cCaptureSink&) { throw cImportError("the file has no animation"); }, sChildLimits(),
         "the file has no animation"},
        {"an end without a word", [](cCaptureSink&) { _exit(0); }, sChildLimits(),
         "cannot read 'x.bvh': the reader's answer is malformed: it ends early"},
        {"more frames than it said",
         [](cCaptureSink& s) {
             const sCapture c = SmallCapture();
             s.Begin(c.mJoints, c.mRate, 1);
             for (;;)
                 s.Frame(c.mRotation[0], c.mPosition[0]);
         },
         quick, "cannot read 'x.bvh': the reader's answer is malformed: more frames than the 1 announced"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mWhat);
        EXPECT_EQ(IsolatedMessage(c.mWork, c.mLimits), c.mExpected);
    }
    if (!ChildMemoryLimited())
    {
        std::printf("the memory limit is not applied under AddressSanitizer\n");
        return;
    }
    const std::string greedy = IsolatedMessage(
        [](cCaptureSink&) {
            std::vector<std::vector<char>> hoard;
            for (;;)
                hoard.emplace_back(size_t(16) << 20, 'x');
        },
        small);
    EXPECT_EQ(greedy, "cannot read 'x.bvh': the reader ran out of memory on this file (it may use 0.25 GiB)");
}

// ---- [SECTION] Decoder -------------------------------------------------------------

std::string Bytes(const std::function<void(cWireWriter&)>& write)
{
    std::string bytes;
    cWireWriter w([&](const char* data, size_t size) { bytes.append(data, size); });
    write(w);
    return bytes;
}

std::string Decoded(const std::string& bytes, sCapture* out = nullptr)
{
    cMemorySource in(bytes.data(), bytes.size());
    try
    {
        const sCapture c = DecodeCapture(in);
        if (out)
            *out = c;
    }
    catch (const cImportError& e)
    {
        return e.what();
    }
    return "";
}

// Bytes with the value of type T at `at` replaced.
template <class T> std::string With(std::string bytes, size_t at, T v)
{
    std::memcpy(&bytes[at], &v, sizeof v);
    return bytes;
}

TEST(QvImportDecoder, EveryBrokenAnswerIsRefusedAndNothingIsSizedBeforeItIsChecked)
{
    const sCapture c = SmallCapture();
    const std::string good = Bytes([&](cWireWriter& w) { Send(c, w); });
    sCapture back;
    ASSERT_EQ(Decoded(good, &back), "");
    ExpectSame(c, back);

    // Where things are: magic 8, tag 1, rate 8, joints 4, frames 4, then the
    // joints (parent 4, animated 1, length 4, name), then the frames.
    const size_t rate = 9, joints = 17, frames = 21, joint0 = 25, joint1 = joint0 + 9 + 4;
    const size_t firstFrame = joint1 + 9 + 9 + 9 + 0;
    ASSERT_EQ(good[firstFrame], 'F');
    const std::string malformed = "the reader's answer is malformed: ";
    const struct
    {
        const char* mWhat;
        std::string mBytes, mExpected;
    } cases[] = {
        {"another magic", "QVCAP02\n" + good.substr(8), malformed + "it does not start as a capture"},
        {"a rate too low", With(good, rate, 9.0), malformed + "a rate of 9"},
        {"a rate that is not a number", With(good, rate, (double)NAN), malformed + "a rate of nan"},
        {"no joints", With(good, joints, (uint32_t)0), malformed + "0 joints"},
        {"too many joints", With(good, joints, (uint32_t)5001), malformed + "5001 joints"},
        {"too many frames", With(good, frames, (uint32_t)200001), malformed + "200001 frames of 3 joints"},
        {"too many samples", With(With(good, joints, (uint32_t)5000), frames, (uint32_t)4001),
         malformed + "4001 frames of 5000 joints"},
        {"a first joint with a parent", With(good, joint0, (int32_t)0), malformed + "joint 0 has the parent 0"},
        {"a parent after its child", With(good, joint1, (int32_t)1), malformed + "joint 1 has the parent 1"},
        {"a parent below -1", With(good, joint1, (int32_t)-5), malformed + "joint 1 has the parent -5"},
        {"animated twice", With(good, joint0 + 4, (uint8_t)2), malformed + "joint 0 is animated 2"},
        {"a name of 2 GB", With(good, joint0 + 5, (uint32_t)2000000000),
         malformed + "joint 0 has a name of 2000000000"},
        {"a value that is not a number", With(good, firstFrame + 1 + 5 * 8, (double)NAN),
         malformed + "frame 0 holds a value that is not finite"},
        {"an infinite position", With(good, firstFrame + 1 + 6 * 8, -(double)INFINITY),
         malformed + "frame 0 holds a value"},
        {"a rotation of length 2", With(good, firstFrame + 1, 2.0), malformed + "frame 0 has a rotation that is not"},
        {"a frame of another kind", With(good, firstFrame, 'G'), malformed + "frame 0 is not a frame"},
        {"bytes after the end", good + "x", malformed + "bytes follow the capture"},
        {"a second end", good + "Z", malformed + "bytes follow the capture"},
        {"no end", good.substr(0, good.size() - 1), malformed + "it ends early"},
        {"nothing", "", malformed + "it ends early"},
        {"the reader's message, made one line", Bytes([](cWireWriter& w) { w.Error("two\nlines\x7f"); }), "two?lines?"},
        {"a message after a frame", Bytes([&](cWireWriter& w) {
             w.Begin(c.mJoints, c.mRate, 2);
             w.Frame(c.mRotation[0], c.mPosition[0]);
             w.Error("the joint 'Hand' has transforms that are not finite at frame 1");
         }),
         "the joint 'Hand' has transforms that are not finite at frame 1"},
        {"an empty message", Bytes([](cWireWriter& w) { w.Error(""); }), malformed + "an error message of 0 bytes"},
        {"a long message", With(Bytes([](cWireWriter& w) { w.Error("x"); }), 9, (uint32_t)1001),
         malformed + "an error message of 1001 bytes"},
        {"bytes after a message", Bytes([](cWireWriter& w) { w.Error("x"); }) + "Z",
         malformed + "bytes follow the error message"},
    };
    for (const auto& k : cases)
    {
        SCOPED_TRACE(k.mWhat);
        EXPECT_EQ(Decoded(k.mBytes).substr(0, k.mExpected.size()), k.mExpected);
    }

    // Cut anywhere, the answer ends early.
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_EQ(Decoded(good.substr(0, n)), malformed + "it ends early") << n;
    // Any byte changed: refused, or a capture that keeps every promise.
    std::mt19937 rng(7);
    for (size_t at = 0; at < good.size(); ++at)
        for (int flip : {1, 0x80, (int)(rng() & 0xff) | 1})
        {
            std::string bad = good;
            bad[at] = (char)(bad[at] ^ flip);
            sCapture got;
            if (Decoded(bad, &got) != "")
                continue;
            ASSERT_EQ(got.mRotation.size(), got.mPosition.size());
            for (size_t j = 0; j < got.mJoints.size(); ++j)
                ASSERT_LT(got.mJoints[j].mParent, (int)j);
            for (const auto& frame : got.mRotation)
                for (const sQuat& q : frame)
                    ASSERT_NEAR(q.Dot(q), 1.0, 1e-6);
        }
}

} // namespace
