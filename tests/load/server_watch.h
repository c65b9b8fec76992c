// server_watch.h: a running process seen from outside through /proc: its
// open descriptors, its memory, its children, and processes by argument.
#ifndef ZEMBROVALD_TESTS_SERVER_WATCH_H
#define ZEMBROVALD_TESTS_SERVER_WATCH_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace load {

// The number of open descriptors of pid; -1 if it cannot be read.
int open_descriptors(pid_t pid);
// Resident memory of pid in KiB (VmRSS); -1 if it cannot be read.
long resident_kib(pid_t pid);
// The process ids whose parent is pid.
std::vector<pid_t> children_of(pid_t pid);
// The process ids whose command line holds the argument word exactly.
std::vector<pid_t> processes_with_argument(const std::string &word);
// Waits until pid has no children; false if some are left at the timeout.
bool wait_for_no_children(pid_t pid, std::chrono::milliseconds timeout);

} // namespace load

#endif
