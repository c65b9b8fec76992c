// concurrency_test.cc: the command and the program changing one file at
// the same time all keep their changes; a store held locked by another
// change is given up after a bounded wait.
#include "admin_harness.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "crypt_hash.h"

namespace admin_test {
namespace {

constexpr int EACH = 8;

std::string numbered(const char *prefix, int i) { return prefix + std::to_string(10 + i); }

TEST(AdminConcurrency, AdminAndProgramChangesAreAllKept) {
    std::vector<account> accounts;
    for (int i = 0; i < EACH; ++i) {
        accounts.push_back({numbered("prog", i), "old", std::to_string(2000 + i), "", "", ""});
        accounts.push_back({numbered("admin", i), "old", std::to_string(3000 + i), "", "", ""});
        accounts.push_back({numbered("gone", i), "old", std::to_string(4000 + i), "", "", ""});
    }
    const store_fixture store(accounts);
    std::vector<run_options> runs;
    for (int i = 0; i < EACH; ++i) {
        runs.push_back(program_change_run(store, numbered("prog", i), "old", numbered("p", i)));
        runs.push_back(admin_run(store, {"passwd", numbered("admin", i)}, numbered("a", i) + "\n"));
        runs.push_back(admin_run(store, {"useradd", numbered("new", i)}, numbered("n", i) + "\n"));
        runs.push_back(admin_run(store, {"userdel", numbered("gone", i)}));
    }
    const std::vector<run_result> results = test_support::run_processes(runs, 16);
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(runs[i].argv.back() + " " + runs[i].input);
        if (i % 4 == 0) {
            EXPECT_TRUE(program_changed(results[i])) << results[i].out << results[i].err;
        } else {
            EXPECT_TRUE(ended(results[i], 0, ""));
        }
    }
    const std::string now = store.userdb();
    for (int i = 0; i < EACH; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(
            test_support::hash_matches(numbered("p", i), fields_of(now, numbered("prog", i))[1]));
        EXPECT_TRUE(
            test_support::hash_matches(numbered("a", i), fields_of(now, numbered("admin", i))[1]));
        EXPECT_TRUE(
            test_support::hash_matches(numbered("n", i), fields_of(now, numbered("new", i))[1]));
        EXPECT_TRUE(fields_of(now, numbered("gone", i)).empty());
    }
    EXPECT_EQ(0U, now.find("# name:hash:uid:gid:home:sysuser\n\n")) << "the file's head is kept";
    EXPECT_NE(std::string::npos, now.find("\nnot an account line\n# end\n")) << now;
}

TEST(AdminConcurrency, ALockedStoreIsGivenUpAfterTenSeconds) {
    const store_fixture store(small_accounts());
    const std::string lock_path = store.userdb_path() + ".lock";
    const int held = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_LE(0, held);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    const run_result r = run_admin(store, {"lock", "alice"});
    close(held);
    EXPECT_TRUE(ended(r, 4, "quelmarauth: " + lock_path + ": store is locked by another change\n"));
    EXPECT_GE(r.ended_at, std::chrono::seconds(9));
    EXPECT_LE(r.ended_at, std::chrono::seconds(19));
    EXPECT_TRUE(store.unchanged());
    // Released, the same change goes through.
    EXPECT_TRUE(ended(run_admin(store, {"lock", "alice"}), 0, ""));
}

} // namespace
} // namespace admin_test
