// Store failures through the real program: the reply, the program's log
// entry, the library's diagnostic in the real system log (naming the
// database's error, never a password), and the pause only where it is due.
#include <chrono>

#include "pg_site.h"
#include "syslog_capture.h"

namespace pg_test {
namespace {

using namespace std::chrono_literals;

const std::string GP = std::string(GREETING) + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;
constexpr const char *FAILED_LOG = "failed to change password for user alice\n";

struct failure_case {
    const char *what;
    std::string connect; // in place of the site's, when not empty
    std::string keys;    // after the section's defaults
    std::string replies;
    const char *diagnostic; // a part of the library's entry
    bool pause;
};

struct failure_run {
    test_support::run_result result;
    std::string entries; // every datagram, one a line
};

failure_run run_failure(pg_site &site, const failure_case &c)
{
    failure_run out;
    test_support::syslog_capture log;
    if (!log.unavailable().empty()) {
        out.entries = log.unavailable();
        return out;
    }
    site.write_config(site.section(c.keys, c.connect));
    test_support::run_options options = site.run({"--stderr"}, change_input("alice", "alice-secret", "n3w"));
    options.argv = log.wrap(options.argv);
    out.result = test_support::run_process(options);
    for (const std::string &datagram : log.take())
        out.entries += datagram + "\n";
    return out;
}

void expect_failure(const failure_case &c, const failure_run &run, pg_site &site, const std::string &before)
{
    SCOPED_TRACE(c.what);
    const test_support::run_result &r = run.result;
    EXPECT_EQ(c.replies, r.out);
    EXPECT_EQ(FAILED_LOG, r.err);
    EXPECT_TRUE(r.exited) << r.describe_end();
    EXPECT_EQ(1, r.exit_status);
    EXPECT_NE(std::string::npos, run.entries.find("quelmarauth: ")) << run.entries;
    EXPECT_NE(std::string::npos, run.entries.find(c.diagnostic)) << run.entries;
    for (const char *secret : {"alice-secret", "n3w", GUARDED_PASSWORD})
        EXPECT_EQ(std::string::npos, run.entries.find(secret)) << run.entries;
    if (c.pause)
        EXPECT_GE(r.quiet_before_end(), 2500ms);
    else
        EXPECT_LT(r.quiet_before_end(), 1500ms);
    EXPECT_EQ(before, site.hash_of("alice"));
}

TEST(PostgresqlFailures, AnswerLogAndPause)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    test_support::syslog_capture probe;
    if (!probe.unavailable().empty())
        GTEST_SKIP() << probe.unavailable();
    const std::string before = site.hash_of("alice");
    const std::string good_lookup = "lookup = SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = $1\n";
    const failure_case CASES[] = {
        {"missing table", "", "lookup = SELECT hash, uid, gid, home, sysuser FROM gone WHERE name = $1\n",
         GP + SERVER_ERROR, "relation \"gone\" does not exist (SQLSTATE 42P01)", false},
        {"query error", "", "lookup = SELEKT $1\n", GP + SERVER_ERROR, "syntax error at or near \"SELEKT\"", false},
        {"authentication refused", site.conninfo(GUARDED_ROLE) + " password=not-" + GUARDED_PASSWORD, "",
         GP + SERVER_ERROR,
         "password authentication failed for user \"guarded\"", false},
        {"statement timeout",
         "", "timeout = 1\nlookup = SELECT hash, uid, gid, home, sysuser FROM accounts, pg_sleep(5) WHERE name = $1\n",
         GP + SERVER_ERROR, "canceling statement due to statement timeout", false},
        // The change itself fails: after the new password, with the pause.
        {"update fails", "", good_lookup + "update = UPDATE gone SET hash = $2 WHERE name = $1 AND hash = $3\n",
         GPN + SERVER_ERROR, "relation \"gone\" does not exist", true},
        {"update of two rows", "", good_lookup + "update = UPDATE accounts SET hash = $2 WHERE name = $1 OR hash = $3\n",
         GPN + SERVER_ERROR, "would change 2 rows, not one; nothing changed", true},
    };
    // The two-row update needs a second row with alice's hash.
    ASSERT_TRUE(site.db().exec("UPDATE accounts SET hash = $1 WHERE name = 'carol'", {before}));
    for (const failure_case &c : CASES)
        expect_failure(c, run_failure(site, c), site, before);
}

// A server that is down: the connection is refused at once, and the reply
// comes at once.
TEST(PostgresqlFailures, StoppedServer)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    const std::string before = site.hash_of("alice");
    ASSERT_TRUE(shared_server().stop());
    const failure_case c = {"stopped server", "", "", GP + SERVER_ERROR, "connecting on database 'postgres'", false};
    const failure_run run = run_failure(site, c);
    ASSERT_TRUE(shared_server().start()) << shared_server().unavailable();
    if (run.entries.find("unshare") != std::string::npos)
        GTEST_SKIP() << run.entries;
    EXPECT_LT(run.result.ended_at, 3s);
    expect_failure(c, run, site, before);
}

} // namespace
} // namespace pg_test
