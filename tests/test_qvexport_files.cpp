// The qvexport program and the user's files: one summary line on success;
// on any failure one line "qvexport: ..." on standard error, status 1, and
// nothing lost or half-written (no OUT, or the old OUT as it was, and no
// temporary file left beside it).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace
{

const std::string kWalker = std::string(QV_SOURCE_DIR) + "/data/walker.xml";
const std::string kProgram = std::string(QV_BINARY_DIR) + "/qvexport";

// A folder of its own per test, so that a leftover temporary file shows.
std::string Folder(const std::string& name)
{
    const std::string dir = ::testing::TempDir() + "qvexport_files_" + std::to_string(getpid()) + "_" + name;
    mkdir(dir.c_str(), 0755);
    return dir + "/";
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

qvtest::sRun Export(const std::vector<std::string>& args, const std::string& dir, rlim_t fileLimit = RLIM_INFINITY)
{
    return qvtest::RunProgram(kProgram, args, dir + "../qvexport_stderr_" + std::to_string(getpid()), fileLimit);
}

// One line naming the problem, status 1.
void ExpectRefused(const qvtest::sRun& r, const std::string& expected)
{
    EXPECT_EQ(r.mStatus, 1) << r.mErr;
    EXPECT_EQ(r.mErr, "qvexport: " + expected + "\n");
}

TEST(QvExportFiles, AFileTheLoaderOrTheDemoRefusesIsOneLineAndWritesNothing)
{
    const std::string dir = Folder("refused");
    WriteFile(dir + "bad.xml", "<QVArmature><x/>");
    const qvtest::sRun r = Export({dir + "bad.xml", dir + "out.glb"}, dir);
    EXPECT_EQ(r.mStatus, 1);
    EXPECT_EQ(r.mErr.rfind("qvexport: XML ERROR: ", 0), 0u) << r.mErr;
    EXPECT_EQ(std::count(r.mErr.begin(), r.mErr.end(), '\n'), 1) << r.mErr;
    // A valid file the demo cannot play: no foot bones.
    std::string text = qvtest::FileText(kWalker);
    for (size_t at; (at = text.find("Bone.008")) != std::string::npos;)
        text.replace(at, 8, "Bone.0X8");
    WriteFile(dir + "footless.xml", text);
    const qvtest::sRun footless = Export({dir + "footless.xml", dir + "out.gltf"}, dir);
    EXPECT_EQ(footless.mStatus, 1);
    EXPECT_NE(footless.mErr.find("Bone.008"), std::string::npos) << footless.mErr;
    EXPECT_EQ(std::count(footless.mErr.begin(), footless.mErr.end(), '\n'), 1) << footless.mErr;
    // A FIFO is named for what it is, not waited on.
    ASSERT_EQ(mkfifo((dir + "fifo.xml").c_str(), 0644), 0);
    const qvtest::sRun fifo = Export({dir + "fifo.xml", dir + "out.bvh"}, dir);
    EXPECT_EQ(fifo.mStatus, 1);
    EXPECT_EQ(fifo.mErr.rfind("qvexport: XML ERROR: the actor file '", 0), 0u) << fifo.mErr;
    EXPECT_NE(fifo.mErr.find("' is a FIFO, not a regular file.\n"), std::string::npos) << fifo.mErr;
    EXPECT_EQ(qvtest::FolderNames(dir), (std::vector<std::string>{"bad.xml", "fifo.xml", "footless.xml"}));
}

TEST(QvExportFiles, OutputThatIsTheInputOrHasNoKnownExtensionIsRefused)
{
    const std::string dir = Folder("names");
    const std::string text = qvtest::FileText(kWalker);
    WriteFile(dir + "walker.gltf", text); // an actor file under a glTF name
    ExpectRefused(Export({dir + "walker.gltf", dir + "walker.gltf"}, dir),
                  "the output '" + dir + "walker.gltf' is the input file '" + dir +
                      "walker.gltf'; name another file to write");
    ASSERT_EQ(symlink((dir + "walker.gltf").c_str(), (dir + "link.glb").c_str()), 0);
    ExpectRefused(Export({dir + "walker.gltf", dir + "link.glb"}, dir), "the output '" + dir +
                                                                            "link.glb' is the input file '" + dir +
                                                                            "walker.gltf'; name another file to write");
    EXPECT_EQ(qvtest::FileText(dir + "walker.gltf"), text) << "the input is untouched";
    for (const char* name : {"out.obj", "out", "out.gltf.txt", "gltf"})
        ExpectRefused(Export({kWalker, dir + name}, dir), "cannot tell the format of '" + dir + name +
                                                              "' by its extension: name a file ending in .gltf, .glb "
                                                              "or .bvh");
    EXPECT_EQ(qvtest::FolderNames(dir), (std::vector<std::string>{"link.glb", "walker.gltf"}));
}

TEST(QvExportFiles, AnUnwritableOutputIsOneLineAndLeavesNoTemporaryFile)
{
    const std::string dir = Folder("unwritable");
    ExpectRefused(Export({kWalker, dir + "missing/out.glb"}, dir),
                  "cannot write '" + dir + "missing/out.glb': No such file or directory");
    mkdir((dir + "folder.gltf").c_str(), 0755);
    const qvtest::sRun folder = Export({kWalker, dir + "folder.gltf"}, dir);
    EXPECT_EQ(folder.mStatus, 1);
    EXPECT_EQ(folder.mErr.rfind("qvexport: cannot write '" + dir + "folder.gltf': ", 0), 0u) << folder.mErr;
    // A file-size limit fails the write, not the program; the old OUT stays.
    WriteFile(dir + "old.glb", "the old file");
    ExpectRefused(Export({kWalker, dir + "old.glb"}, dir, 4096), "cannot write '" + dir + "old.glb': File too large");
    EXPECT_EQ(qvtest::FileText(dir + "old.glb"), "the old file");
    EXPECT_EQ(qvtest::FolderNames(dir), (std::vector<std::string>{"folder.gltf", "old.glb"}));
}

// As qvimport does: an existing OUT is replaced, whole, once the new file is
// complete; it keeps its permissions.
TEST(QvExportFiles, AnExistingOutputIsReplacedWholeAndKeepsItsPermissions)
{
    const std::string dir = Folder("existing");
    for (const char* name : {"out.gltf", "out.glb", "out.bvh"})
    {
        WriteFile(dir + name, "the old file");
        chmod((dir + name).c_str(), 0640);
        const qvtest::sRun r = Export({kWalker, dir + name, "--action", "walk"}, dir);
        EXPECT_EQ(r.mStatus, 0) << r.mErr;
        EXPECT_EQ(r.mErr, "");
        const std::string text = qvtest::FileText(dir + name);
        EXPECT_GT(text.size(), 10000u) << name;
        EXPECT_EQ(text.find("the old file"), std::string::npos);
        struct stat info;
        ASSERT_EQ(stat((dir + name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0640u) << name;
    }
    EXPECT_EQ(qvtest::FileText(dir + "out.glb").substr(0, 4), "glTF");
    EXPECT_EQ(qvtest::FileText(dir + "out.bvh").substr(0, 10), "HIERARCHY\n");
    EXPECT_EQ(qvtest::FolderNames(dir), (std::vector<std::string>{"out.bvh", "out.glb", "out.gltf"}));
}

TEST(QvExportFiles, BadOptionsAreOneLineAndWriteNothing)
{
    const std::string dir = Folder("options");
    const std::string out = dir + "out.glb";
    ExpectRefused(Export({kWalker, out, "--bogus"}, dir), "unknown option '--bogus'");
    ExpectRefused(Export({kWalker, out, "--cycles", "0"}, dir), "--cycles is a whole number from 1 to 1000");
    ExpectRefused(Export({kWalker, out, "--cycles", "2.5"}, dir), "--cycles needs a whole number, not '2.5'");
    ExpectRefused(Export({kWalker, out, "--frame", "0"}, dir), "--frame is in whole milliseconds, from 1 to 100");
    ExpectRefused(Export({kWalker, out, "--locks", "toe"}, dir), "--locks is contact or ankle, not 'toe'");
    ExpectRefused(Export({kWalker, out, "--cross-fade", "yes"}, dir), "--cross-fade is on or off, not 'yes'");
    ExpectRefused(Export({kWalker, out, "--path", "walk 2, jump 1"}, dir),
                  "--path: unknown step 'jump' in ' jump 1': each step is walk SECONDS, left DEGREES, right DEGREES, "
                  "stand SECONDS or stop");
    ExpectRefused(Export({kWalker, out, "--action", "run"}, dir),
                  "--action: the actor has no action 'run' (it has 'walk', 'stand', 'brisk')");
    ExpectRefused(Export({kWalker, out, "--frame"}, dir), "--frame needs a value");
    const qvtest::sRun usage = Export({kWalker}, dir);
    EXPECT_EQ(usage.mStatus, 1);
    EXPECT_EQ(usage.mErr.rfind("qvexport: usage: qvexport IN.xml OUT.gltf|OUT.glb|OUT.bvh", 0), 0u) << usage.mErr;
    EXPECT_EQ(qvtest::FolderNames(dir), std::vector<std::string>{});
}

TEST(QvExportFiles, EveryOptionTogetherWritesAFile)
{
    const std::string dir = Folder("options_ok");
    const qvtest::sRun r = Export({kWalker, dir + "out.gltf", "--in-place", "--locks", "ankle", "--cross-fade", "off",
                                   "--cycles", "2", "--frame", "16", "--path", "walk 1, right 45, stop"},
                                  dir);
    EXPECT_EQ(r.mStatus, 0) << r.mErr;
    const std::string text = qvtest::FileText(dir + "out.gltf");
    EXPECT_NE(text.find("\"name\":\"travel\""), std::string::npos);
    EXPECT_NE(text.find("\"name\":\"path\""), std::string::npos);
}

} // namespace
