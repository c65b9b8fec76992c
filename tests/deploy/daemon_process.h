// daemon_process.h: a real super-server started directly for one test on a
// free loopback port, stopped by its own process id; and a look at the
// processes it starts for each connection.
#ifndef ZEMBROVALD_TESTS_DEPLOY_DAEMON_PROCESS_H
#define ZEMBROVALD_TESTS_DEPLOY_DAEMON_PROCESS_H

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace deploy {

struct launch {
    std::vector<std::string> argv;  // argv[0] is an absolute path
    std::vector<std::string> env;   // NAME=VALUE added to the test's environment
};

// Whether something listens on 127.0.0.1:port, read from /proc/net/tcp so that
// no connection (and no server process) is made to find out.
bool port_listening(int port);

class daemon_process {
public:
    // make_launch gets the port to listen on (and may write configuration
    // files for it). Standard output and error go to log_path. A daemon that
    // ends at start (the port was taken meanwhile) is tried on another port.
    daemon_process(const std::function<launch(int port)> &make_launch, const std::string &log_path);
    ~daemon_process();
    daemon_process(const daemon_process &) = delete;
    daemon_process &operator=(const daemon_process &) = delete;

    // Empty when it is listening; otherwise why not.
    [[nodiscard]] const std::string &failure() const { return failure_; }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] pid_t pid() const { return pid_; }

    // Stops it (SIGTERM, then SIGKILL after a grace time); how it ended.
    std::string stop();

private:
    bool start(const launch &how, const std::string &log_path);

    pid_t pid_ = -1;
    int port_ = 0;
    std::string failure_;
};

// What a test checks about a running process.
struct process_facts {
    pid_t pid = 0;        // 0: no such process was found
    unsigned uid = 0;     // real user id
    unsigned gid = 0;     // real group id
    std::string core_limit;  // "soft hard" from /proc/PID/limits, e.g. "0 0"
};

// The first process below root (at any depth) that runs the program at
// program_path, waited for up to timeout.
process_facts find_descendant(pid_t root, const std::string &program_path,
                              std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace deploy

#endif
