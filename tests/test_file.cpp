// The user's files: written whole or not at all (a failed write, a missing
// folder, a file-size limit, a kill leave the old file as it was), links and
// permissions kept, and two paths compared as files.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QV_error.h"
#include "QV_file.h"
#include "support/run_program.h"

namespace
{

// A new empty folder for one test.
std::string NewFolder()
{
    std::string pattern = ::testing::TempDir() + "qvfile_XXXXXX";
    return mkdtemp(&pattern[0]) ? pattern : "";
}

void Put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Get(const std::string& path) { return qvtest::FileText(path); }

// Every name in the folder other than those given.
std::vector<std::string> Others(const std::string& folder, const std::vector<std::string>& known)
{
    std::vector<std::string> out;
    DIR* d = opendir(folder.c_str());
    while (d)
    {
        const dirent* e = readdir(d);
        if (!e)
            break;
        const std::string name = e->d_name;
        if (name != "." && name != ".." && std::find(known.begin(), known.end(), name) == known.end())
            out.push_back(name);
    }
    if (d)
        closedir(d);
    return out;
}

std::string MessageOf(const std::vector<sFileText>& files)
{
    try
    {
        WriteFilesAtomically(files);
    }
    catch (const cQVError& e)
    {
        return e.what();
    }
    return "";
}

mode_t ModeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

} // namespace

TEST(WriteFiles, EveryFileIsReplacedWholeAndKeepsItsPermissions)
{
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    Put(dir + "/old.xml", "old");
    chmod((dir + "/old.xml").c_str(), 0640);
    const std::string big(300000, 'x');
    WriteFilesAtomically({{dir + "/old.xml", big}, {dir + "/new.csv", "a,b\n"}});
    EXPECT_EQ(Get(dir + "/old.xml"), big);
    EXPECT_EQ(Get(dir + "/new.csv"), "a,b\n");
    EXPECT_EQ(ModeOf(dir + "/old.xml"), 0640u);
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(ModeOf(dir + "/new.csv"), 0666u & ~mask);
    EXPECT_EQ(Others(dir, {"old.xml", "new.csv"}), std::vector<std::string>());

    // A link keeps pointing where it did, at the new text.
    Put(dir + "/target.xml", "target");
    ASSERT_EQ(symlink("target.xml", (dir + "/link.xml").c_str()), 0);
    WriteFileAtomically(dir + "/link.xml", "through the link");
    char buf[64] = {};
    ASSERT_GT(readlink((dir + "/link.xml").c_str(), buf, sizeof buf - 1), 0);
    EXPECT_STREQ(buf, "target.xml");
    EXPECT_EQ(Get(dir + "/target.xml"), "through the link");
}

TEST(WriteFiles, NothingIsReplacedUnlessEveryFileCanBeWritten)
{
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    Put(dir + "/out.xml", "the old actor");
    ASSERT_EQ(mkdir((dir + "/folder").c_str(), 0755), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0644), 0);
    const struct
    {
        const char* mWhat;
        std::string mSecond, mExpected;
    } cases[] = {
        {"a missing folder", dir + "/missing/speed.csv",
         "cannot write '" + dir + "/missing/speed.csv': No such file or directory"},
        {"a folder in the way", dir + "/folder",
         "cannot write '" + dir + "/folder': it is a directory, not a regular file"},
        {"a FIFO in the way", dir + "/fifo", "cannot write '" + dir + "/fifo': it is a FIFO, not a regular file"},
        {"a path ending in a slash", dir + "/folder/", "it names a folder, not a file"},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.mWhat);
        const std::string message = MessageOf({{dir + "/out.xml", "the new actor"}, {c.mSecond, "speed"}});
        EXPECT_NE(message.find(c.mExpected), std::string::npos) << message;
        EXPECT_EQ(Get(dir + "/out.xml"), "the old actor");
        EXPECT_EQ(Others(dir, {"out.xml", "folder", "fifo"}), std::vector<std::string>());
    }
}

// A file-size limit (ulimit -f) stops the write part way: the process is not
// ended by SIGXFSZ, the old file stays whole and the temporary is removed.
TEST(WriteFiles, AFileSizeLimitFailsTheWriteAndLeavesTheOldFile)
{
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/walker.xml";
    Put(path, "the old file");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
    {
        const struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = MessageOf({{path, std::string(100000, 'x')}});
        _exit(message == "cannot write '" + path + "': File too large" ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the message names the limit";
    EXPECT_EQ(Get(path), "the old file");
    EXPECT_EQ(Others(dir, {"walker.xml"}), std::vector<std::string>());
}

// A writer stopped part way leaves either the old file or the new one, each
// whole: SIGTERM waits until the file is in place and the temporary gone;
// SIGKILL cannot wait, and leaves the old file (and the temporary).
TEST(WriteFiles, AStoppedWriterLeavesTheOldFileOrTheNewOneWhole)
{
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/out.xml";
    const std::string text(64 << 20, 'n');
    for (int sig : {SIGTERM, SIGKILL})
    {
        SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGKILL");
        bool caughtWriting = false;
        for (int attempt = 0; attempt < 5 && !caughtWriting; ++attempt)
        {
            Put(path, "old");
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0)
            {
                signal(SIGTERM, SIG_DFL);
                WriteFileAtomically(path, text);
                pause();
                _exit(0);
            }
            // Stopped as soon as its temporary file appears.
            const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (Others(dir, {"out.xml"}).empty() && std::chrono::steady_clock::now() < give)
                std::this_thread::yield();
            const bool seenWriting = !Others(dir, {"out.xml"}).empty();
            kill(pid, sig);
            int status = 0;
            waitpid(pid, &status, 0);
            const std::string now = Get(path);
            const bool leftTemporary = !Others(dir, {"out.xml"}).empty();
            EXPECT_TRUE(now == "old" || now == text) << now.size() << " bytes";
            if (sig == SIGTERM && seenWriting)
            {
                EXPECT_EQ(now.size(), text.size()) << "SIGTERM waits until the file is in place";
                EXPECT_FALSE(leftTemporary);
                EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
            }
            if (sig == SIGKILL && leftTemporary)
            {
                EXPECT_EQ(now, "old") << "killed while writing";
            }
            caughtWriting = sig == SIGTERM ? seenWriting : leftTemporary;
            for (const std::string& name : Others(dir, {"out.xml"}))
                unlink((dir + "/" + name).c_str());
        }
        EXPECT_TRUE(caughtWriting) << "never stopped while writing";
    }
}

TEST(SameFile, SpellingsAndLinksOfOneFileAreTheSameFile)
{
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    Put(dir + "/a.bvh", "capture");
    Put(dir + "/b.bvh", "other");
    ASSERT_EQ(link((dir + "/a.bvh").c_str(), (dir + "/hard.bvh").c_str()), 0);
    ASSERT_EQ(symlink("a.bvh", (dir + "/soft.bvh").c_str()), 0);
    ASSERT_EQ(mkdir((dir + "/sub").c_str(), 0755), 0);
    const std::string a = dir + "/a.bvh";
    EXPECT_TRUE(SameFile(a, a));
    EXPECT_TRUE(SameFile(a, dir + "/./a.bvh"));
    EXPECT_TRUE(SameFile(a, dir + "/sub/../a.bvh"));
    EXPECT_TRUE(SameFile(a, dir + "/hard.bvh"));
    EXPECT_TRUE(SameFile(a, dir + "/soft.bvh"));
    EXPECT_FALSE(SameFile(a, dir + "/b.bvh"));
    // Files still to be written: the same folder's entry, or not.
    EXPECT_TRUE(SameFile(dir + "/new.xml", dir + "/sub/../new.xml"));
    EXPECT_FALSE(SameFile(dir + "/new.xml", dir + "/new.csv"));
    EXPECT_FALSE(SameFile(dir + "/new.xml", dir + "/sub/new.xml"));
    EXPECT_FALSE(SameFile(dir + "/missing/x", dir + "/missing/x")) << "a path that cannot be written is no file";
}

// The walker's generator writes data/walker.xml the same way.
TEST(WriteFiles, TheWalkerGeneratorLeavesItsFileWholeUnderAFileSizeLimit)
{
    const std::string program = std::string(QV_BINARY_DIR) + "/walkergen";
    if (access(program.c_str(), X_OK) != 0)
        GTEST_SKIP() << "walkergen is not built";
    const std::string dir = NewFolder();
    ASSERT_FALSE(dir.empty());
    const std::string path = dir + "/walker.xml", err = dir + "/stderr.txt";
    Put(path, "the old walker");
    const qvtest::sRun r = qvtest::RunProgram(program, {path}, err, 8192);
    EXPECT_EQ(r.mStatus, 1) << "-1: ended by a signal";
    EXPECT_EQ(r.mErr, "walkergen: cannot write '" + path + "': File too large\n");
    EXPECT_EQ(Get(path), "the old walker");
    EXPECT_EQ(Others(dir, {"walker.xml", "stderr.txt"}), std::vector<std::string>());
}
