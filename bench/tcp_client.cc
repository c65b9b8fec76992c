// A poppassd client over TCP on the loopback.
#include "tcp_client.h"

#include "measure.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Long enough for a change on a loaded machine; a reply later than this
// means the server hung, and the benchmark must end rather than wait.
inline constexpr int REPLY_TIMEOUT_S = 30;

sockaddr_in loopback(unsigned port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

struct connection {
    int fd = -1;
    char buffer[1024];
    std::size_t held = 0;

    ~connection() {
        if (fd >= 0)
            ::close(fd);
    }

    bool open(unsigned port) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const timeval timeout{REPLY_TIMEOUT_S, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        const sockaddr_in address = loopback(port);
        return ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    }

    bool send_line(const char *keyword, const char *value) {
        char line[256];
        const int length = std::snprintf(line, sizeof line, "%s%s%s\r\n", keyword,
                                         value[0] != '\0' ? " " : "", value);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof line)
            return false;
        return ::send(fd, line, static_cast<std::size_t>(length), MSG_NOSIGNAL) == length;
    }

    // Reads one reply line (without its CRLF) into line.
    bool read_reply(char (&line)[sizeof buffer]) {
        for (;;) {
            if (char *end = static_cast<char *>(std::memchr(buffer, '\n', held))) {
                const std::size_t length = static_cast<std::size_t>(end - buffer);
                std::memcpy(line, buffer, length);
                line[length > 0 && line[length - 1] == '\r' ? length - 1 : length] = '\0';
                held -= length + 1;
                std::memmove(buffer, end + 1, held);
                return true;
            }
            if (held == sizeof buffer)
                return false;
            const ssize_t got = ::recv(fd, buffer + held, sizeof buffer - held, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            held += static_cast<std::size_t>(got);
        }
    }

    bool expect(const char *reply) {
        char line[sizeof buffer];
        return read_reply(line) && std::strcmp(line, reply) == 0;
    }
};

} // namespace

unsigned free_loopback_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    unsigned port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool wait_for_listener(unsigned port) {
    const std::int64_t give_up = now_ns() + 5'000'000'000;
    while (now_ns() < give_up) {
        connection probe;
        // The probe's empty dialogue is refused at the user line, which
        // hashes nothing.
        if (probe.open(port))
            return true;
        usleep(20'000);
    }
    return false;
}

bool change_over_tcp(unsigned port, const char *user, const char *old_password,
                     const char *new_password) {
    connection client;
    return client.open(port) && client.expect("200 zembrovald v1.1.2 hello, who are you?") &&
           client.send_line("user", user) && client.expect("200 Your password please.") &&
           client.send_line("pass", old_password) &&
           client.expect("200 Your new password please.") &&
           client.send_line("newpass", new_password) &&
           client.expect("200 Password changed, thank-you.") && client.send_line("quit", "") &&
           client.expect("200 Bye.");
}
