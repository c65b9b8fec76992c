// tcp_service.cc: tcpserver start and stop, and a blocking line client with
// time limits.
#include "tcp_service.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "process_runner.h"
#include "temp_dir.h"

namespace test_support {

namespace {

constexpr int START_ATTEMPTS = 5;
constexpr auto START_TIMEOUT = std::chrono::milliseconds(5000);

int connect_loopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        return fd;
    }
    if (fd >= 0) {
        close(fd);
    }
    return -1;
}

// Whether something accepts connections on the port, without starting a
// program: a connection that is refused means nobody listens yet. A probe
// that does connect does start one program, which meets end of input at once.
bool listening(int port) {
    const int fd = connect_loopback(port);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

} // namespace

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    if (fd >= 0) {
        close(fd);
    }
    return port;
}


tcpserver_process::tcpserver_process(const std::vector<std::string> &program_argv,
                                     const std::vector<std::string> &env,
                                     const std::string &stderr_path,
                                     const std::vector<std::string> &server_options) {
    if (access(TCPSERVER_PROGRAM, X_OK) != 0) {
        unavailable_ = std::string("tcpserver is not installed (") + TCPSERVER_PROGRAM + ")";
        return;
    }
    for (int attempt = 0; attempt < START_ATTEMPTS; ++attempt) {
        if (start(program_argv, env, stderr_path, server_options)) {
            unavailable_.clear();
            return;
        }
    }
}

tcpserver_process::~tcpserver_process() { stop(); }

bool tcpserver_process::start(const std::vector<std::string> &program_argv,
                              const std::vector<std::string> &env, const std::string &stderr_path,
                              const std::vector<std::string> &server_options) {
    port_ = free_port();
    std::vector<std::string> argv = {TCPSERVER_PROGRAM, "-q", "-H", "-R", "-l0"};
    argv.insert(argv.end(), server_options.begin(), server_options.end());
    argv.push_back("127.0.0.1");
    argv.push_back(std::to_string(port_));
    argv.insert(argv.end(), program_argv.begin(), program_argv.end());
    std::vector<char *> args;
    for (const std::string &a : argv) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    const std::vector<std::string> full_env = child_environment(env, {});
    std::vector<char *> envp;
    for (const std::string &e : full_env) {
        envp.push_back(const_cast<char *>(e.c_str()));
    }
    envp.push_back(nullptr);

    const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int err_fd = open(stderr_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    pid_ = fork();
    if (pid_ == 0) {
        std::signal(SIGPIPE, SIG_DFL);
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(err_fd, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(null_fd);
    close(err_fd);
    if (pid_ < 0) {
        unavailable_ = "fork failed";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + START_TIMEOUT;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            unavailable_ = "tcpserver ended at start (port " + std::to_string(port_) + " taken?)";
            return false;
        }
        if (listening(port_)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    unavailable_ = "tcpserver did not listen within the time limit";
    stop();
    return false;
}

void tcpserver_process::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

line_client::line_client(int port) : fd_(connect_loopback(port)) {}

line_client::~line_client() { hang_up(); }

int line_client::local_port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

bool line_client::send(const std::string &bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

std::string line_client::read_line(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::string::size_type nl = pending_.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending_.substr(0, nl + 1);
            pending_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd_, POLLIN, 0};
        if (fd_ < 0 || left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            break;
        }
        char buffer[4096];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            break;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
    std::string rest;
    rest.swap(pending_);
    return rest;
}

std::string line_client::read_to_end(std::chrono::milliseconds timeout) {
    std::string all;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return all;
        }
        std::string line = read_line(left);
        if (line.empty()) {
            return all;
        }
        all += line;
    }
}

void line_client::hang_up() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

std::string wait_for_file_content(const std::string &path, const std::string &expected,
                                  std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string content = read_file(path);
    while (content.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        content = read_file(path);
    }
    return content;
}

} // namespace test_support
