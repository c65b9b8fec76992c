// account_test.cc: each command that acts on one account, its success and
// its refusals, checked in the file and through the real program.
#include "admin_harness.h"

#include "crypt_hash.h"

namespace admin_test {
namespace {

using test_support::hash_matches;

std::string without_line_of(const std::string &userdb, const std::string &name) {
    const std::string::size_type at = userdb.find("\n" + name + ":");
    if (at == std::string::npos) {
        return userdb;
    }
    const std::string::size_type end = userdb.find('\n', at + 1);
    return userdb.substr(0, at + 1) + userdb.substr(end + 1);
}

TEST(AdminAccounts, UseraddAppendsALineTheProgramAccepts) {
    const store_fixture store(small_accounts());
    const run_result added = run_admin(store,
                                       {"useradd", "dave", "--uid", "2001", "--gid=2002", "--home",
                                        "/home/d ave", "--sysuser", "vmail"},
                                       "dave-secret\n");
    ASSERT_TRUE(ended(added, 0, ""));
    const std::string now = store.userdb();
    ASSERT_EQ(0U, now.find(store.original())) << "every earlier byte is kept";
    const std::string line = now.substr(store.original().size());
    const std::vector<std::string> fields = fields_of(now, "dave");
    ASSERT_EQ(6U, fields.size()) << now;
    EXPECT_EQ("dave:" + fields[1] + ":2001:2002:/home/d ave:vmail\n", line);
    EXPECT_EQ(0U, fields[1].find("$6$rounds=1000$")) << "the configured method and cost";
    EXPECT_TRUE(hash_matches("dave-secret", fields[1]));

    const run_result changed =
        test_support::run_process(program_change_run(store, "dave", "dave-secret", "fresh"));
    EXPECT_TRUE(program_changed(changed)) << changed.out << changed.err;
    EXPECT_TRUE(hash_matches("fresh", fields_of(store.userdb(), "dave")[1]));
}

TEST(AdminAccounts, UseraddWithoutOptionsLeavesFieldsEmpty) {
    const store_fixture store(small_accounts());
    ASSERT_TRUE(ended(run_admin(store, {"useradd", "plain"}, "p\n"), 0, ""));
    const std::vector<std::string> fields = fields_of(store.userdb(), "plain");
    ASSERT_EQ(6U, fields.size());
    EXPECT_EQ((std::vector<std::string>{"plain", fields[1], "", "", "", ""}), fields);
}

TEST(AdminAccounts, Refusals) {
    const store_fixture store(small_accounts());
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string err;
    } CASES[] = {
        {{"useradd", "alice"}, "x\n", "account alice exists"},
        {{"useradd", "carol", "--uid", "5"}, "x\n", "account carol exists"},
        {{"passwd", "nobody"}, "x\n", "no account nobody"},
        {{"passwd", "Alice"}, "x\n", "no account Alice"}, // names keep their case
        {{"userdel", "nobody"}, "", "no account nobody"},
        {{"lock", "nobody"}, "", "no account nobody"},
        {{"unlock", "nobody"}, "", "no account nobody"},
        {{"unlock", "alice"}, "", "account alice is not locked"},
        {{"verify", "nobody"}, "x\n", "no account nobody"},
        {{"verify", "alice"}, "wrong\n", "wrong password for alice"},
        {{"verify", "alice"}, "alice-secret extra\n", "wrong password for alice"},
        // A line over the parser's limit would never match: not added.
        {{"useradd", "dave", "--home", "/" + std::string(5000, 'h')},
         "x\n",
         "the line of dave would be longer than 4096 bytes or would not parse"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1] + " (" + std::to_string(c.args.size()) +
                     " arguments)");
        EXPECT_TRUE(ended(run_admin(store, c.args, c.input), 1, "quelmarauth: " + c.err + "\n"));
        EXPECT_TRUE(store.unchanged());
    }
}

TEST(AdminAccounts, PasswdChangesOnlyThatHash) {
    const store_fixture store(small_accounts());
    ASSERT_TRUE(ended(run_admin(store, {"passwd", "bob"}, "bob-new\n"), 0, ""));
    EXPECT_TRUE(store.changed_only({{"bob", "bob-new"}}));
    EXPECT_TRUE(ended(run_admin(store, {"verify", "bob"}, "bob-new\n"), 0, ""));
}

TEST(AdminAccounts, UserdelRemovesTheWholeLine) {
    const store_fixture store(small_accounts());
    ASSERT_TRUE(ended(run_admin(store, {"userdel", "bob"}), 0, ""));
    EXPECT_EQ(without_line_of(store.original(), "bob"), store.userdb());
    EXPECT_TRUE(ended(run_admin(store, {"userdel", "bob"}), 1, "quelmarauth: no account bob\n"));
    const run_result login =
        test_support::run_process(program_change_run(store, "bob", "bob-secret", "x"));
    EXPECT_FALSE(program_changed(login));
}

TEST(AdminAccounts, LockAndUnlockRoundTrip) {
    const store_fixture store(small_accounts());
    const std::string old_hash = fields_of(store.original(), "alice")[1];
    ASSERT_TRUE(ended(run_admin(store, {"lock", "alice"}), 0, ""));
    EXPECT_EQ("!" + old_hash, fields_of(store.userdb(), "alice")[1]);
    const std::string locked = store.userdb();
    EXPECT_TRUE(ended(run_admin(store, {"lock", "alice"}), 1,
                      "quelmarauth: account alice is already locked\n"));
    EXPECT_TRUE(ended(run_admin(store, {"verify", "alice"}, "alice-secret\n"), 1,
                      "quelmarauth: wrong password for alice\n"));
    const run_result refused =
        test_support::run_process(program_change_run(store, "alice", "alice-secret", "x"));
    EXPECT_FALSE(program_changed(refused)) << "a locked account never verifies";
    EXPECT_EQ(locked, store.userdb());

    ASSERT_TRUE(ended(run_admin(store, {"unlock", "alice"}), 0, ""));
    EXPECT_TRUE(store.unchanged()) << "unlock gives back the file as it was";
    const run_result changed =
        test_support::run_process(program_change_run(store, "alice", "alice-secret", "after"));
    EXPECT_TRUE(program_changed(changed)) << changed.out << changed.err;
    EXPECT_TRUE(store.changed_only({{"alice", "after"}}));
}

TEST(AdminAccounts, PasswdOnALockedAccountSetsAUsableHash) {
    const store_fixture store(small_accounts());
    ASSERT_TRUE(ended(run_admin(store, {"lock", "carol"}), 0, ""));
    ASSERT_TRUE(ended(run_admin(store, {"passwd", "carol"}, "carol-new\n"), 0, ""));
    EXPECT_TRUE(store.changed_only({{"carol", "carol-new"}}));
}

TEST(AdminAccounts, VerifyAcceptsTheRightPassword) {
    const store_fixture store(small_accounts());
    for (const account &a : small_accounts()) {
        SCOPED_TRACE(a.name);
        EXPECT_TRUE(ended(run_admin(store, {"verify", a.name}, a.password + "\n"), 0, ""));
    }
    EXPECT_TRUE(store.unchanged());
}

} // namespace
} // namespace admin_test
