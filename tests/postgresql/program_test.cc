// The real program on a PostgreSQL store: changes and refusals, the user-id
// rule from the uid and sysuser columns (NULL included), and hashes with and
// without {SCHEME} prefixes.
#include <memory>

#include "crypt_hash.h"
#include "pg_site.h"
#include "preload.h"

namespace pg_test {
namespace {

using test_support::hash_matches;
using test_support::make_hash;

const std::string GP = std::string(GREETING) + PASS_PLEASE;
const std::string GPN = GP + NEWPASS_PLEASE;

// System accounts the sysuser column may name.
std::vector<std::string> system_accounts(const pg_site &site)
{
    std::vector<std::string> env = test_support::preload_env({test_support::nss_wrapper_library()});
    const std::vector<std::string> files =
        test_support::nss_files_env(site.dir().file("passwd"), "vmail:x:5000:5000::/srv/mail:/bin/false\n"
                                                               "daemonish:x:99:99::/:/bin/false\n",
                                    site.dir().file("group"), "vmail:x:5000:\ndaemonish:x:99:\n");
    env.insert(env.end(), files.begin(), files.end());
    return env;
}

TEST(PostgresqlProgram, ChangesAndRefusals)
{
    if (*test_support::nss_wrapper_library() == '\0')
        GTEST_SKIP() << "libnss_wrapper.so was not found at configure time (Debian libnss-wrapper)";
    const std::vector<account> accounts = {
        {"alice", "alice-secret", "1001", "1001", "/home/alice", ""},
        {"vbob", "bob-secret", "", "", "", "vmail"},     // NULL uid: the system account's 5000
        {"carol", "carol-secret", "", "", "", ""},       // neither: not subject to the rule
        {"low", "low-secret", "99", "", "", ""},         // below 100
        {"edge", "edge-secret", "100", "", "", ""},      // the lowest allowed
        {"lowsys", "lowsys-secret", "", "", "", "daemonish"},
        {"ghost", "ghost-secret", "", "", "", "nosuchuser"}, // getpwnam fails
        {"locked", "locked-secret", "1005", "", "", ""},
    };
    const struct {
        const char *user;
        const char *old_password;
        std::string replies;
        std::string log;
        int status;
        bool changes;
    } CASES[] = {
        {"alice", "alice-secret", GPN + CHANGED + BYE, "changed password for alice\n", 0, true},
        {"alice", "wrong", GP + WRONG_OLD, "old password is incorrect or user not found for alice\n", 1, false},
        {"dave", "alice-secret", GP + WRONG_OLD, "old password is incorrect or user not found for dave\n", 1, false},
        {"vbob", "bob-secret", GPN + CHANGED + BYE, "changed password for vbob\n", 0, true},
        {"carol", "carol-secret", GPN + CHANGED + BYE, "changed password for carol\n", 0, true},
        {"low", "low-secret", GPN + RESTRICTED,
         "attempt to change password for a restricted or non-existant uid low\n", 1, false},
        {"edge", "edge-secret", GPN + CHANGED + BYE, "changed password for edge\n", 0, true},
        {"lowsys", "lowsys-secret", GPN + RESTRICTED,
         "attempt to change password for a restricted or non-existant uid lowsys\n", 1, false},
        {"ghost", "ghost-secret", GPN + RESTRICTED, "", 1, false},
        {"locked", "locked-secret", GP + WRONG_OLD, "old password is incorrect or user not found for locked\n", 1,
         false},
    };
    std::vector<std::unique_ptr<pg_site>> sites;
    std::vector<test_support::run_options> runs;
    for (const auto &c : CASES) {
        sites.push_back(std::make_unique<pg_site>(accounts));
        pg_site &site = *sites.back();
        PG_SITE_OR_SKIP(site);
        ASSERT_TRUE(site.set_hash("locked", "!" + site.hash_of("locked")));
        runs.push_back(site.run({"--stderr"}, change_input(c.user, c.old_password, "n3w-secret"),
                                system_accounts(site)));
    }
    // Together: the refusals' pauses overlap.
    const std::vector<test_support::run_result> results = test_support::run_processes(runs, 10);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto &c = CASES[i];
        SCOPED_TRACE(std::string(c.user) + " / " + c.old_password);
        const test_support::run_result &r = results[i];
        EXPECT_EQ(c.replies, r.out);
        if (c.log.empty()) {
            // getpwnam's own entry comes first; its text is the system's.
            EXPECT_NE(std::string::npos, r.err.find("getpwnam failed: ")) << r.err;
            EXPECT_NE(std::string::npos,
                      r.err.find("attempt to change password for a restricted or non-existant uid ghost\n"))
                << r.err;
        } else {
            EXPECT_EQ(c.log, r.err);
        }
        EXPECT_TRUE(r.exited) << r.describe_end();
        EXPECT_EQ(c.status, r.exit_status);
        pg_site &site = *sites[i];
        for (const account &a : accounts) {
            const bool changed = c.changes && a.name == c.user;
            const std::string stored = site.hash_of(a.name);
            const std::string bare = stored[0] == '!' ? stored.substr(1) : stored;
            EXPECT_TRUE(hash_matches(changed ? "n3w-secret" : a.password, bare)) << a.name << ": " << stored;
            if (changed) {
                EXPECT_EQ(0U, stored.find("$6$rounds=1000$")) << "the configured method and cost";
            }
        }
    }
}

// Mail stacks keep "{SCHEME}" in front of the crypt hash: such hashes verify,
// and the new hash keeps the style (with the prefix of the configured
// method); bare hashes stay bare.
TEST(PostgresqlProgram, PrefixedHashesVerifyAndKeepTheirStyle)
{
    pg_site site(std::vector<account>{});
    PG_SITE_OR_SKIP(site);
    const struct {
        const char *name;
        std::string stored;
        const char *new_prefix; // in front of the new $6$ hash
    } CASES[] = {
        {"bare", make_hash("old-pw"), ""},
        {"sha", "{SHA512-CRYPT}" + make_hash("old-pw"), "{SHA512-CRYPT}"},
        {"generic", "{CRYPT}" + make_hash("old-pw", "$y$", 0), "{SHA512-CRYPT}"},
        {"blowfish", "{BLF-CRYPT}" + make_hash("old-pw", "$2b$", 4), "{SHA512-CRYPT}"},
        {"lowercase", "{sha512-crypt}" + make_hash("old-pw"), "{SHA512-CRYPT}"},
    };
    std::vector<test_support::run_options> runs;
    for (const auto &c : CASES) {
        ASSERT_TRUE(site.db().exec("INSERT INTO accounts (name, hash, uid) VALUES ($1, $2, 2000)", {c.name, c.stored}))
            << site.db().error();
        runs.push_back(site.run({"--stderr"}, change_input(c.name, "old-pw", "new-pw")));
    }
    const std::vector<test_support::run_result> results = test_support::run_processes(runs, 5);
    for (std::size_t i = 0; i < results.size(); ++i) {
        const auto &c = CASES[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GPN + CHANGED + BYE, results[i].out) << results[i].err;
        const std::string stored = site.hash_of(c.name);
        const std::string prefix = c.new_prefix;
        ASSERT_EQ(0U, stored.find(prefix + "$6$")) << stored;
        EXPECT_TRUE(hash_matches("new-pw", stored.substr(prefix.size()))) << stored;
    }
}

} // namespace
} // namespace pg_test
