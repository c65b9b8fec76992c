// file_lock.h: the exclusive lock that serialises changes of one account
// file, and the signal mask that keeps a change from being cut short.
#ifndef QUELMARAUTH_FILE_LOCK_H
#define QUELMARAUTH_FILE_LOCK_H

#include <signal.h>
#include <sys/types.h>

#include "diagnostic.h"
#include "unique_fd.h"

// Blocks SIGHUP, SIGINT, SIGQUIT and SIGTERM for its lifetime, so that a
// change, once started, runs to its end or its clean-up. SIGXFSZ is blocked
// too, so that a write past the file-size limit fails with EFBIG instead of
// ending the process with the new file half written; the signal that write
// raised is dropped at the end, since the failure has been answered.
class signal_block {
public:
    signal_block();
    signal_block(const signal_block &) = delete;
    signal_block &operator=(const signal_block &) = delete;
    ~signal_block();

private:
    sigset_t saved_;
    bool blocked_ = false;
    bool file_size_signal_was_pending_ = false;
};

// flock(LOCK_EX) on a lock file of its own. The kernel drops the lock when
// the holder dies, so a killed process never leaves the store locked.
class file_lock {
public:
    file_lock() = default;
    // Creates lock_path when absent (mode 0600; owned by owner and group when
    // created by root) and waits for the lock: as long as it takes when
    // wait_seconds is negative, else at most that long.
    [[nodiscard]] bool acquire(const char *lock_path, uid_t owner, gid_t group, int wait_seconds,
                               error_text &error);

private:
    unique_fd fd_; // closing it releases the lock
};

#endif
