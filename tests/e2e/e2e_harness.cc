// e2e_harness.cc: the shared accounts, texts and the dialogue-table runner.
#include "e2e_harness.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <memory>

#include "preload.h"

namespace e2e {

using namespace std::chrono_literals;

const char *const HELP_TEXT = "Usage: zembrovald [ OPTION [ OPTION ]]\n"
                              "\n"
                              "Changes passwords using the Quelmar authentication\n"
                              "library. Authentication tokens are delivered using the\n"
                              "poppassd protocol. This program is intended to be run\n"
                              "from a super-server such as tcpserver or xinetd.\n"
                              "\n"
                              "Options:\n"
                              "  -s, --service=SERVICE\tspecify the service name to use\n"
                              "\t\t\tdefault value is 'login'\n"
                              "  --stderr\t\tsend logging information to standard error\n"
                              "\t\t\tinstead of syslog\n"
                              "  -h, --help\t\tdisplay this help and exit\n"
                              "  -V, --version\t\tdisplay version information and exit\n"
                              "\n";

std::string changed_log(const std::string &user) { return "changed password for " + user + "\n"; }

std::string wrong_old_log(const std::string &user) {
    return "old password is incorrect or user not found for " + user + "\n";
}

std::string failed_log(const std::string &user) {
    return "failed to change password for user " + user + "\n";
}

std::string restricted_log(const std::string &user) {
    return "attempt to change password for a restricted or non-existant uid " + user + "\n";
}

const std::vector<account> &standard_accounts() {
    static const std::vector<account> accounts = {
        {"alice", "old-secret", "1001", "1001", "/home/alice", ""},
        {"bob", "bob-secret", "1002", "1002", "", ""},
        {"wordy", "word", "1003", "", "", ""},                  // "password" scans as "word"
        {"Alice", "upper-secret", "1004", "", "", ""},          // names keep their case
        {"1BOB", "digit-secret", "1006", "", "", ""},           // "USER1BOB": a digit ends the fold
        {"low", "low-secret", "99", "99", "", ""},              // one below the minimum
        {"edge", "edge-secret", "100", "100", "", ""},          // the minimum itself
        {"nouid", "nouid-secret", "", "", "", ""},              // neither id nor system user
        {"mapped-low", "mapped-secret", "", "", "", "lowsys"},  // nss: uid 99
        {"mapped-100", "mapped-secret", "", "", "", "sys100"},  // nss: uid 100
        {"mapped-root", "mapped-secret", "", "", "", "root"},   // nss: uid 0
        {"ghost", "ghost-secret", "", "", "", "nosuchsysuser"}, // unknown system user
        // Has an id: its unknown system user is not looked up.
        {"uid-wins", "uid-secret", "1007", "", "", "nosuchsysuser"},
        // A second line with a taken name: never used, and kept as it is when
        // the first one's hash changes.
        {"alice", "second-secret", "1008", "", "", ""},
    };
    return accounts;
}

std::string old_password_of(const std::string &user) {
    for (const account &a : standard_accounts()) {
        if (a.name == user) {
            return a.password;
        }
    }
    return "no-such-account";
}

std::string change_lines(const std::string &user, const std::string &new_password) {
    return "user " + user + "\npass " + old_password_of(user) + "\nnewpass " + new_password + "\n";
}

run_options program_run(const store_fixture &store, const std::string &input,
                        const std::vector<std::string> &args) {
    run_options options;
    options.argv = {PROGRAM};
    options.argv.insert(options.argv.end(), args.begin(), args.end());
    options.env = {store.config_env()};
    options.input = input;
    return options;
}

testing::AssertionResult exited_with(const run_result &r, int status) {
    if (r.exited && r.exit_status == status) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected exit " << status << ", got " << r.describe_end()
                                       << "\nstdout: " << testing::PrintToString(r.out)
                                       << "\nstderr: " << testing::PrintToString(r.err);
}

testing::AssertionResult paused_after_reply(const run_result &r) {
    const auto reply = std::chrono::duration_cast<std::chrono::milliseconds>(
        r.out_chunks.empty() ? r.ended_at : r.out_chunks.back().at);
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(r.quiet_before_end());
    if (reply < 1500ms && quiet >= 2500ms && quiet < 10000ms) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "expected the last reply at once (came after "
                                       << reply.count() << " ms) and a pause of about 3 s before "
                                       << "the end (was " << quiet.count() << " ms)";
}

testing::AssertionResult no_pause(const run_result &r) {
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(r.quiet_before_end());
    if (quiet < 1500ms) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "the process ended " << quiet.count()
                                       << " ms after its last reply: a pause where none belongs";
}

void check_dialogue_cases(const std::vector<dialogue_case> &cases) {
    std::vector<std::unique_ptr<store_fixture>> stores;
    std::vector<run_options> runs;
    for (const dialogue_case &c : cases) {
        stores.push_back(std::make_unique<store_fixture>(standard_accounts()));
        const store_fixture &store = *stores.back();
        run_options options = program_run(store, c.input, c.args);
        options.env.insert(options.env.end(), c.env.begin(), c.env.end());
        options.end = c.end;
        switch (c.failure) {
        case store_failure::none:
            break;
        case store_failure::missing_config:
            options.env.push_back("QUELMARAUTH_CONFIG=" + store.dir().file("missing.conf"));
            break;
        case store_failure::lock_is_folder:
            mkdir((store.userdb_path() + ".lock").c_str(), 0700);
            break;
        case store_failure::file_size_limit:
            // Files may not grow past a few bytes: the new userdb cannot be
            // written, while the pipes to the test are not files.
            options.child_setup = [] {
                const rlimit tiny{16, 16};
                setrlimit(RLIMIT_FSIZE, &tiny);
                std::signal(SIGXFSZ, SIG_IGN);
            };
            break;
        }
        runs.push_back(options);
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const dialogue_case &c = cases[i];
        const run_result &r = results[i];
        SCOPED_TRACE(std::string(c.what) + ", input " + testing::PrintToString(c.input));
        EXPECT_TRUE(exited_with(r, c.status));
        EXPECT_EQ(c.replies, r.out);
        EXPECT_EQ(c.log, r.err);
        EXPECT_TRUE(c.pause ? paused_after_reply(r) : no_pause(r));
        EXPECT_TRUE(c.changed.empty() ? stores[i]->unchanged()
                                      : stores[i]->changed_only(c.changed));
    }
}

std::string getpwnam_error_text(const std::string &name, const std::vector<std::string> &env) {
    run_options probe;
    probe.argv = {GETPWNAM_PROBE, name};
    probe.env = env;
    return test_support::run_process(probe).out;
}

} // namespace e2e
