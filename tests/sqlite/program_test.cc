// The sqlite store through the real program: changes, refusals, the user-id
// rule from the row's columns, the store's failures with their replies, log
// entries and pauses, and hashes in the prefixed style of mail stacks.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <thread>

#include "crypt_hash.h"
#include "preload.h"
#include "sqlite_site.h"
#include "syslog_capture.h"

namespace sqlite_test {
namespace {

const std::string GP = std::string(GREETING) + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;

std::string changed_log(const std::string &user) { return "changed password for " + user + "\n"; }
std::string wrong_old_log(const std::string &user) {
    return "old password is incorrect or user not found for " + user + "\n";
}
std::string failed_log(const std::string &user) { return "failed to change password for user " + user + "\n"; }
std::string restricted_log(const std::string &user) {
    return "attempt to change password for a restricted or non-existant uid " + user + "\n";
}

// The process ended 3 s after its last reply, or without that pause. The
// bounds are wide apart: under the sanitizers on a busy machine a process
// can take two seconds to exit.
testing::AssertionResult paused(const run_result &r, bool expected) {
    const double quiet = std::chrono::duration<double>(r.quiet_before_end()).count();
    if (expected ? quiet >= 2.9 && quiet < 10 : quiet < 2.5) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "quiet for " << quiet << " s before the end";
}

enum class store_state {
    as_made,          // the row set of standard_accounts()
    no_database,      // the file is gone
    no_table,         // the file is there, the table is not
    bad_lookup,       // the section's lookup query does not compile
    several_rows,     // the section's update query would change every row
    write_locked,     // another writer holds the database for longer than the timeout
    alice_locked,     // alice's hash has '!' in front
};

struct change_case {
    const char *what;
    std::string input;
    std::string replies;
    std::string log;
    int status;
    bool pause;
    const char *changed; // the account whose hash must now be of "new-secret", or null
    store_state state = store_state::as_made;
};

void prepare(const sqlite_site &site, store_state state) {
    switch (state) {
    case store_state::as_made:
    case store_state::write_locked:
        break;
    case store_state::no_database:
        std::remove(site.database().c_str());
        break;
    case store_state::no_table:
        EXPECT_EQ("", site.exec("DROP TABLE accounts"));
        break;
    case store_state::bad_lookup:
        site.write_config("lookup = SELECT hash, uid, gid, home, sysuser FROM acounts WHERE name = ?1\n");
        break;
    case store_state::several_rows:
        site.write_config("update = UPDATE accounts SET hash = ?2 WHERE ?1 NOT NULL AND ?3 NOT NULL\n");
        break;
    case store_state::alice_locked:
        EXPECT_EQ("", site.exec("UPDATE accounts SET hash = '!' || hash WHERE name = 'alice'"));
        break;
    }
}

TEST(SqliteProgram, ChangesRefusalsAndStoreFailures) {
    const std::vector<change_case> cases = {
        {"right password", change_input("alice", "alice-secret", "new-secret"), GPN + CHANGED + BYE,
         changed_log("alice"), 0, false, "alice"},
        {"wrong password", change_input("alice", "wrong", "new-secret"), GP + WRONG_OLD,
         wrong_old_log("alice"), 1, true, nullptr},
        {"unknown account", change_input("carol", "alice-secret", "new-secret"), GP + WRONG_OLD,
         wrong_old_log("carol"), 1, true, nullptr},
        {"locked account", change_input("alice", "alice-secret", "new-secret"), GP + WRONG_OLD,
         wrong_old_log("alice"), 1, true, nullptr, store_state::alice_locked},
        // The uid column is below 100: refused after the new password, at once.
        {"uid 99", change_input("low", "low-secret", "new-secret"), GPN + RESTRICTED,
         restricted_log("low"), 1, false, nullptr},
        // NULL uid and no system user: the rule has nothing to judge.
        {"NULL uid", change_input("nouid", "nouid-secret", "new-secret"), GPN + CHANGED + BYE,
         changed_log("nouid"), 0, false, "nouid"},
        // The store failing at login is answered at once.
        {"database file missing", change_input("alice", "alice-secret", "new-secret"), GP + SERVER_ERROR,
         failed_log("alice"), 1, false, nullptr, store_state::no_database},
        {"table missing", change_input("alice", "alice-secret", "new-secret"), GP + SERVER_ERROR,
         failed_log("alice"), 1, false, nullptr, store_state::no_table},
        {"lookup query error", change_input("alice", "alice-secret", "new-secret"), GP + SERVER_ERROR,
         failed_log("alice"), 1, false, nullptr, store_state::bad_lookup},
        // The change itself failing is answered, then paused on.
        {"update of several rows", change_input("alice", "alice-secret", "new-secret"),
         GPN + SERVER_ERROR, failed_log("alice"), 1, true, nullptr, store_state::several_rows},
        {"database busy past the timeout", change_input("alice", "alice-secret", "new-secret"),
         GPN + SERVER_ERROR, failed_log("alice"), 1, true, nullptr, store_state::write_locked},
    };
    std::vector<std::unique_ptr<sqlite_site>> sites;
    std::vector<run_options> runs;
    std::vector<std::string> before;
    sqlite3 *holder = nullptr;
    for (const change_case &c : cases) {
        sites.push_back(std::make_unique<sqlite_site>());
        const sqlite_site &site = *sites.back();
        before.push_back(site.value("SELECT group_concat(name || hash, ',') FROM accounts"));
        prepare(site, c.state);
        if (c.state == store_state::write_locked) {
            site.write_config("timeout = 1\n");
            // A pending write: readers go on, writers wait.
            ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(site.database().c_str(), &holder, SQLITE_OPEN_READWRITE,
                                                 nullptr));
            ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE; UPDATE accounts SET uid = uid",
                                              nullptr, nullptr, nullptr));
        }
        runs.push_back(site.program(c.input));
    }
    const std::vector<run_result> results = test_support::run_processes(runs, 4);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const change_case &c = cases[i];
        const sqlite_site &site = *sites[i];
        const run_result &r = results[i];
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.replies, r.out);
        EXPECT_EQ(c.log, r.err);
        EXPECT_TRUE(r.exited) << r.describe_end();
        EXPECT_EQ(c.status, r.exit_status);
        EXPECT_TRUE(paused(r, c.pause));
        if (c.state == store_state::no_database) {
            EXPECT_FALSE(test_support::file_exists(site.database())) << "created on the fly";
            continue;
        }
        if (c.state == store_state::no_table || c.state == store_state::alice_locked) {
            continue;
        }
        if (c.changed == nullptr) {
            EXPECT_EQ(before[i], site.value("SELECT group_concat(name || hash, ',') FROM accounts"));
            continue;
        }
        EXPECT_TRUE(site.password_is(c.changed, "new-secret"));
        EXPECT_EQ(0U, site.hash_of(c.changed).rfind("$6$", 0)) << site.hash_of(c.changed);
        for (const account &a : standard_accounts()) {
            if (a.name != c.changed) {
                EXPECT_TRUE(site.password_is(a.name, a.password)) << a.name;
            }
        }
    }
}

// A store failure leaves the library's diagnostic with SQLite's reason in
// the system log, then the program's own entry; never a password.
TEST(SqliteProgram, StoreFailureNamesTheDatabaseError) {
    test_support::syslog_capture capture;
    if (!capture.unavailable().empty()) {
        GTEST_SKIP() << capture.unavailable();
    }
    const sqlite_site site;
    EXPECT_EQ("", site.exec("DROP TABLE accounts"));
    run_options options = site.program(change_input("alice", "alice-secret", "new-secret"), {});
    options.argv = capture.wrap(options.argv);
    const run_result r = test_support::run_process(options);
    EXPECT_EQ(GP + SERVER_ERROR, r.out);
    const std::vector<std::string> datagrams = capture.take();
    ASSERT_EQ(2U, datagrams.size()) << testing::PrintToString(datagrams);
    const auto diagnostic = test_support::parse_syslog_datagram(datagrams[0]);
    ASSERT_TRUE(diagnostic.has_value()) << datagrams[0];
    EXPECT_EQ("quelmarauth: sqlite: database " + site.database() + ": lookup query: no such table: accounts",
              diagnostic->message);
    const auto entry = test_support::parse_syslog_datagram(datagrams[1]);
    ASSERT_TRUE(entry.has_value()) << datagrams[1];
    EXPECT_EQ("failed to change password for user alice", entry->message);
    for (const std::string &datagram : datagrams) {
        EXPECT_EQ(std::string::npos, datagram.find("alice-secret"));
        EXPECT_EQ(std::string::npos, datagram.find("new-secret"));
    }
}

// The system user named in the sysuser column decides, as getpwnam finds it
// in a private account database.
TEST(SqliteProgram, SystemUserColumnDecidesTheUidRule) {
    if (*test_support::nss_wrapper_library() == '\0') {
        GTEST_SKIP() << "libnss_wrapper.so was not found at configure time";
    }
    const sqlite_site site({{"mapped", "mapped-secret", "", "", "", "vmail"},
                            {"mapped-low", "low-secret", "", "", "", "lowsys"}});
    std::vector<std::string> env = test_support::preload_env({test_support::nss_wrapper_library()});
    const std::vector<std::string> files = test_support::nss_files_env(
        site.file("passwd"), "lowsys:x:99:99::/:/bin/false\nvmail:x:5000:5000::/var/mail:/bin/false\n",
        site.file("group"), "lowsys:x:99:\nvmail:x:5000:\n");
    env.insert(env.end(), files.begin(), files.end());

    run_options allowed = site.program(change_input("mapped", "mapped-secret", "new-secret"));
    allowed.env.insert(allowed.env.end(), env.begin(), env.end());
    run_options refused = site.program(change_input("mapped-low", "low-secret", "new-secret"));
    refused.env.insert(refused.env.end(), env.begin(), env.end());
    const std::vector<run_result> r = test_support::run_processes({allowed, refused});
    EXPECT_EQ(GPN + CHANGED + BYE, r[0].out) << r[0].err;
    EXPECT_TRUE(site.password_is("mapped", "new-secret"));
    EXPECT_EQ(GPN + RESTRICTED, r[1].out) << r[1].err;
    EXPECT_EQ(restricted_log("mapped-low"), r[1].err);
    EXPECT_TRUE(site.password_is("mapped-low", "low-secret"));
}

// Hashes written by a mail stack, with or without its {SCHEME} prefix,
// verify; the new hash keeps the old one's style, in the configured method.
TEST(SqliteProgram, PrefixedHashesVerifyAndKeepTheirStyle) {
    const struct {
        const char *scheme;
        const char *crypt_prefix;
        unsigned long cost;
        const char *config_hash; // the section's hash key
        const char *new_start;   // how the new hash starts
    } CASES[] = {
        {"{SHA512-CRYPT}", "$6$", 1000, "sha512crypt", "{SHA512-CRYPT}$6$"},
        {"{CRYPT}", "$y$", 0, "yescrypt", "{CRYPT}$y$"},
        {"{BLF-CRYPT}", "$2b$", 4, "bcrypt\ncost = 4", "{BLF-CRYPT}$2b$04$"},
        // Another method in the prefix: the configured method wins, with its own name.
        {"{BLF-CRYPT}", "$2b$", 4, "sha512crypt", "{SHA512-CRYPT}$6$"},
        {"", "$y$", 0, "sha512crypt", "$6$"},
    };
    std::vector<std::unique_ptr<sqlite_site>> sites;
    std::vector<run_options> runs;
    for (const auto &c : CASES) {
        sites.push_back(std::make_unique<sqlite_site>(std::vector<account>{}));
        const sqlite_site &site = *sites.back();
        const std::string hash =
            std::string(c.scheme) + test_support::make_hash("old-secret", c.crypt_prefix, c.cost);
        EXPECT_EQ("", site.exec("INSERT INTO accounts VALUES ('ann', '" + hash + "', 1001, 1001, NULL, NULL)"));
        site.write_config_text("[*]\nbackend = sqlite\ndatabase = accounts.db\nhash = " +
                               std::string(c.config_hash) + "\n");
        runs.push_back(site.program(change_input("ann", "old-secret", "new-secret")));
    }
    const std::vector<run_result> results = test_support::run_processes(runs, 4);
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(std::string(CASES[i].scheme) + CASES[i].crypt_prefix + " -> " + CASES[i].new_start);
        EXPECT_EQ(GPN + CHANGED + BYE, results[i].out) << results[i].err;
        const std::string stored = sites[i]->hash_of("ann");
        EXPECT_EQ(0U, stored.rfind(CASES[i].new_start, 0)) << stored;
        EXPECT_TRUE(sites[i]->password_is("ann", "new-secret")) << stored;
    }
}

} // namespace
} // namespace sqlite_test
