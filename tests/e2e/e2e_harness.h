// e2e_harness.h: what every end-to-end test shares: the program under test,
// its replies and log texts, the standard test accounts, and the runner for
// tables of dialogue cases.
#ifndef ZEMBROVALD_TESTS_E2E_HARNESS_H
#define ZEMBROVALD_TESTS_E2E_HARNESS_H

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "dialogue_text.h"
#include "process_runner.h"
#include "store_fixture.h"

namespace e2e {

using test_support::account;
using test_support::run_options;
using test_support::run_result;
using test_support::store_fixture;

inline constexpr const char *PROGRAM = ZEMBROVALD_PROGRAM;
inline constexpr const char *LOG_TRACE_SHIM = LOG_TRACE_SHIM_LIBRARY;
inline constexpr const char *GETPWNAM_PROBE = GETPWNAM_PROBE_PROGRAM;
inline constexpr const char *GETPWNAM_FAIL_SHIM = GETPWNAM_FAIL_SHIM_LIBRARY;

// Replies, byte for byte.
using namespace test_support::replies;

inline constexpr const char *INVALID_COMMAND_LINE = "Invalid command line, see --help\n";
inline constexpr const char *VERSION_LINE = "zembrovald 1.1.2\n";
extern const char *const HELP_TEXT;

// Event-log lines as --stderr writes them.
std::string changed_log(const std::string &user);
std::string wrong_old_log(const std::string &user);
std::string failed_log(const std::string &user);
std::string restricted_log(const std::string &user);

// The password every standard account has before a test changes it.
std::string old_password_of(const std::string &user);
// alice (uid 1001) and friends; see e2e_harness.cc for the list.
const std::vector<account> &standard_accounts();

// The lines of a whole successful exchange for user, without the quit line.
std::string change_lines(const std::string &user, const std::string &new_password);

// How a case makes the store fail.
enum class store_failure {
    none,
    missing_config,  // the configuration file does not exist: fails at login
    lock_is_folder,  // <userdb>.lock is a folder: the change fails under a good login
    file_size_limit, // RLIMIT_FSIZE tiny, SIGXFSZ ignored: writing the new file fails
};

struct dialogue_case {
    const char *what;
    std::string input;
    std::string replies;
    std::string log; // standard error (--stderr)
    int status;
    bool pause = false;                              // the 3-second failure pause
    std::map<std::string, std::string> changed = {}; // account -> new password
    store_failure failure = store_failure::none;
    std::vector<std::string> args = {"--stderr"};
    std::vector<std::string> env = {};
    // keep_open: the client never hangs up; the program must end by itself.
    test_support::input_end end = test_support::input_end::close_after_input;
};

// Runs every case (several at once, each with its own store of
// standard_accounts()) and checks replies, log, status, pause and store.
void check_dialogue_cases(const std::vector<dialogue_case> &cases);

// The run of the program with argv {PROGRAM, args...} against a store.
run_options program_run(const store_fixture &store, const std::string &input,
                        const std::vector<std::string> &args = {"--stderr"});

// Status checks with the whole result in the message.
testing::AssertionResult exited_with(const run_result &r, int status);
// The last reply came at once and the process ended >= 2.5 s later.
testing::AssertionResult paused_after_reply(const run_result &r);
// The process ended within 1.5 s of its last reply.
testing::AssertionResult no_pause(const run_result &r);

// The text getpwnam leaves in errno for name, asked of the system library
// under the same preloads and environment as the program.
std::string getpwnam_error_text(const std::string &name, const std::vector<std::string> &env);

} // namespace e2e

#endif
