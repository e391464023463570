// Work in a child process under limits: fork, limits, a thread with a
// bounded stack, a pipe read against the clock, and how the child ended.
//
// Index
//   [SECTION] Child side   limits, quiet standard streams, the work's thread
//   [SECTION] Parent side  the pipe, the clock, the end
//   [SECTION] Reading      ReadIsolated: the capture through the boundary
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "QV_child.h"

#if defined(__SANITIZE_ADDRESS__)
#define QV_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QV_ADDRESS_SANITIZER 1
#endif
#endif

namespace qvimport
{

bool ChildMemoryLimited()
{
#ifdef QV_ADDRESS_SANITIZER
    return false;
#else
    return true;
#endif
}

// ---- [SECTION] Child side -----------------------------------------------------

namespace
{

// The address space in use, bytes (0 when unknown): the memory limit is
// counted on top of it, as the child starts with the parent's mappings.
size_t AddressSpaceInUse()
{
    FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (f)
    {
        if (std::fscanf(f, "%lu", &pages) != 1)
            pages = 0;
        std::fclose(f);
    }
    return (size_t)pages * (size_t)sysconf(_SC_PAGESIZE);
}

// Lowers a limit (a hard limit can only come down).
void Limit(int resource, rlim_t soft, rlim_t hard)
{
    struct rlimit now;
    if (getrlimit(resource, &now) == 0 && now.rlim_max != RLIM_INFINITY)
    {
        hard = std::min(hard, now.rlim_max);
        soft = std::min(soft, hard);
    }
    const struct rlimit r = {soft, hard};
    setrlimit(resource, &r);
}

struct sWork
{
    const std::function<void(int)>* mWork;
    int mFd;
};

void* RunWork(void* p)
{
    const sWork* w = (const sWork*)p;
    (*w->mWork)(w->mFd);
    return nullptr;
}

[[noreturn]] void ChildMain(const std::function<void(int)>& work, int fd, const sChildLimits& limits)
{
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0)
    {
        dup2(null, 0);
        dup2(null, 1);
        if (!std::getenv("QV_READER_STDERR"))
            dup2(null, 2);
    }
    // The signals that end it do so plainly (no handler of the parent's, no
    // core file), and none is blocked.
    for (int s : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGXCPU, SIGPIPE, SIGXFSZ})
        signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    Limit(RLIMIT_CORE, 0, 0);
    Limit(RLIMIT_CPU, limits.mCpuSeconds, limits.mCpuSeconds + 1);
    if (ChildMemoryLimited())
    {
        const rlim_t bytes = AddressSpaceInUse() + limits.mMemoryBytes + limits.mStackBytes;
        Limit(RLIMIT_AS, bytes, bytes);
    }

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, limits.mStackBytes);
    sWork w = {&work, fd};
    pthread_t thread;
    if (pthread_create(&thread, &attr, RunWork, &w) != 0)
        _exit(71);
    pthread_join(thread, nullptr);
    _exit(0);
}

} // namespace

// ---- [SECTION] Parent side ----------------------------------------------------

cChild::cChild(const std::function<void(int)>& work, const sChildLimits& limits)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw cImportError(std::string("cannot start the reader: ") + std::strerror(errno));
    mDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.mWallSeconds);
    mPid = fork();
    if (mPid < 0)
    {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        throw cImportError(std::string("cannot start the reader: ") + std::strerror(error));
    }
    if (mPid == 0)
    {
        close(fds[0]);
        ChildMain(work, fds[1], limits);
    }
    close(fds[1]);
    mFd = fds[0];
}

cChild::~cChild()
{
    Kill();
    while (!mReaped && waitpid(mPid, &mStatus, 0) < 0 && errno == EINTR)
    {
    }
    if (mFd >= 0)
        close(mFd);
}

void cChild::Kill()
{
    if (!mReaped && mPid > 0)
        kill(mPid, SIGKILL);
}

size_t cChild::Read(void* data, size_t size)
{
    while (mFd >= 0)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(mDeadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            mTimedOut = true;
            Kill();
            return 0;
        }
        struct pollfd p = {mFd, POLLIN, 0};
        const int ready = poll(&p, 1, (int)std::min<long long>(left.count(), 1000));
        if (ready <= 0)
            continue; // the clock, or a signal
        const ssize_t n = read(mFd, data, size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n > 0 ? (size_t)n : 0;
    }
    return 0;
}

eChildEnd cChild::Finish()
{
    while (!mReaped)
    {
        const pid_t r = waitpid(mPid, &mStatus, WNOHANG);
        if (r == mPid || (r < 0 && errno != EINTR))
        {
            // ECHILD: the caller ignores SIGCHLD and the system reaped it.
            if (r < 0)
                mStatus = 0;
            mReaped = true;
        }
        else if (std::chrono::steady_clock::now() >= mDeadline)
        {
            mTimedOut = true;
            Kill();
            while (waitpid(mPid, &mStatus, 0) < 0 && errno == EINTR)
            {
            }
            mReaped = true;
        }
        else
            usleep(1000);
    }
    if (mTimedOut)
        return eChildEnd::kOutOfTime;
    if (WIFSIGNALED(mStatus))
        return WTERMSIG(mStatus) == SIGXCPU ? eChildEnd::kOutOfCpu : eChildEnd::kCrashed;
    return WIFEXITED(mStatus) && WEXITSTATUS(mStatus) == 0 ? eChildEnd::kExited : eChildEnd::kFailed;
}

// ---- [SECTION] Reading --------------------------------------------------------

namespace
{

// The child's side of the pipe: everything, or the child ends (the parent
// has stopped listening).
void SendAll(int fd, const char* data, size_t size)
{
    while (size > 0)
    {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            _exit(1);
        data += n;
        size -= (size_t)n;
    }
}

std::string Gib(size_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g GiB", (double)bytes / (double)(size_t(1) << 30));
    return text;
}

// Why a child that stopped short ended, as the end of a message.
std::string Ending(eChildEnd end, const std::string& what, const sChildLimits& limits)
{
    switch (end)
    {
    case eChildEnd::kOutOfTime:
        return "the reader took longer than " + std::to_string(limits.mWallSeconds) + " s on this " + what;
    case eChildEnd::kOutOfCpu:
        return "the reader used more than " + std::to_string(limits.mCpuSeconds) + " s of processor time on this " +
               what;
    case eChildEnd::kCrashed:
    case eChildEnd::kFailed: return "the reader crashed on this " + what;
    case eChildEnd::kExited: break;
    }
    return "";
}

} // namespace

sCapture ReadIsolated(const std::function<void(cCaptureSink&)>& read, const std::string& subject,
                      const std::string& what, const sChildLimits& limits)
{
    const std::string prefix = "cannot read " + subject + ": ";
    const std::string outOfMemory = prefix + "the reader ran out of memory on this " + what +
                                    (ChildMemoryLimited() ? " (it may use " + Gib(limits.mMemoryBytes) + ")" : "");
    cChild child(
        [&](int fd) {
            cWireWriter out([fd](const char* data, size_t size) { SendAll(fd, data, size); });
            try
            {
                read(out);
            }
            catch (const std::bad_alloc&)
            {
                out.Error(outOfMemory);
            }
            catch (const std::exception& e)
            {
                out.Error(e.what());
            }
            catch (...)
            {
                out.Error(prefix + "the reader failed on this " + what);
            }
        },
        limits);
    try
    {
        return DecodeCapture(child);
    }
    catch (const cWireError& e)
    {
        if (!e.mEnded)
            child.Kill();
        const eChildEnd end = child.Finish();
        if (e.mEnded && end != eChildEnd::kExited)
            throw cImportError(prefix + Ending(end, what, limits));
        throw cImportError(prefix + e.what());
    }
}

} // namespace qvimport
