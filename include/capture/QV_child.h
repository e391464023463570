// A piece of work in a child process under limits, and the pipe its answer
// comes back on. The capture layer reads scenes this way: a third-party
// reader that crashes, recurses without end, hangs or asks for all memory
// on a hostile file takes only the child with it, and the parent turns that
// into one line.
#ifndef QV_CHILD_H
#define QV_CHILD_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>

#include "QV_capture_wire.h"

namespace qvimport
{

struct sChildLimits
{
    // The stack of the thread that runs the work; recursion deeper than it
    // allows ends the child with a segmentation fault.
    size_t mStackBytes = size_t(64) << 20;
    // Address space the child may add to what it starts with (RLIMIT_AS).
    // Not applied under AddressSanitizer, whose shadow memory reserves
    // terabytes of address space up front.
    size_t mMemoryBytes = size_t(4) << 30;
    unsigned mCpuSeconds = 60;   // processor time (RLIMIT_CPU); then SIGXCPU ends it
    unsigned mWallSeconds = 120; // time from the start; then the parent kills it
};

// Whether the memory limit is applied in this build.
bool ChildMemoryLimited();

// How a child ended.
enum class eChildEnd
{
    kExited,    // status 0
    kFailed,    // another status (AddressSanitizer ends a crashed child with 1)
    kCrashed,   // a signal
    kOutOfTime, // the wall-clock limit: the parent killed it
    kOutOfCpu,  // the processor-time limit
};

// The child. It is forked at construction (so the work sees the caller's
// memory as it was then); it runs work(fd) on a thread with the limits'
// stack, standard input and output on /dev/null and standard error too
// (unless QV_READER_STDERR is set, for looking into a failing reader), and
// ends with status 0 when the work returns. What it writes to fd is read
// here. The caller should have no other threads holding locks at the time
// (the tools and tests are single-threaded).
class cChild : public cWireSource
{
public:
    cChild(const std::function<void(int fd)>& work, const sChildLimits& limits);
    ~cChild() override;
    cChild(const cChild&) = delete;
    cChild& operator=(const cChild&) = delete;

    // Up to size bytes of the child's output; 0 at its end, or once the
    // wall-clock limit has passed (the child is then killed).
    size_t Read(void* data, size_t size) override;

    // Waits for the child to end, until the wall-clock limit (then kills it),
    // and says how it ended. Kill first to stop it at once.
    eChildEnd Finish();
    void Kill();

private:
    pid_t mPid = -1;
    int mFd = -1;
    bool mReaped = false;
    bool mTimedOut = false;
    int mStatus = 0;
    std::chrono::steady_clock::time_point mDeadline;
};

// Runs read in a child under the limits and decodes what it sampled. The
// reader's own failures come back as their messages; a crash, a limit or an
// answer that breaks the format as "cannot read SUBJECT: ..." naming which,
// on "this file" or "this data" (what).
sCapture ReadIsolated(const std::function<void(cCaptureSink&)>& read, const std::string& subject,
                      const std::string& what, const sChildLimits& limits = sChildLimits());

} // namespace qvimport

#endif // QV_CHILD_H
