// Many changes at once on one database, all kept; and a change racing an
// administrator's update of the same account, which is refused rather than
// overwriting what the administrator wrote.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "crypt_hash.h"
#include "sqlite_site.h"
#include "tcp_service.h"

namespace sqlite_test {
namespace {

using test_support::line_client;

TEST(SqliteConcurrency, TwentyChangesAtOnceAreAllKept) {
    std::vector<account> accounts;
    for (int i = 0; i < 20; ++i) {
        const std::string n = std::to_string(i);
        accounts.push_back({"user" + n, "old-" + n, std::to_string(2000 + i), "", "", ""});
    }
    const sqlite_site site(accounts);
    std::vector<run_options> runs;
    for (const account &a : accounts) {
        runs.push_back(site.program(change_input(a.name, a.password, "new-" + a.name)));
    }
    const std::vector<run_result> results = test_support::run_processes(runs, 20);
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        SCOPED_TRACE(accounts[i].name);
        EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE, results[i].out)
            << results[i].err;
        EXPECT_TRUE(site.password_is(accounts[i].name, "new-" + accounts[i].name));
    }
    EXPECT_EQ("20", site.value("SELECT count(*) FROM accounts"));
}

// The administrator's new hash lands while the program's dialogue waits for
// the new password: after its login, before its change.
enum class admin_write {
    // quelmarauth passwd: committed before the program fetches again.
    command,
    // A transaction that commits while the program is between reading the
    // hash and updating it (the program's update waits for its lock).
    held_across_the_change,
};

TEST(SqliteConcurrency, ChangeRacingAnAdministratorIsRefused) {
    for (const admin_write how : {admin_write::command, admin_write::held_across_the_change}) {
        SCOPED_TRACE(how == admin_write::command ? "command" : "held across the change");
        const sqlite_site site;
        const test_support::temp_dir logs("zlog");
        test_support::tcpserver_process server({PROGRAM, "--stderr"}, site.env(), logs.file("server.log"));
        if (!server.unavailable().empty()) {
            GTEST_SKIP() << server.unavailable();
        }
        line_client client(server.port());
        ASSERT_TRUE(client.connected());
        EXPECT_EQ(GREETING, client.read_line());
        ASSERT_TRUE(client.send("user alice\npass alice-secret\n"));
        EXPECT_EQ(PASS_PLEASE, client.read_line());
        EXPECT_EQ(NEWPASS_PLEASE, client.read_line());

        sqlite3 *admin = nullptr;
        if (how == admin_write::command) {
            const run_result r = test_support::run_process(site.admin({"passwd", "alice"}, "admin-secret\n"));
            ASSERT_EQ(0, r.exit_status) << r.err;
            ASSERT_TRUE(client.send("newpass new-secret\n"));
        } else {
            const std::string hash = test_support::make_hash("admin-secret");
            ASSERT_EQ(SQLITE_OK,
                      sqlite3_open_v2(site.database().c_str(), &admin, SQLITE_OPEN_READWRITE, nullptr));
            ASSERT_EQ(SQLITE_OK, sqlite3_exec(admin,
                                              ("BEGIN IMMEDIATE; UPDATE accounts SET hash = '" + hash +
                                               "' WHERE name = 'alice'")
                                                  .c_str(),
                                              nullptr, nullptr, nullptr));
            ASSERT_TRUE(client.send("newpass new-secret\n"));
            // Time for the program to read the old hash, check the old
            // password against it and queue for the write lock.
            std::this_thread::sleep_for(std::chrono::milliseconds(1500));
            EXPECT_EQ(SQLITE_OK, sqlite3_exec(admin, "COMMIT", nullptr, nullptr, nullptr));
            sqlite3_close(admin);
        }
        EXPECT_EQ(SERVER_ERROR, client.read_line());
        EXPECT_TRUE(site.password_is("alice", "admin-secret"));
        EXPECT_FALSE(site.password_is("alice", "new-secret"));
    }
}

} // namespace
} // namespace sqlite_test
