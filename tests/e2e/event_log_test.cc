// event_log_test.cc: the event log for real: glibc's datagrams through a
// private /dev/log (facility authpriv, priority err, tag with the pid), and a
// trace of the log calls showing the log closed before every exit.
#include <sys/stat.h>

#include <memory>
#include <sstream>
#include <string>

#include "e2e_harness.h"
#include "preload.h"
#include "syslog_capture.h"
#include "temp_dir.h"

namespace e2e {
namespace {

using test_support::syslog_capture;

constexpr int AUTHPRIV_ERR = 83; // LOG_AUTHPRIV (10 << 3) + LOG_ERR (3)

struct logged_run {
    run_result result;
    std::vector<std::string> datagrams;
};

logged_run run_with_syslog(syslog_capture &capture, run_options options) {
    options.argv = capture.wrap(options.argv);
    logged_run run{test_support::run_process(options), {}};
    run.datagrams = capture.take();
    return run;
}

// The datagram is exactly "<83>Mmm dd hh:mm:ss zembrovald[PID]: MESSAGE".
testing::AssertionResult program_entry(const std::string &datagram, int pid,
                                       const std::string &message) {
    const auto entry = test_support::parse_syslog_datagram(datagram);
    if (!entry || entry->priority != AUTHPRIV_ERR || entry->ident != "zembrovald" ||
        entry->pid != pid || entry->message != message) {
        return testing::AssertionFailure()
               << "datagram " << testing::PrintToString(datagram) << " is not <83>... zembrovald["
               << pid << "]: " << message;
    }
    return testing::AssertionSuccess();
}

#define SKIP_WITHOUT(capture)                                                                      \
    if (!(capture).unavailable().empty()) {                                                        \
        GTEST_SKIP() << (capture).unavailable();                                                   \
    }

TEST(EventLog, ChangeIsLoggedToTheSystemLog) {
    syslog_capture capture;
    SKIP_WITHOUT(capture);
    const store_fixture store(standard_accounts());
    const logged_run run = run_with_syslog(
        capture, program_run(store, change_lines("alice", "new-secret") + "quit\n", {}));
    EXPECT_TRUE(exited_with(run.result, 0));
    EXPECT_EQ("", run.result.err);
    ASSERT_EQ(1U, run.datagrams.size()) << testing::PrintToString(run.datagrams);
    EXPECT_TRUE(program_entry(run.datagrams[0], run.result.pid, "changed password for alice"));
    EXPECT_TRUE(store.changed_only({{"alice", "new-secret"}}));
}

TEST(EventLog, RefusalsAreLoggedToTheSystemLog) {
    syslog_capture capture;
    SKIP_WITHOUT(capture);
    const store_fixture store(standard_accounts());
    const logged_run run =
        run_with_syslog(capture, program_run(store, change_lines("low", "new-secret"), {}));
    EXPECT_TRUE(exited_with(run.result, 1));
    ASSERT_EQ(1U, run.datagrams.size()) << testing::PrintToString(run.datagrams);
    EXPECT_TRUE(
        program_entry(run.datagrams[0], run.result.pid,
                      "attempt to change password for a restricted or non-existant uid low"));
}

// The library reports its own failure first, under the program's identity,
// then the program reports the refused change.
TEST(EventLog, StoreFailureLeavesTheLibrarysDiagnosticFirst) {
    syslog_capture capture;
    SKIP_WITHOUT(capture);
    const store_fixture store(standard_accounts());
    run_options options = program_run(store, "user alice\npass old-secret\n", {});
    options.env = {"QUELMARAUTH_CONFIG=" + store.dir().file("missing.conf")};
    const logged_run run = run_with_syslog(capture, options);
    EXPECT_TRUE(exited_with(run.result, 1));
    ASSERT_GE(run.datagrams.size(), 2U) << testing::PrintToString(run.datagrams);
    const auto first = test_support::parse_syslog_datagram(run.datagrams.front());
    ASSERT_TRUE(first.has_value()) << run.datagrams.front();
    EXPECT_EQ(0U, first->message.rfind("quelmarauth: ", 0)) << first->message;
    EXPECT_EQ(std::string::npos, first->message.find("old-secret"));
    EXPECT_TRUE(program_entry(run.datagrams.back(), run.result.pid,
                              "failed to change password for user alice"));
}

// Where a service-name refusal goes depends on whether --stderr came first.
TEST(EventLog, ServiceNameRefusalFollowsStderrPosition) {
    struct position_case {
        std::vector<std::string> args;
        std::string on_stderr;
        std::string in_syslog; // empty: no datagram
    };
    const std::string long_name(129, 'n');
    const position_case CASES[] = {
        {{"-s", "bad/name", "--stderr"}, "", "illegal character in service name: /"},
        {{"--stderr", "-s", "bad/name"}, "illegal character in service name: /\n", ""},
        {{"-s", long_name, "--stderr"}, "", "service name too long (max 128 characters)"},
        {{"--stderr", "--service", long_name}, "service name too long (max 128 characters)\n", ""},
    };
    const store_fixture store(standard_accounts());
    for (const position_case &c : CASES) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        syslog_capture capture;
        SKIP_WITHOUT(capture);
        const logged_run run = run_with_syslog(capture, program_run(store, "", c.args));
        EXPECT_TRUE(exited_with(run.result, 2));
        EXPECT_EQ("", run.result.out);
        EXPECT_EQ(c.on_stderr, run.result.err);
        if (c.in_syslog.empty()) {
            EXPECT_TRUE(run.datagrams.empty()) << testing::PrintToString(run.datagrams);
        } else {
            ASSERT_EQ(1U, run.datagrams.size()) << testing::PrintToString(run.datagrams);
            EXPECT_TRUE(program_entry(run.datagrams[0], run.result.pid, c.in_syslog));
        }
    }
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The trace opens with the log's identity and ends with: close the log, exit
// with the status, and nothing logged after the close.
testing::AssertionResult closed_before_exit(const std::string &trace, int status) {
    const std::vector<std::string> lines = lines_of(trace);
    const std::vector<std::string> tail = {"closelog", "exit " + std::to_string(status),
                                           "end log closed"};
    if (lines.size() < 4 || lines.front() != "openlog zembrovald 1 80" ||
        !std::equal(tail.begin(), tail.end(), lines.end() - 3)) {
        return testing::AssertionFailure()
               << "expected \"openlog zembrovald 1 80\" first and closelog, exit " << status
               << " last; trace:\n"
               << trace;
    }
    for (std::size_t i = 1; i + 3 < lines.size(); ++i) {
        if (lines[i] == "closelog" || lines[i].rfind("openlog", 0) == 0) {
            return testing::AssertionFailure() << "the log was closed or reopened early:\n"
                                               << trace;
        }
    }
    return testing::AssertionSuccess();
}

TEST(EventLog, LogIsClosedBeforeEveryExit) {
    struct exit_case {
        const char *what;
        std::vector<std::string> args;
        std::string input;
        int status;
        store_failure failure = store_failure::none;
        std::size_t close_output_after = test_support::NEVER;
    };
    const std::string ok = change_lines("alice", "new-secret");
    const exit_case CASES[] = {
        {"help", {"-h"}, "", 0},
        {"version", {"--stderr", "-V"}, "", 0},
        {"invalid command line", {"-x"}, "", 2},
        {"illegal service character, system log", {"-s", "a/b"}, "", 2},
        {"illegal service character, stderr", {"--stderr", "-s", "a/b"}, "", 2},
        {"service name too long", {"--stderr", "-s", std::string(129, 'n')}, "", 2},
        {"user line too long", {"--stderr"}, std::string(70, 'u') + "\n", 1},
        {"no user name", {"--stderr"}, "", 1},
        {"password line too long", {"--stderr"}, "user alice\n" + std::string(200, 'p') + "\n", 1},
        {"no password", {"--stderr"}, "user alice\n", 1},
        {"wrong old password", {}, "user alice\npass wrong\n", 1},
        {"store failure at login",
         {},
         "user alice\npass old-secret\n",
         1,
         store_failure::missing_config},
        {"new password line too long",
         {"--stderr"},
         "user alice\npass old-secret\n" + std::string(200, 'n') + "\n",
         1},
        {"no new password", {"--stderr"}, "user alice\npass old-secret\n", 1},
        {"new password of two words",
         {"--stderr"},
         "user alice\npass old-secret\nnewpass a b\n",
         1},
        {"restricted uid", {}, change_lines("low", "new-secret"), 1},
        {"change failed", {"--stderr"}, ok, 1, store_failure::lock_is_folder},
        {"bye", {}, ok + "quit\n", 0},
        {"quit required", {"--stderr"}, ok + "stop\n", 1},
        {"client gone", {}, ok, 1, store_failure::none, 0},
    };
    std::vector<std::unique_ptr<store_fixture>> stores;
    std::vector<run_options> runs;
    for (const exit_case &c : CASES) {
        stores.push_back(std::make_unique<store_fixture>(standard_accounts()));
        const store_fixture &store = *stores.back();
        run_options options = program_run(store, c.input, c.args);
        const std::vector<std::string> preload = test_support::preload_env({LOG_TRACE_SHIM});
        options.env.insert(options.env.end(), preload.begin(), preload.end());
        options.env.push_back("LOG_TRACE_FILE=" + store.dir().file("trace"));
        if (c.failure == store_failure::missing_config) {
            options.env.push_back("QUELMARAUTH_CONFIG=" + store.dir().file("missing.conf"));
        } else if (c.failure == store_failure::lock_is_folder) {
            mkdir((store.userdb_path() + ".lock").c_str(), 0700);
        }
        options.close_output_after = c.close_output_after;
        runs.push_back(options);
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < std::size(CASES); ++i) {
        SCOPED_TRACE(CASES[i].what);
        EXPECT_TRUE(exited_with(results[i], CASES[i].status));
        EXPECT_TRUE(closed_before_exit(test_support::read_file(stores[i]->dir().file("trace")),
                                       CASES[i].status));
    }
}

} // namespace
} // namespace e2e
