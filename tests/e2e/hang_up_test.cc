// hang_up_test.cc: a client that hangs up does not kill the program. Writes
// to a closed connection fail quietly; every path still logs what it must and
// ends with its own status.
#include <memory>
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

struct hang_up_case {
    const char *what;
    std::string input;
    std::size_t close_output_after; // reply bytes received before the client hangs up
    std::string log;
    int status;
    bool pause;
    std::map<std::string, std::string> changed;
};

TEST(HangUp, ProgramSurvivesAClosedConnection) {
    const std::string before_quit = std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED;
    const hang_up_case CASES[] = {
        {"gone before the greeting, no quit",
         change_lines("alice", "new-secret"),
         0,
         changed_log("alice"),
         1,
         false,
         {{"alice", "new-secret"}}},
        {"gone before the greeting, with quit",
         change_lines("alice", "new-secret") + "quit\n",
         0,
         changed_log("alice"),
         0,
         false,
         {{"alice", "new-secret"}}},
        {"gone right after the thank-you, no quit",
         change_lines("alice", "new-secret"),
         before_quit.size(),
         changed_log("alice"),
         1,
         false,
         {{"alice", "new-secret"}}},
        {"gone right after the thank-you, quit already sent",
         change_lines("alice", "new-secret") + "quit\n",
         before_quit.size(),
         changed_log("alice"),
         0,
         false,
         {{"alice", "new-secret"}}},
        {"gone after the greeting, wrong password",
         "user alice\npass wrong\n",
         std::string(GREETING).size(),
         wrong_old_log("alice"),
         1,
         true,
         {}},
        {"gone before the greeting, low uid",
         change_lines("low", "new-secret"),
         0,
         restricted_log("low"),
         1,
         false,
         {}},
    };
    std::vector<std::unique_ptr<store_fixture>> stores;
    std::vector<run_options> runs;
    for (const hang_up_case &c : CASES) {
        stores.push_back(std::make_unique<store_fixture>(standard_accounts()));
        run_options options = program_run(*stores.back(), c.input);
        options.close_output_after = c.close_output_after;
        runs.push_back(options);
    }
    const std::vector<run_result> results = test_support::run_processes(runs);
    for (std::size_t i = 0; i < std::size(CASES); ++i) {
        const hang_up_case &c = CASES[i];
        const run_result &r = results[i];
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(exited_with(r, c.status));
        EXPECT_EQ(c.log, r.err);
        if (c.pause) {
            // No reply can be timed here: the process runs the whole pause.
            EXPECT_GE(r.ended_at, std::chrono::milliseconds(2500));
        } else {
            EXPECT_LT(r.ended_at, std::chrono::milliseconds(1500));
        }
        EXPECT_TRUE(c.changed.empty() ? stores[i]->unchanged()
                                      : stores[i]->changed_only(c.changed));
    }
}

} // namespace
} // namespace e2e
