// file_lock.cc: the lock file and signal mask of a change.
#include "file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

signal_block::signal_block()
{
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGHUP);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGQUIT);
    sigaddset(&block, SIGTERM);
    blocked_ = sigprocmask(SIG_BLOCK, &block, &saved_) == 0;
}

signal_block::~signal_block()
{
    if (blocked_)
        sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

bool file_lock::acquire(const char *lock_path, uid_t owner, gid_t group, error_text &error)
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
    do
        status = ::flock(fd.get(), LOCK_EX);
    while (status != 0 && errno == EINTR);
    if (status != 0) {
        set_error(error, "%s: cannot lock: %s", lock_path, std::strerror(errno));
        return false;
    }
    fd_ = std::move(fd);
    return true;
}
