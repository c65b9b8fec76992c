// The administration command on a PostgreSQL store: every account command
// on the plain accounts table, and the clear refusal on a site's own schema
// that gives no statement for adding, removing or listing.
#include "crypt_hash.h"
#include "pg_site.h"

namespace pg_test {
namespace {

using test_support::hash_matches;
using test_support::run_process;
using test_support::run_result;

testing::AssertionResult ended(const run_result &r, int status, const std::string &err, const std::string &out = "")
{
    if (r.exited && r.exit_status == status && r.err == err && r.out == out)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "wanted status " << status << ", err \"" << err << "\", out \"" << out
                                       << "\"; got " << r.describe_end() << ", err \"" << r.err << "\", out \""
                                       << r.out << "\"";
}

// Status 1 and the reason at the end of the one line (the library may name
// the store before it).
testing::AssertionResult refused(const run_result &r, const std::string &reason)
{
    const std::string tail = reason + "\n";
    if (r.exited && r.exit_status == 1 && r.out.empty() && r.err.rfind("quelmarauth: ", 0) == 0
        && r.err.size() >= tail.size() && r.err.compare(r.err.size() - tail.size(), tail.size(), tail) == 0
        && r.err.find('\n') == r.err.size() - 1)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "wanted status 1 and \"" << reason << "\"; got " << r.describe_end()
                                       << ", err \"" << r.err << "\", out \"" << r.out << "\"";
}

TEST(PostgresqlAdmin, AccountCommandsOnThePlainTable)
{
    pg_site site;
    PG_SITE_OR_SKIP(site);
    EXPECT_TRUE(ended(run_process(site.admin({"useradd", "dave", "--uid", "2001", "--home", "/home/dave"}, "d-pw\n")),
                      0, ""));
    rows dave;
    ASSERT_TRUE(site.db().exec("SELECT hash, coalesce(uid::text, '<null>'), coalesce(gid::text, '<null>'), "
                               "coalesce(home, '<null>'), coalesce(sysuser, '<null>') FROM accounts "
                               "WHERE name = 'dave'",
                               {}, &dave));
    ASSERT_EQ(1U, dave.size());
    // Absent fields are NULL, not empty texts.
    EXPECT_EQ((std::vector<std::string>{dave[0][0], "2001", NULL_TEXT, "/home/dave", NULL_TEXT}), dave[0]);
    EXPECT_EQ(0U, dave[0][0].find("$6$rounds=1000$")) << "the configured method and cost";
    EXPECT_TRUE(hash_matches("d-pw", dave[0][0]));
    EXPECT_TRUE(refused(run_process(site.admin({"useradd", "dave"}, "x\n")), "account dave exists"));

    EXPECT_TRUE(ended(run_process(site.admin({"verify", "dave"}, "d-pw\n")), 0, ""));
    EXPECT_TRUE(ended(run_process(site.admin({"passwd", "dave"}, "d-new\n")), 0, ""));
    EXPECT_TRUE(hash_matches("d-new", site.hash_of("dave")));
    const std::string before_lock = site.hash_of("dave");
    EXPECT_TRUE(ended(run_process(site.admin({"lock", "dave"})), 0, ""));
    EXPECT_EQ("!" + before_lock, site.hash_of("dave"));
    EXPECT_TRUE(refused(run_process(site.admin({"verify", "dave"}, "d-new\n")), "wrong password for dave"));
    const run_result locked_out = run_process(site.run({"--stderr"}, change_input("dave", "d-new", "x")));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + WRONG_OLD, locked_out.out) << "a locked account never verifies";
    EXPECT_TRUE(ended(run_process(site.admin({"unlock", "dave"})), 0, ""));
    EXPECT_EQ(before_lock, site.hash_of("dave"));

    EXPECT_TRUE(ended(run_process(site.admin({"list"})), 0, "",
                      "alice\t1001\t1001\t/home/alice\t\n"
                      "bob\t\t\t\tvmail\n"
                      "carol\t\t\t\t\n"
                      "dave\t2001\t\t/home/dave\t\n"));
    EXPECT_TRUE(ended(run_process(site.admin({"userdel", "dave"})), 0, ""));
    EXPECT_EQ("", site.hash_of("dave"));
    EXPECT_TRUE(refused(run_process(site.admin({"userdel", "dave"})), "no account dave"));
}

// A virtual-mailbox schema of a mail stack: the program and passwd work
// through its lookup and update; adding, removing and listing are the site's
// business unless it gives statements for them.
TEST(PostgresqlAdmin, SiteSchemaWithoutInsertOrDeleteIsRefusedClearly)
{
    pg_site site(std::vector<account>{});
    PG_SITE_OR_SKIP(site);
    ASSERT_TRUE(site.db().exec("CREATE TABLE mailbox (username TEXT PRIMARY KEY, password TEXT, active BOOLEAN)"));
    ASSERT_TRUE(site.db().exec("INSERT INTO mailbox VALUES ($1, $2, true)",
                               {"box@example.org", "{SHA512-CRYPT}" + test_support::make_hash("box-pw")}))
        << site.db().error();
    site.write_config(site.section(
        "lookup = SELECT password, NULL, NULL, NULL, NULL FROM mailbox WHERE username = $1 AND active\n"
        "update = UPDATE mailbox SET password = $2 WHERE username = $1 AND password = $3\n"));
    const struct {
        std::vector<std::string> args;
        std::string input;
        const char *reason;
    } CASES[] = {
        {{"useradd", "new@example.org"}, "pw\n", "has no insert query; add accounts with the site's own tools"},
        {{"userdel", "box@example.org"}, "", "has no delete query; remove accounts with the site's own tools"},
        {{"list"}, "", "has no list query; list accounts with the site's own tools"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.args[0]);
        const run_result r = run_process(site.admin(c.args, c.input));
        EXPECT_TRUE(r.exited && r.exit_status != 0) << r.describe_end();
        EXPECT_NE(std::string::npos, r.err.find("the configuration of service login " + std::string(c.reason)))
            << r.err;
    }
    EXPECT_EQ("1", site.db().value("SELECT count(*) FROM mailbox"));
    EXPECT_TRUE(ended(run_process(site.admin({"passwd", "box@example.org"}, "box-new\n")), 0, ""));
    const std::string stored = site.db().value("SELECT password FROM mailbox");
    ASSERT_EQ(0U, stored.find("{SHA512-CRYPT}$6$")) << stored;
    const run_result changed =
        run_process(site.run({"--stderr"}, change_input("box@example.org", "box-new", "box-newer")));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE, changed.out) << changed.err;
    EXPECT_TRUE(hash_matches("box-newer", site.db().value("SELECT password FROM mailbox").substr(14)));
}

} // namespace
} // namespace pg_test
