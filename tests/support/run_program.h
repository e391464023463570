#ifndef QV_TEST_RUN_PROGRAM_H
#define QV_TEST_RUN_PROGRAM_H

// Running a tool from a test and reading what it left. Header only.
//
//     const qvtest::sRun r = qvtest::RunProgram(kProgram, {in, out}, errPath);
//     EXPECT_EQ(r.mStatus, 1);            // -1: a signal ended it
//     EXPECT_EQ(r.mErr, "qvimport: ...\n");
//     qvtest::FileText(out);              // the whole file, "" when there is none

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace qvtest
{

inline std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The names in a folder, sorted, without . and ..: what a failed run left.
inline std::vector<std::string> FolderNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str()))
    {
        while (const dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct sRun
{
    int mStatus = -1; // the exit status; -1 when a signal ended the program
    std::string mErr; // its standard error
};

// Runs program with args, standard input and output on /dev/null, standard
// error into errPath, its files limited to fileLimit bytes (ulimit -f).
inline sRun RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& errPath,
                       rlim_t fileLimit = RLIM_INFINITY)
{
    const pid_t pid = fork();
    if (pid == 0)
    {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(err, 2);
        const struct rlimit limit = {fileLimit, fileLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
    {
    }
    sRun r;
    r.mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.mErr = FileText(errPath);
    return r;
}

} // namespace qvtest

#endif // QV_TEST_RUN_PROGRAM_H
