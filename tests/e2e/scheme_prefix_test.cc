// scheme_prefix_test.cc: account files shared with a mail stack carry
// {SCHEME}-prefixed hashes. Through the real program they verify like bare
// ones, and a changed password keeps its line's style: prefixed stays
// prefixed (with the scheme of the configured method), bare stays bare.
#include <map>
#include <string>

#include "crypt_hash.h"
#include "e2e_harness.h"
#include "temp_dir.h"

namespace e2e {
namespace {

struct prefix_case {
    const char *user;
    const char *stored_prefix; // put in front of a real hash of "<user>-old"
    bool changes;
    const char *new_prefix; // of the new hash, when it changes
};

TEST(SchemePrefix, PrefixedHashesVerifyAndKeepTheirStyle) {
    const prefix_case CASES[] = {
        {"carol", "{SHA512-CRYPT}", true, "{SHA512-CRYPT}$6$"},
        {"dave", "", true, "$6$"},
        {"erin", "{crypt}", true, "{SHA512-CRYPT}$6$"},
        {"frank", "{PLAIN}", false, ""}, // not a crypt scheme: never verifies
        {"gina", "!{SHA512-CRYPT}", false, ""}, // locked
    };
    store_fixture store({});
    std::string userdb = "# shared with the mail stack\n";
    std::map<std::string, std::string> stored;
    for (const prefix_case &c : CASES) {
        stored[c.user] = c.stored_prefix + test_support::make_hash(std::string(c.user) + "-old");
        userdb += std::string(c.user) + ":" + stored[c.user] + ":1001:1001::\n";
    }
    ASSERT_TRUE(test_support::write_file(store.userdb_path(), userdb));

    for (const prefix_case &c : CASES) {
        SCOPED_TRACE(c.user);
        const std::string user = c.user;
        const run_result r = test_support::run_process(program_run(
            store, "user " + user + "\npass " + user + "-old\nnewpass " + user + "-new\nquit\n"));
        const std::string after = store.userdb();
        const std::size_t line = after.find("\n" + user + ":");
        ASSERT_NE(std::string::npos, line);
        const std::size_t hash_start = line + user.size() + 2;
        const std::string hash = after.substr(hash_start, after.find(':', hash_start) - hash_start);
        if (c.changes) {
            EXPECT_TRUE(exited_with(r, 0));
            EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + NEWPASS_PLEASE + CHANGED + BYE, r.out);
            EXPECT_EQ(0U, hash.rfind(c.new_prefix, 0)) << hash;
            const std::string bare = hash.substr(hash.find('$'));
            EXPECT_TRUE(test_support::hash_matches(user + "-new", bare)) << hash;
        } else {
            EXPECT_TRUE(exited_with(r, 1));
            EXPECT_EQ(std::string(GREETING) + PASS_PLEASE + WRONG_OLD, r.out);
            EXPECT_EQ(stored[user], hash);
        }
    }
    EXPECT_EQ(0U, store.userdb().rfind("# shared with the mail stack\n", 0));
}

} // namespace
} // namespace e2e
