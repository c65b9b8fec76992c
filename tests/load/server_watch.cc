// server_watch.cc: /proc readings. A process may end between listing and
// reading, so every unreadable entry is skipped rather than reported.
#include "server_watch.h"

#include <dirent.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "temp_dir.h"

namespace load {

namespace {

std::vector<pid_t> all_processes() {
    std::vector<pid_t> pids;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) {
        return pids;
    }
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0') {
            pids.push_back(static_cast<pid_t>(pid));
        }
    }
    closedir(proc);
    return pids;
}

// The parent id from /proc/PID/stat; the command name in parentheses may hold
// blanks and parentheses itself, so the fields are counted from the last ')'.
pid_t parent_of(pid_t pid) {
    const std::string stat = test_support::read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::string::size_type close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    char state = 0;
    int parent = -1;
    if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &parent) != 2) {
        return -1;
    }
    return parent;
}

} // namespace

int open_descriptors(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/fd";
    DIR *fds = opendir(path.c_str());
    if (fds == nullptr) {
        return -1;
    }
    int count = 0;
    while (const dirent *entry = readdir(fds)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(fds);
    return count;
}

long resident_kib(pid_t pid) {
    const std::string status = test_support::read_file("/proc/" + std::to_string(pid) + "/status");
    const std::string::size_type at = status.find("\nVmRSS:");
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(status.c_str() + at + std::strlen("\nVmRSS:"), nullptr, 10);
}

std::vector<pid_t> children_of(pid_t pid) {
    std::vector<pid_t> children;
    for (const pid_t candidate : all_processes()) {
        if (parent_of(candidate) == pid) {
            children.push_back(candidate);
        }
    }
    return children;
}

std::vector<pid_t> processes_with_argument(const std::string &word) {
    std::vector<pid_t> found;
    for (const pid_t candidate : all_processes()) {
        const std::string cmdline =
            test_support::read_file("/proc/" + std::to_string(candidate) + "/cmdline");
        std::string::size_type start = 0;
        while (start < cmdline.size()) {
            const std::string::size_type nul = cmdline.find('\0', start);
            const std::string argument =
                cmdline.substr(start, nul == std::string::npos ? std::string::npos : nul - start);
            if (argument == word) {
                found.push_back(candidate);
                break;
            }
            if (nul == std::string::npos) {
                break;
            }
            start = nul + 1;
        }
    }
    return found;
}

bool wait_for_no_children(pid_t pid, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!children_of(pid).empty()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace load
