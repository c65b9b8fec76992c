// concurrency_test.cc: many processes changing different accounts of one
// userdb at once: every change is kept and the file stays whole.
#include <cstdio>
#include <string>

#include "e2e_harness.h"

namespace e2e {
namespace {

constexpr int PROCESSES = 20;

std::string numbered(const char *prefix, int i) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%02d", prefix, i);
    return text;
}

TEST(Concurrency, TwentyChangesAtOnceAreAllKept) {
    std::vector<account> accounts;
    for (int i = 0; i < PROCESSES; ++i) {
        accounts.push_back(
            {numbered("user", i), numbered("old-", i), std::to_string(3000 + i), "", "", ""});
    }
    const store_fixture store(accounts);
    std::vector<run_options> runs;
    std::map<std::string, std::string> changed;
    for (const account &a : accounts) {
        const std::string fresh = "fresh-" + a.name;
        changed[a.name] = fresh;
        runs.push_back(program_run(store, "user " + a.name + "\npass " + a.password + "\nnewpass " +
                                              fresh + "\nquit\n"));
    }
    const std::vector<run_result> results = test_support::run_processes(runs, PROCESSES);
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(accounts[i].name);
        EXPECT_TRUE(exited_with(results[i], 0));
        EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE,
                  results[i].out);
        EXPECT_EQ(changed_log(accounts[i].name), results[i].err);
    }
    EXPECT_TRUE(store.changed_only(changed));
}

} // namespace
} // namespace e2e
