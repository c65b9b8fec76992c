// The administration command on a SQLite store: every account command on the
// plain table, the program logging in with what it set, and the clear
// refusal of adding, removing and listing on a site's own schema.
#include <gtest/gtest.h>

#include "sqlite_site.h"

namespace sqlite_test {
namespace {

struct admin_step {
    std::vector<std::string> args;
    std::string input; // the password line, where one is read
    int status;
    std::string out;
    std::string err;
    std::string row; // dave's row afterwards, hash left out ("" when gone)
};

constexpr const char *DAVE_ROW = "SELECT coalesce(uid, 'NULL') || '|' || coalesce(gid, 'NULL') || '|' || "
                                 "coalesce(home, 'NULL') || '|' || coalesce(sysuser, 'NULL') "
                                 "FROM accounts WHERE name = 'dave'";

TEST(SqliteAdmin, AccountCommandsOnThePlainTable) {
    const sqlite_site site({{"carol", "carol-secret", "1003", "", "", ""}});
    const std::string dave = "1004|NULL|/home/dave|NULL";
    const admin_step STEPS[] = {
        {{"useradd", "dave", "--uid", "1004", "--home", "/home/dave"}, "first\n", 0, "", "", dave},
        {{"useradd", "dave"}, "other\n", 1, "", "quelmarauth: account dave exists\n", dave},
        {{"verify", "dave"}, "first\n", 0, "", "", dave},
        {{"passwd", "dave"}, "second\n", 0, "", "", dave},
        {{"verify", "dave"}, "first\n", 1, "", "", dave},
        {{"lock", "dave"}, "", 0, "", "", dave},
        {{"lock", "dave"}, "", 1, "", "quelmarauth: account dave is already locked\n", dave},
        {{"verify", "dave"}, "second\n", 1, "", "", dave},
        {{"unlock", "dave"}, "", 0, "", "", dave},
        {{"verify", "dave"}, "second\n", 0, "", "", dave},
        {{"list"}, "", 0, "carol\t1003\t\t\t\ndave\t1004\t\t/home/dave\t\n", "", dave},
        {{"userdel", "dave"}, "", 0, "", "", ""},
        {{"userdel", "dave"}, "", 1, "", "quelmarauth: sqlite: no account dave\n", ""},
    };
    for (const admin_step &step : STEPS) {
        SCOPED_TRACE(testing::PrintToString(step.args));
        const run_result r = test_support::run_process(site.admin(step.args, step.input));
        EXPECT_EQ(step.status, r.exit_status) << r.err;
        EXPECT_EQ(step.out, r.out);
        if (!step.err.empty()) {
            EXPECT_EQ(step.err, r.err);
        }
        EXPECT_EQ(step.row, site.value(DAVE_ROW));
        EXPECT_EQ(std::string::npos, r.out.find("$6$")) << "hashes are never shown";
    }
    EXPECT_TRUE(site.password_is("carol", "carol-secret"));
}

// What the command sets is what the program logs in with, and a locked
// account is refused by the program like a wrong password.
TEST(SqliteAdmin, ProgramSeesWhatTheCommandSet) {
    const sqlite_site site(std::vector<account>{});
    ASSERT_EQ(0, test_support::run_process(site.admin({"useradd", "erin", "--uid", "1005"}, "set-secret\n"))
                     .exit_status);
    ASSERT_EQ(0, test_support::run_process(site.admin({"lock", "erin"})).exit_status);
    const run_result locked = test_support::run_process(site.program(change_input("erin", "set-secret", "n3w")));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + WRONG_OLD, locked.out);
    ASSERT_EQ(0, test_support::run_process(site.admin({"unlock", "erin"})).exit_status);
    const run_result changed = test_support::run_process(site.program(change_input("erin", "set-secret", "n3w")));
    EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE, changed.out);
    EXPECT_EQ(0, test_support::run_process(site.admin({"verify", "erin"}, "n3w\n")).exit_status);
}

// A site's schema belongs to the site's tools: adding, removing and listing
// are refused by name unless the section gives those queries; passwords and
// locks still work through its lookup and update.
TEST(SqliteAdmin, SiteSchemaWithoutAdminQueries) {
    const sqlite_site site(std::vector<account>{}, "CREATE TABLE mailbox (username TEXT, password TEXT, active INTEGER);"
                               "INSERT INTO mailbox VALUES ('ann', 'x', 1);");
    site.write_config("lookup = SELECT password, NULL, NULL, NULL, NULL FROM mailbox "
                      "WHERE username = ?1 AND active\n"
                      "update = UPDATE mailbox SET password = ?2 WHERE username = ?1 AND password = ?3\n");
    const struct {
        std::vector<std::string> args;
        const char *verb;
        const char *query;
    } REFUSED[] = {
        {{"useradd", "ben"}, "add", "insert"},
        {{"userdel", "ann"}, "remove", "delete"},
        {{"list"}, "list", "list"},
    };
    for (const auto &c : REFUSED) {
        SCOPED_TRACE(c.verb);
        const run_result r = test_support::run_process(site.admin(c.args, "pw\n"));
        EXPECT_EQ(1, r.exit_status);
        EXPECT_EQ(std::string("quelmarauth: sqlite: the configuration of service login has no ") + c.query +
                      " query; " + c.verb + " accounts with the site's own tools\n",
                  r.err);
    }
    EXPECT_EQ("1", site.value("SELECT count(*) FROM mailbox"));
    EXPECT_EQ(0, test_support::run_process(site.admin({"passwd", "ann"}, "mail-secret\n")).exit_status);
    EXPECT_EQ(0, test_support::run_process(site.admin({"verify", "ann"}, "mail-secret\n")).exit_status);
}

} // namespace
} // namespace sqlite_test
