// shared_stderr_test.cc: every run under one super-server may share standard
// error, so each log entry must leave in a single write with its line feed;
// in two, entries of runs that log at the same moment mix mid-line (the soak
// saw "changed password for user3changed password for user7").
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "process_runner.h"
#include "store_fixture.h"
#include "temp_dir.h"

namespace {

const char *const TRACER_CANDIDATES[] = {"/usr/bin/strace", "/bin/strace"};

std::string tracer() {
    for (const char *path : TRACER_CANDIDATES) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

// The writes to standard error in an strace log, as strace shows them.
std::vector<std::string> stderr_writes(const std::string &trace) {
    std::vector<std::string> writes;
    std::string::size_type start = 0;
    for (std::string::size_type nl; (nl = trace.find('\n', start)) != std::string::npos;
         start = nl + 1) {
        const std::string line = trace.substr(start, nl - start);
        if (line.rfind("write(2, ", 0) == 0) {
            writes.push_back(line);
        }
    }
    return writes;
}

struct logged_case {
    const char *what;
    std::string input;
    std::string entry; // as strace quotes it
};

TEST(SharedStderr, EachLogEntryIsOneWrite) {
    const std::string strace = tracer();
    if (strace.empty()) {
        GTEST_SKIP() << "strace (Debian strace) is not installed";
    }
    const test_support::store_fixture store({{"alice", "old-secret", "1001", "", "", ""}});
    const logged_case CASES[] = {
        {"a change", "user alice\npass old-secret\nnewpass new-secret\nquit\n",
         R"("changed password for alice\n")"},
        {"a wrong password", "user alice\npass wrong\n",
         R"("old password is incorrect or user not found for alice\n")"},
    };
    for (const logged_case &c : CASES) {
        SCOPED_TRACE(c.what);
        const test_support::temp_dir dir("zse");
        const std::string trace_path = dir.file("trace");
        test_support::run_options run;
        run.argv = {strace,
                    "-qq",
                    "-s",
                    "256",
                    "-e",
                    "trace=write",
                    "-e",
                    "signal=none",
                    "-o",
                    trace_path,
                    ZEMBROVALD_PROGRAM,
                    "--stderr"};
        // LeakSanitizer cannot work under a tracer and would say so on
        // standard error; leaks are the other tests' business.
        const char *sanitizer = std::getenv("ASAN_OPTIONS");
        run.env = {store.config_env(), std::string("ASAN_OPTIONS=") +
                                           (sanitizer != nullptr ? sanitizer : "") +
                                           ":detect_leaks=0"};
        run.input = c.input;
        const test_support::run_result result = test_support::run_process(run);
        ASSERT_TRUE(result.exited) << result.describe_end();
        const std::vector<std::string> writes = stderr_writes(test_support::read_file(trace_path));
        ASSERT_EQ(1U, writes.size()) << "writes to standard error:\n"
                                     << test_support::read_file(trace_path);
        EXPECT_EQ(0U, writes[0].find("write(2, " + c.entry + ", ")) << writes[0];
    }
}

} // namespace
