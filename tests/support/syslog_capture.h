// syslog_capture.h: the real system log for one test, without a daemon. A
// datagram socket stands in for /dev/log inside a private mount namespace,
// so glibc's own syslog() delivers to the test.
#ifndef ZEMBROVALD_TESTS_SYSLOG_CAPTURE_H
#define ZEMBROVALD_TESTS_SYSLOG_CAPTURE_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace test_support {

// One datagram in glibc's format: "<PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE".
struct syslog_entry {
    int priority = -1;
    std::string ident;
    int pid = 0;
    std::string message;
};

// Parses a datagram; nothing when it is not in that exact format.
std::optional<syslog_entry> parse_syslog_datagram(const std::string &datagram);

class syslog_capture {
  public:
    syslog_capture();
    ~syslog_capture();
    syslog_capture(const syslog_capture &) = delete;
    syslog_capture &operator=(const syslog_capture &) = delete;

    // Empty when a run can be captured here; otherwise why not (for GTEST_SKIP).
    [[nodiscard]] const std::string &unavailable() const { return unavailable_; }
    // argv rewritten to run the program with this socket as its /dev/log; the
    // program keeps the process id of the runner's child.
    [[nodiscard]] std::vector<std::string> wrap(const std::vector<std::string> &argv) const;
    // For a program the test runs in a mount namespace it already made
    // private, as root (the real pam_unix over a copy of /etc): the steps
    // that put this capture's folder over /dev there, to run in
    // child_setup, where only system calls may run; false when one failed.
    // The folder and the socket are opened to every user, so a program that
    // drops to another user still logs.
    [[nodiscard]] std::function<bool()> dev_mounter() const;
    // Every datagram received so far, in order.
    std::vector<std::string> take();

  private:
    temp_dir dir_{"zsl"};
    int socket_ = -1;
    std::string unavailable_;
};

} // namespace test_support

#endif
