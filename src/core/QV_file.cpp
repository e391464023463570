// The user's files: kinds, identity, and writing whole or not at all.
//
// Index
//   [kinds]     what a path is
//   [identity]  two paths, one file
//   [writing]   temporary files beside the destinations, then renames
#include "QV_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <set>

#include "QV_error.h"

// [kinds] --------------------------------------------------------------------

const char* FileKind(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// [identity] -----------------------------------------------------------------

namespace
{

std::string Folder(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string LastName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file as the system knows it; a path that does not exist yet is its
// folder's identity and the name in it.
struct sFileId
{
    bool mKnown = false;
    dev_t mDevice = 0;
    ino_t mInode = 0;
    std::string mName; // empty for an existing file

    bool operator==(const sFileId& o) const
    {
        return mKnown && o.mKnown && mDevice == o.mDevice && mInode == o.mInode && mName == o.mName;
    }
};

sFileId IdOf(const std::string& path)
{
    sFileId id;
    struct stat info;
    if (stat(path.c_str(), &info) == 0)
        id.mKnown = true;
    else if (errno == ENOENT && stat(Folder(path).c_str(), &info) == 0)
    {
        id.mKnown = true;
        id.mName = LastName(path);
    }
    id.mDevice = id.mKnown ? info.st_dev : 0;
    id.mInode = id.mKnown ? info.st_ino : 0;
    return id;
}

} // namespace

bool SameFile(const std::string& a, const std::string& b) { return IdOf(a) == IdOf(b); }

// [writing] ------------------------------------------------------------------

namespace
{

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw cQVError("cannot write '" + path + "': " + reason);
}

[[noreturn]] void FailErrno(const std::string& path, int error) { Fail(path, std::strerror(error)); }

// For the time the files are written: a file-size limit makes write() fail
// with EFBIG rather than end the program, and the usual ways of stopping a
// program wait until the temporary files are renamed or removed.
class cWriteSignals
{
public:
    cWriteSignals()
    {
        sigset_t stop;
        sigemptyset(&stop);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&stop, s);
        pthread_sigmask(SIG_BLOCK, &stop, &mMask);
        struct sigaction ignore;
        std::memset(&ignore, 0, sizeof ignore);
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &mFileSize);
    }
    ~cWriteSignals()
    {
        sigaction(SIGXFSZ, &mFileSize, nullptr);
        pthread_sigmask(SIG_SETMASK, &mMask, nullptr);
    }
    cWriteSignals(const cWriteSignals&) = delete;
    cWriteSignals& operator=(const cWriteSignals&) = delete;

private:
    sigset_t mMask;
    struct sigaction mFileSize;
};

// One destination: where its bytes really go (a symbolic link's target), the
// temporary file beside it, and whether it has been renamed into place.
struct sStaged
{
    std::string mShown; // the path as given, for messages
    std::string mTarget;
    std::string mTemp;
    bool mRenamed = false;
};

// The file a path writes to, checked: nothing, or a regular file (whose
// permissions the new file keeps).
std::string Destination(const std::string& path, bool& exists, mode_t& mode)
{
    if (path.empty() || path.back() == '/')
        Fail(path, "it names a folder, not a file");
    std::string target = path;
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
    {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved))
            target = resolved;
    }
    exists = stat(target.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        Fail(path, std::string("it is ") + FileKind(info.st_mode) + ", not a regular file");
    mode = exists ? (info.st_mode & 07777) : 0666;
    return target;
}

// A new file beside target, open for writing; its path in temp.
int CreateTemporary(const std::string& target, mode_t mode, std::string& temp)
{
    static std::atomic<unsigned> serial{0};
    // Short enough that the name stays within a file name's limit.
    const std::string stem = "." + LastName(target).substr(0, 200) + "." + std::to_string(getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        temp = Folder(target) + "/" + stem + std::to_string(serial++) + ".tmp";
        const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes, flushes to the disk and closes; 0 or the error.
int WriteWhole(int fd, const std::string& text)
{
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0)
    {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
        {
            const int error = n < 0 ? errno : EIO;
            close(fd);
            return error;
        }
        p += n;
        left -= (size_t)n;
    }
    if (fsync(fd) != 0)
    {
        const int error = errno;
        close(fd);
        return error;
    }
    return close(fd) == 0 ? 0 : errno;
}

void Stage(const sFileText& file, sStaged& staged)
{
    bool exists = false;
    mode_t mode = 0;
    staged.mShown = file.mPath;
    staged.mTarget = Destination(file.mPath, exists, mode);
    const int fd = CreateTemporary(staged.mTarget, mode, staged.mTemp);
    if (fd < 0)
    {
        const int error = errno;
        staged.mTemp.clear();
        FailErrno(file.mPath, error);
    }
    // The umask does not take permissions away from a file that had them.
    if (exists)
        fchmod(fd, mode);
    const int error = WriteWhole(fd, file.mText);
    if (error != 0)
        FailErrno(file.mPath, error);
}

// A rename is on the disk once its folder is.
void SyncFolder(const std::string& folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0)
    {
        fsync(fd);
        close(fd);
    }
}

} // namespace

void WriteFilesAtomically(const std::vector<sFileText>& files)
{
    cWriteSignals signals;
    std::vector<sStaged> staged(files.size());
    try
    {
        for (size_t i = 0; i < files.size(); ++i)
            Stage(files[i], staged[i]);
        std::set<std::string> folders;
        for (sStaged& s : staged)
        {
            if (rename(s.mTemp.c_str(), s.mTarget.c_str()) != 0)
                FailErrno(s.mShown, errno);
            s.mRenamed = true;
            folders.insert(Folder(s.mTarget));
        }
        for (const std::string& folder : folders)
            SyncFolder(folder);
    }
    catch (...)
    {
        for (const sStaged& s : staged)
            if (!s.mRenamed && !s.mTemp.empty())
                unlink(s.mTemp.c_str());
        throw;
    }
}

void WriteFileAtomically(const std::string& path, const std::string& text) { WriteFilesAtomically({{path, text}}); }
