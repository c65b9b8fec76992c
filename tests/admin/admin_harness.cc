// admin_harness.cc: runs of the command and the program, and forkpty for
// the terminal.
#include "admin_harness.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace admin_test {

const std::vector<account> &small_accounts() {
    static const std::vector<account> accounts = {
        {"alice", "alice-secret", "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "1002", "", "", "vmail"},
        {"carol", "carol-secret", "1003", "1003", "/srv/c d", ""},
    };
    return accounts;
}

run_options admin_run(const store_fixture &store, const std::vector<std::string> &args,
                      const std::string &input) {
    run_options options;
    options.argv = {ADMIN, "-c", store.config_path()};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.unset_env = {"QUELMARAUTH_CONFIG"};
    options.input = input;
    return options;
}

run_result run_admin(const store_fixture &store, const std::vector<std::string> &args,
                     const std::string &input) {
    return test_support::run_process(admin_run(store, args, input));
}

testing::AssertionResult ended(const run_result &r, int status, const std::string &err,
                               const std::string &out) {
    if (r.exited && r.exit_status == status && r.err == err && r.out == out) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "wanted status " << status << ", err \"" << err << "\", out \"" << out << "\"; got "
           << r.describe_end() << ", err \"" << r.err << "\", out \"" << r.out << "\"";
}

run_options program_change_run(const store_fixture &store, const std::string &user,
                               const std::string &old_password, const std::string &new_password) {
    run_options options;
    options.argv = {ZEMBROVALD, "--stderr"};
    options.env = {store.config_env()};
    options.input =
        "user " + user + "\npass " + old_password + "\nnewpass " + new_password + "\nquit\n";
    return options;
}

bool program_changed(const run_result &r) {
    return r.exited && r.exit_status == 0 &&
           r.out.find("200 Password changed, thank-you.\r\n") != std::string::npos;
}

std::vector<std::string> fields_of(const std::string &userdb, const std::string &name) {
    std::string::size_type start = 0;
    while (start < userdb.size()) {
        std::string::size_type end = userdb.find('\n', start);
        if (end == std::string::npos) {
            end = userdb.size();
        }
        const std::string line = userdb.substr(start, end - start);
        start = end + 1;
        std::vector<std::string> fields;
        std::string::size_type from = 0;
        for (;;) {
            const std::string::size_type colon = line.find(':', from);
            fields.push_back(line.substr(from, colon == std::string::npos ? colon : colon - from));
            if (colon == std::string::npos) {
                break;
            }
            from = colon + 1;
        }
        if (fields.size() == 6 && fields[0] == name) {
            return fields;
        }
    }
    return {};
}

namespace {

constexpr auto TERMINAL_TIMEOUT = std::chrono::seconds(20);

// Reads what the terminal shows until wanted appears (empty: until the
// other side closes) or the time is up.
bool read_until(int master, std::string &shown, const std::string &wanted,
                std::chrono::steady_clock::time_point deadline, std::size_t from) {
    for (;;) {
        if (!wanted.empty() && shown.find(wanted, from) != std::string::npos) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd item{master, POLLIN, 0};
        if (poll(&item, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[512];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return wanted.empty(); // EIO: every slave side is closed
        }
        shown.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace

terminal_result run_on_terminal(const std::vector<std::string> &argv,
                                const std::vector<terminal_step> &steps) {
    terminal_result result;
    std::vector<char *> args;
    for (const std::string &arg : argv) {
        args.push_back(const_cast<char *>(arg.c_str()));
    }
    args.push_back(nullptr);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) {
        result.prompts_seen = false;
        return result;
    }
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + TERMINAL_TIMEOUT;
    std::size_t from = 0;
    for (const terminal_step &step : steps) {
        if (!step.prompt.empty()) {
            if (!read_until(master, result.shown, step.prompt, deadline, from)) {
                result.prompts_seen = false;
                break;
            }
            from = result.shown.find(step.prompt, from) + step.prompt.size();
        }
        if (!step.typed.empty() && write(master, step.typed.data(), step.typed.size()) !=
                                       static_cast<ssize_t>(step.typed.size())) {
            result.prompts_seen = false;
            break;
        }
    }
    if (!read_until(master, result.shown, "", deadline, from)) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    close(master);
    result.exited = WIFEXITED(status);
    result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return result;
}

} // namespace admin_test
