// The sqlite module through its own table, as the library calls it, on real
// databases: what it reads, what it changes and what it refuses, with the
// reasons an administrator will read.
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "sqlite_site.h"
#include "store_module_client.h"

namespace sqlite_test {
namespace {

using std::chrono::steady_clock;

settings on(const sqlite_site &site, const settings &more = {}) {
    settings section = {{"database", site.database()}};
    section.insert(section.end(), more.begin(), more.end());
    return section;
}

testing::AssertionResult has(const std::string &text, const std::string &part) {
    if (text.find(part) != std::string::npos) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "'" << text << "' does not hold '" << part << "'";
}

class SqliteModule : public testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_NE(nullptr, sqlite_module(why)) << why;
    }
};

TEST_F(SqliteModule, FetchesRowsOfThePlainTable) {
    const sqlite_site site;
    const fetched alice = module_fetch(on(site), "alice");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, alice.status) << alice.error;
    EXPECT_EQ(site.hash_of("alice"), alice.hash);
    EXPECT_STREQ("alice", alice.record.name);
    EXPECT_EQ(1, alice.record.has_uid);
    EXPECT_EQ(1001U, alice.record.uid);
    EXPECT_EQ(1, alice.record.has_gid);
    EXPECT_STREQ("/home/alice", alice.record.home);
    EXPECT_STREQ("", alice.record.sysuser);

    const fetched nouid = module_fetch(on(site), "nouid");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, nouid.status) << nouid.error;
    EXPECT_EQ(0, nouid.record.has_uid);
    EXPECT_EQ(0, nouid.record.has_gid);

    // Names are bound, never pasted: a quote is just part of a name.
    for (const char *unknown : {"carol", "alice' OR '1'='1", ""}) {
        SCOPED_TRACE(unknown);
        const fetched none = module_fetch(on(site), unknown);
        EXPECT_EQ(QUELMARAUTH_STORE_DENIED, none.status);
        EXPECT_EQ("", none.error);
    }
}

TEST_F(SqliteModule, RefusesUnusableDatabasesAndQueries) {
    const sqlite_site site;
    test_support::write_file(site.file("text.db"), "not a database\n");
    sqlite_site empty({}, "CREATE TABLE other (x);");
    sqlite_site duplicates({}, "CREATE TABLE accounts (name, hash, uid, gid, home, sysuser);"
                               "INSERT INTO accounts VALUES ('twin', 'h1', 1001, 1001, NULL, NULL);"
                               "INSERT INTO accounts VALUES ('twin', 'h2', 1002, 1002, NULL, NULL);"
                               "INSERT INTO accounts VALUES ('odd', 'h', 'x', 1, NULL, NULL);"
                               "INSERT INTO accounts VALUES ('nul', CAST(x'2400' AS TEXT), 1, 1, NULL, NULL);");
    const struct {
        const char *what;
        settings section;
        const char *user;
        std::string reason; // part of the error
    } CASES[] = {
        {"no database key", {}, "alice", "service login has backend = sqlite but no database"},
        // Never created on the fly: a mistyped path fails.
        {"missing file", {{"database", site.file("missing.db")}}, "alice",
         "database " + site.file("missing.db") + ": No such file or directory"},
        {"folder", {{"database", site.dir().path()}}, "alice", "unable to open database file"},
        {"not a database", {{"database", site.file("text.db")}}, "alice", "file is not a database"},
        {"missing table", on(empty), "alice", "lookup query: no such table: accounts"},
        {"syntax error", on(site, {{"lookup", "SELEC hash FROM accounts"}}), "alice",
         "lookup query: near \"SELEC\": syntax error"},
        {"too many parameters",
         on(site, {{"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = ?2"}}),
         "alice", "lookup query: takes 2 parameters; it must take 1 (name)"},
        {"too few columns", on(site, {{"lookup", "SELECT hash, uid FROM accounts WHERE name = ?1"}}),
         "alice", "lookup query: returns 2 columns; it must return 5"},
        {"two statements",
         on(site, {{"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = ?1; "
                              "DELETE FROM accounts"}}),
         "alice", "lookup query: must be exactly one SQL statement"},
        {"two rows for a name", on(duplicates), "twin", "lookup query: more than one row for twin"},
        {"uid not a number", on(duplicates), "odd", "user or group id of odd is not a number"},
        {"NUL in a hash", on(duplicates), "nul", "column 1 of nul holds a NUL byte"},
        {"timeout not a number", on(site, {{"timeout", "soon"}}), "alice", "timeout 'soon'"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const fetched r = module_fetch(c.section, c.user);
        EXPECT_EQ(QUELMARAUTH_STORE_FAILED, r.status);
        EXPECT_TRUE(has(r.error, c.reason));
    }
    EXPECT_FALSE(test_support::file_exists(site.file("missing.db")));
}

TEST_F(SqliteModule, ReplacesExactlyTheHashItWasShown) {
    const sqlite_site site;
    const std::string alice = site.hash_of("alice");
    const std::string bob = site.hash_of("bob");

    const answer stale = module_replace(on(site), "alice", "$6$stale", "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, stale.status);
    EXPECT_EQ("the hash of alice changed meanwhile, or the account is gone", stale.error);
    EXPECT_EQ(alice, site.hash_of("alice"));

    const answer gone = module_replace(on(site), "carol", alice, "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, gone.status);

    const answer done = module_replace(on(site), "alice", alice, "{CRYPT}$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, done.status) << done.error;
    EXPECT_EQ("", done.error);
    EXPECT_EQ("{CRYPT}$6$new", site.hash_of("alice"));
    EXPECT_EQ(bob, site.hash_of("bob"));
}

TEST_F(SqliteModule, TakesBackAnUpdateOfSeveralRows) {
    const sqlite_site site;
    const std::string before = site.value("SELECT group_concat(hash, ',') FROM accounts");
    const struct {
        const char *what;
        settings section;
        int status;
        const char *reason;
    } CASES[] = {
        // Forgets the name: every account with that hash, here all of them.
        {"several rows",
         on(site, {{"update", "UPDATE accounts SET hash = ?2 WHERE ?1 IS NOT NULL AND ?3 IS NOT NULL"}}),
         QUELMARAUTH_STORE_FAILED, "update query would change 4 rows for alice; none changed"},
        {"too few parameters", on(site, {{"update", "UPDATE accounts SET hash = ?2 WHERE name = ?1"}}),
         QUELMARAUTH_STORE_FAILED, "update query: takes 2 parameters; it must take 3 (name, new hash, old hash)"},
        {"reads only", on(site, {{"update", "SELECT ?1, ?2, ?3 WHERE 0"}}), QUELMARAUTH_STORE_FAILED,
         "update query: returns 3 columns; it must return 0"},
        // A site schema names its own update too: the plain table's would
        // change some other table, or none.
        {"own lookup, no update",
         on(site, {{"lookup", "SELECT hash, uid, gid, home, sysuser FROM accounts WHERE name = ?1"}}),
         QUELMARAUTH_STORE_FAILED, "service login sets its own lookup query but no update query"},
    };
    for (const auto &c : CASES) {
        SCOPED_TRACE(c.what);
        const answer r = module_replace(c.section, "alice", site.hash_of("alice"), "$6$new");
        EXPECT_EQ(c.status, r.status);
        EXPECT_TRUE(has(r.error, c.reason));
        EXPECT_EQ(before, site.value("SELECT group_concat(hash, ',') FROM accounts"));
    }
}

// A writer holding the database: waited for up to the timeout, then a
// failure naming the lock; released in time, the change goes through.
TEST_F(SqliteModule, WaitsForABusyDatabaseWithinTheTimeout) {
    const sqlite_site site;
    const std::string old_hash = site.hash_of("alice");
    sqlite3 *holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(site.database().c_str(), &holder, SQLITE_OPEN_READWRITE, nullptr));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr));

    const auto start = steady_clock::now();
    const answer blocked = module_replace(on(site, {{"timeout", "1"}}), "alice", old_hash, "$6$new");
    const auto waited = steady_clock::now() - start;
    EXPECT_EQ(QUELMARAUTH_STORE_FAILED, blocked.status);
    EXPECT_TRUE(has(blocked.error, "update query: database is locked"));
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(5));

    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
    });
    const answer waited_for = module_replace(on(site, {{"timeout", "10"}}), "alice", old_hash, "$6$new");
    release.join();
    sqlite3_close(holder);
    EXPECT_EQ(QUELMARAUTH_STORE_OK, waited_for.status) << waited_for.error;
    EXPECT_EQ("$6$new", site.hash_of("alice"));
}

// A query that would run for hours is cut off at the timeout.
TEST_F(SqliteModule, InterruptsAQueryPastTheTimeout) {
    const sqlite_site site;
    const settings endless = on(site, {{"timeout", "1"},
                                       {"lookup", "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                                                  "SELECT max(i), ?1, 0, 0, 0 FROM n"}});
    const auto start = steady_clock::now();
    const fetched r = module_fetch(endless, "alice");
    const auto took = steady_clock::now() - start;
    EXPECT_EQ(QUELMARAUTH_STORE_FAILED, r.status);
    EXPECT_TRUE(has(r.error, "lookup query: still running when the timeout ran out"));
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(5));
    // The same process goes on working once the query is a sane one.
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_fetch(on(site), "alice").status);
}

int open_descriptors_of(const std::string &path) {
    int count = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == path) {
            ++count;
        }
    }
    return count;
}

// One handle serves the calls of a process; another database in the next
// call, or a file moved over the old one, is opened afresh.
TEST_F(SqliteModule, KeepsOneHandleWhileThePathNamesTheSameFile) {
    const sqlite_site first;
    const sqlite_site second({{"zed", "zed-secret", "2000", "2000", "", ""}});
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_fetch(on(first), "alice").status);
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_fetch(on(first), "bob").status);
    EXPECT_EQ(1, open_descriptors_of(first.database()));

    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, module_fetch(on(second), "alice").status);
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_fetch(on(second), "zed").status);
    EXPECT_EQ(0, open_descriptors_of(first.database()));

    // An administrator puts another database in place between two calls.
    const sqlite_site replacement({{"yan", "yan-secret", "3000", "3000", "", ""}});
    ASSERT_EQ(0, ::rename(replacement.database().c_str(), second.database().c_str()));
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, module_fetch(on(second), "zed").status);
    const fetched yan = module_fetch(on(second), "yan");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, yan.status) << yan.error;
    const answer changed = module_replace(on(second), "yan", yan.hash, "$6$new");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, changed.status) << changed.error;
    EXPECT_EQ("$6$new", second.hash_of("yan"));
}

TEST_F(SqliteModule, AddsRemovesAndListsOnThePlainTable) {
    const sqlite_site site({{"alice", "alice-secret", "1001", "1001", "/home/alice", ""}});
    quelmarauth_store_record carol{};
    std::snprintf(carol.name, sizeof carol.name, "carol");
    std::snprintf(carol.sysuser, sizeof carol.sysuser, "vmail");
    const answer added = module_add(on(site), carol, "{BLF-CRYPT}$2b$x");
    EXPECT_EQ(QUELMARAUTH_STORE_OK, added.status) << added.error;
    // Absent fields are NULL, as lookups report them.
    EXPECT_EQ("NULL|NULL|NULL|vmail",
              site.value("SELECT coalesce(uid, 'NULL') || '|' || coalesce(gid, 'NULL') || '|' || "
                         "coalesce(home, 'NULL') || '|' || sysuser FROM accounts WHERE name = 'carol'"));
    EXPECT_EQ("integer", site.value("SELECT typeof(uid) FROM accounts WHERE name = 'alice'"));

    const answer taken = module_add(on(site), carol, "$6$other");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, taken.status);
    EXPECT_EQ("account carol exists", taken.error);

    std::vector<std::string> rows;
    const answer listed = module_list(on(site), rows);
    EXPECT_EQ(QUELMARAUTH_STORE_OK, listed.status) << listed.error;
    EXPECT_EQ((std::vector<std::string>{"alice " + site.hash_of("alice") + " 1001 1001 /home/alice -",
                                        "carol {BLF-CRYPT}$2b$x - - - vmail"}),
              rows);

    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_remove(on(site), "carol").status);
    const answer again = module_remove(on(site), "carol");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, again.status);
    EXPECT_EQ("no account carol", again.error);
    EXPECT_EQ("1", site.value("SELECT count(*) FROM accounts"));
}

// A site schema's accounts belong to the site's tools unless the section
// gives the queries for them.
TEST_F(SqliteModule, SiteSchemaWithoutAdminQueriesIsRefused) {
    const sqlite_site site({}, "CREATE TABLE mailbox (username TEXT, password TEXT, active INTEGER);"
                               "INSERT INTO mailbox VALUES ('ann', '{SHA512-CRYPT}$6$x', 1);");
    const settings mailbox =
        on(site, {{"lookup", "SELECT password, NULL, NULL, NULL, NULL FROM mailbox WHERE username = ?1 AND active"},
                  {"update", "UPDATE mailbox SET password = ?2 WHERE username = ?1 AND password = ?3"}});
    EXPECT_EQ("{SHA512-CRYPT}$6$x", module_fetch(mailbox, "ann").hash);

    quelmarauth_store_record ben{};
    std::snprintf(ben.name, sizeof ben.name, "ben");
    const answer add = module_add(mailbox, ben, "$6$y");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, add.status);
    EXPECT_EQ("the configuration of service login has no insert query; add accounts with the site's own tools",
              add.error);
    const answer remove = module_remove(mailbox, "ann");
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, remove.status);
    EXPECT_EQ("the configuration of service login has no delete query; remove accounts with the site's own tools",
              remove.error);
    std::vector<std::string> rows;
    const answer list = module_list(mailbox, rows);
    EXPECT_EQ(QUELMARAUTH_STORE_DENIED, list.status);
    EXPECT_EQ("the configuration of service login has no list query; list accounts with the site's own tools",
              list.error);
    EXPECT_EQ("1", site.value("SELECT count(*) FROM mailbox"));

    // Given the queries, the same schema can be administered.
    settings managed = mailbox;
    managed.push_back({"insert", "INSERT INTO mailbox (username, password, active) "
                                 "SELECT ?1, ?2, 1 WHERE coalesce(?3, ?4, ?5, ?6, 1)"});
    managed.push_back({"list", "SELECT username, password, NULL, NULL, NULL, NULL FROM mailbox ORDER BY 1"});
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_add(managed, ben, "{SHA512-CRYPT}$6$y").status);
    rows.clear();
    EXPECT_EQ(QUELMARAUTH_STORE_OK, module_list(managed, rows).status);
    EXPECT_EQ((std::vector<std::string>{"ann {SHA512-CRYPT}$6$x - - - -", "ben {SHA512-CRYPT}$6$y - - - -"}), rows);
}

} // namespace
} // namespace sqlite_test
