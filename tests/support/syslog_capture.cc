// syslog_capture.cc: the socket, the unshare wrapper and the datagram parser.
#include "syslog_capture.h"

#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <mutex>

#include "process_runner.h"

namespace test_support {

namespace {

constexpr const char *UNSHARE = "/usr/bin/unshare";

// Binds /dev/null (the program's stdio may need it) and /dev/urandom (hash
// salts) into the private /dev; every other node is hidden there.
constexpr const char *WRAPPER_SCRIPT =
    "D=\"$1\"; shift; mount --bind /dev/null \"$D/null\" && mount --bind /dev/urandom "
    "\"$D/urandom\" && mount --rbind \"$D\" /dev && exec \"$@\"";

bool all_digits(const std::string &s) {
    if (s.empty()) {
        return false;
    }
    for (const char c : s) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

// "Mmm dd hh:mm:ss ", glibc's %h %e %T: the day is padded with a space.
bool is_timestamp(const std::string &t) {
    static const char *const MONTHS[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (t.size() != 16) {
        return false;
    }
    bool month = false;
    for (const char *m : MONTHS) {
        month = month || t.compare(0, 3, m) == 0;
    }
    const auto digit = [&](std::size_t i) {
        return std::isdigit(static_cast<unsigned char>(t[i])) != 0;
    };
    return month && t[3] == ' ' && (t[4] == ' ' || digit(4)) && digit(5) && t[6] == ' ' &&
           digit(7) && digit(8) && t[9] == ':' && digit(10) && digit(11) && t[12] == ':' &&
           digit(13) && digit(14) && t[15] == ' ';
}

// Whether unshare -rm and the bind mounts work on this machine, asked once.
std::string probe_private_namespace(const temp_dir &dir) {
    static std::once_flag once;
    static std::string why_not;
    std::call_once(once, [&dir] {
        if (access(UNSHARE, X_OK) != 0) {
            why_not = std::string(UNSHARE) + " is not installed";
            return;
        }
        run_options probe;
        probe.argv = {UNSHARE, "-rm", "sh", "-c", WRAPPER_SCRIPT, "sh", dir.path(), "/bin/true"};
        const run_result r = run_process(probe);
        if (!r.exited || r.exit_status != 0) {
            why_not = "unshare -rm with bind mounts is not permitted here (" + r.describe_end() +
                      "): " + r.err;
        }
    });
    return why_not;
}

} // namespace

std::optional<syslog_entry> parse_syslog_datagram(const std::string &datagram) {
    syslog_entry entry;
    if (datagram.empty() || datagram[0] != '<') {
        return std::nullopt;
    }
    const std::string::size_type close = datagram.find('>');
    if (close == std::string::npos || !all_digits(datagram.substr(1, close - 1))) {
        return std::nullopt;
    }
    entry.priority = std::stoi(datagram.substr(1, close - 1));
    if (!is_timestamp(datagram.substr(close + 1, 16))) {
        return std::nullopt;
    }
    const std::string rest = datagram.substr(close + 17);
    const std::string::size_type open_bracket = rest.find('[');
    const std::string::size_type tail = rest.find("]: ");
    if (open_bracket == std::string::npos || tail == std::string::npos || tail < open_bracket ||
        !all_digits(rest.substr(open_bracket + 1, tail - open_bracket - 1))) {
        return std::nullopt;
    }
    entry.ident = rest.substr(0, open_bracket);
    entry.pid = std::stoi(rest.substr(open_bracket + 1, tail - open_bracket - 1));
    entry.message = rest.substr(tail + 3);
    return entry;
}

syslog_capture::syslog_capture() {
    // Bind mounts need files to mount over.
    write_file(dir_.file("null"), "");
    write_file(dir_.file("urandom"), "");
    unavailable_ = probe_private_namespace(dir_);
    if (!unavailable_.empty()) {
        return;
    }
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = dir_.file("log");
    if (socket_ < 0 || path.size() >= sizeof address.sun_path) {
        unavailable_ = "cannot make a log socket at " + path;
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (bind(socket_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        unavailable_ = "cannot bind a log socket at " + path + ": " + std::strerror(errno);
    }
}

syslog_capture::~syslog_capture() {
    if (socket_ >= 0) {
        close(socket_);
    }
}

std::vector<std::string> syslog_capture::wrap(const std::vector<std::string> &argv) const {
    std::vector<std::string> wrapped = {UNSHARE,        "-rm", "sh",       "-c",
                                        WRAPPER_SCRIPT, "sh",  dir_.path()};
    wrapped.insert(wrapped.end(), argv.begin(), argv.end());
    return wrapped;
}

std::function<bool()> syslog_capture::dev_mounter() const {
    return [folder = dir_.path(), null = dir_.file("null"), urandom = dir_.file("urandom"),
            log = dir_.file("log")] {
        return chmod(folder.c_str(), 0755) == 0 && chmod(log.c_str(), 0666) == 0 &&
               mount("/dev/null", null.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               mount("/dev/urandom", urandom.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
               mount(folder.c_str(), "/dev", nullptr, MS_BIND | MS_REC, nullptr) == 0;
    };
}

std::vector<std::string> syslog_capture::take() {
    std::vector<std::string> received;
    char buffer[4096];
    for (;;) {
        const ssize_t n = recv(socket_, buffer, sizeof buffer, 0);
        if (n < 0) {
            return received;
        }
        received.emplace_back(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace test_support
