// Many processes on one database: twenty changes at once all kept; a change
// racing an administrator's update of the same row never overwrites it; and
// two super-servers (two hosts) serving one database see each other's
// changes at once.
#include <chrono>
#include <thread>

#include "crypt_hash.h"
#include "pg_site.h"
#include "tcp_service.h"

namespace pg_test {
namespace {

using namespace std::chrono_literals;
using test_support::hash_matches;
using test_support::line_client;
using test_support::tcpserver_process;

constexpr int CLIENTS = 20;

TEST(PostgresqlConcurrency, TwentyChangesAtOnceAreAllKept)
{
    std::vector<account> accounts;
    for (int i = 0; i < CLIENTS; ++i)
        accounts.push_back({"user" + std::to_string(i), "old-" + std::to_string(i), std::to_string(2000 + i), "", "",
                            ""});
    pg_site site(accounts);
    PG_SITE_OR_SKIP(site);
    std::vector<test_support::run_options> runs;
    for (const account &a : accounts)
        runs.push_back(site.run({"--stderr"}, change_input(a.name, a.password, "new-" + a.name)));
    const std::vector<test_support::run_result> results = test_support::run_processes(runs, CLIENTS);
    for (std::size_t i = 0; i < accounts.size(); ++i) {
        SCOPED_TRACE(accounts[i].name);
        EXPECT_EQ(0, results[i].exit_status) << results[i].out << results[i].err;
        EXPECT_TRUE(hash_matches("new-" + accounts[i].name, site.hash_of(accounts[i].name)));
    }
}

// A live dialogue through tcpserver, up to the new password prompt.
struct dialogue {
    explicit dialogue(int port) : client(port) {}
    bool up_to_new_password(const std::string &user, const std::string &password)
    {
        return client.connected() && client.read_line() == GREETING && client.send("user " + user + "\n")
               && client.read_line() == PASS_PLEASE && client.send("pass " + password + "\n")
               && client.read_line() == NEWPASS_PLEASE;
    }
    line_client client;
};

// Waits until the store's backend of site waits for a row lock.
bool store_waits_for_lock(pg_site &site)
{
    for (int i = 0; i < 1000; ++i) {
        if (site.db().value("SELECT count(*) FROM pg_stat_activity WHERE application_name = $1 "
                            "AND wait_event_type = 'Lock'",
                            {site.name()})
            == "1")
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST(PostgresqlConcurrency, ChangeRacingAnAdministratorNeverOverwritesIt)
{
    const struct {
        const char *what;
        bool hold_row; // the administrator's transaction holds the row until the store's update waits
    } CASES[] = {
        // Changed between the old and the new password lines: the change
        // checks the old password again, against the new hash.
        {"changed between the lines", false},
        // Changed between the change's own read and its update: the update
        // finds the hash it read no longer there.
        {"changed between read and update", true},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        pg_site site;
        PG_SITE_OR_SKIP(site);
        const test_support::temp_dir logs("zpgl");
        const tcpserver_process server({PROGRAM, "--stderr"}, {"QUELMARAUTH_CONFIG=" + site.config_path()},
                                       logs.file("stderr"));
        if (!server.unavailable().empty())
            GTEST_SKIP() << server.unavailable();
        dialogue d(server.port());
        ASSERT_TRUE(d.up_to_new_password("alice", "alice-secret"));
        const std::string by_admin = test_support::make_hash("admin-chose");
        pg_client admin(site.conninfo());
        if (c.hold_row) {
            ASSERT_TRUE(admin.exec("BEGIN; SELECT hash FROM accounts WHERE name = 'alice' FOR UPDATE"));
            ASSERT_TRUE(d.client.send("newpass n3w\n"));
            ASSERT_TRUE(store_waits_for_lock(site));
            ASSERT_TRUE(admin.exec("UPDATE accounts SET hash = $1 WHERE name = 'alice'", {by_admin}));
            ASSERT_TRUE(admin.exec("COMMIT"));
        } else {
            ASSERT_TRUE(site.set_hash("alice", by_admin));
            ASSERT_TRUE(d.client.send("newpass n3w\n"));
        }
        EXPECT_EQ(SERVER_ERROR, d.client.read_line());
        EXPECT_EQ(by_admin, site.hash_of("alice"));
        d.client.read_to_end();
        EXPECT_NE(std::string::npos,
                  test_support::wait_for_file_content(logs.file("stderr"), "failed to change password for user alice\n")
                      .find("failed to change password for user alice"));
    }
}

// Two hosts, one database: a password changed through one super-server is
// the one the other checks at once, and the old one is refused there.
TEST(PostgresqlConcurrency, TwoHostsShareOneDatabase)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    const test_support::temp_dir logs("zpgl");
    const std::vector<std::string> env = {"QUELMARAUTH_CONFIG=" + site.config_path()};
    const tcpserver_process first({PROGRAM, "--stderr"}, env, logs.file("first"));
    const tcpserver_process second({PROGRAM, "--stderr"}, env, logs.file("second"));
    if (!first.unavailable().empty() || !second.unavailable().empty())
        GTEST_SKIP() << first.unavailable() << second.unavailable();
    const auto change = [](int port, const std::string &old_password, const std::string &new_password) {
        line_client client(port);
        client.send(change_input("alice", old_password, new_password));
        return client.read_to_end();
    };
    const std::string changed = std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE;
    EXPECT_EQ(changed, change(first.port(), "alice-secret", "via-first"));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + WRONG_OLD, change(second.port(), "alice-secret", "x"));
    EXPECT_EQ(changed, change(second.port(), "via-first", "via-second"));
    EXPECT_EQ(changed, change(first.port(), "via-second", "back-on-first"));
    EXPECT_TRUE(hash_matches("back-on-first", site.hash_of("alice")));
}

} // namespace
} // namespace pg_test
