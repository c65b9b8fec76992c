// file_lock.cc: the lock file and signal mask of a change.
#include "file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace {

// How often a bounded wait tries the lock again.
inline constexpr long LOCK_RETRY_NANOSECONDS = 20 * 1000 * 1000;

double seconds_since(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e9;
}

// flock with LOCK_NB, tried until it succeeds or wait_seconds have passed.
// Signals are blocked during a change, so the wait polls instead of relying
// on an alarm to interrupt a blocking flock.
int lock_within(int fd, int wait_seconds)
{
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return -1;
        if (seconds_since(start) >= wait_seconds) {
            errno = EWOULDBLOCK;
            return -1;
        }
        const timespec pause{0, LOCK_RETRY_NANOSECONDS};
        nanosleep(&pause, nullptr);
    }
}

} // namespace

signal_block::signal_block()
{
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGHUP);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGQUIT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGXFSZ);
    blocked_ = sigprocmask(SIG_BLOCK, &block, &saved_) == 0;
    sigset_t pending;
    file_size_signal_was_pending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1;
}

signal_block::~signal_block()
{
    if (!blocked_)
        return;
    // A SIGXFSZ that arrived meanwhile was raised by the change's own write,
    // whose EFBIG has been reported: left pending, it would end the process
    // as soon as it is unblocked, before the caller can answer anyone.
    sigset_t pending;
    if (!file_size_signal_was_pending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
        sigset_t file_size;
        sigemptyset(&file_size);
        sigaddset(&file_size, SIGXFSZ);
        const timespec now{0, 0};
        const int saved_errno = errno;
        sigtimedwait(&file_size, nullptr, &now);
        errno = saved_errno;
    }
    sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

bool file_lock::acquire(const char *lock_path, uid_t owner, gid_t group, int wait_seconds, error_text &error)
{
    constexpr int FLAGS = O_RDWR | O_CLOEXEC | O_NOFOLLOW;
    bool created = true;
    unique_fd fd(::open(lock_path, FLAGS | O_CREAT | O_EXCL, 0600));
    if (!fd.valid() && errno == EEXIST) {
        created = false;
        fd = unique_fd(::open(lock_path, FLAGS));
    }
    if (!fd.valid()) {
        set_error(error, "%s: cannot open lock file: %s", lock_path, std::strerror(errno));
        return false;
    }
    // A lock file made by root for a store of another owner must stay usable
    // by that owner's own tools.
    if (created && geteuid() == 0 && (owner != 0 || group != 0) && ::fchown(fd.get(), owner, group) != 0) {
        set_error(error, "%s: cannot give lock file to its store's owner: %s", lock_path, std::strerror(errno));
        return false;
    }
    int status;
    if (wait_seconds >= 0) {
        status = lock_within(fd.get(), wait_seconds);
        if (status != 0 && errno == EWOULDBLOCK) {
            set_error(error, "%s: store is locked by another change", lock_path);
            return false;
        }
    } else {
        do
            status = ::flock(fd.get(), LOCK_EX);
        while (status != 0 && errno == EINTR);
    }
    if (status != 0) {
        set_error(error, "%s: cannot lock: %s", lock_path, std::strerror(errno));
        return false;
    }
    fd_ = std::move(fd);
    return true;
}
