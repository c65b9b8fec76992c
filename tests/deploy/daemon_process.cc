// daemon_process.cc: start, readiness and stop of a super-server, and the
// /proc look-ups that find the processes it started.
#include "daemon_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "process_runner.h"
#include "tcp_service.h"

namespace deploy {

namespace {

constexpr int START_ATTEMPTS = 5;
constexpr auto START_TIMEOUT = std::chrono::milliseconds(5000);
constexpr auto STOP_GRACE = std::chrono::milliseconds(5000);
constexpr auto POLL_STEP = std::chrono::milliseconds(10);
constexpr const char *TCP_LISTEN_STATE = "0A";

bool table_has_listener(const char *table, int port) {
    std::ifstream in(table);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, "%04X", static_cast<unsigned>(port));
    std::string line;
    std::getline(in, line);  // the column titles
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const std::string::size_type colon = local.rfind(':');
        if (colon != std::string::npos && local.substr(colon + 1) == wanted && state == TCP_LISTEN_STATE) {
            return true;
        }
    }
    return false;
}

std::map<pid_t, pid_t> parents_of_all() {
    std::map<pid_t, pid_t> parents;
    DIR *proc = opendir("/proc");
    if (proc == nullptr) {
        return parents;
    }
    while (const dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') {
            continue;
        }
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string text;
        std::getline(stat, text);
        // The command name in parentheses may hold blanks: read after its end.
        const std::string::size_type close_paren = text.rfind(')');
        if (close_paren == std::string::npos) {
            continue;
        }
        std::istringstream rest(text.substr(close_paren + 1));
        std::string state;
        long parent = 0;
        rest >> state >> parent;
        parents[static_cast<pid_t>(pid)] = static_cast<pid_t>(parent);
    }
    closedir(proc);
    return parents;
}

bool descends_from(pid_t pid, pid_t root, const std::map<pid_t, pid_t> &parents) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        const auto it = parents.find(pid);
        if (it == parents.end()) {
            return false;
        }
        if (it->second == root) {
            return true;
        }
        pid = it->second;
    }
    return false;
}

std::string executable_of(pid_t pid) {
    char target[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

void read_facts(process_facts &facts) {
    const std::string base = "/proc/" + std::to_string(facts.pid);
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line)) {
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        if (key == "Uid:") {
            fields >> facts.uid;
        } else if (key == "Gid:") {
            fields >> facts.gid;
        }
    }
    std::ifstream limits(base + "/limits");
    while (std::getline(limits, line)) {
        if (line.rfind("Max core file size", 0) == 0) {
            std::istringstream fields(line.substr(sizeof "Max core file size" - 1));
            std::string soft, hard;
            fields >> soft >> hard;
            facts.core_limit = soft + " " + hard;
        }
    }
}

}  // namespace

bool port_listening(int port) {
    return table_has_listener("/proc/net/tcp", port) || table_has_listener("/proc/net/tcp6", port);
}

daemon_process::daemon_process(const std::function<launch(int port)> &make_launch,
                               const std::string &log_path) {
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        port_ = test_support::free_port();
        if (start(make_launch(port_), log_path)) {
            failure_.clear();
            return;
        }
    }
}

daemon_process::~daemon_process() {
    stop();
}

bool daemon_process::start(const launch &how, const std::string &log_path) {
    if (how.argv.empty() || access(how.argv[0].c_str(), X_OK) != 0) {
        failure_ = "cannot run " + (how.argv.empty() ? std::string("nothing") : how.argv[0]);
        return false;
    }
    std::vector<char *> args;
    for (const std::string &a : how.argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    const std::vector<std::string> full_env = test_support::child_environment(how.env, {});
    std::vector<char *> envp;
    for (const std::string &e : full_env) {
        envp.push_back(const_cast<char *>(e.c_str()));
    }
    envp.push_back(nullptr);

    const int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int log_fd = open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    pid_ = fork();
    if (pid_ == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        // Core dumps as allowed as they can be, so that only the recipe
        // itself can turn them off.
        rlimit core{};
        if (getrlimit(RLIMIT_CORE, &core) == 0) {
            core.rlim_cur = core.rlim_max;
            setrlimit(RLIMIT_CORE, &core);
        }
        dup2(null_fd, 0);
        dup2(log_fd, 1);
        dup2(log_fd, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(null_fd);
    close(log_fd);
    if (pid_ < 0) {
        failure_ = "fork failed";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = how.argv[0] + " ended at start (port " + std::to_string(port_) + " taken?)";
            return false;
        }
        if (port_listening(port_)) {
            return true;
        }
        std::this_thread::sleep_for(POLL_STEP);
    }
    failure_ = how.argv[0] + " did not listen within the time limit";
    stop();
    return false;
}

std::string daemon_process::stop() {
    if (pid_ <= 0) {
        return "not running";
    }
    kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + STOP_GRACE;
    pid_t ended = 0;
    while ((ended = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(POLL_STEP);
    }
    std::string how = "stopped by SIGTERM";
    if (ended == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        how = "killed: SIGTERM did not stop it";
    }
    pid_ = -1;
    return how;
}

process_facts find_descendant(pid_t root, const std::string &program_path,
                              std::chrono::milliseconds timeout) {
    char resolved[4096];
    const std::string wanted =
        realpath(program_path.c_str(), resolved) != nullptr ? std::string(resolved) : program_path;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    process_facts facts;
    do {
        const std::map<pid_t, pid_t> parents = parents_of_all();
        for (const auto &entry : parents) {
            if (descends_from(entry.first, root, parents) && executable_of(entry.first) == wanted) {
                facts.pid = entry.first;
                read_facts(facts);
                return facts;
            }
        }
        std::this_thread::sleep_for(POLL_STEP);
    } while (std::chrono::steady_clock::now() < deadline);
    return facts;
}

}  // namespace deploy
