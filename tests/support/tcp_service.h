// tcp_service.h: the program behind a real super-server on loopback, and a
// line-oriented client that talks to it as a password client would.
#ifndef ZEMBROVALD_TESTS_TCP_SERVICE_H
#define ZEMBROVALD_TESTS_TCP_SERVICE_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace test_support {

// A loopback port that was free a moment ago (0 if none could be had). A
// daemon may still lose it to another test: start it again on another one.
int free_port();

// tcpserver on 127.0.0.1 and a free port, started directly so that it is
// stopped by its own process id. The programs it starts write their standard
// error to stderr_path. server_options go to tcpserver itself, after its
// defaults (so "-c 16" caps the connections, "-v" overrides "-q").
class tcpserver_process {
  public:
    tcpserver_process(const std::vector<std::string> &program_argv,
                      const std::vector<std::string> &env, const std::string &stderr_path,
                      const std::vector<std::string> &server_options = {});
    ~tcpserver_process();
    tcpserver_process(const tcpserver_process &) = delete;
    tcpserver_process &operator=(const tcpserver_process &) = delete;

    // Empty when it is listening; otherwise why not (for GTEST_SKIP or a failure).
    [[nodiscard]] const std::string &unavailable() const { return unavailable_; }
    [[nodiscard]] int port() const { return port_; }
    // tcpserver's own process id, for looking at it from outside (its
    // descriptors, memory and children); -1 when it is not running.
    [[nodiscard]] pid_t pid() const { return pid_; }

  private:
    bool start(const std::vector<std::string> &program_argv, const std::vector<std::string> &env,
               const std::string &stderr_path, const std::vector<std::string> &server_options);
    void stop();

    pid_t pid_ = -1;
    int port_ = 0;
    std::string unavailable_;
};

class line_client {
  public:
    explicit line_client(int port);
    ~line_client();
    line_client(const line_client &) = delete;
    line_client &operator=(const line_client &) = delete;

    [[nodiscard]] bool connected() const { return fd_ >= 0; }
    // This end's port, which the super-server passes on as TCPREMOTEPORT;
    // 0 when not connected.
    [[nodiscard]] int local_port() const;
    bool send(const std::string &bytes);
    // The next line with its "\r\n" or "\n"; what is left at the end of the
    // connection or at the timeout, possibly empty.
    std::string read_line(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    // Everything until the server closes the connection (or the timeout).
    std::string read_to_end(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    void hang_up();

  private:
    int fd_ = -1;
    std::string pending_;
};

// Polls until the file holds at least as many bytes as `expected` (the
// content awaited), or the timeout passes; returns the content.
std::string
wait_for_file_content(const std::string &path, const std::string &expected,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));

} // namespace test_support

#endif
