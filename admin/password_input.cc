// password_input.cc: standard input is read a byte at a time, so that
// exactly one line is taken from a pipe; on a terminal, echo is off while a
// password is typed and is put back on every way out, signals included.
#include "password_input.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>

#include "report.h"

namespace {

inline constexpr int RESTORED_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

termios saved_terminal;
volatile sig_atomic_t echo_is_off = 0;

// Only async-signal-safe calls: the terminal gets its echo back, then the
// signal ends the process as it would have.
void restore_and_reraise(int signal_number) {
    if (echo_is_off != 0) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_terminal);
        echo_is_off = 0;
        (void)!write(STDERR_FILENO, "\n", 1);
    }
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Echo off for its lifetime; false from on() when the terminal refuses.
class echo_off {
  public:
    echo_off() = default;
    echo_off(const echo_off &) = delete;
    echo_off &operator=(const echo_off &) = delete;
    ~echo_off() {
        if (echo_is_off != 0) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_terminal);
            echo_is_off = 0;
        }
        for (std::size_t i = 0; i < installed_; ++i)
            sigaction(RESTORED_SIGNALS[i], &previous_[i], nullptr);
    }

    bool on() {
        if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0)
            return false;
        struct sigaction action {};
        action.sa_handler = restore_and_reraise;
        sigemptyset(&action.sa_mask);
        for (int signal_number : RESTORED_SIGNALS) {
            if (sigaction(signal_number, &action, &previous_[installed_]) != 0)
                return false;
            ++installed_;
        }
        termios quiet = saved_terminal;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
        // Set before the change, so a signal that comes in between restores.
        echo_is_off = 1;
        return tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }

  private:
    struct sigaction previous_[std::size(RESTORED_SIGNALS)]{};
    std::size_t installed_ = 0;
};

enum class line_status { ok, no_line, empty, too_long, nul_byte, failed };

// One line from standard input without its "\n" or "\r\n". The rest of an
// overlong line is read and dropped, so the next prompt starts afresh.
line_status read_line(password_text &password) {
    constexpr std::size_t KEPT = sizeof password.text - 1; // room for a '\r' after the limit
    std::size_t length = 0;
    bool any = false;
    bool overlong = false;
    bool nul = false;
    for (;;) {
        char c;
        const ssize_t got = ::read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return line_status::failed;
        if (got == 0) {
            if (!any)
                return line_status::no_line;
            break; // a last line without its line feed
        }
        any = true;
        if (c == '\n')
            break;
        if (c == '\0')
            nul = true;
        if (length < KEPT)
            password.text[length++] = c;
        else
            overlong = true;
    }
    if (length > 0 && password.text[length - 1] == '\r')
        --length;
    password.text[length] = '\0';
    if (nul)
        return line_status::nul_byte;
    if (overlong || length > MAX_PASSWORD)
        return line_status::too_long;
    return length == 0 ? line_status::empty : line_status::ok;
}

bool accepted(line_status status, int read_errno) {
    switch (status) {
    case line_status::ok:
        return true;
    case line_status::no_line:
        complain("no password given (end of input)");
        return false;
    case line_status::empty:
        complain("empty password refused");
        return false;
    case line_status::too_long:
        complain("password longer than %zu characters refused", MAX_PASSWORD);
        return false;
    case line_status::nul_byte:
        complain("password with a NUL byte refused");
        return false;
    case line_status::failed:
        complain("cannot read the password: %s", std::strerror(read_errno));
        return false;
    }
    return false;
}

bool read_checked(password_text &password) {
    const line_status status = read_line(password);
    return accepted(status, errno);
}

bool prompt_and_read(const char *prompt, password_text &password) {
    (void)!write(STDERR_FILENO, prompt, std::strlen(prompt));
    const line_status status = read_line(password);
    const int read_errno = errno;
    // The line feed typed after the password was not echoed.
    (void)!write(STDERR_FILENO, "\n", 1);
    return accepted(status, read_errno);
}

} // namespace

password_text::~password_text() { explicit_bzero(text, sizeof text); }

bool read_new_password(password_text &password) {
    if (isatty(STDIN_FILENO) == 0)
        return read_checked(password);
    echo_off quiet;
    if (!quiet.on()) {
        complain("cannot turn off echo on the terminal: %s", std::strerror(errno));
        return false;
    }
    if (!prompt_and_read("New password: ", password))
        return false;
    password_text again;
    if (!prompt_and_read("Retype new password: ", again))
        return false;
    if (std::strcmp(password.text, again.text) != 0) {
        complain("passwords do not match");
        return false;
    }
    return true;
}

bool read_current_password(password_text &password) {
    if (isatty(STDIN_FILENO) == 0)
        return read_checked(password);
    echo_off quiet;
    if (!quiet.on()) {
        complain("cannot turn off echo on the terminal: %s", std::strerror(errno));
        return false;
    }
    return prompt_and_read("Password: ", password);
}
