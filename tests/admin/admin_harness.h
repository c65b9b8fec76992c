// admin_harness.h: what the tests of the administration command share: the
// command and the program under test, a small store, runs of both, and a
// run through a real pseudo-terminal.
#ifndef ZEMBROVALD_TESTS_ADMIN_HARNESS_H
#define ZEMBROVALD_TESTS_ADMIN_HARNESS_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "process_runner.h"
#include "store_fixture.h"

namespace admin_test {

using test_support::account;
using test_support::run_options;
using test_support::run_result;
using test_support::store_fixture;

inline constexpr const char *ADMIN = ADMIN_PROGRAM;
inline constexpr const char *ZEMBROVALD = ZEMBROVALD_PROGRAM;

// alice, bob and carol, all with ids above the program's minimum.
const std::vector<account> &small_accounts();

// quelmarauth -c <store's configuration> args..., with input on standard input.
run_options admin_run(const store_fixture &store, const std::vector<std::string> &args,
                      const std::string &input = "");
run_result run_admin(const store_fixture &store, const std::vector<std::string> &args,
                     const std::string &input = "");

// The exit status and both outputs, with the whole result in the message.
testing::AssertionResult ended(const run_result &r, int status, const std::string &err,
                               const std::string &out = "");

// zembrovald's whole change dialogue for user, through the real program.
run_options program_change_run(const store_fixture &store, const std::string &user,
                               const std::string &old_password, const std::string &new_password);
// Whether the program answered "200 Password changed, thank-you.".
bool program_changed(const run_result &r);

// The fields of the first line of name in the store (empty when none).
std::vector<std::string> fields_of(const std::string &userdb, const std::string &name);

// A run of argv on a pseudo-terminal: wait for each prompt in turn and type
// its answer; everything the terminal showed is returned.
struct terminal_step {
    std::string prompt; // awaited in the output (empty: type at once)
    std::string typed;  // then sent, as keys on the terminal
};
struct terminal_result {
    std::string shown;
    bool exited = false;
    int exit_status = -1;
    int signal = 0;
    bool prompts_seen = true; // every prompt came before the timeout
};
terminal_result run_on_terminal(const std::vector<std::string> &argv,
                                const std::vector<terminal_step> &steps);

} // namespace admin_test

#endif
